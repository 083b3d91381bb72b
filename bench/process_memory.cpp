// The process's resident memory, kept apart from the bodies because it needs
// the operating system's headers.
#include "bodies.h"

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <cstdlib>
#include <fstream>
#include <string>
#endif

long ResidentKilobytes()
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        return -1;
    }
    return static_cast<long>(counters.WorkingSetSize / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
#endif
}
