// trails-viewer: a small Windows host for ChaosTrails.dll, written the way
// wallpaper hosts drive scene plug-ins, so the DLL can be watched and tested
// on a real Direct3D 9 device.
//
//   trails-viewer [--dll PATH] [--size WxH] [--frames N] [--ticks-per-frame K]
//                 [--screenshot FILE.png] [--resize-at FRAME WxH]
//   trails-viewer [--dll PATH] --config
//   trails-viewer [--dll PATH] [--size WxH] --cycles N
//
// It loads the library (beside the exe unless --dll says otherwise), resolves
// the entry points by ordinal as hosts do, asks QueryDefaultSettings about
// the keys hosts ask about, creates a window and a device and runs the scene
// on it as scene_host.h describes.
//
// Leaves out: multiple monitors (SetupPluginPerScreen), fullscreen (the
// screensaver has it), and host notifications (NotificationProcedure is
// resolved but never needed).
#include <windows.h>

#include <d3d9.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/host_contract.h"
#include "tools/trails/command_line.h"
#include "tools/viewer/plugin_library.h"
#include "tools/viewer/scene_host.h"

namespace {

struct Options : SceneRun {
    std::string dllPath;
    int width = 480;
    int height = 300;
    bool config = false;
    int cycles = -1;
};

HostWindow windowState;

void Fail(const char* format, ...) __attribute__((format(printf, 1, 2), noreturn));
void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::fputs("trails-viewer: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::exit(1);
}

void PrintUsage()
{
    std::fputs(
        "usage: trails-viewer [--dll PATH] [--size WxH] [--frames N] [--ticks-per-frame K]\n"
        "                     [--screenshot FILE.png] [--resize-at FRAME WxH]\n"
        "       trails-viewer [--dll PATH] --config\n"
        "       trails-viewer [--dll PATH] [--size WxH] --cycles N\n",
        stderr);
}

// Throws UsageError, as the trails commands do, for a bad value.
Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            std::exit(0);
        } else if (arg == "--config") {
            options.config = true;
        } else if (!hasValue) {
            PrintUsage();
            Fail("%s needs a value", arg.c_str());
        } else if (arg == "--dll") {
            options.dllPath = argv[++i];
        } else if (arg == "--size") {
            const FrameSize size = ParseSize(arg, argv[++i]);
            options.width = size.width;
            options.height = size.height;
        } else if (arg == "--frames") {
            options.frames = ParseCount(arg, argv[++i], 1, 100000000);
        } else if (arg == "--ticks-per-frame") {
            options.ticksPerFrame = ParseCount(arg, argv[++i], 1, 10000);
        } else if (arg == "--screenshot") {
            options.screenshotPath = argv[++i];
        } else if (arg == "--cycles") {
            options.cycles = static_cast<int>(ParseCount(arg, argv[++i], 0, 100000));
        } else if (arg == "--resize-at") {
            if (i + 2 >= argc) {
                Fail("--resize-at wants FRAME WIDTHxHEIGHT");
            }
            options.resizeAtFrame = static_cast<long>(ParseCount(arg, argv[i + 1], 1, 100000000));
            const FrameSize size = ParseSize(arg, argv[i + 2]);
            options.resizeWidth = size.width;
            options.resizeHeight = size.height;
            i += 2;
        } else {
            PrintUsage();
            Fail("unknown option '%s'", arg.c_str());
        }
    }
    if (!options.screenshotPath.empty() && options.frames == 0) {
        Fail("--screenshot needs --frames: the picture is taken after the last frame");
    }
    if (options.config && (options.cycles >= 0 || options.frames != 0)) {
        Fail("--config shows the dialog only; it takes no --frames or --cycles");
    }
    return options;
}

LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    switch (message) {
    case WM_KEYDOWN:
        if (first == VK_ESCAPE) {
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_SIZE:
        windowState.OnSize(first, second);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the device paints every pixel
    case WM_DESTROY:
        windowState.closed = true;
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, first, second);
}

HWND CreateViewerWindow(int clientWidth, int clientHeight)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ViewerWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = "ChaosTrailsViewer";
    if (RegisterClassA(&windowClass) == 0) {
        Fail("cannot register the window class (error %lu)", GetLastError());
    }
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    HWND window = CreateWindowA("ChaosTrailsViewer", "Chaos Trails", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    if (window == nullptr) {
        Fail("cannot create the window (error %lu)", GetLastError());
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    windowState.handle = window;
    windowState.ReadClientSize();
    return window;
}

// AddRef returns the new count and Release the count after it; the pair
// leaves the device as it was and tells how many references it holds.
ULONG DeviceReferenceCount(IDirect3DDevice9* device)
{
    device->AddRef();
    return device->Release();
}

int ShowConfig(const PluginLibrary& plugin)
{
    HWND window = CreateViewerWindow(320, 200);
    const int32_t result = plugin.ConfigPlugin(window);
    std::printf("ConfigPlugin returned %d\n", static_cast<int>(result));
    if (!windowState.closed) {
        DestroyWindow(window);
    }
    return 0;
}

// FreePlugin/SetupPlugin cycles on one device, each with a tick and a frame
// so the resources are used. The device's own count must come back: every
// resource the plug-in creates holds a device reference until released.
int RunCycles(const PluginLibrary& plugin, Graphics& graphics, int cycles)
{
    const ULONG before = DeviceReferenceCount(graphics.device);
    std::printf("device references before: %lu\n", static_cast<unsigned long>(before));
    for (int cycle = 0; cycle <= cycles; ++cycle) {
        SetupOnBackBuffer(plugin, graphics);
        const ULONG held = DeviceReferenceCount(graphics.device);
        plugin.UpdateScene();
        RenderOnBackBuffer(plugin, graphics);
        graphics.device->Present(nullptr, nullptr, nullptr, nullptr);
        plugin.FreePlugin(0, 0, 0);
        const ULONG released = DeviceReferenceCount(graphics.device);
        std::printf("set-up %d: device references with the scene %lu, after FreePlugin %lu\n", cycle + 1,
                    static_cast<unsigned long>(held), static_cast<unsigned long>(released));
    }
    const ULONG after = DeviceReferenceCount(graphics.device);
    std::printf("device references after: %lu\n", static_cast<unsigned long>(after));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const UsageError& error) {
        Fail("%s", error.what());
    }
    const std::string dllPath = options.dllPath.empty() ? LibraryBesideProgram() : options.dllPath;
    PluginLibrary plugin;
    std::string failure;
    if (!LoadPluginLibrary(dllPath, plugin, failure)) {
        Fail("%s", failure.c_str());
    }

    if (options.config) {
        return ShowConfig(plugin);
    }

    // Hosts ask for these before set-up, passing their own defaults.
    std::printf("default settings:");
    for (const DefaultSetting& setting : host::defaultSettings) {
        const uint32_t key = setting.key;
        std::printf(" %u=%d", key, static_cast<int>(plugin.QueryDefaultSettings(key, -1)));
    }
    std::printf("\n");

    HWND window = CreateViewerWindow(options.width, options.height);
    Graphics graphics;
    if (!CreateGraphics(window, windowState.clientWidth, windowState.clientHeight, graphics, failure)) {
        Fail("%s", failure.c_str());
    }

    const int exitCode = options.cycles >= 0 ? RunCycles(plugin, graphics, options.cycles)
                                             : RunScene(plugin, graphics, windowState, options);

    ReleaseGraphics(graphics);
    if (!windowState.closed) {
        DestroyWindow(window);
    }
    // The library is unloaded last: the device resources are already gone by
    // FreePlugin, and the particle storage goes with the library.
    FreeLibrary(plugin.module);
    std::fflush(stdout);
    return exitCode;
}
