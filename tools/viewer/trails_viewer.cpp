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
// the entry points by ordinal as hosts do, creates a window and a device and
// calls: QueryDefaultSettings for the keys hosts ask about, SetupPlugin with
// the client rectangle, UpdateScene at 60 ticks a second (or K per frame),
// RenderSceneOnScreen and Present every frame, and FreePlugin at the end. A
// resize or a lost device is answered with FreePlugin, Reset and SetupPlugin:
// the plug-in's dynamic textures live in the default pool, which Reset
// requires released.
//
// Leaves out: multiple monitors (SetupPluginPerScreen), fullscreen, and
// host notifications (NotificationProcedure is resolved but never needed).
#include <windows.h>

#include <d3d9.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/viewer/png_encoder.h"

namespace {

// The host contract: standard calling convention, 32-bit values only.
typedef int32_t(WINAPI* QueryDefaultSettingsFn)(uint32_t key, int32_t defaultValue);
typedef void(WINAPI* FreePluginFn)(uint32_t, uint32_t, uint32_t);
typedef int32_t(WINAPI* SetupPluginFn)(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right,
                                       int32_t bottom, uint32_t, uint32_t);
typedef void(WINAPI* NotificationProcedureFn)(uint32_t, uint32_t);
typedef void(WINAPI* UpdateSceneFn)();
typedef int32_t(WINAPI* RenderSceneOnScreenFn)(uint32_t, IDirect3DDevice9* device, int32_t left, int32_t top,
                                               int32_t right, int32_t bottom, uint32_t, uint32_t, uint32_t,
                                               uint32_t, uint32_t);
typedef int32_t(WINAPI* SetupPluginPerScreenFn)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                                uint32_t);
typedef int32_t(WINAPI* ConfigPluginFn)(HWND parent);

const int ticksPerSecond = 60;
// A host that falls behind (a slow frame, a debugger) catches up at most this
// many ticks in one frame rather than spiralling.
const int maxCatchUpTicks = 30;
// The setting keys hosts ask for before set-up.
const uint32_t hostSettingKeys[] = {1, 2, 3, 7};

struct Options {
    std::string dllPath;
    int width = 480;
    int height = 300;
    long frames = -1;  // -1: until Esc or the window closes
    int ticksPerFrame = -1;  // -1: real time at ticksPerSecond; 0 freezes the scene
    std::string screenshotPath;
    bool config = false;
    int cycles = -1;
    long resizeAtFrame = -1;
    int resizeWidth = 0;
    int resizeHeight = 0;
};

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
    std::fputs("usage: trails-viewer [--dll PATH] [--size WxH] [--frames N] [--ticks-per-frame K]\n"
               "                     [--screenshot FILE.png] [--resize-at FRAME WxH]\n"
               "       trails-viewer [--dll PATH] --config\n"
               "       trails-viewer [--dll PATH] [--size WxH] --cycles N\n",
               stderr);
}

bool ParseSize(const char* text, int* width, int* height)
{
    int w = 0;
    int h = 0;
    char extra = 0;
    if (std::sscanf(text, "%dx%d%c", &w, &h, &extra) != 2 || w < 1 || h < 1 || w > 16384 || h > 16384) {
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

bool ParseCount(const char* text, long minimum, long* value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < minimum) {
        return false;
    }
    *value = parsed;
    return true;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long count = 0;
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
            if (!ParseSize(argv[++i], &options.width, &options.height)) {
                Fail("--size wants WIDTHxHEIGHT, got '%s'", argv[i]);
            }
        } else if (arg == "--frames") {
            if (!ParseCount(argv[++i], 1, &options.frames)) {
                Fail("--frames wants a count of at least 1, got '%s'", argv[i]);
            }
        } else if (arg == "--ticks-per-frame") {
            if (!ParseCount(argv[++i], 0, &count) || count > 100000) {
                Fail("--ticks-per-frame wants a count from 0 to 100000, got '%s'", argv[i]);
            }
            options.ticksPerFrame = static_cast<int>(count);
        } else if (arg == "--screenshot") {
            options.screenshotPath = argv[++i];
        } else if (arg == "--cycles") {
            if (!ParseCount(argv[++i], 0, &count) || count > 100000) {
                Fail("--cycles wants a count from 0 to 100000, got '%s'", argv[i]);
            }
            options.cycles = static_cast<int>(count);
        } else if (arg == "--resize-at") {
            if (i + 2 >= argc || !ParseCount(argv[i + 1], 1, &options.resizeAtFrame) ||
                !ParseSize(argv[i + 2], &options.resizeWidth, &options.resizeHeight)) {
                Fail("--resize-at wants FRAME WIDTHxHEIGHT");
            }
            i += 2;
        } else {
            PrintUsage();
            Fail("unknown option '%s'", arg.c_str());
        }
    }
    if (!options.screenshotPath.empty() && options.frames < 0) {
        Fail("--screenshot needs --frames: the picture is taken after the last frame");
    }
    if (options.config && (options.cycles >= 0 || options.frames >= 0)) {
        Fail("--config shows the dialog only; it takes no --frames or --cycles");
    }
    return options;
}

// The library and its entry points, looked up by ordinal as hosts do.
struct Plugin {
    HMODULE module = nullptr;
    QueryDefaultSettingsFn QueryDefaultSettings = nullptr;
    FreePluginFn FreePlugin = nullptr;
    SetupPluginFn SetupPlugin = nullptr;
    NotificationProcedureFn NotificationProcedure = nullptr;
    UpdateSceneFn UpdateScene = nullptr;
    RenderSceneOnScreenFn RenderSceneOnScreen = nullptr;
    SetupPluginPerScreenFn SetupPluginPerScreen = nullptr;
    ConfigPluginFn ConfigPlugin = nullptr;
};

std::string DefaultDllPath()
{
    char exePath[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, exePath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return "ChaosTrails.dll";
    }
    std::string path(exePath, length);
    const size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "ChaosTrails.dll";
}

template <typename Fn>
void Resolve(const Plugin& plugin, const std::string& path, WORD ordinal, const char* name, Fn* entry)
{
    FARPROC address = GetProcAddress(plugin.module, MAKEINTRESOURCEA(ordinal));
    if (address == nullptr) {
        Fail("%s has no entry point at ordinal %u (%s)", path.c_str(), ordinal, name);
    }
    *entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

Plugin LoadPlugin(const std::string& path)
{
    Plugin plugin;
    plugin.module = LoadLibraryA(path.c_str());
    if (plugin.module == nullptr) {
        Fail("cannot load %s (error %lu)", path.c_str(), GetLastError());
    }
    Resolve(plugin, path, 1, "QueryDefaultSettings", &plugin.QueryDefaultSettings);
    Resolve(plugin, path, 2, "FreePlugin", &plugin.FreePlugin);
    Resolve(plugin, path, 3, "SetupPlugin", &plugin.SetupPlugin);
    Resolve(plugin, path, 4, "NotificationProcedure", &plugin.NotificationProcedure);
    Resolve(plugin, path, 5, "UpdateScene", &plugin.UpdateScene);
    Resolve(plugin, path, 6, "RenderSceneOnScreen", &plugin.RenderSceneOnScreen);
    Resolve(plugin, path, 10, "SetupPluginPerScreen", &plugin.SetupPluginPerScreen);
    Resolve(plugin, path, 11, "ConfigPlugin", &plugin.ConfigPlugin);
    return plugin;
}

// What the window procedure tells the loop.
struct WindowState {
    bool closed = false;
    int clientWidth = 0;
    int clientHeight = 0;
    bool sizeChanged = false;
};
WindowState windowState;

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
        // A minimised window keeps its device as it was; there is nothing to
        // draw into until it comes back.
        if (first != SIZE_MINIMIZED && LOWORD(second) > 0 && HIWORD(second) > 0 &&
            (LOWORD(second) != windowState.clientWidth || HIWORD(second) != windowState.clientHeight)) {
            windowState.clientWidth = LOWORD(second);
            windowState.clientHeight = HIWORD(second);
            windowState.sizeChanged = true;
        }
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
    RECT client;
    GetClientRect(window, &client);
    windowState.clientWidth = client.right - client.left;
    windowState.clientHeight = client.bottom - client.top;
    windowState.sizeChanged = false;
    return window;
}

// Dispatches waiting messages; false once the window has gone.
bool PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            windowState.closed = true;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !windowState.closed;
}

struct Graphics {
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS presentation = {};
};

const char* DepthFormatName(D3DFORMAT format) { return format == D3DFMT_D24S8 ? "D24S8" : "D16"; }

// The device as typical hosts make it: HAL, hardware vertex processing with a
// software fallback, windowed with a discarded swap chain in the desktop's
// format, and an automatic depth buffer. No D3DCREATE_FPU_PRESERVE: the
// runtime is free to drop the x87 unit to single precision, which the
// plug-in has to cope with.
Graphics CreateGraphics(HWND window, int width, int height)
{
    Graphics graphics;
    graphics.direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (graphics.direct3d == nullptr) {
        Fail("Direct3D 9 is not available");
    }
    D3DDISPLAYMODE mode;
    if (FAILED(graphics.direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        Fail("cannot read the display mode");
    }
    D3DFORMAT depthFormat = D3DFMT_D16;
    if (SUCCEEDED(graphics.direct3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                                       D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8)) &&
        SUCCEEDED(graphics.direct3d->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                                            mode.Format, D3DFMT_D24S8))) {
        depthFormat = D3DFMT_D24S8;
    }

    D3DPRESENT_PARAMETERS& p = graphics.presentation;
    p.BackBufferWidth = static_cast<UINT>(width);
    p.BackBufferHeight = static_cast<UINT>(height);
    p.BackBufferFormat = mode.Format;
    p.BackBufferCount = 1;
    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.hDeviceWindow = window;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = depthFormat;
    p.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    const DWORD vertexProcessing[] = {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_SOFTWARE_VERTEXPROCESSING};
    HRESULT result = E_FAIL;
    for (DWORD flags : vertexProcessing) {
        D3DPRESENT_PARAMETERS attempt = p;  // CreateDevice may write into it
        result = graphics.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags, &attempt,
                                                 &graphics.device);
        if (SUCCEEDED(result)) {
            std::printf("device: HAL, %s vertex processing, %ux%u, depth %s\n",
                        flags == D3DCREATE_HARDWARE_VERTEXPROCESSING ? "hardware" : "software", p.BackBufferWidth,
                        p.BackBufferHeight, DepthFormatName(depthFormat));
            return graphics;
        }
    }
    graphics.direct3d->Release();
    Fail("cannot create a Direct3D 9 HAL device (0x%08lx)", static_cast<unsigned long>(result));
}

void ReleaseGraphics(Graphics& graphics)
{
    if (graphics.device != nullptr) {
        graphics.device->Release();
        graphics.device = nullptr;
    }
    if (graphics.direct3d != nullptr) {
        graphics.direct3d->Release();
        graphics.direct3d = nullptr;
    }
}

// AddRef returns the new count and Release the count after it; the pair
// leaves the device as it was and tells how many references it holds.
ULONG DeviceReferenceCount(IDirect3DDevice9* device)
{
    device->AddRef();
    return device->Release();
}

// The screen rectangle handed to the plug-in: the whole back buffer.
void SetupScene(const Plugin& plugin, const Graphics& graphics)
{
    plugin.SetupPlugin(graphics.device, 0, 0, static_cast<int32_t>(graphics.presentation.BackBufferWidth),
                       static_cast<int32_t>(graphics.presentation.BackBufferHeight), 0, 0);
}

void RenderScene(const Plugin& plugin, const Graphics& graphics)
{
    plugin.RenderSceneOnScreen(0, graphics.device, 0, 0, static_cast<int32_t>(graphics.presentation.BackBufferWidth),
                               static_cast<int32_t>(graphics.presentation.BackBufferHeight), 0, 0, 0, 0, 0);
}

// FreePlugin, Reset to the given size, SetupPlugin. False while the device
// cannot be reset yet (still lost); the next frame tries again.
bool ResetDevice(const Plugin& plugin, Graphics& graphics, int width, int height, bool& sceneUp)
{
    if (sceneUp) {
        plugin.FreePlugin(0, 0, 0);
        sceneUp = false;
    }
    D3DPRESENT_PARAMETERS p = graphics.presentation;
    p.BackBufferWidth = static_cast<UINT>(width);
    p.BackBufferHeight = static_cast<UINT>(height);
    if (FAILED(graphics.device->Reset(&p))) {
        return false;
    }
    graphics.presentation.BackBufferWidth = p.BackBufferWidth;
    graphics.presentation.BackBufferHeight = p.BackBufferHeight;
    SetupScene(plugin, graphics);
    sceneUp = true;
    std::printf("device reset to %ux%u\n", p.BackBufferWidth, p.BackBufferHeight);
    return true;
}

// Copies the back buffer (as drawn, before Present discards it) into RGB rows.
bool ReadBackBuffer(IDirect3DDevice9* device, int* width, int* height, std::vector<uint8_t>* rgb)
{
    IDirect3DSurface9* backBuffer = nullptr;
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
        return false;
    }
    D3DSURFACE_DESC description;
    backBuffer->GetDesc(&description);
    IDirect3DSurface9* copy = nullptr;
    bool ok = SUCCEEDED(device->CreateOffscreenPlainSurface(description.Width, description.Height,
                                                            description.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr)) &&
              SUCCEEDED(device->GetRenderTargetData(backBuffer, copy));
    D3DLOCKED_RECT locked;
    if (ok && SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        *width = static_cast<int>(description.Width);
        *height = static_cast<int>(description.Height);
        rgb->assign(static_cast<size_t>(*width) * static_cast<size_t>(*height) * 3, 0);
        for (int y = 0; y < *height && ok; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(locked.pBits) + static_cast<ptrdiff_t>(y) * locked.Pitch;
            uint8_t* out = rgb->data() + static_cast<size_t>(y) * static_cast<size_t>(*width) * 3;
            for (int x = 0; x < *width; ++x) {
                if (description.Format == D3DFMT_X8R8G8B8 || description.Format == D3DFMT_A8R8G8B8) {
                    uint32_t texel;
                    std::memcpy(&texel, row + x * 4, 4);
                    out[x * 3 + 0] = static_cast<uint8_t>(texel >> 16);
                    out[x * 3 + 1] = static_cast<uint8_t>(texel >> 8);
                    out[x * 3 + 2] = static_cast<uint8_t>(texel);
                } else if (description.Format == D3DFMT_R5G6B5) {
                    uint16_t texel;
                    std::memcpy(&texel, row + x * 2, 2);
                    out[x * 3 + 0] = static_cast<uint8_t>(((texel >> 11) & 31) * 255 / 31);
                    out[x * 3 + 1] = static_cast<uint8_t>(((texel >> 5) & 63) * 255 / 63);
                    out[x * 3 + 2] = static_cast<uint8_t>((texel & 31) * 255 / 31);
                } else {
                    std::fprintf(stderr, "trails-viewer: back buffer format %d cannot be saved\n",
                                 static_cast<int>(description.Format));
                    ok = false;
                    break;
                }
            }
        }
        copy->UnlockRect();
    } else {
        ok = false;
    }
    if (copy != nullptr) {
        copy->Release();
    }
    backBuffer->Release();
    return ok;
}

double Seconds(LARGE_INTEGER counter, LARGE_INTEGER frequency)
{
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int ShowConfig(const Plugin& plugin)
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
int RunCycles(const Plugin& plugin, Graphics& graphics, int cycles)
{
    const ULONG before = DeviceReferenceCount(graphics.device);
    std::printf("device references before: %lu\n", static_cast<unsigned long>(before));
    for (int cycle = 0; cycle <= cycles; ++cycle) {
        SetupScene(plugin, graphics);
        const ULONG held = DeviceReferenceCount(graphics.device);
        plugin.UpdateScene();
        RenderScene(plugin, graphics);
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

int RunScene(const Plugin& plugin, Graphics& graphics, HWND window, const Options& options)
{
    bool sceneUp = false;
    SetupScene(plugin, graphics);
    sceneUp = true;

    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long ticksDone = 0;
    long frame = 0;
    bool resizeAsked = false;
    int exitCode = 0;

    while (PumpMessages()) {
        if (options.resizeAtFrame >= 0 && frame == options.resizeAtFrame && !resizeAsked) {
            // As a user dragging the frame would: the window changes, WM_SIZE
            // reports it, and the loop below resets the device.
            RECT frameRect = {0, 0, options.resizeWidth, options.resizeHeight};
            AdjustWindowRect(&frameRect, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE);
            SetWindowPos(window, nullptr, 0, 0, frameRect.right - frameRect.left, frameRect.bottom - frameRect.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            resizeAsked = true;
            continue;
        }

        const HRESULT cooperative = graphics.device->TestCooperativeLevel();
        if (cooperative == D3DERR_DEVICELOST) {
            Sleep(50);  // not ours to draw on until it can be reset
            continue;
        }
        if (cooperative == D3DERR_DEVICENOTRESET || windowState.sizeChanged || !sceneUp) {
            windowState.sizeChanged = false;
            if (!ResetDevice(plugin, graphics, windowState.clientWidth, windowState.clientHeight, sceneUp)) {
                Sleep(50);
                continue;
            }
        }

        if (options.ticksPerFrame >= 0) {
            for (int tick = 0; tick < options.ticksPerFrame; ++tick) {
                plugin.UpdateScene();
            }
        } else {
            LARGE_INTEGER now;
            QueryPerformanceCounter(&now);
            const long long ticksDue =
                static_cast<long long>((Seconds(now, frequency) - Seconds(start, frequency)) * ticksPerSecond);
            int ticksNow = 0;
            while (ticksDone < ticksDue && ticksNow < maxCatchUpTicks) {
                plugin.UpdateScene();
                ++ticksDone;
                ++ticksNow;
            }
            if (ticksDone < ticksDue) {
                ticksDone = ticksDue;  // the backlog beyond the cap is dropped
            }
        }

        RenderScene(plugin, graphics);
        ++frame;
        const bool lastFrame = options.frames >= 0 && frame >= options.frames;
        if (lastFrame && !options.screenshotPath.empty()) {
            int width = 0;
            int height = 0;
            std::vector<uint8_t> rgb;
            if (!ReadBackBuffer(graphics.device, &width, &height, &rgb)) {
                std::fprintf(stderr, "trails-viewer: cannot read the back buffer\n");
                exitCode = 1;
            } else if (!WritePngRgb(options.screenshotPath, width, height, rgb)) {
                std::fprintf(stderr, "trails-viewer: cannot write %s\n", options.screenshotPath.c_str());
                exitCode = 1;
            } else {
                std::printf("screenshot: %s (%dx%d)\n", options.screenshotPath.c_str(), width, height);
            }
        }
        graphics.device->Present(nullptr, nullptr, nullptr, nullptr);  // a lost device shows up next frame
        if (lastFrame) {
            break;
        }
    }

    if (sceneUp) {
        plugin.FreePlugin(0, 0, 0);
    }
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    const double seconds = Seconds(end, frequency) - Seconds(start, frequency);
    std::printf("frames: %ld in %.2f s\n", frame, seconds);
    return exitCode;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    const std::string dllPath = options.dllPath.empty() ? DefaultDllPath() : options.dllPath;
    const Plugin plugin = LoadPlugin(dllPath);

    if (options.config) {
        return ShowConfig(plugin);
    }

    // Hosts ask for these before set-up, passing their own defaults.
    std::printf("default settings:");
    for (uint32_t key : hostSettingKeys) {
        std::printf(" %u=%d", key, static_cast<int>(plugin.QueryDefaultSettings(key, -1)));
    }
    std::printf("\n");

    HWND window = CreateViewerWindow(options.width, options.height);
    Graphics graphics = CreateGraphics(window, windowState.clientWidth, windowState.clientHeight);

    const int exitCode = options.cycles >= 0 ? RunCycles(plugin, graphics, options.cycles)
                                             : RunScene(plugin, graphics, window, options);

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
