// ChaosTrails.scr: the scene as a Windows screensaver, hosted by the same
// code as trails-viewer (scene_host.h) with the ChaosTrails.dll of its own
// folder. Windows starts it with /s to run, /p HWND for the preview in the
// settings and /c (or nothing) for the settings, which are the library's own
// dialog (ConfigPlugin). Whatever goes wrong ends in a message box saying
// why, never in a crash; the exit status is then 1.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tools/viewer/plugin_library.h"
#include "tools/viewer/scene_host.h"
#include "tools/viewer/screensaver_arguments.h"

namespace {

const char title[] = "Chaos Trails";
const char screensaverWindowClass[] = "ChaosTrailsScreensaver";
// Mouse movement a running screensaver lets pass, in pixels: a desk bumped,
// not a user back.
const int mouseSlack = 4;

HostWindow windowState;
bool fullscreen = false;
POINT mouseStart = {0, 0};

void Report(HWND owner, const std::string& text)
{
    MessageBoxA(owner, text.c_str(), title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool LoadBesideUs(HWND owner, PluginLibrary& plugin)
{
    const std::string path = LibraryBesideProgram();
    std::string failure;
    if (LoadPluginLibrary(path, plugin, failure))
        return true;
    Report(owner, "The screensaver cannot start: " + failure +
                      ".\n\nChaosTrails.scr needs the ChaosTrails.dll of "
                      "the same build beside it, in " +
                      Folder(path) + ".");
    return false;
}

LRESULT CALLBACK ScreensaverProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    switch (message) {
    case WM_SIZE:
        windowState.OnSize(first, second);
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the device paints every pixel
    case WM_SETCURSOR:
        if (fullscreen) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
        if (fullscreen) {
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (fullscreen) {
            // The window covers the screen from its origin: client
            // positions are screen positions.
            const int x = static_cast<short>(LOWORD(second));
            const int y = static_cast<short>(HIWORD(second));
            if (std::abs(x - mouseStart.x) > mouseSlack || std::abs(y - mouseStart.y) > mouseSlack) {
                DestroyWindow(window);
            }
            return 0;
        }
        break;
    case WM_SYSCOMMAND:
        // A running screensaver does not start another one.
        if (fullscreen && (first & 0xFFF0) == SC_SCREENSAVE)
            return 0;
        break;
    case WM_DESTROY:
        windowState.closed = true;
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, first, second);
}

bool RegisterWindowClass()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ScreensaverProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = screensaverWindowClass;
    return RegisterClassA(&windowClass) != 0;
}

// Creates the window, a device on it, and runs the scene until the window
// goes (or keepGoing says no).
int Run(const PluginLibrary& plugin, HWND window, HWND owner, std::function<bool()> keepGoing)
{
    if (window == nullptr) {
        Report(owner, "The screensaver cannot open its window (error " + std::to_string(GetLastError()) + ").");
        return 1;
    }
    windowState.handle = window;
    windowState.ReadClientSize();
    Graphics graphics;
    std::string failure;
    if (!CreateGraphics(window, windowState.clientWidth, windowState.clientHeight, graphics, failure)) {
        DestroyWindow(window);
        Report(owner, "The screensaver cannot draw: " + failure + ".");
        return 1;
    }
    SceneRun run;
    run.keepGoing = std::move(keepGoing);
    RunScene(plugin, graphics, windowState, run);
    ReleaseGraphics(graphics);
    if (!windowState.closed)
        DestroyWindow(window);
    return 0;
}

int RunFullscreen(const PluginLibrary& plugin)
{
    fullscreen = true;
    GetCursorPos(&mouseStart);
    // The primary monitor: its top left corner is the screen's origin.
    HWND window = CreateWindowExA(WS_EX_TOPMOST, screensaverWindowClass, title, WS_POPUP | WS_VISIBLE, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr)
        SetForegroundWindow(window);
    return Run(plugin, window, nullptr, nullptr);
}

int RunPreview(const PluginLibrary& plugin, HWND parent)
{
    RECT client;
    GetClientRect(parent, &client);
    HWND window =
        CreateWindowExA(0, screensaverWindowClass, title, WS_CHILD | WS_VISIBLE, 0, 0, client.right - client.left,
                        client.bottom - client.top, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    // The parent belongs to another program: it may go at any moment (its
    // children go with it), and when it is resized the preview follows.
    return Run(plugin, window, parent, [parent, window]() {
        if (!IsWindow(parent))
            return false;
        RECT now;
        GetClientRect(parent, &now);
        if (now.right - now.left != windowState.clientWidth || now.bottom - now.top != windowState.clientHeight) {
            MoveWindow(window, 0, 0, now.right - now.left, now.bottom - now.top, FALSE);
        }
        return true;
    });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    const ScreensaverArguments arguments = ParseScreensaverArguments(commandLine != nullptr ? commandLine : "");
    HWND window = reinterpret_cast<HWND>(arguments.window);
    switch (arguments.mode) {
    case ScreensaverArguments::Mode::Invalid:
        Report(nullptr, "The screensaver does not understand its command line: " + arguments.problem +
                            ".\n\nIt takes /s (run), /p HWND (preview) and /c (settings).");
        return 1;
    case ScreensaverArguments::Mode::Settings: {
        HWND owner = window != nullptr ? window : GetForegroundWindow();
        PluginLibrary plugin;
        if (!LoadBesideUs(owner, plugin))
            return 1;
        plugin.ConfigPlugin(owner);
        FreeLibrary(plugin.module);
        return 0;
    }
    case ScreensaverArguments::Mode::Preview:
        if (!IsWindow(window))
            return 1;  // the settings closed before the preview began
        break;
    case ScreensaverArguments::Mode::Fullscreen:
        break;
    }
    PluginLibrary plugin;
    if (!LoadBesideUs(arguments.mode == ScreensaverArguments::Mode::Preview ? window : nullptr, plugin))
        return 1;
    if (!RegisterWindowClass()) {
        Report(nullptr,
               "The screensaver cannot register its window class (error " + std::to_string(GetLastError()) + ").");
        return 1;
    }
    const int status =
        arguments.mode == ScreensaverArguments::Mode::Preview ? RunPreview(plugin, window) : RunFullscreen(plugin);
    // The library goes last: the device resources went with FreePlugin.
    FreeLibrary(plugin.module);
    return status;
}
