// A library that looks like the plug-in but stops short: ordinals 1 to 6
// only. trails-viewer must refuse it with a message, not crash on a null
// entry point.
#include <windows.h>

#include <cstdint>

extern "C" {
int32_t WINAPI QueryDefaultSettings(uint32_t, int32_t defaultValue) { return defaultValue; }
void WINAPI FreePlugin(uint32_t, uint32_t, uint32_t) {}
int32_t WINAPI SetupPlugin(void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t) { return 1; }
void WINAPI NotificationProcedure(uint32_t, uint32_t) {}
void WINAPI UpdateScene() {}
int32_t WINAPI RenderSceneOnScreen(uint32_t, void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t,
                                   uint32_t, uint32_t)
{
    return 0;
}
}
