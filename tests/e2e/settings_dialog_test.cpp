// The settings dialog through the loaded library: its template as stored in
// the DLL, the window the dialog manager builds from it, and the result of
// ConfigPlugin for each way out. The modal dialog runs on the main thread; a
// second thread finds it by its caption and drives it as a user would.
//
//   settings_dialog_test.exe DLL template|window|outcomes
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_check.h"
#include "tools/host_contract.h"

namespace {

using host::ConfigPluginFn;

const WORD buttonClassAtom = 0x0080;
const WORD staticClassAtom = 0x0082;
const DWORD staticStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER | SS_CENTERIMAGE;
const DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS;

enum class Wording { Exact, Tagline, Credit, Inspiration, Contact };

struct ExpectedControl {
    WORD classAtom;
    int32_t id;
    short x, y, cx, cy;
    DWORD style;
    Wording wording;
    const char* text;  // the exact text where the wording is fixed
};

// The nine controls, in template and tab order.
const ExpectedControl expectedControls[] = {
    {buttonClassAtom, IDOK, 130, 168, 42, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, Wording::Exact,
     "ok"},
    {buttonClassAtom, IDCANCEL, 240, 204, 50, 14, WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, Wording::Exact, "Cancel"},
    {staticClassAtom, -1, 72, 42, 157, 14, staticStyle, Wording::Credit, nullptr},
    {staticClassAtom, -1, 108, 192, 84, 28, staticStyle, Wording::Tagline, nullptr},
    {staticClassAtom, -1, 26, 102, 249, 13, staticStyle, Wording::Exact,
     "what's left? configuration of equation type,"},
    {staticClassAtom, -1, 26, 66, 249, 8, staticStyle, Wording::Inspiration, nullptr},
    {staticClassAtom, -1, 26, 114, 249, 13, staticStyle, Wording::Exact,
     "color, particle speed, sfx type. optimization. use of newfangled GPU thing."},
    {staticClassAtom, -1, 26, 126, 249, 13, staticStyle, Wording::Contact, nullptr},
    {staticClassAtom, -1, 109, 12, 84, 28, staticStyle, Wording::Tagline, nullptr},
};
const int controlCount = sizeof(expectedControls) / sizeof(expectedControls[0]);

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Our own wording is free, but it names the product, and the contact line
// keeps its fixed frame around an address.
void CheckWording(int index, const std::string& text, std::string* tagline)
{
    const ExpectedControl& expected = expectedControls[index];
    switch (expected.wording) {
    case Wording::Exact:
        E2E_CHECK_EQ_STR(text, expected.text, ("text of control " + std::to_string(index + 1)).c_str());
        break;
    case Wording::Tagline:
        E2E_CHECK(!text.empty(), "control %d: the tagline is empty", index + 1);
        if (tagline->empty()) {
            *tagline = text;
        } else {
            E2E_CHECK(text == *tagline, "the two taglines differ: \"%s\" and \"%s\"", tagline->c_str(), text.c_str());
        }
        break;
    case Wording::Credit:
    case Wording::Inspiration:
        E2E_CHECK(text.find("Chaos Trails") != std::string::npos, "control %d does not name Chaos Trails: \"%s\"",
                  index + 1, text.c_str());
        break;
    case Wording::Contact: {
        const std::string frame = "other things. contact ";
        const bool framed = text.compare(0, frame.size(), frame) == 0 && EndsWith(text, ".");
        E2E_CHECK(framed, "the contact line is not \"%s<address>.\": \"%s\"", frame.c_str(), text.c_str());
        if (framed) {
            const std::string address = text.substr(frame.size(), text.size() - frame.size() - 1);
            E2E_CHECK(address.find(' ') == std::string::npos &&
                          (address.find('@') != std::string::npos || address.find("://") != std::string::npos),
                      "no address in the contact line: \"%s\"", address.c_str());
        }
        break;
    }
    }
}

// ---------------------------------------------------------------------------
// The template as stored in the library.

class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Overran() const { return overran_; }
    size_t Offset() const { return offset_; }

    WORD Word()
    {
        WORD value = 0;
        Read(&value, 2);
        return value;
    }
    DWORD Dword()
    {
        DWORD value = 0;
        Read(&value, 4);
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte()
    {
        BYTE value = 0;
        Read(&value, 1);
        return value;
    }
    // A NUL-terminated UTF-16 string, returned as ASCII (the texts are ASCII;
    // anything else shows as '?').
    std::string String()
    {
        std::string text;
        for (WORD c = Word(); c != 0 && !overran_; c = Word()) {
            text.push_back(c < 128 ? static_cast<char>(c) : '?');
        }
        return text;
    }
    // A name that is either an ordinal (0xFFFF, value), a string, or absent
    // (0x0000). Ordinals are returned in *ordinal with the string empty.
    std::string NameOrOrdinal(WORD* ordinal)
    {
        *ordinal = 0;
        const WORD first = Word();
        if (first == 0xFFFF) {
            *ordinal = Word();
            return std::string();
        }
        if (first == 0) {
            return std::string();
        }
        offset_ -= 2;
        return String();
    }
    void AlignDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }

private:
    void Read(void* out, size_t count)
    {
        if (offset_ + count > size_) {
            overran_ = true;
            return;
        }
        std::memcpy(out, data_ + offset_, count);
        offset_ += count;
    }

    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    bool overran_ = false;
};

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR count)
{
    reinterpret_cast<std::vector<WORD>*>(count)->push_back(language);
    return TRUE;
}

void CheckTemplate(HMODULE module, e2e::CaseRunner& runner)
{
    runner.Run("resource 101 is a dialog in English (United Kingdom) only", [&] {
        std::vector<WORD> languages;
        EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, MAKEINTRESOURCEA(host::settingsDialogId),
                               CountLanguage, reinterpret_cast<LONG_PTR>(&languages));
        E2E_CHECK_EQ_INT(languages.size(), 1, "languages of dialog 101");
        if (!languages.empty()) {
            E2E_CHECK_EQ_INT(languages[0], MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), "its language");
        }
    });

    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(host::settingsDialogId),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK));
    if (!E2E_CHECK(resource != nullptr, "no dialog 101 in English (United Kingdom)")) {
        return;
    }
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, resource)));
    const size_t size = SizeofResource(module, resource);
    TemplateReader reader(data, size);
    WORD itemCount = 0;

    runner.Run("the dialog's own fields", [&] {
        E2E_CHECK_EQ_INT(reader.Word(), 1, "dlgVer (an extended template)");
        E2E_CHECK_EQ_INT(reader.Word(), 0xFFFF, "signature");
        E2E_CHECK_EQ_INT(reader.Dword(), 0, "helpID");
        E2E_CHECK_EQ_INT(reader.Dword(), 0, "extended style");
        E2E_CHECK_EQ_INT(reader.Dword(), dialogStyle, "style");
        itemCount = reader.Word();
        E2E_CHECK_EQ_INT(itemCount, controlCount, "control count");
        E2E_CHECK_EQ_INT(reader.Short(), 0, "x");
        E2E_CHECK_EQ_INT(reader.Short(), 0, "y");
        E2E_CHECK_EQ_INT(reader.Short(), 301, "width");
        E2E_CHECK_EQ_INT(reader.Short(), 231, "height");
        WORD ordinal = 0;
        E2E_CHECK(reader.NameOrOrdinal(&ordinal).empty() && ordinal == 0, "the dialog has a menu");
        E2E_CHECK(reader.NameOrOrdinal(&ordinal).empty() && ordinal == 0, "the dialog has a class of its own");
        E2E_CHECK_EQ_STR(reader.String(), "Settings", "caption");
        E2E_CHECK_EQ_INT(reader.Word(), 8, "font size in points");
        E2E_CHECK_EQ_INT(reader.Word(), 400, "font weight");
        E2E_CHECK_EQ_INT(reader.Byte(), 0, "italic");
        E2E_CHECK_EQ_INT(reader.Byte(), 1, "character set");
        E2E_CHECK_EQ_STR(reader.String(), "MS Shell Dlg", "typeface");
        E2E_CHECK(!reader.Overran(), "the template ends early");
    });

    runner.Run("nine controls in order with their places, styles and texts", [&] {
        std::string tagline;
        for (int index = 0; index < controlCount && index < itemCount && !reader.Overran(); ++index) {
            const ExpectedControl& expected = expectedControls[index];
            const std::string which = "control " + std::to_string(index + 1) + " ";
            reader.AlignDword();
            E2E_CHECK_EQ_INT(reader.Dword(), 0, (which + "helpID").c_str());
            E2E_CHECK_EQ_INT(reader.Dword(), 0, (which + "extended style").c_str());
            E2E_CHECK_EQ_INT(reader.Dword(), expected.style, (which + "style").c_str());
            E2E_CHECK_EQ_INT(reader.Short(), expected.x, (which + "x").c_str());
            E2E_CHECK_EQ_INT(reader.Short(), expected.y, (which + "y").c_str());
            E2E_CHECK_EQ_INT(reader.Short(), expected.cx, (which + "width").c_str());
            E2E_CHECK_EQ_INT(reader.Short(), expected.cy, (which + "height").c_str());
            E2E_CHECK_EQ_INT(reader.Dword(), static_cast<DWORD>(expected.id), (which + "id").c_str());
            WORD atom = 0;
            const std::string className = reader.NameOrOrdinal(&atom);
            E2E_CHECK(className.empty() && atom == expected.classAtom, "%sclass: got \"%s\"/0x%04x, want 0x%04x",
                      which.c_str(), className.c_str(), atom, expected.classAtom);
            WORD textOrdinal = 0;
            const std::string text = reader.NameOrOrdinal(&textOrdinal);
            E2E_CHECK_EQ_INT(textOrdinal, 0, (which + "text is a resource ordinal").c_str());
            CheckWording(index, text, &tagline);
            E2E_CHECK_EQ_INT(reader.Word(), 0, (which + "creation data size").c_str());
        }
        E2E_CHECK(!reader.Overran(), "the template ends early");
        reader.AlignDword();
        E2E_CHECK(reader.Offset() >= size || size - reader.Offset() < 4, "%u bytes follow the last control",
                  static_cast<unsigned>(size - reader.Offset()));
    });
}

// ---------------------------------------------------------------------------
// The live dialog.

const DWORD dialogWaitMilliseconds = 60000;

// Waits until the dialog's thread has handled everything posted so far.
void Settle(HWND dialog)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
}

struct Session {
    std::function<void(HWND dialog)> drive;
    HWND dialog = nullptr;
};

DWORD WINAPI DriveDialog(LPVOID argument)
{
    Session* session = static_cast<Session*>(argument);
    session->dialog = e2e::WaitForOwnWindow(nullptr, "Settings", dialogWaitMilliseconds);
    if (session->dialog == nullptr) {
        return 1;
    }
    Settle(session->dialog);
    session->drive(session->dialog);
    // A way out that did not end the dialog must not hang the suite.
    const DWORD start = GetTickCount();
    while (IsWindow(session->dialog) && GetTickCount() - start < 20000) {
        Sleep(20);
    }
    if (IsWindow(session->dialog)) {
        PostMessageA(session->dialog, WM_COMMAND, IDCANCEL, 0);
        return 2;
    }
    return 0;
}

// Calls ConfigPlugin(parent) while drive(dialog) runs on a second thread once
// the dialog shows; returns what ConfigPlugin returned.
int32_t ShowSettings(ConfigPluginFn configPlugin, HWND parent, std::function<void(HWND)> drive)
{
    Session session;
    session.drive = std::move(drive);
    HANDLE driver = CreateThread(nullptr, 0, DriveDialog, &session, 0, nullptr);
    const int32_t result = configPlugin(parent);
    WaitForSingleObject(driver, dialogWaitMilliseconds + 30000);
    DWORD driverExit = 3;
    GetExitCodeThread(driver, &driverExit);
    CloseHandle(driver);
    E2E_CHECK(driverExit != 1, "the settings dialog never showed");
    E2E_CHECK(driverExit != 2, "the dialog stayed open after its way out");
    E2E_CHECK(session.dialog == nullptr || !IsWindow(session.dialog), "the dialog window outlived ConfigPlugin");
    return result;
}

std::string WindowText(HWND window)
{
    char text[512] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassName(HWND window)
{
    char name[128] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

// A centred-image static shows its text on one line, clipped at its edges:
// the text has to fit the control's width in the dialog's font.
void CheckTextFits(HWND control, const std::string& which)
{
    const std::string text = WindowText(control);
    HDC context = GetDC(control);
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(context, font);
    SIZE extent = {};
    GetTextExtentPoint32A(context, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(context, previous);
    ReleaseDC(control, context);
    RECT client = {};
    GetClientRect(control, &client);
    E2E_CHECK(extent.cx <= client.right && extent.cy <= client.bottom,
              "%stext \"%s\" needs %ldx%ld pixels, the control has %ldx%ld", which.c_str(), text.c_str(), extent.cx,
              extent.cy, client.right, client.bottom);
}

void CheckLiveDialog(HWND dialog, HWND parent, DWORD dialogThread)
{
    E2E_CHECK_EQ_STR(ClassName(dialog), "#32770", "the dialog's class");
    E2E_CHECK_EQ_STR(WindowText(dialog), "Settings", "the caption");
    E2E_CHECK(GetAncestor(dialog, GA_PARENT) == GetDesktopWindow(), "the dialog is not a top-level window");
    E2E_CHECK(GetWindow(dialog, GW_OWNER) == parent, "the dialog is not owned by the host's window");
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    E2E_CHECK((style & (dialogStyle & ~DS_SETFONT & ~DS_FIXEDSYS)) == (dialogStyle & ~DS_SETFONT & ~DS_FIXEDSYS),
              "the dialog's style 0x%08lx lacks popup, caption, system menu or modal frame", style);
    E2E_CHECK((style & WS_CHILD) == 0, "the dialog is a child window");
    E2E_CHECK(!IsWindowEnabled(parent), "the host's window stays enabled: the dialog is not modal to it");

    RECT client = {};
    GetClientRect(dialog, &client);
    RECT templateSize = {0, 0, 301, 231};
    MapDialogRect(dialog, &templateSize);
    E2E_CHECK(client.right == templateSize.right && client.bottom == templateSize.bottom,
              "client area %ldx%ld, want 301x231 dialog units = %ldx%ld", client.right, client.bottom,
              templateSize.right, templateSize.bottom);

    HWND control = GetWindow(dialog, GW_CHILD);
    int index = 0;
    std::string tagline;
    HWND okButton = nullptr;
    for (; control != nullptr && index < controlCount; control = GetWindow(control, GW_HWNDNEXT), ++index) {
        const ExpectedControl& expected = expectedControls[index];
        const std::string which = "control " + std::to_string(index + 1) + " ";
        E2E_CHECK_EQ_STR(ClassName(control), expected.classAtom == buttonClassAtom ? "Button" : "Static",
                         (which + "class").c_str());
        // IDC_STATIC: the extended template stores -1 in 32 bits; a dialog
        // manager may keep all of them (-1) or only the low 16 (0xFFFF).
        const int id = GetDlgCtrlID(control);
        if (expected.id == -1) {
            E2E_CHECK(id == -1 || id == 0xFFFF, "%sid: got %d, want -1 (0xFFFF)", which.c_str(), id);
        } else {
            E2E_CHECK_EQ_INT(id, expected.id, (which + "id").c_str());
        }
        E2E_CHECK_EQ_INT(static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE)), expected.style,
                         (which + "style").c_str());
        E2E_CHECK_EQ_INT(GetWindowLongA(control, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0,
                         (which + "extended style").c_str());
        CheckWording(index, WindowText(control), &tagline);
        CheckTextFits(control, which);
        // Origin and size are each scaled from dialog units on their own.
        RECT origin = {expected.x, expected.y, expected.cx, expected.cy};
        MapDialogRect(dialog, &origin);
        const RECT place = {origin.left, origin.top, origin.left + origin.right, origin.top + origin.bottom};
        RECT actual = {};
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        E2E_CHECK(std::memcmp(&place, &actual, sizeof(RECT)) == 0,
                  "%splaced at (%ld,%ld)-(%ld,%ld), want (%ld,%ld)-(%ld,%ld)", which.c_str(), actual.left, actual.top,
                  actual.right, actual.bottom, place.left, place.top, place.right, place.bottom);
        if (expected.id == IDOK) {
            okButton = control;
        }
    }
    E2E_CHECK_EQ_INT(index, controlCount, "controls found");
    E2E_CHECK(control == nullptr, "the dialog has more than nine controls");

    HWND cancelButton = GetDlgItem(dialog, IDCANCEL);
    E2E_CHECK(cancelButton != nullptr && !IsWindowVisible(cancelButton), "Cancel is missing or visible");
    E2E_CHECK(okButton != nullptr && IsWindowVisible(okButton), "ok is missing or hidden");

    GUITHREADINFO focus = {};
    focus.cbSize = sizeof(focus);
    E2E_CHECK(GetGUIThreadInfo(dialogThread, &focus) && focus.hwndFocus == okButton && okButton != nullptr,
              "the keyboard focus is on %p, not on ok (%p)", static_cast<void*>(focus.hwndFocus),
              static_cast<void*>(okButton));
    E2E_CHECK(GetNextDlgTabItem(dialog, okButton, FALSE) == okButton,
              "tab leaves ok: another control is a visible tab stop");
}

void CheckWindow(ConfigPluginFn configPlugin, e2e::CaseRunner& runner)
{
    HWND parent = e2e::CreatePlainWindow(0, 0, 320, 240);
    const DWORD mainThread = GetCurrentThreadId();
    runner.Run("the live dialog: caption, nine controls, Cancel hidden, focus on ok", [&] {
        const int32_t result = ShowSettings(configPlugin, parent, [&](HWND dialog) {
            CheckLiveDialog(dialog, parent, mainThread);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        E2E_CHECK_EQ_INT(result, 0, "ConfigPlugin after Cancel");
        E2E_CHECK(IsWindowEnabled(parent), "the host's window stays disabled after the dialog");
    });
    DestroyWindow(parent);
}

// Posts a command to the dialog as its controls would.
void PostCommand(HWND dialog, WORD id, WORD code)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void CheckOutcomes(ConfigPluginFn configPlugin, e2e::CaseRunner& runner)
{
    HWND parent = e2e::CreatePlainWindow(0, 0, 320, 240);
    auto expectResult = [&](const char* way, int32_t wanted, std::function<void(HWND)> drive) {
        const int32_t result = ShowSettings(configPlugin, parent, std::move(drive));
        E2E_CHECK(result == wanted, "%s: ConfigPlugin returned %d, want %d", way, result, wanted);
    };
    auto clickOk = [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); };
    auto pressEscape = [](HWND) { e2e::PressKey(VK_ESCAPE); };

    runner.Run("ok by mouse returns 1", [&] { expectResult("clicking ok", 1, clickOk); });
    runner.Run("ok by Enter returns 1", [&] { expectResult("Enter", 1, [](HWND) { e2e::PressKey(VK_RETURN); }); });
    runner.Run("ok by space on the focused button returns 1",
               [&] { expectResult("space", 1, [](HWND) { e2e::PressKey(VK_SPACE); }); });
    runner.Run("Esc returns 0", [&] { expectResult("Esc", 0, pressEscape); });
    runner.Run("the close box returns 0", [&] {
        expectResult("SC_CLOSE", 0, [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });
        expectResult("WM_CLOSE", 0, [](HWND dialog) { PostMessageA(dialog, WM_CLOSE, 0, 0); });
    });
    runner.Run("every showing starts unconfirmed: ok then Esc returns 1 then 0", [&] {
        expectResult("first showing, ok", 1, clickOk);
        expectResult("second showing, Esc", 0, pressEscape);
    });
    runner.Run("a command from ok with any notification code confirms", [&] {
        for (WORD code : {static_cast<WORD>(BN_DOUBLECLICKED), static_cast<WORD>(1), static_cast<WORD>(0x8000),
                          static_cast<WORD>(0xFFFF)}) {
            const std::string way = "command 1 with code " + std::to_string(code);
            expectResult(way.c_str(), 1, [code](HWND dialog) { PostCommand(dialog, IDOK, code); });
        }
    });
    runner.Run("commands from other controls leave the dialog open", [&] {
        expectResult("other commands, then Esc", 0, [](HWND dialog) {
            for (WORD id :
                 {static_cast<WORD>(0), static_cast<WORD>(3), static_cast<WORD>(101), static_cast<WORD>(0xFFFF)}) {
                PostCommand(dialog, id, BN_CLICKED);
            }
            Settle(dialog);
            E2E_CHECK(IsWindow(dialog) && IsWindowVisible(dialog), "a command from another control ended the dialog");
            e2e::PressKey(VK_ESCAPE);
        });
    });
    DestroyWindow(parent);
}

}  // namespace

int main(int argc, char** argv)
{
    e2e::RequireArguments(argc, 3, "settings_dialog_test.exe DLL template|window|outcomes");
    HMODULE module = e2e::LoadPluginLibrary(argv[1]);
    const auto configPlugin = e2e::EntryPointByOrdinal<ConfigPluginFn>(module, host::ConfigPluginOrdinal);
    e2e::CaseRunner runner;
    if (std::strcmp(argv[2], "template") == 0) {
        CheckTemplate(module, runner);
    } else if (std::strcmp(argv[2], "window") == 0) {
        CheckWindow(configPlugin, runner);
    } else if (std::strcmp(argv[2], "outcomes") == 0) {
        CheckOutcomes(configPlugin, runner);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", argv[2]);
        return 2;
    }
    return runner.Finish();
}
