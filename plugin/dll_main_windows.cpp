// The library's entry point (Windows only): the platform calls it with the
// module instance on attach, which the settings dialog needs to find its
// template among the library's resources.
#include <windows.h>

#include "plugin/plugin_state.h"

// Records the module instance at process attach; nothing else, for any
// reason, and always TRUE (a refusal would unload the library).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
    }
    return TRUE;
}
