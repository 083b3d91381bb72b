#include "plugin/fpu_mode.h"

#if defined(__i386__) || defined(__x86_64__)

uint16_t ReadX87ControlWord()
{
    uint16_t controlWord;
    __asm__ __volatile__("fnstcw %0" : "=m"(controlWord));
    return controlWord;
}

void WriteX87ControlWord(uint16_t controlWord) { __asm__ __volatile__("fldcw %0" : : "m"(controlWord)); }

namespace {

uint32_t ReadSseControl()
{
    uint32_t control;
    __asm__ __volatile__("stmxcsr %0" : "=m"(control));
    return control;
}

void WriteSseControl(uint32_t control) { __asm__ __volatile__("ldmxcsr %0" : : "m"(control)); }

}  // namespace

FloatingPointMode EnterSceneFloatingPointMode()
{
    FloatingPointMode host = {ReadX87ControlWord(), ReadSseControl()};
    if (host.x87ControlWord != SceneX87ControlWord) {
        WriteX87ControlWord(SceneX87ControlWord);
    }
    // Keep the host's sticky exception flags (bits 0-5) out of the comparison:
    // only the control bits matter to our results.
    if ((host.sseControl & ~0x3Fu) != SceneSseControl) {
        WriteSseControl(SceneSseControl | (host.sseControl & 0x3Fu));
    }
    return host;
}

void LeaveSceneFloatingPointMode(FloatingPointMode hostMode)
{
    if (ReadX87ControlWord() != hostMode.x87ControlWord) {
        WriteX87ControlWord(hostMode.x87ControlWord);
    }
    // Put back the host's control bits; exception flags raised by our work
    // stay raised, as they would after any other library call.
    const uint32_t now = ReadSseControl();
    const uint32_t restored = (hostMode.sseControl & ~0x3Fu) | (now & 0x3Fu) | (hostMode.sseControl & 0x3Fu);
    if (restored != now) {
        WriteSseControl(restored);
    }
}

#else

uint16_t ReadX87ControlWord() { return SceneX87ControlWord; }
void WriteX87ControlWord(uint16_t) {}
FloatingPointMode EnterSceneFloatingPointMode() { return FloatingPointMode{SceneX87ControlWord, SceneSseControl}; }
void LeaveSceneFloatingPointMode(FloatingPointMode) {}

#endif
