// QueryDefaultSettings answered through the loaded library, before any
// set-up, as a host asks it.
//
//   default_settings_test.exe DLL
#include <windows.h>

#include <climits>
#include <cstdint>

#include "tests/e2e/e2e_check.h"
#include "tools/host_contract.h"

namespace {

using host::QueryDefaultSettingsFn;

// Defaults a host might pass; the answer must not depend on them for the
// four keys the plug-in has an opinion on, and must be them for all others.
const int32_t hostDefaults[] = {0, 1, 12, -3, 8, 30, INT32_MAX, INT32_MIN};

// `answer` null: the key returns the host's default unchanged.
void CheckKey(QueryDefaultSettingsFn query, uint32_t key, const int32_t* answer)
{
    for (int32_t hostDefault : hostDefaults) {
        const int32_t want = answer != nullptr ? *answer : hostDefault;
        const int32_t got = query(key, hostDefault);
        E2E_CHECK(got == want, "key 0x%08x with default %d: got %d, want %d", key, hostDefault, got, want);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    e2e::RequireArguments(argc, 2, "default_settings_test.exe DLL");
    HMODULE module = e2e::LoadPluginLibrary(argv[1]);
    const auto query = e2e::EntryPointByOrdinal<QueryDefaultSettingsFn>(module, host::QueryDefaultSettingsOrdinal);
    e2e::CaseRunner runner;

    runner.Run("keys 1, 2, 3 and 7 answer 0, 0, 30 and 1", [&] {
        const int32_t answers[][2] = {{1, 0}, {2, 0}, {3, 30}, {7, 1}};
        for (const auto& answer : answers)
            CheckKey(query, static_cast<uint32_t>(answer[0]), &answer[1]);
    });
    runner.Run("every other key returns the default unchanged", [&] {
        // Small keys around the table, and keys that share low bits with a
        // table key (a comparison on 8 or 16 bits would catch them), and the
        // negative keys, which compare as large unsigned numbers.
        const uint32_t keys[] = {0,          4,          5,          6,          8,          9,
                                 10,         11,         100,        0x101,      0x103,      0x10001,
                                 0x10003,    0x10007,    0xFFFF0001, 0xFFFF0007, 0x7FFFFFFF, 0x80000000,
                                 0x80000003, 0xFFFFFFF9, 0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFF};
        for (uint32_t key : keys)
            CheckKey(query, key, nullptr);
    });
    return runner.Finish();
}
