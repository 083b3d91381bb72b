#include "harness_clock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

// A step above this cannot time a call of a few hundred microseconds.
const double coarseStep = 1e-5;

const char* clockName = "none";
double clockResolution = 0.0;

#ifdef _WIN32
double performanceFrequency = 0.0;
// Thread cycles per second, when QueryThreadCycleTime counts; 0 otherwise.
double cyclesPerSecond = 0.0;

double FileTimeSeconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) * 1e-7;
}

double ThreadTimesSeconds()
{
    FILETIME creation, exit, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) {
        return 0.0;
    }
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

bool ThreadCycles(ULONG64& cycles) { return QueryThreadCycleTime(GetCurrentThread(), &cycles) != 0; }

// The thread's cycle counter runs at a fixed rate on current Windows (the
// time-stamp counter's), which a busy spin against the performance counter
// reveals. Preemption during a spin only lowers the rate seen, so the
// highest of a few spins is taken. Returns 0 when the counter does not count
// (Wine answers QueryThreadCycleTime with a failure).
double CalibrateCycles()
{
    double best = 0.0;
    for (int trial = 0; trial < 5; ++trial) {
        ULONG64 cycles0 = 0;
        ULONG64 cycles1 = 0;
        const double wall0 = WallSeconds();
        if (!ThreadCycles(cycles0)) {
            return 0.0;
        }
        double wall1 = wall0;
        while (wall1 - wall0 < 0.02) {
            wall1 = WallSeconds();
        }
        if (!ThreadCycles(cycles1) || cycles1 <= cycles0) {
            return 0.0;
        }
        const double rate = static_cast<double>(cycles1 - cycles0) / (wall1 - wall0);
        if (rate > best) {
            best = rate;
        }
    }
    return best;
}
#endif

// The smallest nonzero step of the CPU clock over a few steps (at most about
// 0.2 s of spinning).
double MeasureResolution()
{
    double smallest = 1.0;
    double last = ThreadCpuSeconds();
    const double start = WallSeconds();
    int steps = 0;
    while (steps < 5 && WallSeconds() - start < 0.2) {
        const double now = ThreadCpuSeconds();
        if (now != last) {
            if (now - last < smallest) {
                smallest = now - last;
            }
            last = now;
            ++steps;
        }
    }
    return smallest;
}

}  // namespace

void InitHarnessClocks()
{
#ifdef _WIN32
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    performanceFrequency = static_cast<double>(frequency.QuadPart);
    cyclesPerSecond = CalibrateCycles();
    clockName = cyclesPerSecond > 0.0 ? "QueryThreadCycleTime" : "GetThreadTimes";
#else
    clockName = "CLOCK_THREAD_CPUTIME_ID";
#endif
    clockResolution = MeasureResolution();
}

double ThreadCpuSeconds()
{
#ifdef _WIN32
    ULONG64 cycles = 0;
    if (cyclesPerSecond > 0.0 && ThreadCycles(cycles)) {
        return static_cast<double>(cycles) / cyclesPerSecond;
    }
    return ThreadTimesSeconds();
#else
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

double WallSeconds()
{
#ifdef _WIN32
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / performanceFrequency;
#else
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

const char* CpuClockName() { return clockName; }

double CpuClockResolution() { return clockResolution; }

bool CpuClockIsCoarse() { return clockResolution > coarseStep; }

bool RunningUnderWine()
{
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}
