// The little harness the end-to-end programs share: each runs named cases
// against ChaosTrails.dll loaded the way a host loads it, prints one line per
// failed check and one per case, and closes with "N passed, M failed".
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace e2e {

inline int& FailedChecks()
{
    static int count = 0;
    return count;
}

inline void ReportFailure(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));
inline void ReportFailure(const char* file, int line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fprintf(stdout, "  %s:%d: ", file, line);
    std::vfprintf(stdout, format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(args);
    ++FailedChecks();
}

// Checks a condition; on failure prints the message and counts it. Evaluates
// to the condition so a case can stop early when the rest depends on it.
#define E2E_CHECK(condition, ...) ((condition) ? true : (::e2e::ReportFailure(__FILE__, __LINE__, __VA_ARGS__), false))

#define E2E_CHECK_EQ_INT(actual, expected, what)                                                                   \
    E2E_CHECK(static_cast<long long>(actual) == static_cast<long long>(expected), "%s: got %lld, want %lld", what, \
              static_cast<long long>(actual), static_cast<long long>(expected))

#define E2E_CHECK_EQ_STR(actual, expected, what)                                                 \
    E2E_CHECK(std::string(actual) == std::string(expected), "%s: got \"%s\", want \"%s\"", what, \
              std::string(actual).c_str(), std::string(expected).c_str())

class CaseRunner {
public:
    // Runs one named case and reports it.
    template <typename Case>
    void Run(const char* name, Case body)
    {
        const int before = FailedChecks();
        std::printf("[ RUN  ] %s\n", name);
        std::fflush(stdout);
        body();
        const bool ok = FailedChecks() == before;
        std::printf("[ %s ] %s\n", ok ? " OK " : "FAIL", name);
        std::fflush(stdout);
        (ok ? passed_ : failed_) += 1;
    }

    // The closing line and the exit status.
    int Finish() const
    {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        std::fflush(stdout);
        return failed_ == 0 && passed_ > 0 ? 0 : 1;
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

// Loads the library from the path on the command line (the test registration
// passes the build's DLL) or exits with a message.
inline HMODULE LoadPluginLibrary(const char* path)
{
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load %s (error %lu)\n", path, GetLastError());
        std::exit(1);
    }
    return module;
}

// An entry point by ordinal, as hosts resolve them; exits when it is missing.
template <typename Fn>
Fn EntryPointByOrdinal(HMODULE module, WORD ordinal)
{
    FARPROC address = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (address == nullptr) {
        std::fprintf(stderr, "no entry point at ordinal %u\n", ordinal);
        std::exit(1);
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

// A key pressed and let go, as the user would.
inline void PressKey(WORD key)
{
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// The visible top-level window of this process with the caption (and class,
// unless null), waiting up to `milliseconds` for it; null after the wait.
inline HWND WaitForOwnWindow(const char* className, const char* caption, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    do {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, className, caption)) != nullptr) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process == GetCurrentProcessId() && IsWindowVisible(window))
                return window;
        }
        Sleep(20);
    } while (GetTickCount() - start < milliseconds);
    return nullptr;
}

// An ordinary window of ours with the given client size, shown. It clips its
// children, as the screensaver settings' preview host does: otherwise its
// white background is painted over the preview.
inline HWND CreatePlainWindow(int x, int y, int width, int height)
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        windowClass.lpszClassName = "E2eTestWindow";
        RegisterClassA(&windowClass);
        registered = true;
    }
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowA("E2eTestWindow", "e2e test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, x, y,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    UpdateWindow(window);
    return window;
}

inline void RequireArguments(int argc, int wanted, const char* usage)
{
    if (argc < wanted) {
        std::fprintf(stderr, "usage: %s\n", usage);
        std::exit(2);
    }
}

}  // namespace e2e
