#include "tools/viewer/plugin_library.h"

#include <cstdio>

namespace {

// The order Resolve below takes them in.
static_assert(host::entryPoints[0].ordinal == host::QueryDefaultSettingsOrdinal &&
                  host::entryPoints[2].ordinal == host::SetupPluginOrdinal &&
                  host::entryPoints[5].ordinal == host::RenderSceneOnScreenOrdinal &&
                  host::entryPoints[6].ordinal == host::SetupPluginPerScreenOrdinal &&
                  host::entryPoints[7].ordinal == host::ConfigPluginOrdinal,
              "entry points in ordinal order");

template <typename Fn>
bool Resolve(HMODULE module, const host::EntryPoint& entry, Fn* address, const std::string& path, std::string& failure)
{
    FARPROC found = GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal));
    if (found == nullptr) {
        failure = path + " has no entry point at ordinal " + std::to_string(entry.ordinal) + " (" + entry.name + ")";
        return false;
    }
    *address = reinterpret_cast<Fn>(reinterpret_cast<void*>(found));
    return true;
}

}  // namespace

std::string SystemErrorText(DWORD error)
{
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

bool LoadPluginLibrary(const std::string& path, PluginLibrary& plugin, std::string& failure)
{
    plugin = PluginLibrary();
    // No "cannot find the DLL" box from the system: the caller reports it.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path.c_str());
    const DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) {
        const std::string reason = SystemErrorText(error);
        failure =
            "cannot load " + path + " (error " + std::to_string(error) + (reason.empty() ? "" : ": " + reason) + ")";
        return false;
    }
    using namespace host;
    const bool resolved = Resolve(module, entryPoints[0], &plugin.QueryDefaultSettings, path, failure) &&
                          Resolve(module, entryPoints[1], &plugin.FreePlugin, path, failure) &&
                          Resolve(module, entryPoints[2], &plugin.SetupPlugin, path, failure) &&
                          Resolve(module, entryPoints[3], &plugin.NotificationProcedure, path, failure) &&
                          Resolve(module, entryPoints[4], &plugin.UpdateScene, path, failure) &&
                          Resolve(module, entryPoints[5], &plugin.RenderSceneOnScreen, path, failure) &&
                          Resolve(module, entryPoints[6], &plugin.SetupPluginPerScreen, path, failure) &&
                          Resolve(module, entryPoints[7], &plugin.ConfigPlugin, path, failure);
    if (!resolved) {
        FreeLibrary(module);
        plugin = PluginLibrary();
        return false;
    }
    plugin.module = module;
    return true;
}

std::string LibraryBesideProgram()
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
