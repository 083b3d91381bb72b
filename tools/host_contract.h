// The host's side of the contract with ChaosTrails.dll: what a program that
// loads the library needs to call it. The types of the entry points as
// GetProcAddress hands them out, their ordinals, and the setting keys a host
// asks QueryDefaultSettings about. The library's own declaration of its
// exports is plugin/entry_points.h; this header is the view from outside and
// takes nothing of the plug-in but its table of setting defaults.
//
// Every entry point uses the Windows standard calling convention (the callee
// removes its arguments) and passes only 32-bit values.
#pragma once

#include <cstdint>

#include "plugin/default_settings.h"

#ifdef _WIN32
#include <windows.h>
#else
#ifndef WINAPI
#define WINAPI
#endif
typedef void* HWND;
#endif

// The real Direct3D 9 device in a Windows host; the library only passes it on.
struct IDirect3DDevice9;

namespace host {

typedef int32_t(WINAPI* QueryDefaultSettingsFn)(uint32_t key, int32_t defaultValue);
typedef void(WINAPI* FreePluginFn)(uint32_t ignored1, uint32_t ignored2, uint32_t ignored3);
// Always returns 1.
typedef int32_t(WINAPI* SetupPluginFn)(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right,
                                       int32_t bottom, uint32_t ignored1, uint32_t ignored2);
typedef void(WINAPI* NotificationProcedureFn)(uint32_t ignored1, uint32_t ignored2);
typedef void(WINAPI* UpdateSceneFn)();
// Always returns 0.
typedef int32_t(WINAPI* RenderSceneOnScreenFn)(uint32_t ignored, IDirect3DDevice9* device, int32_t left, int32_t top,
                                               int32_t right, int32_t bottom, uint32_t ignored1, uint32_t ignored2,
                                               uint32_t ignored3, uint32_t ignored4, uint32_t ignored5);
typedef int32_t(WINAPI* SetupPluginPerScreenFn)(uint32_t ignored1, uint32_t ignored2, uint32_t ignored3,
                                                uint32_t ignored4, uint32_t ignored5, uint32_t ignored6,
                                                uint32_t ignored7);
// 1 when the dialog was left with its ok button, otherwise 0.
typedef int32_t(WINAPI* ConfigPluginFn)(HWND parent);

enum Ordinal : uint16_t {
    QueryDefaultSettingsOrdinal = 1,
    FreePluginOrdinal = 2,
    SetupPluginOrdinal = 3,
    NotificationProcedureOrdinal = 4,
    UpdateSceneOrdinal = 5,
    RenderSceneOnScreenOrdinal = 6,
    SetupPluginPerScreenOrdinal = 10,
    ConfigPluginOrdinal = 11,
};

// Each entry point with its name and the bytes of arguments it removes.
struct EntryPoint {
    Ordinal ordinal;
    const char* name;
    uint32_t argumentBytes;
};
constexpr int entryPointCount = 8;
constexpr EntryPoint entryPoints[entryPointCount] = {
    {QueryDefaultSettingsOrdinal, "QueryDefaultSettings", 8},
    {FreePluginOrdinal, "FreePlugin", 12},
    {SetupPluginOrdinal, "SetupPlugin", 28},
    {NotificationProcedureOrdinal, "NotificationProcedure", 8},
    {UpdateSceneOrdinal, "UpdateScene", 0},
    {RenderSceneOnScreenOrdinal, "RenderSceneOnScreen", 44},
    {SetupPluginPerScreenOrdinal, "SetupPluginPerScreen", 28},
    {ConfigPluginOrdinal, "ConfigPlugin", 4},
};

// The numbered settings a host asks about before set-up, passing its own
// default for each: the plug-in's own table (plugin/default_settings.h).
using ::defaultSettings;

// The settings dialog ConfigPlugin shows: its resource id in the library.
constexpr uint16_t settingsDialogId = 101;

}  // namespace host
