// Draws a captured frame (frame_capture.h) with OpenGL 2.1's fixed-function
// pipeline into the current context's drawable: the scene's clear, then each
// draw with its texture uploaded from the device's memory, its transforms and
// the scene's render and sampler states. The plug-in's Direct3D 9 frame,
// issued again to a GPU (or to Mesa's llvmpipe where there is none).
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9_standin.h"
#include "tools/trails/frame_capture.h"

// Direct3D 9 and OpenGL disagree on clip space in two ways, and this one
// matrix, applied after the projection (a row-vector matrix like Direct3D's),
// is where both are put right:
//  - depth: Direct3D keeps 0 <= z <= w where OpenGL keeps -w <= z <= w, so
//    z' = 2z - w (the depth range then maps both to the same window depth);
//  - pixel centres: Direct3D 9 samples pixel (x, y) at the screen position
//    (x, y) where OpenGL samples (x + 0.5, y + 0.5), so the picture moves half
//    a pixel right and down: x' = x + w / width, y' = y - w / height.
// Both put clip +y at the top of the target, so nothing is mirrored.
//
// `aspectScale` scales clip x: a projection made for a screen of aspect a
// drawn on one of aspect b wants a / b (1 when they agree).
D3DMATRIX GlClipFromDirect3D(int width, int height, double aspectScale = 1.0);

// The row-vector product a x b (a applied first), in double precision and
// rounded once to float.
D3DMATRIX MultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b);

// Seconds of the last frame shown, split up, for the closing report.
struct ShowTimes {
    double capture = 0.0;  // reading the device state
    double upload = 0.0;   // both layers' texels into OpenGL textures
    double draw = 0.0;     // the rest of the presenter's calls
};

// "2.1 Mesa 22.3.6" and later: what the presenter needs.
bool GlVersionAtLeast21(const char* version);
// Mesa's rasterizers on the processor (llvmpipe and the like), whose
// anisotropic filter costs far more than it shows (GlPresenter::UseAnisotropy).
bool RasterizesOnTheProcessor(const std::string& renderer);

class GlPresenter {
public:
    // Needs the OpenGL context current; reads its extensions once.
    GlPresenter();
    ~GlPresenter();  // deletes its textures: the context must still be current
    GlPresenter(const GlPresenter&) = delete;
    GlPresenter& operator=(const GlPresenter&) = delete;

    // Upload, then Draw into the frame's own size.
    void Present(const CapturedFrame& frame);
    // Every texture the frame uses, uploaded whole. Once a frame is enough
    // for any number of drawables of the same context.
    void Upload(const CapturedFrame& frame);
    // Clears and draws the uploaded frame into the viewport (0, 0, width,
    // height) of the current drawable. The frame's projection was made for a
    // screen of aspect `sceneAspect` (width / height); on a drawable of
    // another aspect it is narrowed or widened to fit, as the scene would
    // have made it for that screen. 0 takes the drawable's own aspect.
    void Draw(const CapturedFrame& frame, int width, int height, double sceneAspect = 0.0);

    // Whether the scene's anisotropic filter is honoured: the extension is
    // there and it is not turned off (then such a filter is linear).
    bool Anisotropic() const { return anisotropic_ && anisotropyWanted_; }
    void UseAnisotropy(bool on) { anisotropyWanted_ = on; }
    // The seconds the last Present spent uploading texels.
    double LastUploadSeconds() const { return lastUploadSeconds_; }

private:
    struct Slot {
        int id = 0;
        unsigned int name = 0;
        int width = 0;
        int height = 0;
        bool opaque = false;
    };
    unsigned int UploadTexture(const FrameTexture& texture);
    void ApplyStates(const FrameStates& states);
    void ApplySampler(const FrameStates& states);

    std::vector<Slot> slots_;
    std::vector<unsigned int> frameNames_;  // per frame texture, reused
    bool anisotropic_ = false;
    bool anisotropyWanted_ = true;
    float anisotropyLimit_ = 1.0f;
    double lastUploadSeconds_ = 0.0;
};
