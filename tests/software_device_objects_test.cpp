// The software device's objects: reference counting, bindings, locks, the
// sentinel fills of discarded memory, and the mode that skips rasterizing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/software_device_helpers.h"

// Allocations of the program so far (tests/allocation_count.cpp).
long AllocationCount();

namespace {

using namespace device_test;

// ---------------------------------------------------------------------------
// Reference counting

// Injected failures do not apply to reference counting.
TEST(SoftwareDeviceReferences, AddRefAndReleaseReturnTheNewCount)
{
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0));
    EXPECT_EQ(device.LiveObjectCount(), 2);
    device.FailAllCalls(true);
    device.FailCall(CallKind::Release);
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

TEST(SoftwareDeviceReferences, DoubleReleaseIsReportedAndDoesNotCrash)
{
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0));
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(device.OverReleaseCount(), 1);
    EXPECT_EQ(device.Calls().back().Describe(), "#1->Release() -> 0 OVER-RELEASE");
    EXPECT_TRUE(device.Calls().back().failed);
}

TEST(SoftwareDeviceReferences, ReleasedTextureStaysDrawableWhileBound)
{
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
    device.SetStreamSource(0, buffer, 0, sizeof(Vertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    EXPECT_EQ(device.Pixel(4, 4), 0xFF00FF00u);

    EXPECT_EQ(device.OverReleaseCount(), 0);
    EXPECT_EQ(texture->Release(), 0u);  // the binding is not the caller's reference
    EXPECT_EQ(device.OverReleaseCount(), 1);
    EXPECT_FALSE(software->IsDestroyed());

    device.SetTexture(0, nullptr);
    EXPECT_TRUE(software->IsDestroyed());
}

TEST(SoftwareDeviceReferences, UseAfterReleaseIsReportedAndFails)
{
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0));
    texture->Release();
    buffer->Release();
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetTexture(0, texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->AddRef(), 0u);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.SetStreamSource(0, buffer, 0, sizeof(Vertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.UseAfterReleaseCount(), 5);
    EXPECT_EQ(device.BoundTexture(), nullptr);
    EXPECT_EQ(device.StreamSource(), nullptr);
}

TEST(SoftwareDeviceReferences, BindingsDoNotChangeTheCountTheCallerSees)
{
    SoftwareDevice device(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0u);
    auto* software = static_cast<SoftwareTexture*>(texture);
    device.SetTexture(0, texture);
    EXPECT_EQ(software->RefCount(), 1u);
    EXPECT_EQ(software->BindingCount(), 1);
    device.SetTexture(0, texture);  // rebinding the same texture keeps one hold
    EXPECT_EQ(software->BindingCount(), 1);
    EXPECT_EQ(texture->AddRef(), 2u);
    device.SetTexture(0, nullptr);
    EXPECT_EQ(software->BindingCount(), 0);
    EXPECT_FALSE(software->IsDestroyed());
}

TEST(SoftwareDeviceReferences, ForeignObjectsAreNotBound)
{
    SoftwareDevice device(8, 8);
    SoftwareDevice other(8, 8);
    IDirect3DTexture9* texture = MakeSolidTexture(other, 0u);
    EXPECT_EQ(device.SetTexture(0, texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.BoundTexture(), nullptr);
    EXPECT_EQ(static_cast<SoftwareTexture*>(texture)->BindingCount(), 0);
    EXPECT_EQ(device.Calls().back().Describe(), "SetTexture(0, null) FAILED(0x8876086c)");
}

// ---------------------------------------------------------------------------
// Locks

TEST(SoftwareDeviceLocks, PitchIsLargerThanARowAndAddressesRows)
{
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

    // A vector that held more (or other) words comes back as exactly these.
    std::vector<uint32_t> reused(40, 7u);
    ASSERT_TRUE(SoftwareDevice::ReadTexels(texture, reused, width, height));
    EXPECT_EQ(texels, reused);
}

// A lock of another level, a second lock, an unlock of what is not locked,
// and any lock of a static default-pool texture fail.
TEST(SoftwareDeviceLocks, InvalidLocksFail)
{
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
    IDirect3DTexture9* fixed = nullptr;
    ASSERT_EQ(device.CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &fixed, nullptr), S_OK);
    EXPECT_EQ(fixed->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
}

TEST(SoftwareDeviceLocks, DiscardLockFillsASentinelThatChangesPerLock)
{
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

TEST(SoftwareDeviceLocks, LocksWithoutDiscardKeepTheContents)
{
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

TEST(SoftwareDeviceLocks, VertexBufferLockGivesItsMemory)
{
    SoftwareDevice device(8, 8);
    IDirect3DVertexBuffer9* buffer = nullptr;
    device.CreateVertexBuffer(576, 0, quadFvf, D3DPOOL_DEFAULT, &buffer, nullptr);
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

TEST(SoftwareDeviceLocks, SkippingRasterizingRecordsNothingFillsNothingAndDrawsNothing)
{
    SoftwareDevice device(16, 16);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0xFFFFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    PrepareDrawing(device);
    device.ClearCallLog();
    device.SkipRasterizing(true);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0xFFFFFFFFu);
    texture->UnlockRect(0);
    device.BeginScene();
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0), S_OK);
    DrawQuad(device, buffer, texture);
    // The draws' checks still run: a draw past the end of the stream fails.
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    device.EndScene();
    EXPECT_TRUE(device.Calls().empty());
    EXPECT_EQ(device.Pixel(8, 8), 0u);
    device.SkipRasterizing(false);
    device.SetFVF(quadFvf);
    EXPECT_EQ(device.Calls().size(), 1u);
}

TEST(SoftwareDeviceLocks, AFrameAllocatesNothingWhileRecordingIsOff)
{
    SoftwareDevice device(64, 48);
    IDirect3DTexture9* texture = MakeSolidTexture(device, 0x80FFFFFFu);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0x00FFFFFFu));
    PrepareDrawing(device);
    BlendBySourceAlpha(device);
    device.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    device.SetRecording(false);
    D3DMATRIX world = Translation(0.0f, 0.0f, 0.5f);

    const long before = AllocationCount();
    ASSERT_EQ(device.BeginScene(), S_OK);
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    D3DLOCKED_RECT locked = {};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), S_OK);
    *static_cast<uint32_t*>(locked.pBits) = 0xFFFFFFFFu;
    texture->UnlockRect(0);
    device.SetTransform(D3DTS_WORLD, &world);
    device.SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    device.EndScene();
    EXPECT_EQ(AllocationCount(), before);
    EXPECT_NE(device.Pixel(32, 24), 0xFF000000u);  // the frame did draw
}

}  // namespace
