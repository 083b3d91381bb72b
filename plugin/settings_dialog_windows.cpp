// The settings dialog (Windows only): a modal dialog from resource 101 that
// offers nothing to change and reports whether it was left with ok.
#include <windows.h>

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "resources/resource_ids.h"

// Both ways out end the dialog with the same result, 0: the outcome travels
// only through dialogConfirmed.

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM first, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        dialogConfirmed = 0;
        return TRUE;  // the dialog manager focuses ok, the first tab stop
    case WM_COMMAND:
        // The notification code in the high word is not looked at.
        switch (LOWORD(first)) {
        case IDCANCEL:
            EndDialog(dialog, 0);
            return FALSE;
        case IDOK:
            dialogConfirmed = 1;
            EndDialog(dialog, 0);
            return FALSE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

extern "C" int32_t WINAPI ConfigPlugin(HWND parent)
{
    // Its result is not examined: if the dialog cannot be shown the procedure
    // never runs and the flag keeps what the last showing left.
    DialogBoxParamA(static_cast<HINSTANCE>(moduleInstance), MAKEINTRESOURCEA(IDD_SETTINGS), parent, SettingsDialogProc,
                    0);
    return dialogConfirmed;
}
