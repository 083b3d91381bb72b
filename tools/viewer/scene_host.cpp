#include "tools/viewer/scene_host.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/host_schedule.h"
#include "tools/viewer/png_encoder.h"

namespace {

const char* DepthFormatName(D3DFORMAT format) { return format == D3DFMT_D24S8 ? "D24S8" : "D16"; }

double Seconds(LARGE_INTEGER counter, LARGE_INTEGER frequency)
{
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// FreePlugin, Reset to the given size, SetupPlugin. False while the device
// cannot be reset yet (still lost); the next frame tries again.
bool ResetDevice(const PluginLibrary& plugin, Graphics& graphics, int width, int height, bool& sceneUp)
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
    SetupOnBackBuffer(plugin, graphics);
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
    bool ok = SUCCEEDED(device->CreateOffscreenPlainSurface(description.Width, description.Height, description.Format,
                                                            D3DPOOL_SYSTEMMEM, &copy, nullptr)) &&
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
                    std::fprintf(stderr, "back buffer format %d cannot be saved\n",
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

}  // namespace

void HostWindow::ReadClientSize()
{
    RECT client;
    GetClientRect(handle, &client);
    clientWidth = client.right - client.left;
    clientHeight = client.bottom - client.top;
    sizeChanged = false;
}

void HostWindow::OnSize(WPARAM kind, LPARAM size)
{
    if (kind != SIZE_MINIMIZED && LOWORD(size) > 0 && HIWORD(size) > 0 &&
        (LOWORD(size) != clientWidth || HIWORD(size) != clientHeight)) {
        clientWidth = LOWORD(size);
        clientHeight = HIWORD(size);
        sizeChanged = true;
    }
}

bool PumpMessages(HostWindow& window)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            window.closed = true;
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !window.closed;
}

// No D3DCREATE_FPU_PRESERVE: the runtime is free to drop the x87 unit to
// single precision, which the plug-in has to cope with.
bool CreateGraphics(HWND window, int width, int height, Graphics& graphics, std::string& failure)
{
    graphics = Graphics();
    graphics.direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (graphics.direct3d == nullptr) {
        failure = "Direct3D 9 is not available";
        return false;
    }
    D3DDISPLAYMODE mode;
    if (FAILED(graphics.direct3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        graphics.direct3d->Release();
        graphics.direct3d = nullptr;
        failure = "cannot read the display mode";
        return false;
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
            return true;
        }
    }
    graphics.direct3d->Release();
    graphics.direct3d = nullptr;
    char text[80];
    std::snprintf(text, sizeof text, "cannot create a Direct3D 9 HAL device (0x%08lx)",
                  static_cast<unsigned long>(result));
    failure = text;
    return false;
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

void SetupOnBackBuffer(const PluginLibrary& plugin, const Graphics& graphics)
{
    plugin.SetupPlugin(graphics.device, 0, 0, static_cast<int32_t>(graphics.presentation.BackBufferWidth),
                       static_cast<int32_t>(graphics.presentation.BackBufferHeight), 0, 0);
}

void RenderOnBackBuffer(const PluginLibrary& plugin, const Graphics& graphics)
{
    plugin.RenderSceneOnScreen(0, graphics.device, 0, 0, static_cast<int32_t>(graphics.presentation.BackBufferWidth),
                               static_cast<int32_t>(graphics.presentation.BackBufferHeight), 0, 0, 0, 0, 0);
}

int RunScene(const PluginLibrary& plugin, Graphics& graphics, HostWindow& window, const SceneRun& options)
{
    bool sceneUp = false;
    SetupOnBackBuffer(plugin, graphics);
    sceneUp = true;

    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HostScheduleSettings scheduleSettings;
    scheduleSettings.ticksPerFrame = options.ticksPerFrame;
    scheduleSettings.frames = options.frames;
    HostSchedule schedule(scheduleSettings);
    bool resizeAsked = false;
    int exitCode = 0;

    while (PumpMessages(window)) {
        if (options.keepGoing && !options.keepGoing()) {
            break;
        }
        if (options.resizeAtFrame >= 0 && schedule.FramesDrawn() == static_cast<uint64_t>(options.resizeAtFrame) &&
            !resizeAsked) {
            // As a user dragging the frame would: the window changes, WM_SIZE
            // reports it, and the loop below resets the device.
            RECT frameRect = {0, 0, options.resizeWidth, options.resizeHeight};
            AdjustWindowRect(&frameRect, static_cast<DWORD>(GetWindowLongA(window.handle, GWL_STYLE)), FALSE);
            SetWindowPos(window.handle, nullptr, 0, 0, frameRect.right - frameRect.left,
                         frameRect.bottom - frameRect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            resizeAsked = true;
            continue;
        }

        const HRESULT cooperative = graphics.device->TestCooperativeLevel();
        if (cooperative == D3DERR_DEVICELOST) {
            Sleep(50);  // not ours to draw on until it can be reset
            continue;
        }
        if (cooperative == D3DERR_DEVICENOTRESET || window.sizeChanged || !sceneUp) {
            window.sizeChanged = false;
            if (!ResetDevice(plugin, graphics, window.clientWidth, window.clientHeight, sceneUp)) {
                Sleep(50);
                continue;
            }
        }

        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const uint32_t ticks = schedule.TicksBeforeFrame(Seconds(now, frequency));
        for (uint32_t tick = 0; tick < ticks; ++tick) {
            plugin.UpdateScene();
        }

        RenderOnBackBuffer(plugin, graphics);
        const bool lastFrame = schedule.FrameDrawn();
        if (lastFrame && !options.screenshotPath.empty()) {
            int width = 0;
            int height = 0;
            std::vector<uint8_t> rgb;
            if (!ReadBackBuffer(graphics.device, &width, &height, &rgb)) {
                std::fprintf(stderr, "cannot read the back buffer\n");
                exitCode = 1;
            } else if (!WritePngRgb(options.screenshotPath, width, height, rgb)) {
                std::fprintf(stderr, "cannot write %s\n", options.screenshotPath.c_str());
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
    std::printf("frames: %llu in %.2f s\n", static_cast<unsigned long long>(schedule.FramesDrawn()), seconds);
    return exitCode;
}
