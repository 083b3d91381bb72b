// The floating-point mode our arithmetic needs, set on entry to every entry
// point that computes and the host's mode put back before it returns.
//
// A host that creates its Direct3D 9 device without D3DCREATE_FPU_PRESERVE
// leaves the thread's x87 precision at 24 bits, and the 32-bit runtime's tan
// and atan run on the x87 unit: at 24 bits their results differ from the
// scene's. So we switch to 53-bit precision, round to nearest, exceptions
// masked, and the SSE unit to its defaults (no flush-to-zero), for the length
// of the call. The host's own state is not ours to change.
#pragma once

#include <cstdint>

struct FloatingPointMode {
    uint16_t x87ControlWord;
    uint32_t sseControl;
};

FloatingPointMode EnterSceneFloatingPointMode();
void LeaveSceneFloatingPointMode(FloatingPointMode hostMode);

// The x87 control word and SSE control/status word we run under.
enum : uint32_t { SceneX87ControlWord = 0x027F, SceneSseControl = 0x1F80 };

// Reads and sets the raw x87 control word (tests and tools acting as a host).
uint16_t ReadX87ControlWord();
void WriteX87ControlWord(uint16_t controlWord);
