// The host's floating-point modes around the entry points: every entry point
// gives the host back its x87 control word and its MXCSR control bits
// (rounding, masks, flush-to-zero, denormals-are-zero) as it found them,
// whatever they were, and the scene comes out the same under every host
// mode. The status flags are volatile across calls and not compared.
#include <xmmintrin.h>

#include <cstdint>

#include "core/generator.h"
#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/fpu_mode.h"
#include "scene_fixture.h"

namespace {

struct HostMode {
    const char* name;
    uint16_t x87ControlWord;
    uint32_t mxcsr;
};

// Every exception stays masked: a host that unmasks one takes its own traps.
const HostMode hostModes[] = {
    {"as a Windows thread starts", 0x027F, 0x1F80},
    {"as a MinGW program starts", 0x037F, 0x1F80},
    {"24-bit x87, as a Direct3D device leaves it", 0x007F, 0x1F80},
    {"x87 rounding toward zero", 0x0E7F, 0x1F80},
    {"SSE rounding toward zero", 0x027F, 0x7F80},
    {"SSE rounding up, flush to zero, denormals are zero", 0x067F, 0x9FC0 | 0x4000},
    {"SSE rounding down with flags raised", 0x007F, 0x3F80 | 0x3F},
};

const uint32_t statusFlags = 0x3F;

void EnterHostMode(const HostMode& mode)
{
    WriteX87ControlWord(mode.x87ControlWord);
    _mm_setcsr(mode.mxcsr);
}

// The control words now, against the host's.
void ExpectHostModeKept(const HostMode& mode, const char* entryPoint)
{
    const uint16_t x87 = ReadX87ControlWord();
    const uint32_t mxcsr = _mm_getcsr();
    EXPECT_EQ(mode.x87ControlWord, x87) << entryPoint << ", host " << mode.name;
    EXPECT_EQ(mode.mxcsr & ~statusFlags, mxcsr & ~statusFlags) << entryPoint << ", host " << mode.name;
}

void RestoreTestMode()
{
    WriteX87ControlWord(hostModes[1].x87ControlWord);
    _mm_setcsr(0x1F80);
}

class FpuGuardTest : public SceneTest {
protected:
    void TearDown() override
    {
        RestoreTestMode();
        FreePlugin(0, 0, 0);
        SceneTest::TearDown();
    }
};

TEST_F(FpuGuardTest, EveryEntryPointGivesTheHostItsModeBack)
{
    SoftwareDevice device(320, 200);
    for (const HostMode& mode : hostModes) {
        EnterHostMode(mode);
        SetupPlugin(&device, 0, 0, 320, 200, 0, 0);
        ExpectHostModeKept(mode, "SetupPlugin");
        EnterHostMode(mode);
        UpdateScene();
        ExpectHostModeKept(mode, "UpdateScene");
        EnterHostMode(mode);
        RenderSceneOnScreen(0, &device, 0, 0, 320, 200, 0, 0, 0, 0, 0);
        ExpectHostModeKept(mode, "RenderSceneOnScreen");
        EnterHostMode(mode);
        QueryDefaultSettings(3, 0);
        SetupPluginPerScreen(0, 0, 0, 0, 0, 0, 0);
        NotificationProcedure(0, 0);
        ConfigPlugin(nullptr);
        ExpectHostModeKept(mode, "the entry points that compute nothing");
        EnterHostMode(mode);
        FreePlugin(0, 0, 0);
        ExpectHostModeKept(mode, "FreePlugin");
        RestoreTestMode();
    }
}

TEST_F(FpuGuardTest, SceneIsTheSameUnderEveryHostMode)
{
    SoftwareDevice device(320, 200);
    device.SkipRasterizing(true);
    SimulationHashes expected;
    for (const HostMode& mode : hostModes) {
        Reset();
        EnterHostMode(mode);
        SetupScene(&device, 0, 0, 1920, 1200, 31337);
        for (int n = 0; n < 40; ++n) {
            UpdateScene();
            if (n % 10 == 0)
                RenderSceneOnScreen(0, &device, 0, 0, 1920, 1200, 0, 0, 0, 0, 0);
        }
        RestoreTestMode();
        FreePlugin(0, 0, 0);
        if (&mode == &hostModes[0])
            expected = HashSimulation();
        EXPECT_EQ("", expected.Difference(HashSimulation())) << "host " << mode.name;
    }
}

}  // namespace
