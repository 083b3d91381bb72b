// Failing device calls: a host's device may refuse any call at any time (lost
// device, out of video memory, a driver in a bad mood), and the plug-in lives
// in the host's process, so no refusal may crash it, leak a reference or
// change the simulation beyond what the refusal itself implies.
//
// Every run below is the same short scene: set-up, two ticks, a frame, a tick,
// a frame, a tick, FreePlugin. The calls to fail are taken from a recorded
// healthy run, one (kind, occurrence) pair at a time, so a new call in set-up
// or in a frame is covered without touching this file. The outcome of each
// faulted run is compared with a healthy run of the frames that were expected
// to be drawn.
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "scene_fixture.h"

namespace {

const uint32_t sceneSeed = 271828;
const int framesPerRun = 2;

// A call to make fail: the occurrence-th call of the kind (0-based, counted
// over the device's life), every call of the kind (occurrence -1), or every
// call at all.
struct Fault {
    CallKind kind;
    int occurrence;
    bool everyCall;
};

std::string Describe(const Fault& fault)
{
    if (fault.everyCall)
        return "every call";
    std::ostringstream text;
    text << CallKindName(fault.kind);
    if (fault.occurrence < 0) {
        text << " (all)";
    } else {
        text << " #" << fault.occurrence;
    }
    return text.str();
}

bool Fails(const Fault& fault, CallKind kind, int occurrence)
{
    return fault.everyCall || (fault.kind == kind && (fault.occurrence < 0 || fault.occurrence == occurrence));
}

struct RunOutcome {
    SimulationHashes snapshot;
    std::vector<CallKind> setupCalls;
    std::vector<CallKind> frameCalls[framesPerRun];
    int createdObjects = 0;
    int liveAfterSetup = 0;
    int liveAfterFree = 0;
    int existingAfterFree = 0;
    int overReleases = 0;
    int usesAfterRelease = 0;
    int failedCallsInHealthyRun = 0;
    bool sceneStillOpen = false;
};

std::vector<CallKind> KindsBetween(const SoftwareDevice& device, size_t first, size_t end)
{
    std::vector<CallKind> kinds;
    for (size_t n = first; n < end; ++n)
        kinds.push_back(device.Calls()[n].kind);
    return kinds;
}

// What the plug-in should do under a fault, derived from the device's rules:
// a failed creation leaves its reference null and every frame then draws
// nothing of the scene; a refused BeginScene skips the frame; a refused
// EndScene leaves the device inside the scene, so that it refuses every later
// BeginScene. Every other refusal changes nothing the plug-in does.
struct Expectation {
    bool quadBufferMissing = false;
    bool sceneResourcesMissing = false;
    bool frameBegun[framesPerRun] = {};
    bool frameDrawn[framesPerRun] = {};
};

Expectation ExpectationFor(const Fault& fault)
{
    Expectation expected;
    expected.quadBufferMissing = Fails(fault, CallKind::CreateVertexBuffer, 0);
    expected.sceneResourcesMissing = expected.quadBufferMissing || Fails(fault, CallKind::CreateTexture, 0) ||
                                     Fails(fault, CallKind::CreateTexture, 1);
    bool sceneOpen = false;
    int endScenes = 0;
    for (int frame = 0; frame < framesPerRun; ++frame) {
        // Every frame calls BeginScene once, so its occurrence is the frame's.
        expected.frameBegun[frame] = !sceneOpen && !Fails(fault, CallKind::BeginScene, frame);
        if (!expected.frameBegun[frame])
            continue;
        expected.frameDrawn[frame] = !expected.sceneResourcesMissing;
        sceneOpen = Fails(fault, CallKind::EndScene, endScenes);
        ++endScenes;
    }
    return expected;
}

class FaultInjectionTest : public SceneTest {
protected:
    // The scene with `inject` applied to a fresh device before set-up. Frames
    // not in `framesToRun` are left out (for the expected outcomes).
    static RunOutcome Run(const Fault* fault, const bool (&framesToRun)[framesPerRun])
    {
        Reset();
        RunOutcome outcome;
        {
            SoftwareDevice device(64, 40);
            if (fault != nullptr) {
                if (fault->everyCall) {
                    device.FailAllCalls(true);
                } else {
                    device.FailCall(fault->kind, fault->occurrence);
                }
            }
            SetupScene(&device, 0, 0, 1920, 1200, sceneSeed);
            outcome.setupCalls = KindsBetween(device, 0, device.Calls().size());
            outcome.liveAfterSetup = device.LiveObjectCount();
            UpdateScene();
            UpdateScene();
            for (int frame = 0; frame < framesPerRun; ++frame) {
                if (framesToRun[frame]) {
                    const size_t first = device.Calls().size();
                    EXPECT_EQ(0, RenderSceneOnScreen(0, &device, 0, 0, 1920, 1200, 0, 0, 0, 0, 0));
                    outcome.frameCalls[frame] = KindsBetween(device, first, device.Calls().size());
                }
                UpdateScene();
            }
            outcome.snapshot = HashSimulation();
            FreePlugin(0, 0, 0);
            outcome.createdObjects = device.ObjectCount();
            outcome.liveAfterFree = device.LiveObjectCount();
            outcome.overReleases = device.OverReleaseCount();
            outcome.usesAfterRelease = device.UseAfterReleaseCount();
            outcome.sceneStillOpen = device.InScene();
            for (const DeviceCall& call : device.Calls())
                outcome.failedCallsInHealthyRun += call.failed ? 1 : 0;
            // FreePlugin must have let go of every reference before the device
            // (and with it every object) goes away.
            EXPECT_EQ(nullptr, deviceResources.FullLayerTexture);
            EXPECT_EQ(nullptr, deviceResources.GlowLayerTexture);
            EXPECT_EQ(nullptr, deviceResources.QuadVertexBuffer);
        }
        return outcome;
    }

    static const RunOutcome& Healthy()
    {
        static const bool allFrames[framesPerRun] = {true, true};
        return Reference(allFrames);
    }

    // Healthy runs are the same for every test; keep each one once.
    static const RunOutcome& Reference(const bool (&framesToRun)[framesPerRun])
    {
        static std::map<std::pair<bool, bool>, RunOutcome> references;
        const std::pair<bool, bool> key(framesToRun[0], framesToRun[1]);
        auto found = references.find(key);
        if (found == references.end()) {
            found = references.emplace(key, Run(nullptr, framesToRun)).first;
        }
        return found->second;
    }

    // Every (kind, occurrence) the healthy run made, in call order. AddRef and
    // Release return counts and cannot fail.
    static std::vector<Fault> FaultsOfHealthyRun()
    {
        const RunOutcome& healthy = Healthy();
        std::vector<CallKind> order = healthy.setupCalls;
        for (const auto& frame : healthy.frameCalls)
            order.insert(order.end(), frame.begin(), frame.end());
        std::vector<Fault> faults;
        int seen[static_cast<int>(CallKind::Count_)] = {};
        for (CallKind kind : order) {
            const int occurrence = seen[static_cast<int>(kind)]++;
            if (kind == CallKind::AddRef || kind == CallKind::Release)
                continue;
            faults.push_back(Fault{kind, occurrence, false});
        }
        return faults;
    }

    // Runs the scene under the fault and checks it against the expectation:
    // the same calls, references balanced, the simulation as a healthy run of
    // the frames that were due to be drawn.
    static void CheckRunUnder(const Fault& fault)
    {
        SCOPED_TRACE("failing " + Describe(fault));
        const Expectation expected = ExpectationFor(fault);
        static const bool allFrames[framesPerRun] = {true, true};
        const RunOutcome outcome = Run(&fault, allFrames);
        const RunOutcome& healthy = Healthy();

        // References: every object created is released exactly once, and the
        // plug-in never touches one it has given up.
        EXPECT_EQ(0, outcome.liveAfterFree);
        EXPECT_EQ(0, outcome.overReleases);
        EXPECT_EQ(0, outcome.usesAfterRelease);
        EXPECT_EQ(outcome.createdObjects, outcome.liveAfterSetup);

        // Set-up goes through every step; only the quad's fill needs its buffer.
        std::vector<CallKind> setupCalls;
        for (CallKind kind : healthy.setupCalls) {
            if (expected.quadBufferMissing && (kind == CallKind::Lock || kind == CallKind::Unlock))
                continue;
            setupCalls.push_back(kind);
        }
        EXPECT_EQ(setupCalls, outcome.setupCalls);

        bool framesToCompare[framesPerRun];
        for (int frame = 0; frame < framesPerRun; ++frame) {
            SCOPED_TRACE("frame " + std::to_string(frame));
            std::vector<CallKind> frameCalls;
            if (!expected.frameBegun[frame]) {
                frameCalls = {CallKind::BeginScene};
            } else if (!expected.frameDrawn[frame]) {
                frameCalls = {CallKind::BeginScene, CallKind::Clear, CallKind::EndScene};
            } else {
                frameCalls = healthy.frameCalls[frame];
            }
            EXPECT_EQ(frameCalls, outcome.frameCalls[frame]);
            framesToCompare[frame] = expected.frameDrawn[frame];
        }

        const std::string difference = Reference(framesToCompare).snapshot.Difference(outcome.snapshot);
        EXPECT_TRUE(difference.empty()) << difference;
    }
};

TEST_F(FaultInjectionTest, HealthyRunFailsNoCallAndItsFramesChangeTheSimulation)
{
    const RunOutcome& healthy = Healthy();
    EXPECT_EQ(0, healthy.failedCallsInHealthyRun);
    EXPECT_EQ(3, healthy.createdObjects);
    EXPECT_EQ(0, healthy.liveAfterFree);
    EXPECT_FALSE(healthy.sceneStillOpen);
    // The comparisons below only mean something if a skipped or an empty frame
    // leaves a different simulation behind than a drawn one.
    const bool firstOnly[framesPerRun] = {true, false};
    const bool secondOnly[framesPerRun] = {false, true};
    const bool none[framesPerRun] = {false, false};
    EXPECT_FALSE(healthy.snapshot.Difference(Reference(firstOnly).snapshot).empty());
    EXPECT_FALSE(healthy.snapshot.Difference(Reference(secondOnly).snapshot).empty());
    EXPECT_FALSE(healthy.snapshot.Difference(Reference(none).snapshot).empty());
    EXPECT_FALSE(Reference(firstOnly).snapshot.Difference(Reference(secondOnly).snapshot).empty());
}

// Each call of the healthy run failed on its own: a refused creation leaves
// every frame empty, a refused BeginScene skips its frame, a refused EndScene
// makes the device refuse the next BeginScene, and any other refusal changes
// nothing but the call itself.
TEST_F(FaultInjectionTest, AnySingleFailedCallIsSurvivedAsTheDeviceRulesSay)
{
    std::map<CallKind, int> checked;
    int total = 0;
    for (const Fault& fault : FaultsOfHealthyRun()) {
        CheckRunUnder(fault);
        ++checked[fault.kind];
        ++total;
    }
    EXPECT_EQ(2, checked[CallKind::CreateTexture]);
    EXPECT_EQ(1, checked[CallKind::CreateVertexBuffer]);
    EXPECT_EQ(framesPerRun, checked[CallKind::BeginScene]);
    EXPECT_EQ(framesPerRun, checked[CallKind::EndScene]);
    // Set-up's state calls and the quad fill, and two frames' locks,
    // transforms, bindings and draws.
    EXPECT_GE(total, 3 + 13 + 2 * 15);
}

TEST_F(FaultInjectionTest, EveryCallOfOneKindFailingIsSurvivedAsItsFirstFailureIs)
{
    for (int kind = 0; kind < static_cast<int>(CallKind::Count_); ++kind) {
        if (kind == static_cast<int>(CallKind::AddRef) || kind == static_cast<int>(CallKind::Release))
            continue;
        CheckRunUnder(Fault{static_cast<CallKind>(kind), -1, false});
    }
}

TEST_F(FaultInjectionTest, EveryCallFailingCreatesNothingAndSkipsEveryFrame)
{
    const Fault everything{CallKind::BeginScene, -1, true};
    const Expectation expected = ExpectationFor(everything);
    ASSERT_FALSE(expected.frameBegun[0] || expected.frameBegun[1]);
    CheckRunUnder(everything);
}

TEST_F(FaultInjectionTest, DeviceThatStartsFailingAfterSetupStillGetsEveryReferenceBack)
{
    // A device lost between frames: every call from the first frame on fails,
    // then the host frees the plug-in on it.
    SoftwareDevice device(64, 40);
    SetupScene(&device, 0, 0, 1920, 1200, sceneSeed);
    UpdateScene();
    const SimulationHashes beforeFrames = HashSimulation();
    device.FailAllCalls(true);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(0, RenderSceneOnScreen(0, &device, 0, 0, 1920, 1200, 0, 0, 0, 0, 0));
    }
    const std::string difference = beforeFrames.Difference(HashSimulation());
    EXPECT_TRUE(difference.empty()) << difference;
    FreePlugin(0, 0, 0);
    EXPECT_EQ(0, device.LiveObjectCount());
    EXPECT_EQ(0, device.OverReleaseCount());
    EXPECT_EQ(0, device.UseAfterReleaseCount());
}

}  // namespace
