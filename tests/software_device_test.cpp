// Tests of the software Direct3D 9 device: the call log, failure injection,
// reference counting, locks, and the pictures its rasterizer draws.
#include "platform/software_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// Every allocation of the test program is counted, so a test can tell that a
// stretch of device calls allocates nothing.
static std::atomic<long> allocationCount{0};

void* operator new(std::size_t size) {
    ++allocationCount;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

struct QuadVertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(QuadVertex) == 24, "the 0x142 vertex is 24 bytes");

constexpr DWORD kQuadFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
// States the stand-in header does not name (real Direct3D 9 values).
constexpr auto kRsBlendOp = static_cast<D3DRENDERSTATETYPE>(171);
constexpr DWORD kBlendOpMax = 5;

int Red(uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }
int Green(uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
int Blue(uint32_t c) { return static_cast<int>(c & 0xFF); }
int Alpha(uint32_t c) { return static_cast<int>(c >> 24); }

uint32_t FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

D3DMATRIX Identity() {
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX Translation(float x, float y, float z) {
    D3DMATRIX m = Identity();
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

// Left-handed perspective from the vertical field of view, as Direct3D's
// helper library builds it.
D3DMATRIX PerspectiveFovLH(float fovy, float aspect, float zn, float zf) {
    D3DMATRIX m = {};
    float yScale = 1.0f / std::tan(fovy / 2.0f);
    m._11 = yScale / aspect;
    m._22 = yScale;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// A rectangle as a four-vertex strip in the plug-in's order: upper left,
// upper right, lower left, lower right.
std::vector<QuadVertex> RectangleStrip(float left, float top, float right, float bottom, float z, uint32_t diffuse,
                                  float u0 = 0.0f, float v0 = 0.0f, float u1 = 1.0f, float v1 = 1.0f) {
    return {{left, top, z, diffuse, u0, v0},
            {right, top, z, diffuse, u1, v0},
            {left, bottom, z, diffuse, u0, v1},
            {right, bottom, z, diffuse, u1, v1}};
}

IDirect3DVertexBuffer9* MakeBuffer(SoftwareDevice& device, const std::vector<QuadVertex>& vertices) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    UINT bytes = static_cast<UINT>(vertices.size() * sizeof(QuadVertex));
    EXPECT_EQ(device.CreateVertexBuffer(bytes, 0, kQuadFvf, D3DPOOL_DEFAULT, &buffer, nullptr), S_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, bytes, &data, 0), S_OK);
    std::memcpy(data, vertices.data(), bytes);
    EXPECT_EQ(buffer->Unlock(), S_OK);
    return buffer;
}

IDirect3DTexture9* MakeTexture(SoftwareDevice& device, int width, int height, const std::vector<uint32_t>& texels) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device.CreateTexture(width, height, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture,
                                   nullptr),
              S_OK);
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    for (int y = 0; y < height; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &texels[y * width], width * 4);
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    return texture;
}

IDirect3DTexture9* MakeSolidTexture(SoftwareDevice& device, uint32_t texel) {
    return MakeTexture(device, 4, 4, std::vector<uint32_t>(16, texel));
}

// The state the plug-in's drawing relies on, minus blending.
void PrepareDrawing(SoftwareDevice& device) {
    device.SetFVF(kQuadFvf);
    device.SetRenderState(D3DRS_LIGHTING, FALSE);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

void DrawQuad(SoftwareDevice& device, IDirect3DVertexBuffer9* buffer, IDirect3DTexture9* texture) {
    device.SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK) << device.DescribeCalls();
}

// A frame of a device with the quad state set, ready to draw.
class SoftwareDeviceFrame : public ::testing::Test {
protected:
    SoftwareDeviceFrame() : device(64, 48) {
        PrepareDrawing(device);
        device.BeginScene();
        device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    }
    SoftwareDevice device;
};

// ---------------------------------------------------------------------------
// Call log

TEST(SoftwareDeviceCallLog, RecordsCreationAndStateCallsWithEveryArgument) {
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DTexture9* full = nullptr;
    IDirect3DTexture9* glow = nullptr;
    device.CreateVertexBuffer(576, 0, kQuadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
    device.CreateTexture(1920, 1200, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &full, nullptr);
    device.CreateTexture(960, 600, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &glow, nullptr);
    device.SetFVF(kQuadFvf);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device.SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 8);
    void* data = nullptr;
    buffer->Lock(0, 96, &data, 0);
    buffer->Unlock();
    device.SetTexture(0, full);
    device.SetTexture(0, glow);
    glow->Release();
    full->Release();
    buffer->Release();

    const std::vector<std::string> expected = {
        "CreateVertexBuffer(576, 0x0, 0x142, D3DPOOL_DEFAULT, null) -> #1",
        "CreateTexture(1920, 1200, 1, 0x200, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, null) -> #2",
        "CreateTexture(960, 600, 1, 0x200, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, null) -> #3",
        "SetFVF(0x142)",
        "SetRenderState(D3DRS_ZENABLE, 1)",
        "SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 8)",
        "#1->Lock(0, 96, 0x0)",
        "#1->Unlock()",
        "SetTexture(0, #2)",
        "SetTexture(0, #3)",
        "#3->Release() -> 0",
        "#2->Release() -> 0",
        "#1->Release() -> 0",
    };
    EXPECT_EQ(device.CallDescriptions(), expected);

    const DeviceCall& create = device.Calls()[1];
    EXPECT_EQ(create.kind, CallKind::CreateTexture);
    EXPECT_EQ(create.width, 1920u);
    EXPECT_EQ(create.height, 1200u);
    EXPECT_EQ(create.usage, static_cast<DWORD>(D3DUSAGE_DYNAMIC));
    EXPECT_EQ(create.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(create.objectId, SoftwareDevice::IdOf(full));
    EXPECT_FALSE(create.failed);
}

TEST(SoftwareDeviceCallLog, RecordsFrameCallsWithExactArguments) {
    SoftwareDevice device(8, 8);
    D3DMATRIX projection = PerspectiveFovLH(0.7853982f, 1.0f, 0.1f, 100.0f);
    device.BeginScene();
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetStreamSource(0, nullptr, 0, 24);
    device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device.EndScene();

    const std::vector<DeviceCall>& calls = device.Calls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[1].Describe(), "Clear(0, null, 0x3, 0xff000000, 1, 0)");
    EXPECT_EQ(calls[2].kind, CallKind::SetTransform);
    EXPECT_EQ(calls[2].stateType, static_cast<DWORD>(D3DTS_PROJECTION));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(FloatBits((&calls[2].matrix._11)[i]), FloatBits((&projection._11)[i])) << "element " << i;
    EXPECT_EQ(calls[3].Describe(), "SetStreamSource(0, null, 0, 24)");
    // No vertex format and nothing on stream 0: the draw fails, and is logged.
    EXPECT_EQ(calls[4].Describe(), "DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2) FAILED(0x8876086c)");
    EXPECT_EQ(calls[5].Describe(), "EndScene()");
}

TEST(SoftwareDeviceCallLog, MatrixDescriptionReadsBackToTheSameBits) {
    SoftwareDevice device(8, 8);
    D3DMATRIX world = Translation(0.0f, 0.0f, 2.1f);
    device.SetTransform(D3DTS_WORLD, &world);
    EXPECT_EQ(device.Calls()[0].Describe(), "SetTransform(D3DTS_WORLD, [1 0 0 0; 0 1 0 0; 0 0 1 0; 0 0 2.0999999 1])");
}

TEST(SoftwareDeviceCallLog, ClearCallLogEmptiesTheLogButCallCountsGoOn) {
    SoftwareDevice device(8, 8);
    device.SetFVF(kQuadFvf);
    device.SetFVF(kQuadFvf);
    device.ClearCallLog();
    EXPECT_TRUE(device.Calls().empty());
    device.SetFVF(0);
    ASSERT_EQ(device.Calls().size(), 1u);
    EXPECT_EQ(device.CallCount(CallKind::SetFVF), 3);
}

TEST(SoftwareDeviceCallLog, RecordingOffLogsNothingButStillActs) {
    SoftwareDevice device(8, 8);
    device.SetRecording(false);
    device.SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    EXPECT_TRUE(device.Calls().empty());
    EXPECT_EQ(device.RenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_ALWAYS));
}

// ---------------------------------------------------------------------------
// Failure injection

TEST(SoftwareDeviceFailures, FailedCreateTextureNullsTheOutPointer) {
    SoftwareDevice device(8, 8);
    device.FailCall(CallKind::CreateTexture);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(uintptr_t{0x1234});
    HRESULT hr = device.CreateTexture(16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(device.ObjectCount(), 0);
    ASSERT_EQ(device.Calls().size(), 1u);
    EXPECT_TRUE(device.Calls()[0].failed);
    EXPECT_EQ(device.Calls()[0].objectId, 0);
}

TEST(SoftwareDeviceFailures, FailedCreateVertexBufferNullsTheOutPointer) {
    SoftwareDevice device(8, 8);
    device.FailCall(CallKind::CreateVertexBuffer);
    IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(uintptr_t{0x1234});
    EXPECT_TRUE(FAILED(device.CreateVertexBuffer(576, 0, kQuadFvf, D3DPOOL_DEFAULT, &buffer, nullptr)));
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(device.LiveObjectCount(), 0);
    EXPECT_TRUE(device.Calls()[0].failed);
}

TEST(SoftwareDeviceFailures, FailedLockRectZeroesTheLockedRectAndLeavesTheTextureUnlocked) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF112233u);
    device.FailNextCall(CallKind::LockRect);
    D3DLOCKED_RECT locked;
    locked.Pitch = 77;
    locked.pBits = &locked;
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
    EXPECT_EQ(locked.Pitch, 0);
    EXPECT_EQ(locked.pBits, nullptr);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(static_cast<SoftwareTexture*>(texture)->Texel(0, 0), 0xFF112233u);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
}

TEST(SoftwareDeviceFailures, FailedVertexBufferLockNullsTheDataPointer) {
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device.CreateVertexBuffer(96, 0, kQuadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
    device.FailNextCall(CallKind::Lock);
    void* data = &data;
    EXPECT_EQ(buffer->Lock(0, 96, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
}

TEST(SoftwareDeviceFailures, FailedBeginSceneLeavesNoSceneOpen) {
    SoftwareDevice device(8, 8);
    device.FailNextCall(CallKind::BeginScene);
    EXPECT_EQ(device.BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_FALSE(device.InScene());
    EXPECT_EQ(device.EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.BeginScene(), S_OK);
    EXPECT_TRUE(device.InScene());
}

TEST(SoftwareDeviceFailures, AnOccurrenceFailsOnlyThatCall) {
    SoftwareDevice device(8, 8);
    device.FailCall(CallKind::SetRenderState, 1);
    EXPECT_EQ(device.SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS), S_OK);
    EXPECT_EQ(device.SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.RenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_LESS));
    EXPECT_EQ(device.SetRenderState(D3DRS_ZFUNC, D3DCMP_EQUAL), S_OK);
    EXPECT_EQ(device.RenderState(D3DRS_ZFUNC), static_cast<DWORD>(D3DCMP_EQUAL));
    ASSERT_EQ(device.Calls().size(), 3u);
    EXPECT_FALSE(device.Calls()[0].failed);
    EXPECT_TRUE(device.Calls()[1].failed);
    EXPECT_FALSE(device.Calls()[2].failed);
}

TEST(SoftwareDeviceFailures, FailedStateCallsChangeNothing) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    D3DMATRIX moved = Translation(1, 2, 3);
    device.FailAllCalls(true);
    EXPECT_TRUE(FAILED(device.SetFVF(kQuadFvf)));
    EXPECT_TRUE(FAILED(device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE)));
    EXPECT_TRUE(FAILED(device.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR)));
    EXPECT_TRUE(FAILED(device.SetTexture(0, texture)));
    EXPECT_TRUE(FAILED(device.SetStreamSource(0, buffer, 0, 24)));
    EXPECT_TRUE(FAILED(device.SetTransform(D3DTS_WORLD, &moved)));
    EXPECT_TRUE(FAILED(device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0)));
    EXPECT_TRUE(FAILED(device.BeginScene()));
    EXPECT_TRUE(FAILED(device.EndScene()));
    EXPECT_TRUE(FAILED(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2)));

    EXPECT_EQ(device.Fvf(), 0u);
    EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    EXPECT_EQ(device.SamplerState(0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(device.BoundTexture(0), nullptr);
    EXPECT_EQ(device.StreamSource(0), nullptr);
    EXPECT_EQ(device.Transform(D3DTS_WORLD)._41, 0.0f);
    EXPECT_EQ(device.Pixel(4, 4), 0u);
    const std::vector<DeviceCall>& calls = device.Calls();
    ASSERT_GE(calls.size(), 10u);
    for (size_t i = calls.size() - 10; i < calls.size(); ++i) EXPECT_TRUE(calls[i].failed) << calls[i].Describe();
}

TEST(SoftwareDeviceFailures, ReferenceCountingIsNotSubjectToFailures) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    device.FailAllCalls(true);
    device.FailCall(CallKind::Release);
    EXPECT_EQ(texture->AddRef(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(device.LiveObjectCount(), 0);
    EXPECT_EQ(device.OverReleaseCount(), 0);
}

// ---------------------------------------------------------------------------
// Reference counting

TEST(SoftwareDeviceReferences, AddRefAndReleaseReturnTheNewCount) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0));
    EXPECT_EQ(device.LiveObjectCount(), 2);
    EXPECT_EQ(texture->AddRef(), 2u);
    EXPECT_EQ(texture->Release(), 1u);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_TRUE(static_cast<SoftwareTexture*>(texture)->IsDestroyed());
    EXPECT_EQ(device.LiveObjectCount(), 1);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(device.LiveObjectCount(), 0);
    EXPECT_EQ(device.ExistingObjectCount(), 0);
    EXPECT_EQ(device.OverReleaseCount(), 0);
}

TEST(SoftwareDeviceReferences, DoubleReleaseIsReportedAndDoesNotCrash) {
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0));
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(device.OverReleaseCount(), 1);
    EXPECT_EQ(device.Calls().back().Describe(), "#1->Release() -> 0 OVER-RELEASE");
    EXPECT_TRUE(device.Calls().back().failed);
}

TEST(SoftwareDeviceReferences, ReleasedTextureStaysDrawableWhileBound) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF00FF00u);
    auto* software = static_cast<SoftwareTexture*>(texture);
    device.SetTexture(0, texture);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(device.LiveObjectCount(), 0);
    EXPECT_EQ(device.ExistingObjectCount(), 1);
    EXPECT_FALSE(software->IsDestroyed());

    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    PrepareDrawing(device);
    device.BeginScene();
    device.SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    EXPECT_EQ(device.Pixel(4, 4), 0xFF00FF00u);

    EXPECT_EQ(device.OverReleaseCount(), 0);
    EXPECT_EQ(texture->Release(), 0u);  // the binding is not the caller's reference
    EXPECT_EQ(device.OverReleaseCount(), 1);
    EXPECT_FALSE(software->IsDestroyed());

    device.SetTexture(0, nullptr);
    EXPECT_TRUE(software->IsDestroyed());
}

TEST(SoftwareDeviceReferences, UseAfterReleaseIsReportedAndFails) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    texture->Release();
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTexture(0, texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->AddRef(), 0u);
    EXPECT_EQ(device.UseAfterReleaseCount(), 3);
    EXPECT_EQ(device.BoundTexture(0), nullptr);
}

TEST(SoftwareDeviceReferences, BindingsDoNotChangeTheCountTheCallerSees) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    device.SetTexture(0, texture);
    device.SetTexture(1, texture);
    auto* software = static_cast<SoftwareTexture*>(texture);
    EXPECT_EQ(software->RefCount(), 1u);
    EXPECT_EQ(software->BindingCount(), 2);
    device.SetTexture(0, texture);  // rebinding the same texture keeps one hold
    EXPECT_EQ(software->BindingCount(), 2);
    EXPECT_EQ(texture->AddRef(), 2u);
}

// ---------------------------------------------------------------------------
// Locks

TEST(SoftwareDeviceLocks, PitchIsLargerThanARowAndAddressesRows) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = nullptr;
    device.CreateTexture(5, 3, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_GT(locked.Pitch, 5 * 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            uint32_t value = 0xFF000000u | static_cast<uint32_t>(y * 16 + x);
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch + x * 4, &value, 4);
        }
    texture->UnlockRect(0);

    std::vector<uint32_t> texels;
    int width = 0, height = 0;
    ASSERT_TRUE(SoftwareDevice::ReadTexels(texture, texels, width, height));
    EXPECT_EQ(width, 5);
    EXPECT_EQ(height, 3);
    ASSERT_EQ(texels.size(), 15u);
    EXPECT_EQ(texels[0], 0xFF000000u);
    EXPECT_EQ(texels[4], 0xFF000004u);
    EXPECT_EQ(texels[5], 0xFF000010u);  // row 1 starts a full pitch later
    EXPECT_EQ(texels[14], 0xFF000024u);
}

TEST(SoftwareDeviceLocks, InvalidLocksFail) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    D3DLOCKED_RECT second = {};
    EXPECT_EQ(texture->LockRect(0, &second, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(second.pBits, nullptr);
    EXPECT_EQ(texture->UnlockRect(1), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3DERR_INVALIDCALL);
}

TEST(SoftwareDeviceLocks, StaticDefaultPoolTextureCannotBeLocked) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr), S_OK);
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
}

TEST(SoftwareDeviceLocks, DiscardLockFillsASentinelThatChangesPerLock) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF123456u);
    auto* software = static_cast<SoftwareTexture*>(texture);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    uint32_t first = software->Texel(3, 3);
    EXPECT_NE(first, 0xFF123456u);
    EXPECT_EQ(first, device.LastSentinelWord());
    EXPECT_EQ(Alpha(first), 0xDE);
    texture->UnlockRect(0);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    EXPECT_NE(software->Texel(3, 3), first);
    EXPECT_EQ(software->Texel(0, 0), device.LastSentinelWord());
    EXPECT_EQ(device.SentinelFillCount(), 2u);
}

TEST(SoftwareDeviceLocks, LocksWithoutDiscardKeepTheContents) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF123456u);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_NOSYSLOCK), S_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0xFF123456u);
    texture->UnlockRect(0);
    device.SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0xFF123456u);
    EXPECT_EQ(device.SentinelFillCount(), 0u);
}

TEST(SoftwareDeviceLocks, SentinelOnEveryLockIgnoresTheFlags) {
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF123456u);
    device.SetSentinelMode(SoftwareDevice::SentinelMode::OnEveryLock);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), device.LastSentinelWord());
    EXPECT_EQ(device.SentinelFillCount(), 1u);
}

TEST(SoftwareDeviceLocks, VertexBufferLockGivesItsMemory) {
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device.CreateVertexBuffer(576, 0, kQuadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(500, 100, &data, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(buffer->Lock(24, 24, &data, 0), S_OK);
    static_cast<uint8_t*>(data)[0] = 0xAB;
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
    buffer->Unlock();
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SoftwareDevice::ReadVertexBytes(buffer, bytes));
    ASSERT_EQ(bytes.size(), 576u);
    EXPECT_EQ(bytes[24], 0xAB);
    EXPECT_EQ(bytes[23], 0);
}

TEST(SoftwareDeviceLocks, CostFreeModeRecordsNothingFillsNothingAndDrawsNothing) {
    SoftwareDevice device(16, 16);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    PrepareDrawing(device);
    device.ClearCallLog();
    device.SetCostFreeMode(true);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0xFFFFFFFFu);
    texture->UnlockRect(0);
    device.BeginScene();
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0), S_OK);
    DrawQuad(device, buffer, texture);
    device.EndScene();
    EXPECT_TRUE(device.Calls().empty());
    EXPECT_EQ(device.Pixel(8, 8), 0u);
    device.SetCostFreeMode(false);
    device.SetFVF(kQuadFvf);
    EXPECT_EQ(device.Calls().size(), 1u);
}

TEST(SoftwareDeviceLocks, AFrameAllocatesNothingWhileRecordingIsOff) {
    SoftwareDevice device(64, 48);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0x80FFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0x00FFFFFFu));
    PrepareDrawing(device);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    device.SetRecording(false);
    D3DMATRIX world = Translation(0.0f, 0.0f, 0.5f);

    const long before = allocationCount.load();
    ASSERT_EQ(device.BeginScene(), S_OK);
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    *static_cast<uint32_t*>(locked.pBits) = 0xFFFFFFFFu;
    texture->UnlockRect(0);
    device.SetTransform(D3DTS_WORLD, &world);
    device.SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device.EndScene();
    EXPECT_EQ(allocationCount.load(), before);
    EXPECT_NE(device.Pixel(32, 24), 0xFF000000u);  // the frame did draw
}

// ---------------------------------------------------------------------------
// Drawing

TEST(SoftwareDeviceClear, ClearSetsColourAndDepth) {
    SoftwareDevice device(8, 6);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030u, 0.25f, 0), S_OK);
    EXPECT_EQ(device.Pixel(0, 0), 0xFF102030u);
    EXPECT_EQ(device.Pixel(7, 5), 0xFF102030u);
    EXPECT_EQ(device.Depth(7, 5), 0.25f);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFFFFFFFFu, 1.0f, 0), S_OK);
    EXPECT_EQ(device.Pixel(3, 3), 0xFF102030u);
    EXPECT_EQ(device.Depth(3, 3), 1.0f);
}

TEST_F(SoftwareDeviceFrame, TexturedQuadCoveringTheViewportShowsTheTexture) {
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFF40C080u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF40C080u);
    EXPECT_EQ(device.Pixel(0, 0), 0xFF40C080u);
    EXPECT_EQ(device.Pixel(63, 47), 0xFF40C080u);
}

TEST_F(SoftwareDeviceFrame, TextureUpperLeftTexelAppearsUpperLeft) {
    // 2 x 2 texels: red, green over blue, white; v = 0 is the top row.
    IDirect3DTexture9* texture =
        MakeTexture(device, 2, 2, {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu});
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(10, 10), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(53, 10), 0xFF00FF00u);
    EXPECT_EQ(device.Pixel(10, 37), 0xFF0000FFu);
    EXPECT_EQ(device.Pixel(53, 37), 0xFFFFFFFFu);
}

TEST_F(SoftwareDeviceFrame, DiffuseColourModulatesTheTexel) {
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFF8040u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0x00808080u));
    DrawQuad(device, buffer, texture);
    uint32_t pixel = device.Pixel(32, 24);
    EXPECT_EQ(Red(pixel), 128);
    EXPECT_EQ(Green(pixel), 64);
    EXPECT_EQ(Blue(pixel), 32);
    EXPECT_EQ(Alpha(pixel), 255);  // the texel's alpha, not the diffuse alpha 0
}

TEST_F(SoftwareDeviceFrame, WithoutTextureTheDiffuseColourIsDrawn) {
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFF336699u));
    DrawQuad(device, buffer, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF336699u);
}

TEST_F(SoftwareDeviceFrame, LightingLeftOnDrawsBlack) {
    device.SetRenderState(D3DRS_LIGHTING, TRUE);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF808080u, 1.0f, 0);
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF000000u);
}

TEST_F(SoftwareDeviceFrame, HalfTransparentTexelBlendsOverTheBackground) {
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0x80FF0000u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0x00FFFFFFu));
    DrawQuad(device, buffer, texture);
    uint32_t pixel = device.Pixel(32, 24);
    // 128/255 of red over 127/255 of blue.
    EXPECT_EQ(Red(pixel), 128);
    EXPECT_EQ(Green(pixel), 0);
    EXPECT_EQ(Blue(pixel), 127);
}

TEST_F(SoftwareDeviceFrame, TransparentTexelsLeaveTheBackground) {
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF336699u, 1.0f, 0);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0x00FFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0x00FFFFFFu));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(32, 24) & 0x00FFFFFFu, 0x00336699u);
    EXPECT_EQ(device.Pixel(0, 0) & 0x00FFFFFFu, 0x00336699u);
}

TEST_F(SoftwareDeviceFrame, BlendingOneOneAddsAndBlendOpMaxTakesTheLarger) {
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030u, 1.0f, 0);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFF010203u));
    DrawQuad(device, buffer, nullptr);
    EXPECT_EQ(device.Pixel(32, 24) & 0x00FFFFFFu, 0x00112233u);
    device.SetRenderState(kRsBlendOp, kBlendOpMax);
    DrawQuad(device, buffer, nullptr);
    EXPECT_EQ(device.Pixel(32, 24) & 0x00FFFFFFu, 0x00112233u);
}

TEST_F(SoftwareDeviceFrame, TrianglesSharingAnEdgeCoverEveryPixelExactlyOnce) {
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    // A skewed quad, so that its diagonal crosses many pixel centres.
    std::vector<QuadVertex> quad = {{-0.9f, 0.7f, 0, 0xFF101010u, 0, 0},
                                    {0.8f, 0.9f, 0, 0xFF101010u, 0, 0},
                                    {-0.7f, -0.8f, 0, 0xFF101010u, 0, 0},
                                    {0.6f, -0.6f, 0, 0xFF101010u, 0, 0}};
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, quad);
    DrawQuad(device, buffer, nullptr);
    int covered = 0;
    for (int y = 0; y < device.Height(); ++y)
        for (int x = 0; x < device.Width(); ++x) {
            uint32_t pixel = device.Pixel(x, y) & 0x00FFFFFFu;
            ASSERT_TRUE(pixel == 0u || pixel == 0x00101010u) << x << "," << y << ": " << std::hex << pixel;
            covered += pixel != 0u;
        }
    EXPECT_GT(covered, 1000);
}

TEST_F(SoftwareDeviceFrame, EqualDepthPassesLessEqualButNotLess) {
    IDirect3DVertexBuffer9* red = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.5f, 0xFFFF0000u));
    IDirect3DVertexBuffer9* green = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.5f, 0xFF00FF00u));
    IDirect3DVertexBuffer9* blueBehind = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.75f, 0xFF0000FFu));
    DrawQuad(device, red, nullptr);
    EXPECT_EQ(device.Depth(32, 24), 0.5f);
    DrawQuad(device, green, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF00FF00u);
    DrawQuad(device, blueBehind, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF00FF00u);
    device.SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    DrawQuad(device, red, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF00FF00u);
}

TEST_F(SoftwareDeviceFrame, DepthTestOffDrawsOverEverything) {
    IDirect3DVertexBuffer9* nearQuad = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.25f, 0xFFFF0000u));
    IDirect3DVertexBuffer9* farQuad = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.75f, 0xFF0000FFu));
    DrawQuad(device, nearQuad, nullptr);
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    DrawQuad(device, farQuad, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF0000FFu);
}

TEST_F(SoftwareDeviceFrame, DefaultCullModeDropsCounterClockwiseTriangles) {
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    // Upper right, upper left, lower right, lower left: counter-clockwise.
    std::vector<QuadVertex> mirrored = {{1, 1, 0, 0xFFFFFFFFu, 0, 0},
                                        {-1, 1, 0, 0xFFFFFFFFu, 0, 0},
                                        {1, -1, 0, 0xFFFFFFFFu, 0, 0},
                                        {-1, -1, 0, 0xFFFFFFFFu, 0, 0}};
    IDirect3DVertexBuffer9* backFacing = MakeBuffer(device, mirrored);
    DrawQuad(device, backFacing, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF000000u);
    IDirect3DVertexBuffer9* frontFacing = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, frontFacing, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFFFFFFFFu);
}

TEST_F(SoftwareDeviceFrame, WrapAddressingRepeatsTheTexture) {
    IDirect3DTexture9* texture = MakeTexture(device, 2, 1, {0xFFFF0000u, 0xFF0000FFu});
    // u from -1 to 1: negative coordinates wrap too (texel -2 is texel 0).
    IDirect3DVertexBuffer9* buffer =
        MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu, -1.0f, 0.0f, 1.0f, 1.0f));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(4, 24), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(20, 24), 0xFF0000FFu);
    EXPECT_EQ(device.Pixel(36, 24), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(52, 24), 0xFF0000FFu);
}

TEST_F(SoftwareDeviceFrame, LinearFilteringBlendsNeighbouringTexels) {
    IDirect3DTexture9* texture = MakeTexture(device, 2, 1, {0xFF000000u, 0xFFFFFFFFu});
    // u from 0.25 to 0.75 runs from the centre of texel 0 to that of texel 1.
    IDirect3DVertexBuffer9* buffer =
        MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu, 0.25f, 0.0f, 0.75f, 1.0f));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(16, 24), 0xFF000000u);  // point sampling by default
    device.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    DrawQuad(device, buffer, texture);
    // Pixel 32 samples u = 0.5: halfway between the two texel centres.
    EXPECT_NEAR(Red(device.Pixel(32, 24)), 128, 1);
    EXPECT_NEAR(Red(device.Pixel(16, 24)), 64, 1);
}

TEST_F(SoftwareDeviceFrame, DepthOutsideZeroToOneIsClipped) {
    // Without a projection depth is z itself; the quad leaves the 0..1 range
    // halfway across, at x = 0 (pixel 32).
    std::vector<QuadVertex> throughNear = {{-1, 1, -0.5f, 0xFFFFFFFFu, 0, 0},
                                           {1, 1, 0.5f, 0xFFFFFFFFu, 0, 0},
                                           {-1, -1, -0.5f, 0xFFFFFFFFu, 0, 0},
                                           {1, -1, 0.5f, 0xFFFFFFFFu, 0, 0}};
    std::vector<QuadVertex> throughFar = throughNear;
    for (QuadVertex& vertex : throughFar) vertex.z += 1.0f;
    device.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    DrawQuad(device, MakeBuffer(device, throughNear), nullptr);
    EXPECT_EQ(device.Pixel(16, 24), 0xFF000000u);
    EXPECT_EQ(device.Pixel(48, 24), 0xFFFFFFFFu);
    device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000u, 1.0f, 0);
    DrawQuad(device, MakeBuffer(device, throughFar), nullptr);
    EXPECT_EQ(device.Pixel(16, 24), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(48, 24), 0xFF000000u);
}

TEST_F(SoftwareDeviceFrame, WorldThenViewThenProjectionAreAppliedInThatOrder) {
    D3DMATRIX world = Translation(0.5f, 0.0f, 0.0f);
    D3DMATRIX view = Identity();
    view._11 = 0.5f;
    view._22 = 0.5f;
    device.SetTransform(D3DTS_WORLD, &world);
    device.SetTransform(D3DTS_VIEW, &view);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-0.1f, 0.1f, 0.1f, -0.1f, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, nullptr);
    // v.W.V puts the quad at x 0.2 to 0.3 (pixels 38.4 to 41.6); v.V.W would
    // put it at 0.45 to 0.55 (pixels 46.4 to 49.6).
    EXPECT_EQ(device.Pixel(40, 24), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(48, 24), 0xFF000000u);
}

TEST(SoftwareDevicePerspective, ProjectionPlacesTheQuadWhereExpected) {
    SoftwareDevice device(100, 100);
    PrepareDrawing(device);
    device.BeginScene();
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    // 90 degrees of view: at distance 2 the visible half-height is 2, so a
    // quad of half-size 1 covers the middle half of the viewport.
    D3DMATRIX projection = PerspectiveFovLH(1.5707964f, 1.0f, 0.1f, 100.0f);
    D3DMATRIX world = Translation(0.0f, 0.0f, 2.0f);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetTransform(D3DTS_WORLD, &world);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, nullptr);
    EXPECT_EQ(device.Pixel(23, 50), 0xFF000000u);
    EXPECT_EQ(device.Pixel(27, 50), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(72, 50), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(77, 50), 0xFF000000u);
    EXPECT_EQ(device.Pixel(50, 23), 0xFF000000u);
    EXPECT_EQ(device.Pixel(50, 27), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(50, 77), 0xFF000000u);
    // Depth after the divide: zf / (zf - zn) - zn zf / ((zf - zn) z) at z = 2.
    double expectedDepth = 100.0 / 99.9 - 0.1 * 100.0 / (99.9 * 2.0);
    EXPECT_NEAR(device.Depth(50, 50), expectedDepth, 1e-5);
}

TEST(SoftwareDevicePerspective, TextureCoordinatesArePerspectiveCorrect) {
    SoftwareDevice device(200, 100);
    PrepareDrawing(device);
    device.BeginScene();
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    D3DMATRIX projection = PerspectiveFovLH(1.5707964f, 1.0f, 0.1f, 100.0f);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    // Left edge at depth 1, right edge at depth 3: u = 0.5 lies at (0, 2),
    // straight ahead, while an affine interpolation would put it a third of
    // the viewport to the left.
    std::vector<QuadVertex> slanted = {{-1, 0.5f, 1, 0xFFFFFFFFu, 0, 0},
                                       {1, 0.5f, 3, 0xFFFFFFFFu, 1, 0},
                                       {-1, -0.5f, 1, 0xFFFFFFFFu, 0, 1},
                                       {1, -0.5f, 3, 0xFFFFFFFFu, 1, 1}};
    IDirect3DTexture9* texture = MakeTexture(device, 2, 1, {0xFFFF0000u, 0xFF0000FFu});
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, slanted);
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(90, 50), 0xFFFF0000u);   // x = -0.1
    EXPECT_EQ(device.Pixel(110, 50), 0xFF0000FFu);  // x = +0.1
}

TEST(SoftwareDevicePerspective, GeometryBehindTheEyeIsClippedAway) {
    SoftwareDevice device(200, 100);
    PrepareDrawing(device);
    device.BeginScene();
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    D3DMATRIX projection = PerspectiveFovLH(1.5707964f, 1.0f, 0.1f, 100.0f);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    // The left edge is behind the eye (z = -1). Projected without clipping it
    // would land on the right of the viewport.
    std::vector<QuadVertex> straddling = {{-1, 0.5f, -1, 0xFFFFFFFFu, 0, 0},
                                          {1, 0.5f, 3, 0xFFFFFFFFu, 1, 0},
                                          {-1, -0.5f, -1, 0xFFFFFFFFu, 0, 1},
                                          {1, -0.5f, 3, 0xFFFFFFFFu, 1, 1}};
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, straddling);
    DrawQuad(device, buffer, nullptr);
    EXPECT_EQ(device.Pixel(50, 50), 0xFFFFFFFFu);  // x = -0.5, depth 0.5
    EXPECT_EQ(device.Pixel(160, 50), 0xFF000000u);  // x = 0.6, right of the far edge
    IDirect3DVertexBuffer9* behind = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, -2.0f, 0xFFFF0000u));
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    DrawQuad(device, behind, nullptr);
    for (int x = 0; x < 200; x += 7) EXPECT_EQ(device.Pixel(x, 50), 0xFF000000u) << x;
}

TEST(SoftwareDeviceDrawCalls, InvalidDrawsFailAndDrawNothing) {
    SoftwareDevice device(16, 16);
    PrepareDrawing(device);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    device.SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // outside a scene
    device.BeginScene();
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3), D3DERR_INVALIDCALL);  // five vertices, four stored
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    device.SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Pixel(8, 8), 0u);
}

}  // namespace
