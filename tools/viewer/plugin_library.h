// ChaosTrails.dll loaded the way hosts load it: LoadLibrary, then each of the
// eight entry points by ordinal. Shared by trails-viewer and the screensaver.
#pragma once

#include <windows.h>

#include <string>

#include "tools/host_contract.h"

struct PluginLibrary {
    HMODULE module = nullptr;
    host::QueryDefaultSettingsFn QueryDefaultSettings = nullptr;
    host::FreePluginFn FreePlugin = nullptr;
    host::SetupPluginFn SetupPlugin = nullptr;
    host::NotificationProcedureFn NotificationProcedure = nullptr;
    host::UpdateSceneFn UpdateScene = nullptr;
    host::RenderSceneOnScreenFn RenderSceneOnScreen = nullptr;
    host::SetupPluginPerScreenFn SetupPluginPerScreen = nullptr;
    host::ConfigPluginFn ConfigPlugin = nullptr;
};

// Loads the library and resolves every entry point. On failure returns false
// and says why in `failure` ("cannot load PATH (error 126: ...)", "PATH has
// no entry point at ordinal 10 (SetupPluginPerScreen)"); nothing stays loaded.
bool LoadPluginLibrary(const std::string& path, PluginLibrary& plugin, std::string& failure);

// ChaosTrails.dll in the folder of the running program.
std::string LibraryBesideProgram();

// The system's wording for an error code, without the closing full stop and
// line break.
std::string SystemErrorText(DWORD error);
