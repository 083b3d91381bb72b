// The same frame presented by OpenGL (Mesa's llvmpipe under an Xvfb of the
// test's own) and rasterized by the software device agrees closely; a
// presenter that gets the frame wrong in one of the ways that matter does
// not.
//
// Both come from one RenderSceneOnScreen: the device rasterizes it and keeps
// what the GL presenter reads. A faulty presenter is played by presenting a
// capture altered the way its bug would alter what reaches OpenGL.
#include <SDL.h>
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "tests/desktop/pictures.h"
#include "tests/desktop/xvfb_server.h"
#include "tools/trails/frame_capture.h"
#include "tools/trails/gl_presenter.h"

namespace {

class GlAgainstSoftware : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Ok()) << server_.Failure(); }
    void TearDown() override { Close(); }

    void Close()
    {
        presenter_.reset();
        if (context_ != nullptr)
            SDL_GL_DeleteContext(context_);
        context_ = nullptr;
        if (window_ != nullptr)
            SDL_DestroyWindow(window_);
        window_ = nullptr;
        SDL_Quit();
        FreePlugin(0, 0, 0);
        ResetSceneToLoadValues(scene);
    }

    // A window of the size with an OpenGL 2.1 context, and a device as large.
    void Open(int width, int height)
    {
        width_ = width;
        height_ = height;
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO)) << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        window_ = SDL_CreateWindow("gl test", 0, 0, width, height, SDL_WINDOW_OPENGL);
        ASSERT_NE(nullptr, window_) << SDL_GetError();
        context_ = SDL_GL_CreateContext(window_);
        ASSERT_NE(nullptr, context_) << SDL_GetError();
        presenter_.reset(new GlPresenter());
        // The device approximates the anisotropic filter by a linear one;
        // llvmpipe's is an average over the whole footprint, another picture.
        presenter_->UseAnisotropy(false);
        device_.reset(new SoftwareDevice(width, height));
    }

    // Sets the scene up on the device, runs `ticks` ticks with a frame after
    // every tenth, unseen, and rasterizes one more frame, which the device
    // then also keeps for the presenter.
    void RunScene(uint32_t seed, int ticks)
    {
        ResetSceneToLoadValues(scene);
        device_->SetRecording(false);
        device_->SkipRasterizing(true);
        SetupScene(device_.get(), 0, 0, width_, height_, seed);
        for (int tick = 1; tick <= ticks; ++tick) {
            UpdateScene();
            if (tick % 10 == 0)
                RenderSceneOnScreen(0, device_.get(), 0, 0, width_, height_, 0, 0, 0, 0, 0);
        }
        device_->SkipRasterizing(false);
        RenderSceneOnScreen(0, device_.get(), 0, 0, width_, height_, 0, 0, 0, 0, 0);
        CaptureFrame(*device_, frame_);
    }

    // `sceneAspect` 0: the frame as it is; otherwise drawn as one made for a
    // screen of that aspect.
    Difference PresentAndCompare(const CapturedFrame& frame, double sceneAspect = 0.0)
    {
        if (sceneAspect == 0.0) {
            presenter_->Present(frame);
        } else {
            presenter_->Upload(frame);
            presenter_->Draw(frame, width_, height_, sceneAspect);
        }
        const size_t count = static_cast<size_t>(width_) * height_;
        std::vector<uint32_t> rows(count);
        glReadPixels(0, 0, width_, height_, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
        std::vector<uint32_t> picture(count);
        // OpenGL's rows run from the bottom.
        for (int y = 0; y < height_; ++y) {
            std::memcpy(&picture[static_cast<size_t>(y) * width_], &rows[static_cast<size_t>(height_ - 1 - y) * width_],
                        static_cast<size_t>(width_) * 4);
        }
        return Compare(picture, device_->BackBuffer(), agreementTolerance);
    }

    XvfbServer server_{800, 600};
    int width_ = 0;
    int height_ = 0;
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    std::unique_ptr<GlPresenter> presenter_;
    std::unique_ptr<SoftwareDevice> device_;
    CapturedFrame frame_;
};

D3DMATRIX Transposed(const D3DMATRIX& m)
{
    D3DMATRIX t;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column)
            t.m[row][column] = m.m[column][row];
    }
    return t;
}

TEST_F(GlAgainstSoftware, TheSameFrameLooksTheSame)
{
    // 16:10 as the scene is meant to be seen, and a wide window, whose
    // projection squeezes the quad (the aspect is the whole-number ratio).
    const struct {
        int width, height;
        uint32_t seed;
        int ticks;
    } scenes[] = {{480, 300, 33, 200}, {600, 200, 7, 120}};
    for (const auto& scene : scenes) {
        SCOPED_TRACE(std::to_string(scene.width) + "x" + std::to_string(scene.height));
        Open(scene.width, scene.height);
        RunScene(scene.seed, scene.ticks);
        ASSERT_EQ(2u, frame_.draws.size());
        const Difference difference = PresentAndCompare(frame_);
        EXPECT_TRUE(Agrees(difference)) << "mean " << difference.meanAbsolute << ", beyond " << agreementTolerance
                                        << ": " << difference.shareBeyond;
        Close();
    }
}

// Each is what a presenter with one mistake would hand OpenGL.
TEST_F(GlAgainstSoftware, APresenterGettingTheFrameWrongDisagrees)
{
    Open(480, 300);
    RunScene(33, 200);
    ASSERT_EQ(2u, frame_.draws.size());
    const std::vector<std::pair<const char*, std::function<void(CapturedFrame&)>>> faults = {
        {"the layers in the wrong order", [](CapturedFrame& f) { std::swap(f.draws[0], f.draws[1]); }},
        {"no blending", [](CapturedFrame& f) { f.states.blend = false; }},
        {"the texture upside down",
         [](CapturedFrame& f) {
             for (FrameVertex& v : f.vertices)
                 v.v = 1.0f - v.v;
         }},
        {"the picture upside down",
         [](CapturedFrame& f) {
             for (FrameDraw& d : f.draws) {
                 for (int row = 0; row < 4; ++row)
                     d.projection.m[row][1] = -d.projection.m[row][1];
             }
         }},
        {"the picture left to right",
         [](CapturedFrame& f) {
             for (FrameDraw& d : f.draws) {
                 for (int row = 0; row < 4; ++row)
                     d.projection.m[row][0] = -d.projection.m[row][0];
             }
         }},
        {"the view matrix for the world",
         [](CapturedFrame& f) {
             for (FrameDraw& d : f.draws)
                 d.world = d.view;
         }},
        {"the projection read as column vectors",
         [](CapturedFrame& f) {
             for (FrameDraw& d : f.draws)
                 d.projection = Transposed(d.projection);
         }},
        {"no half-pixel correction",
         [this](CapturedFrame& f) {
             D3DMATRIX back = {};
             back._11 = back._22 = back._33 = back._44 = 1.0f;
             back._41 = -1.0f / static_cast<float>(width_);
             back._42 = 1.0f / static_cast<float>(height_);
             for (FrameDraw& d : f.draws)
                 d.projection = MultiplyMatrices(d.projection, back);
         }},
        {"the glow layer alone", [](CapturedFrame& f) { f.draws.erase(f.draws.begin()); }},
    };
    for (const auto& fault : faults) {
        CapturedFrame faulty = frame_;
        fault.second(faulty);
        const Difference difference = PresentAndCompare(faulty);
        EXPECT_FALSE(Agrees(difference)) << fault.first << ": mean " << difference.meanAbsolute << ", beyond "
                                         << agreementTolerance << ": " << difference.shareBeyond;
    }
}

// The wallpaper draws one frame, made for one output, on outputs of other
// aspects. A frame whose projection was made for 16:10 and is drawn into a
// square window must look like the square frame the device drew.
TEST_F(GlAgainstSoftware, AFrameMadeForAnotherAspectIsRefittedToTheWindow)
{
    Open(300, 300);
    RunScene(21, 150);
    ASSERT_EQ(2u, frame_.draws.size());
    const double made = 1.6;
    CapturedFrame wide = frame_;
    for (FrameDraw& draw : wide.draws) {
        // What D3DXMatrixPerspectiveFovLH gives for 1.6 instead of 1: x / 1.6.
        for (int row = 0; row < 4; ++row)
            draw.projection.m[row][0] = static_cast<float>(draw.projection.m[row][0] / made);
    }
    const Difference refitted = PresentAndCompare(wide, made);
    EXPECT_TRUE(Agrees(refitted)) << "mean " << refitted.meanAbsolute << ", beyond " << agreementTolerance << ": "
                                  << refitted.shareBeyond;
    const Difference stretched = PresentAndCompare(wide);
    EXPECT_FALSE(Agrees(stretched)) << "drawn without the refit: mean " << stretched.meanAbsolute;
}

// The scene's sampler states as OpenGL holds them after a draw: wrapped,
// linear, and its anisotropy of 8 where the extension is there and wanted.
TEST_F(GlAgainstSoftware, TheScenesSamplerStatesReachOpenGL)
{
    Open(160, 100);
    RunScene(3, 10);
    for (bool wanted : {false, true}) {
        presenter_->UseAnisotropy(wanted);
        presenter_->Present(frame_);
        GLint wrapS = 0, wrapT = 0, minFilter = 0, magFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        EXPECT_EQ(GL_REPEAT, wrapS);
        EXPECT_EQ(GL_REPEAT, wrapT);
        EXPECT_EQ(GL_LINEAR, minFilter);
        EXPECT_EQ(GL_LINEAR, magFilter);
        GLfloat limit = 0.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &limit);
        if (glGetError() == GL_NO_ERROR && limit >= 8.0f) {
            GLfloat anisotropy = 0.0f;
            glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, &anisotropy);
            EXPECT_EQ(wanted ? 8.0f : 1.0f, anisotropy);
            EXPECT_EQ(wanted, presenter_->Anisotropic());
        }
    }
}

}  // namespace
