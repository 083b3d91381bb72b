// ChaosTrails.scr started the way Windows starts a screensaver, and watched
// from outside through its windows:
//
//   screensaver_test.exe SCR preview CHECK VERDICT
//                                        /p HWND: a child covering the parent's
//                                        client area draws the scene (CHECK, a
//                                        Unix program, looks at X; VERDICT, a
//                                        Unix path, is where it answers),
//                                        follows a resize, ends with the parent
//   screensaver_test.exe SCR fullscreen CHECK VERDICT
//                                        /s: the primary monitor, topmost, the
//                                        scene on it; ends on a key, a click, a
//                                        mouse moved beyond a few pixels, not on
//                                        a nudge
//   screensaver_test.exe SCR settings
//                                        /c:HWND, /c and no argument: the
//                                        library's dialog 101, modal to the
//                                        window or the foreground one
//   screensaver_test.exe SCR refusal TEXT
//                                        SCR (a copy without a usable library
//                                        beside it) says why in a message box
//                                        containing TEXT and exits with 1
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "tests/e2e/e2e_check.h"

namespace {

// Under emulation a frame of the scene takes seconds and a device many more.
const DWORD appearMs = 240000;
const DWORD endMs = 180000;

// Pumps this thread's messages (the preview's parent is ours) until the
// condition holds or the time is up.
bool WaitFor(DWORD milliseconds, const std::function<bool()>& condition)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (condition())
            return true;
        if (GetTickCount() - start >= milliseconds)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
}

class Screensaver {
public:
    Screensaver(const std::string& path, const std::string& arguments)
    {
        std::string line = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process_)) {
            E2E_CHECK(false, "cannot start %s (error %lu)", line.c_str(), GetLastError());
        }
        std::printf("  started %s\n", line.c_str());
        std::fflush(stdout);
    }
    ~Screensaver()
    {
        if (process_.hProcess == nullptr)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool Started() const { return process_.hProcess != nullptr; }
    DWORD Id() const { return process_.dwProcessId; }

    // Its first visible top-level window of the class, waiting for it.
    HWND FindWindowOfClass(const char* className, DWORD milliseconds)
    {
        found_ = nullptr;
        wantedClass_ = className;
        WaitFor(milliseconds, [this] {
            EnumWindows(&Screensaver::Visit, reinterpret_cast<LPARAM>(this));
            return found_ != nullptr || Ended();
        });
        return found_;
    }

    bool Ended() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }
    // Exit status once it has ended within the time, otherwise -1.
    long WaitForEnd(DWORD milliseconds)
    {
        if (!WaitFor(milliseconds, [this] { return Ended(); }))
            return -1;
        DWORD status = 0;
        GetExitCodeProcess(process_.hProcess, &status);
        return static_cast<long>(status);
    }

private:
    static BOOL CALLBACK Visit(HWND window, LPARAM self)
    {
        Screensaver* saver = reinterpret_cast<Screensaver*>(self);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (owner == saver->Id() && IsWindowVisible(window) && saver->wantedClass_ == name) {
            saver->found_ = window;
            return FALSE;
        }
        return TRUE;
    }

    PROCESS_INFORMATION process_ = {};
    HWND found_ = nullptr;
    std::string wantedClass_;
};

std::string Decimal(HWND window) { return std::to_string(reinterpret_cast<uintptr_t>(window)); }

// Whether the screensaver shows the scene there. Wine draws it through
// OpenGL into X, out of sight of the screen's device context (the preview, a
// child of another program's window, even out of sight of the X screen, in
// an X window of its own), so a Unix
// program reads it from X (Wine runs Unix programs as they are): `check`
// --verdict FILE X Y WIDTH HEIGHT writes "scene" to FILE (a Unix path, which
// is Z: and the same path here) when the rectangle of the screen, or a window
// of its size, shows the scene.
bool ShowsScene(const std::string& check, const std::string& unixVerdict, const RECT& area)
{
    const std::string verdict = "Z:" + unixVerdict;
    DeleteFileA(verdict.c_str());
    std::string line = "\"" + check + "\" --verdict \"" + unixVerdict + "\" " + std::to_string(area.left) + " " +
                       std::to_string(area.top) + " " + std::to_string(area.right - area.left) + " " +
                       std::to_string(area.bottom - area.top);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        E2E_CHECK(false, "cannot run %s (error %lu)", line.c_str(), GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    char said[16] = "";
    WaitFor(60000, [&] {
        HANDLE file = CreateFileA(verdict.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD got = 0;
        ReadFile(file, said, sizeof said - 1, &got, nullptr);
        said[got] = '\0';
        CloseHandle(file);
        return std::strchr(said, '\n') != nullptr;
    });
    DeleteFileA(verdict.c_str());
    return std::strcmp(said, "scene\n") == 0;
}

RECT ClientOnScreen(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    OffsetRect(&client, origin.x, origin.y);
    return client;
}

void CheckChildCovers(HWND child, HWND parent)
{
    RECT parentClient, childRect;
    GetClientRect(parent, &parentClient);
    GetWindowRect(child, &childRect);
    POINT corner = {childRect.left, childRect.top};
    ScreenToClient(parent, &corner);
    E2E_CHECK(corner.x == 0 && corner.y == 0, "the preview starts at (%ld, %ld) of the parent", corner.x, corner.y);
    E2E_CHECK_EQ_INT(childRect.right - childRect.left, parentClient.right, "preview width");
    E2E_CHECK_EQ_INT(childRect.bottom - childRect.top, parentClient.bottom, "preview height");
}

void CheckPreview(const std::string& scr, const std::string& check, const std::string& verdict, e2e::CaseRunner& runner)
{
    HWND parent = e2e::CreatePlainWindow(40, 40, 200, 150);
    Screensaver saver(scr, "/p " + Decimal(parent));
    HWND child = nullptr;
    runner.Run("a child window covers the parent's client area", [&] {
        const bool shown = WaitFor(appearMs, [&] {
            child = GetWindow(parent, GW_CHILD);
            return child != nullptr && IsWindowVisible(child);
        });
        if (!E2E_CHECK(shown, "no child window shown"))
            return;
        DWORD owner = 0;
        GetWindowThreadProcessId(child, &owner);
        E2E_CHECK(owner == saver.Id(), "the child is not the screensaver's");
        E2E_CHECK((GetWindowLongA(child, GWL_STYLE) & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE),
                  "not a visible child");
        CheckChildCovers(child, parent);
    });
    runner.Run("the preview draws the scene", [&] {
        const bool drawn = WaitFor(appearMs, [&] {
            if (ShowsScene(check, verdict, ClientOnScreen(parent)))
                return true;
            Sleep(1000);  // a frame takes seconds under emulation
            return false;
        });
        E2E_CHECK(drawn, "no scene in the preview's part of the screen");
    });
    runner.Run("the preview follows the parent's size", [&] {
        RECT frame = {0, 0, 240, 120};
        AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
        SetWindowPos(parent, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER);
        RECT now = {};
        const bool followed = child != nullptr && WaitFor(appearMs, [&] {
                                  GetWindowRect(child, &now);
                                  return now.right - now.left == 240 && now.bottom - now.top == 120;
                              });
        E2E_CHECK(followed, "the preview is %ldx%ld, the parent's client area 240x120", now.right - now.left,
                  now.bottom - now.top);
    });
    runner.Run("the preview ends with its parent", [&] {
        DestroyWindow(parent);
        const long status = saver.WaitForEnd(endMs);
        E2E_CHECK_EQ_INT(status, 0, "exit status after the parent went");
    });
}

// Moves the mouse to a point of the screen by synthetic input.
void MoveMouseTo(int x, int y)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof input);
}

void Click()
{
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof input[0]);
}

// Returns once the screensaver's thread has taken its messages twice: input
// sent before has then been handled (it draws between taking messages).
void LetItHandleInput(HWND window)
{
    for (int n = 0; n < 2; ++n) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, endMs, &ignored);
    }
}

void CheckFullscreen(const std::string& scr, const std::string& check, const std::string& verdict,
                     e2e::CaseRunner& runner)
{
    SetCursorPos(300, 300);
    {
        Screensaver saver(scr, "/s");
        HWND window = nullptr;
        runner.Run("/s covers the primary monitor, topmost", [&] {
            window = saver.FindWindowOfClass("ChaosTrailsScreensaver", appearMs);
            if (!E2E_CHECK(window != nullptr, "no screensaver window"))
                return;
            RECT rect;
            GetWindowRect(window, &rect);
            E2E_CHECK(rect.left == 0 && rect.top == 0 && rect.right == GetSystemMetrics(SM_CXSCREEN) &&
                          rect.bottom == GetSystemMetrics(SM_CYSCREEN),
                      "the window is (%ld, %ld)-(%ld, %ld)", rect.left, rect.top, rect.right, rect.bottom);
            E2E_CHECK((GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "not topmost");
        });
        runner.Run("/s draws the scene on the screen", [&] {
            if (window == nullptr)
                return;
            const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
            const bool drawn = WaitFor(appearMs, [&] {
                if (ShowsScene(check, verdict, screen))
                    return true;
                Sleep(1000);
                return saver.Ended();
            });
            E2E_CHECK(drawn && !saver.Ended(), "no scene on the screen");
        });
        // Its frames are drawn by now: input is taken between frames.
        runner.Run("a nudge of the mouse leaves it running, a move ends it", [&] {
            if (window == nullptr)
                return;
            MoveMouseTo(302, 301);
            LetItHandleInput(window);
            E2E_CHECK(!saver.Ended(), "a 2-pixel nudge ended it");
            MoveMouseTo(400, 380);
            E2E_CHECK_EQ_INT(saver.WaitForEnd(endMs), 0, "exit status after the move");
        });
    }
    const struct {
        const char* name;
        std::function<void(HWND)> input;
    } endings[] = {
        {"a key ends it",
         [](HWND window) {
             SetForegroundWindow(window);
             LetItHandleInput(window);
             e2e::PressKey(VK_SPACE);
         }},
        {"a click ends it",
         [](HWND window) {
             LetItHandleInput(window);
             Click();
         }},
    };
    for (const auto& ending : endings) {
        Screensaver saver(scr, "/s");
        runner.Run(ending.name, [&] {
            HWND window = saver.FindWindowOfClass("ChaosTrailsScreensaver", appearMs);
            if (!E2E_CHECK(window != nullptr, "no screensaver window"))
                return;
            ending.input(window);
            E2E_CHECK_EQ_INT(saver.WaitForEnd(endMs), 0, "exit status after the input");
        });
    }
}

// The library's dialog 101 (its caption is checked against the template by
// settings_dialog_test), modal to the owner.
void CheckSettingsDialog(const std::string& scr, const std::string& arguments, HWND expectedOwner)
{
    Screensaver saver(scr, arguments);
    HWND dialog = saver.FindWindowOfClass("#32770", appearMs);
    if (!E2E_CHECK(dialog != nullptr, "'%s': no dialog", arguments.c_str()))
        return;
    char text[256] = "";
    GetWindowTextA(dialog, text, sizeof text);
    E2E_CHECK_EQ_STR(text, "Settings", "the dialog's caption");
    E2E_CHECK(GetWindow(dialog, GW_OWNER) == expectedOwner, "'%s': the dialog's owner is %p, want %p",
              arguments.c_str(), static_cast<void*>(GetWindow(dialog, GW_OWNER)), static_cast<void*>(expectedOwner));
    E2E_CHECK(!IsWindowEnabled(expectedOwner), "'%s': the owner is not disabled: the dialog is not modal",
              arguments.c_str());
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    E2E_CHECK_EQ_INT(saver.WaitForEnd(endMs), 0, "exit status after the dialog closed");
}

void CheckSettings(const std::string& scr, e2e::CaseRunner& runner)
{
    HWND owner = e2e::CreatePlainWindow(60, 60, 300, 200);
    runner.Run("/c:HWND shows dialog 101 modal to that window",
               [&] { CheckSettingsDialog(scr, "/c:" + Decimal(owner), owner); });
    HWND other = e2e::CreatePlainWindow(400, 60, 200, 100);
    runner.Run("/c shows it modal to the foreground window", [&] {
        SetForegroundWindow(other);
        CheckSettingsDialog(scr, "/c", other);
    });
    runner.Run("no argument does the same", [&] {
        SetForegroundWindow(owner);
        CheckSettingsDialog(scr, "", owner);
    });
    DestroyWindow(other);
    DestroyWindow(owner);
}

void CheckRefusal(const std::string& scr, const std::string& reason, e2e::CaseRunner& runner)
{
    for (const char* arguments : {"/s", "/c"}) {
        const std::string name = std::string(arguments) + ": a message box says why, and the exit status is 1";
        runner.Run(name.c_str(), [&] {
            Screensaver saver(scr, arguments);
            HWND box = saver.FindWindowOfClass("#32770", appearMs);
            if (!E2E_CHECK(box != nullptr, "no message box"))
                return;
            char text[1024] = "";
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // a message box's text
            std::printf("  message: %s\n", text);
            E2E_CHECK(std::strstr(text, reason.c_str()) != nullptr, "the message does not say '%s'", reason.c_str());
            E2E_CHECK(std::strstr(text, "ChaosTrails.dll") != nullptr, "the message does not name the library");
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            E2E_CHECK_EQ_INT(saver.WaitForEnd(endMs), 1, "exit status");
        });
    }
}

}  // namespace

int main(int argc, char** argv)
{
    e2e::RequireArguments(argc, 3, "screensaver_test.exe SCR preview|fullscreen CHECK VERDICT|settings|refusal TEXT");
    const std::string scr = argv[1];
    const std::string mode = argv[2];
    e2e::CaseRunner runner;
    if (mode == "preview" && argc >= 5) {
        CheckPreview(scr, argv[3], argv[4], runner);
    } else if (mode == "fullscreen" && argc >= 5) {
        CheckFullscreen(scr, argv[3], argv[4], runner);
    } else if (mode == "settings") {
        CheckSettings(scr, runner);
    } else if (mode == "refusal" && argc >= 4) {
        CheckRefusal(scr, argv[3], runner);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    return runner.Finish();
}
