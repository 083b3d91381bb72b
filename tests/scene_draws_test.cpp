// The software device remembers the scene's draws and its clear for a
// presenter that replays them elsewhere, in every mode, skipping rasterizing included.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/software_device.h"

namespace {

D3DMATRIX Scaled(float factor)
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = factor;
    m._44 = 1.0f;
    return m;
}

bool SameMatrix(const D3DMATRIX& a, const D3DMATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class SceneDraws : public ::testing::Test {
protected:
    SceneDraws() : device_(64, 40)
    {
        device_.CreateTexture(4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &first_, nullptr);
        device_.CreateTexture(2, 2, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &second_, nullptr);
        device_.CreateVertexBuffer(144, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, D3DPOOL_DEFAULT, &buffer_,
                                   nullptr);
        device_.SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
        device_.SetStreamSource(0, buffer_, 0, 24);
    }
    ~SceneDraws() override
    {
        device_.SetTexture(0, nullptr);
        device_.SetStreamSource(0, nullptr, 0, 0);
        first_->Release();
        second_->Release();
        buffer_->Release();
    }

    SoftwareDevice device_;
    IDirect3DTexture9* first_ = nullptr;
    IDirect3DTexture9* second_ = nullptr;
    IDirect3DVertexBuffer9* buffer_ = nullptr;
};

TEST_F(SceneDraws, EachDrawKeepsTheTextureStreamAndTransformsItDrewWith)
{
    device_.SkipRasterizing(true);
    device_.BeginScene();
    device_.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030u, 0.5f, 0);
    const D3DMATRIX world = Scaled(2.0f), projection = Scaled(3.0f), laterWorld = Scaled(5.0f), view = Scaled(7.0f);
    device_.SetTransform(D3DTS_WORLD, &world);
    device_.SetTransform(D3DTS_PROJECTION, &projection);
    device_.SetTexture(0, first_);
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    // What changes after a draw belongs to the next one only.
    device_.SetTransform(D3DTS_WORLD, &laterWorld);
    device_.SetTransform(D3DTS_VIEW, &view);
    device_.SetTexture(0, second_);
    device_.SetStreamSource(0, buffer_, 24, 24);
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 1);
    device_.EndScene();

    ASSERT_EQ(2, device_.SceneDrawCount());
    const SoftwareDevice::SceneDraw& a = device_.SceneDrawAt(0);
    const SoftwareDevice::SceneDraw& b = device_.SceneDrawAt(1);
    EXPECT_EQ(D3DPT_TRIANGLESTRIP, a.type);
    EXPECT_EQ(0u, a.startVertex);
    EXPECT_EQ(2u, a.primitiveCount);
    EXPECT_EQ(SoftwareDevice::IdOf(first_), a.texture->Id());
    EXPECT_EQ(0u, a.streamOffset);
    EXPECT_EQ(24u, a.streamStride);
    EXPECT_EQ(static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1), a.fvf);
    EXPECT_TRUE(SameMatrix(Scaled(2.0f), a.world));
    EXPECT_TRUE(SameMatrix(Scaled(1.0f), a.view));  // the device's default
    EXPECT_TRUE(SameMatrix(Scaled(3.0f), a.projection));

    EXPECT_EQ(1u, b.startVertex);
    EXPECT_EQ(1u, b.primitiveCount);
    EXPECT_EQ(SoftwareDevice::IdOf(second_), b.texture->Id());
    EXPECT_EQ(SoftwareDevice::IdOf(buffer_), b.stream->Id());
    EXPECT_EQ(24u, b.streamOffset);
    EXPECT_TRUE(SameMatrix(Scaled(5.0f), b.world));
    EXPECT_TRUE(SameMatrix(Scaled(7.0f), b.view));

    const SoftwareDevice::SceneClear& clear = device_.LastSceneClear();
    EXPECT_EQ(static_cast<DWORD>(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), clear.flags);
    EXPECT_EQ(0xFF102030u, clear.color);
    EXPECT_EQ(0.5f, clear.z);
}

TEST_F(SceneDraws, ANewSceneForgetsTheLastAndFailedDrawsAreNotKept)
{
    device_.BeginScene();
    device_.Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device_.EndScene();
    ASSERT_EQ(1, device_.SceneDrawCount());

    device_.BeginScene();
    EXPECT_EQ(0, device_.SceneDrawCount());
    EXPECT_EQ(0u, device_.LastSceneClear().flags);
    device_.FailNextCall(CallKind::DrawPrimitive);
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_EQ(0, device_.SceneDrawCount());
    device_.EndScene();
    // Outside a scene nothing is drawn, on the rasterizing device or not.
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device_.SkipRasterizing(true);
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    EXPECT_EQ(0, device_.SceneDrawCount());
}

TEST_F(SceneDraws, DrawsBeyondTheCapacityAreCountedAsMissed)
{
    device_.SkipRasterizing(true);
    device_.BeginScene();
    const int draws = SoftwareDevice::sceneDrawCapacity + 3;
    for (int n = 0; n < draws; ++n)
        device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, static_cast<UINT>(n % 2), 1);
    device_.EndScene();
    EXPECT_EQ(SoftwareDevice::sceneDrawCapacity, device_.SceneDrawCount());
    EXPECT_EQ(3, device_.SceneDrawsMissed());
    EXPECT_EQ(1u, device_.SceneDrawAt(SoftwareDevice::sceneDrawCapacity - 1).startVertex);
}

}  // namespace
