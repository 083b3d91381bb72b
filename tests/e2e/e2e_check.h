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

inline void RequireArguments(int argc, int wanted, const char* usage)
{
    if (argc < wanted) {
        std::fprintf(stderr, "usage: %s\n", usage);
        std::exit(2);
    }
}

}  // namespace e2e
