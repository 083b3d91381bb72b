// Draws a captured frame (frame_capture.h) with OpenGL 2.1's fixed-function
// pipeline into the current context's drawable: the scene's clear, then each
// draw with its texture uploaded from the device's memory, its transforms and
// the scene's render and sampler states. The plug-in's Direct3D 9 frame,
// issued again to a GPU (or to Mesa's llvmpipe where there is none).
#pragma once

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
D3DMATRIX GlClipFromDirect3D(int width, int height);

// The row-vector product a x b (a applied first), in double precision and
// rounded once to float.
D3DMATRIX MultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b);

class GlPresenter {
public:
    // Needs the OpenGL context current; reads its extensions once.
    GlPresenter();
    ~GlPresenter();  // deletes its textures: the context must still be current
    GlPresenter(const GlPresenter&) = delete;
    GlPresenter& operator=(const GlPresenter&) = delete;

    // Clears and draws the frame into the viewport (0, 0, width, height).
    // Every texture the frame uses is uploaded whole.
    void Present(const CapturedFrame& frame);

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
    unsigned int Upload(const FrameTexture& texture);
    void ApplyStates(const FrameStates& states);
    void ApplySampler(const FrameStates& states);

    std::vector<Slot> slots_;
    std::vector<unsigned int> frameNames_;  // per frame texture, reused
    bool anisotropic_ = false;
    bool anisotropyWanted_ = true;
    float anisotropyLimit_ = 1.0f;
    double lastUploadSeconds_ = 0.0;
};
