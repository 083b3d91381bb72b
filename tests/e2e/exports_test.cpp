// The entry points as a host calls them (the export table itself is read by
// dll-tables-test.sh).
//
//   exports_test.exe DLL argument-bytes    each entry point removes its own arguments
//   exports_test.exe DLL host-modes        each entry point gives the host its floating-point mode back
//   exports_test.exe DLL default-settings  QueryDefaultSettings before any set-up
#include <windows.h>
#include <xmmintrin.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/e2e_check.h"
#include "tools/host_contract.h"

// Calls entry with count 32-bit arguments (args[0] first, pushed last, as the
// standard calling convention lays them out), stores its EAX in *result, and
// returns how many bytes the callee removed from the stack: the difference of
// ESP before the call (after the pushes) and after it. The caller's stack is
// restored either way, so a wrong count is reported rather than fatal.
extern "C" uint32_t MeasureArgumentBytes(const void* entry, const uint32_t* args, uint32_t count, uint32_t* result);

asm(R"(
    .text
    .globl _MeasureArgumentBytes
    .def _MeasureArgumentBytes; .scl 2; .type 32; .endef
_MeasureArgumentBytes:
    .intel_syntax noprefix
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov esi, [ebp+12]
    mov ecx, [ebp+16]
    mov edi, esp
1:  test ecx, ecx
    jz 2f
    dec ecx
    push dword ptr [esi+ecx*4]
    jmp 1b
2:  mov ebx, esp
    call dword ptr [ebp+8]
    mov ecx, [ebp+20]
    mov [ecx], eax
    mov eax, esp
    sub eax, ebx
    mov esp, edi
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .att_syntax prefix
)");

namespace {

// The entry point at the ordinal, by the contract.
const host::EntryPoint& EntryPointAt(WORD ordinal)
{
    for (const host::EntryPoint& entry : host::entryPoints) {
        if (entry.ordinal == ordinal)
            return entry;
    }
    std::abort();
}

// Closes the settings dialog of this process as soon as it shows: the
// argument count of ConfigPlugin is measured on a real showing.
DWORD WINAPI CloseSettingsDialog(LPVOID)
{
    HWND dialog = e2e::WaitForOwnWindow("#32770", "Settings", 60000);
    if (dialog != nullptr)
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return dialog == nullptr;
}

void CheckArgumentBytes(HMODULE module, e2e::CaseRunner& runner)
{
    // The measurement itself, on functions whose conventions are known.
    runner.Run("the thunk tells who removes the arguments", [&] {
        HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
        HMODULE msvcrt = LoadLibraryA("msvcrt.dll");
        const void* mulDiv = reinterpret_cast<const void*>(GetProcAddress(kernel32, "MulDiv"));
        const void* labs = reinterpret_cast<const void*>(GetProcAddress(msvcrt, "labs"));
        if (!E2E_CHECK(mulDiv != nullptr && labs != nullptr, "MulDiv or labs not found")) {
            return;
        }
        const uint32_t mulDivArgs[] = {6, 7, 2};
        uint32_t result = 0;
        E2E_CHECK_EQ_INT(MeasureArgumentBytes(mulDiv, mulDivArgs, 3, &result), 12, "MulDiv (stdcall) removes");
        E2E_CHECK_EQ_INT(result, 21, "MulDiv(6, 7, 2)");
        const uint32_t labsArgs[] = {static_cast<uint32_t>(-5)};
        E2E_CHECK_EQ_INT(MeasureArgumentBytes(labs, labsArgs, 1, &result), 0, "labs (cdecl) removes");
        E2E_CHECK_EQ_INT(result, 5, "labs(-5)");
    });
    // Arguments that are safe to pass: a null device is drawn on by nobody,
    // and ConfigPlugin's dialog is left with Cancel. A result of -1 is not
    // looked at.
    const struct {
        WORD ordinal;
        std::vector<uint32_t> args;
        int64_t result;
    } calls[] = {
        {host::QueryDefaultSettingsOrdinal, {3, 99}, 30},
        {host::SetupPluginOrdinal, {0, 0, 0, 1920, 1200, 0x11111111, 0x22222222}, 1},
        {host::UpdateSceneOrdinal, {}, -1},
        {host::RenderSceneOnScreenOrdinal, {0x12345678, 0, 0, 0, 1920, 1200, 1, 2, 3, 4, 5}, 0},
        {host::FreePluginOrdinal, {7, 8, 9}, -1},
        {host::NotificationProcedureOrdinal, {0xDEADBEEF, 0xFEEDFACE}, -1},
        {host::SetupPluginPerScreenOrdinal, {1, 2, 3, 4, 5, 6, 7}, 0},
        {host::ConfigPluginOrdinal, {0}, 0},
    };
    for (const auto& call : calls) {
        const host::EntryPoint& entry = EntryPointAt(call.ordinal);
        const std::string name = std::string(entry.name) + " removes " + std::to_string(entry.argumentBytes) + " bytes";
        runner.Run(name.c_str(), [&] {
            const bool dialog = call.ordinal == host::ConfigPluginOrdinal;
            HANDLE closer = dialog ? CreateThread(nullptr, 0, CloseSettingsDialog, nullptr, 0, nullptr) : nullptr;
            uint32_t result = 0xFFFFFFFF;
            const void* address = e2e::EntryPointByOrdinal<const void*>(module, call.ordinal);
            const uint32_t removed = MeasureArgumentBytes(address, call.args.data(), call.args.size(), &result);
            E2E_CHECK_EQ_INT(removed, entry.argumentBytes, "bytes removed");
            if (call.result != -1)
                E2E_CHECK_EQ_INT(result, call.result, "its result through the thunk");
            if (dialog) {
                WaitForSingleObject(closer, 60000);
                DWORD closerExit = 1;
                GetExitCodeThread(closer, &closerExit);
                E2E_CHECK(closerExit == 0, "the dialog never showed");
                CloseHandle(closer);
            }
        });
    }
}

// The host's floating-point mode: the x87 control word and the MXCSR control
// bits (the MXCSR's exception flags are volatile across calls and left out).
struct HostMode {
    uint16_t x87ControlWord;
    uint32_t mxcsr;
};

HostMode CurrentMode()
{
    uint16_t controlWord;
    __asm__ __volatile__("fnstcw %0" : "=m"(controlWord));
    return HostMode{controlWord, _mm_getcsr() & ~0x3Fu};
}

void EnterMode(const HostMode& mode)
{
    __asm__ __volatile__("fldcw %0" : : "m"(mode.x87ControlWord));
    _mm_setcsr(mode.mxcsr);
}

void CheckModeKept(const HostMode& mode, const char* entryPoint)
{
    const HostMode now = CurrentMode();
    E2E_CHECK(now.x87ControlWord == mode.x87ControlWord && now.mxcsr == (mode.mxcsr & ~0x3Fu),
              "%s: x87 %04x -> %04x, MXCSR %08lx -> %08lx", entryPoint, mode.x87ControlWord, now.x87ControlWord,
              static_cast<unsigned long>(mode.mxcsr & ~0x3Fu), static_cast<unsigned long>(now.mxcsr));
}

// A host that created its Direct3D device without preserving the FPU state
// (24-bit x87 precision), and one that rounds toward zero everywhere with
// flush-to-zero and denormals-are-zero. Every exception stays masked.
void CheckHostModes(HMODULE module, e2e::CaseRunner& runner)
{
    const struct {
        const char* name;
        HostMode mode;
    } modes[] = {{"24-bit x87 precision", {0x007F, 0x1F80}}, {"rounding toward zero, FTZ and DAZ", {0x0F7F, 0xFFC0}}};
    const auto setup = e2e::EntryPointByOrdinal<host::SetupPluginFn>(module, host::SetupPluginOrdinal);
    const auto update = e2e::EntryPointByOrdinal<host::UpdateSceneFn>(module, host::UpdateSceneOrdinal);
    const auto render = e2e::EntryPointByOrdinal<host::RenderSceneOnScreenFn>(module, host::RenderSceneOnScreenOrdinal);
    const auto release = e2e::EntryPointByOrdinal<host::FreePluginFn>(module, host::FreePluginOrdinal);
    const auto query =
        e2e::EntryPointByOrdinal<host::QueryDefaultSettingsFn>(module, host::QueryDefaultSettingsOrdinal);
    const HostMode start = CurrentMode();
    for (const auto& host : modes) {
        runner.Run(host.name, [&] {
            // Without a device set-up builds the particles and ticks step them;
            // a frame without a device returns at once, but still through the guard.
            EnterMode(host.mode);
            setup(nullptr, 0, 0, 1920, 1200, 0, 0);
            CheckModeKept(host.mode, "SetupPlugin");
            for (int n = 0; n < 20; ++n)
                update();
            CheckModeKept(host.mode, "UpdateScene");
            render(0, nullptr, 0, 0, 1920, 1200, 0, 0, 0, 0, 0);
            CheckModeKept(host.mode, "RenderSceneOnScreen");
            release(0, 0, 0);
            CheckModeKept(host.mode, "FreePlugin");
            query(3, 0);
            CheckModeKept(host.mode, "QueryDefaultSettings");
            EnterMode(start);
        });
    }
}

// Defaults a host might pass; the answer must not depend on them for the
// four keys the plug-in has an opinion on, and must be them for all others.
// `answer` null: the key returns the host's default unchanged.
void CheckKey(host::QueryDefaultSettingsFn query, uint32_t key, const int32_t* answer)
{
    for (int32_t hostDefault : {0, 1, 12, -3, 8, 30, INT32_MAX, INT32_MIN}) {
        const int32_t want = answer != nullptr ? *answer : hostDefault;
        const int32_t got = query(key, hostDefault);
        E2E_CHECK(got == want, "key 0x%08x with default %d: got %d, want %d", key, hostDefault, got, want);
    }
}

void CheckDefaultSettings(HMODULE module, e2e::CaseRunner& runner)
{
    const auto query =
        e2e::EntryPointByOrdinal<host::QueryDefaultSettingsFn>(module, host::QueryDefaultSettingsOrdinal);
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
}

}  // namespace

int main(int argc, char** argv)
{
    e2e::RequireArguments(argc, 3, "exports_test.exe DLL argument-bytes|host-modes|default-settings");
    HMODULE module = e2e::LoadPluginLibrary(argv[1]);
    e2e::CaseRunner runner;
    if (std::strcmp(argv[2], "argument-bytes") == 0) {
        CheckArgumentBytes(module, runner);
    } else if (std::strcmp(argv[2], "host-modes") == 0) {
        CheckHostModes(module, runner);
    } else if (std::strcmp(argv[2], "default-settings") == 0) {
        CheckDefaultSettings(module, runner);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", argv[2]);
        return 2;
    }
    return runner.Finish();
}
