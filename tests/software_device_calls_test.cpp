// The software device's call log, the failures it injects, and its refusal of
// what it does not implement.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/software_device_helpers.h"

namespace {

using namespace device_test;

// ---------------------------------------------------------------------------
// Call log

TEST(SoftwareDeviceCallLog, DescribesCreationAndStateCallsWithEveryArgument)
{
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    IDirect3DTexture9* full = nullptr;
    IDirect3DTexture9* glow = nullptr;
    device.CreateVertexBuffer(576, 0, quadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
    device.CreateTexture(1920, 1200, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &full, nullptr);
    device.CreateTexture(960, 600, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &glow, nullptr);
    device.SetFVF(quadFvf);
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
    EXPECT_EQ(device.Calls()[1].objectId, SoftwareDevice::IdOf(full));
}

// A matrix is kept bit for bit, and described so that it reads back to the
// same bits.
TEST(SoftwareDeviceCallLog, RecordsFrameCallsWithExactArguments)
{
    SoftwareDevice device(8, 8);
    D3DMATRIX projection = PerspectiveFovLH(0.7853982f, 1.0f, 0.1f, 100.0f);
    D3DMATRIX world = Translation(0.0f, 0.0f, 2.1f);
    device.BeginScene();
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetTransform(D3DTS_WORLD, &world);
    device.SetStreamSource(0, nullptr, 0, 24);
    device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device.EndScene();

    const std::vector<DeviceCall>& calls = device.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[1].Describe(), "Clear(0, null, 0x3, 0xff000000, 1, 0)");
    EXPECT_EQ(calls[2].kind, CallKind::SetTransform);
    EXPECT_EQ(calls[2].stateType, static_cast<DWORD>(D3DTS_PROJECTION));
    EXPECT_EQ(0, std::memcmp(&calls[2].matrix, &projection, sizeof(projection)));
    EXPECT_EQ(calls[3].Describe(), "SetTransform(D3DTS_WORLD, [1 0 0 0; 0 1 0 0; 0 0 1 0; 0 0 2.0999999 1])");
    EXPECT_EQ(calls[4].Describe(), "SetStreamSource(0, null, 0, 24)");
    // No vertex format and nothing on stream 0: the draw fails, and is logged.
    EXPECT_EQ(calls[5].Describe(), "DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2) FAILED(0x8876086c)");
    EXPECT_EQ(calls[6].Describe(), "EndScene()");
}

TEST(SoftwareDeviceCallLog, ClearCallLogEmptiesTheLogButCallCountsGoOn)
{
    SoftwareDevice device(8, 8);
    device.SetFVF(quadFvf);
    device.SetFVF(quadFvf);
    device.ClearCallLog();
    EXPECT_TRUE(device.Calls().empty());
    device.SetFVF(0);
    ASSERT_EQ(device.Calls().size(), 1u);
    EXPECT_EQ(device.CallCount(CallKind::SetFVF), 3);
}

TEST(SoftwareDeviceCallLog, RecordingOffLogsNothingButStillActs)
{
    SoftwareDevice device(8, 8);
    device.SetRecording(false);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    EXPECT_TRUE(device.Calls().empty());
    EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
}

// ---------------------------------------------------------------------------
// Failure injection

TEST(SoftwareDeviceFailures, FailedCreationNullsTheOutPointer)
{
    SoftwareDevice device(8, 8);
    device.FailCall(CallKind::CreateTexture);
    device.FailCall(CallKind::CreateVertexBuffer);
    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(uintptr_t{0x1234});
    EXPECT_EQ(device.CreateTexture(16, 16, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(texture, nullptr);
    IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(uintptr_t{0x1234});
    EXPECT_EQ(device.CreateVertexBuffer(576, 0, quadFvf, D3DPOOL_DEFAULT, &buffer, nullptr), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(device.ObjectCount(), 0);
    ASSERT_EQ(device.Calls().size(), 2u);
    for (const DeviceCall& call : device.Calls()) {
        EXPECT_TRUE(call.failed);
        EXPECT_EQ(call.objectId, 0);
    }
}

TEST(SoftwareDeviceFailures, FailedLockRectZeroesTheLockedRectAndLeavesTheTextureUnlocked)
{
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

TEST(SoftwareDeviceFailures, FailedVertexBufferLockNullsTheDataPointer)
{
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device.CreateVertexBuffer(96, 0, quadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
    device.FailNextCall(CallKind::Lock);
    void* data = &data;
    EXPECT_EQ(buffer->Lock(0, 96, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);
}

TEST(SoftwareDeviceFailures, FailedBeginSceneLeavesNoSceneOpen)
{
    SoftwareDevice device(8, 8);
    device.FailNextCall(CallKind::BeginScene);
    EXPECT_EQ(device.BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_FALSE(device.InScene());
    EXPECT_EQ(device.EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.BeginScene(), S_OK);
    EXPECT_TRUE(device.InScene());
}

TEST(SoftwareDeviceFailures, AnOccurrenceFailsOnlyThatCall)
{
    SoftwareDevice device(8, 8);
    device.FailCall(CallKind::SetRenderState, 1);
    EXPECT_EQ(device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE), S_OK);
    EXPECT_EQ(device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW), S_OK);
    EXPECT_EQ(device.RenderState(D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CCW));
    ASSERT_EQ(device.Calls().size(), 3u);
    EXPECT_FALSE(device.Calls()[0].failed);
    EXPECT_TRUE(device.Calls()[1].failed);
    EXPECT_FALSE(device.Calls()[2].failed);
}

TEST(SoftwareDeviceFailures, FailedStateCallsChangeNothing)
{
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    D3DMATRIX moved = Translation(1, 2, 3);
    device.FailAllCalls(true);
    EXPECT_TRUE(FAILED(device.SetFVF(quadFvf)));
    EXPECT_TRUE(FAILED(device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE)));
    EXPECT_TRUE(FAILED(device.SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC)));
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
    EXPECT_EQ(device.BoundTexture(), nullptr);
    EXPECT_EQ(device.StreamSource(), nullptr);
    EXPECT_EQ(device.Transform(D3DTS_WORLD)._41, 0.0f);
    EXPECT_EQ(device.Pixel(4, 4), 0u);
    const std::vector<DeviceCall>& calls = device.Calls();
    ASSERT_GE(calls.size(), 10u);
    for (size_t i = calls.size() - 10; i < calls.size(); ++i)
        EXPECT_TRUE(calls[i].failed) << calls[i].Describe();
}

// ---------------------------------------------------------------------------
// What the device does not implement is refused, recorded, and changes
// nothing: a caller never takes for drawn what the picture would ignore.

TEST(SoftwareDeviceRefusals, StatesAndValuesTheSceneDoesNotSetAreRefused)
{
    SoftwareDevice device(8, 8);
    const struct {
        D3DRENDERSTATETYPE state;
        DWORD value;
    } renderStates[] = {
        {D3DRS_ZENABLE, D3DZB_FALSE},
        {D3DRS_ZFUNC, D3DCMP_LESS},
        {D3DRS_CULLMODE, D3DCULL_CW},
        {D3DRS_SRCBLEND, D3DBLEND_ZERO},
        {D3DRS_DESTBLEND, D3DBLEND_ONE},
        {D3DRS_BLENDOP, 5},  // D3DBLENDOP_MAX
        {D3DRS_ALPHATESTENABLE, TRUE},
        {D3DRS_COLORWRITEENABLE, 0x7},
        {static_cast<D3DRENDERSTATETYPE>(8), 2},  // D3DRS_FILLMODE, D3DFILL_WIREFRAME
        {static_cast<D3DRENDERSTATETYPE>(300), 0},
    };
    for (const auto& entry : renderStates) {
        const DWORD before = device.RenderState(entry.state);
        EXPECT_EQ(device.SetRenderState(entry.state, entry.value), D3DERR_INVALIDCALL) << entry.state;
        EXPECT_EQ(device.RenderState(entry.state), before) << entry.state;
    }
    EXPECT_EQ(device.SetSamplerState(0, D3DSAMP_ADDRESSU, 3), D3DERR_INVALIDCALL);   // D3DTADDRESS_CLAMP
    EXPECT_EQ(device.SetSamplerState(0, D3DSAMP_MINFILTER, 2), D3DERR_INVALIDCALL);  // D3DTEXF_LINEAR
    EXPECT_EQ(device.SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 17), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SamplerState(0, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_WRAP));
    EXPECT_EQ(device.SamplerState(0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_POINT));
    EXPECT_EQ(device.SamplerState(0, D3DSAMP_MAXANISOTROPY), 1u);
    EXPECT_EQ(device.SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Fvf(), 0u);
    const D3DMATRIX moved = Translation(1, 2, 3);
    EXPECT_EQ(device.SetTransform(D3DTS_WORLDMATRIX(1), &moved), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTransform(D3DTS_WORLD, nullptr), D3DERR_INVALIDCALL);

    // What the scene does set, and every default, is taken.
    EXPECT_EQ(device.SetRenderState(D3DRS_ZWRITEENABLE, TRUE), S_OK);
    EXPECT_EQ(device.SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 16), S_OK);
    const std::vector<DeviceCall>& calls = device.Calls();
    for (size_t n = 0; n < calls.size(); ++n)
        EXPECT_EQ(calls[n].failed, n + 2 < calls.size()) << calls[n].Describe();
}

TEST(SoftwareDeviceRefusals, ObjectsAndCallsBeyondTheScenesAreRefused)
{
    SoftwareDevice device(16, 16);
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device.CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device.CreateTexture(4, 4, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
              D3DERR_INVALIDCALL);  // a mipmap chain
    EXPECT_EQ(
        device.CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(1), &texture, nullptr),
        D3DERR_INVALIDCALL);  // D3DPOOL_MANAGED
    HANDLE shared = nullptr;
    EXPECT_EQ(device.CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, &shared),
              D3DERR_INVALIDCALL);
    IDirect3DVertexBuffer9* buffer = nullptr;
    EXPECT_EQ(device.CreateVertexBuffer(96, 0, quadFvf, static_cast<D3DPOOL>(2), &buffer, nullptr),
              D3DERR_INVALIDCALL);  // D3DPOOL_SYSTEMMEM
    EXPECT_EQ(device.ObjectCount(), 0);

    texture = MakeSolidTexture(device, 0xFF00FF00u);
    buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    EXPECT_EQ(device.SetTexture(1, texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetStreamSource(1, buffer, 0, sizeof(Vertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(static_cast<SoftwareTexture*>(texture)->BindingCount(), 0);
    const RECT part = {0, 0, 2, 2};
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, &part, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Calls().back().Describe(), "#1->LockRect(0, rect, 0x0) FAILED(0x8876086c)");

    PrepareDrawing(device);
    device.SetTexture(0, texture);
    device.SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device.BeginScene();
    const D3DRECT rect = {0, 0, 4, 4};
    EXPECT_EQ(device.Clear(1, &rect, D3DCLEAR_TARGET, 0xFFFFFFFFu, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_STENCIL, 0xFFFFFFFFu, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Calls().back().Describe(), "DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2) FAILED(0x8876086c)");
    EXPECT_EQ(device.SceneDrawCount(), 0);
    EXPECT_EQ(device.Pixel(8, 8), 0u);
    EXPECT_EQ(device.Depth(8, 8), 1.0f);
}

}  // namespace
