// A software Direct3D 9 device for the stand-in interfaces of d3d9_standin.h.
//
// It serves three kinds of user:
//  - unit tests, which assert the exact sequence of device calls the plug-in
//    makes (every call is recorded with all its arguments), make chosen calls
//    fail, and check reference counting and over-release;
//  - tools (the command-line tool, the viewer), which run the scene on it and
//    read the picture from its back buffer;
//  - benchmarks, which want the device to cost nothing (SetCostFreeMode).
//
// What it implements:
//  - textures (A8R8G8B8 / X8R8G8B8, level 0 only) with real texel memory whose
//    pitch is deliberately larger than a row, and vertex buffers with real
//    memory; both COM-like: AddRef/Release return the new count;
//  - the render, sampler and transform state the plug-in sets;
//  - Clear and DrawPrimitive (triangle list, strip and fan) of untransformed
//    vertices with the fixed-function pipeline under the default texture-stage
//    state: colour = texel x diffuse, alpha = texel alpha (diffuse alone when no
//    texture is bound), optional alpha blending and depth test.
//
// Pixel convention: Direct3D 9's. Clip (-1, 1) maps to screen position (0, 0)
// and pixel (x, y) is sampled at the integer screen position (x, y), not at
// (x + 0.5, y + 0.5); a texture drawn 1:1 over the viewport therefore shows the
// familiar half-texel blur of a real Direct3D 9 device. Coverage follows the
// top-left fill rule on 8-bit sub-pixel positions, so two triangles that share
// an edge never both cover a pixel on it.
//
// Rendering choices where a real device is free, or where the stand-in is
// simpler than a real one:
//  - The anisotropic filter is approximated by bilinear filtering (linear and
//    anisotropic filter alike; point samples the nearest texel); no mipmaps.
//    Per triangle, the minification or magnification filter is chosen by
//    comparing the triangle's area in texels with its area in pixels. Filter
//    weights have 8 fractional bits, and modulation and the source-alpha blend
//    round to 8 bits per channel, as fixed-function hardware does.
//  - Only sampler 0 and texture stage 0 take part in drawing; the address
//    modes WRAP (default), MIRROR, CLAMP, BORDER and MIRRORONCE are honoured.
//  - D3DRS_LIGHTING defaults to TRUE as on a real device. With no lights and no
//    material (the stand-in has neither), lit vertices come out black with
//    their own alpha, exactly what a real device draws under those defaults.
//  - D3DRS_ZENABLE defaults to TRUE: the device behaves as if created with an
//    automatic depth buffer (D24X8: no stencil, so Clear with
//    D3DCLEAR_STENCIL fails).
//  - The back buffer keeps the alpha that Clear or blending wrote.
//  - Point and line primitives return E_NOTIMPL.
//  - Drawing outside BeginScene/EndScene fails with D3DERR_INVALIDCALL; so do
//    BeginScene inside a scene and EndScene outside one.
//  - Also honoured: D3DRS_ZFUNC, D3DRS_ZWRITEENABLE, D3DRS_CULLMODE (default
//    D3DCULL_CCW), the alpha test, D3DRS_BLENDOP and D3DRS_COLORWRITEENABLE.
//
// Reference counting: AddRef/Release count the caller's references. Binding an
// object (SetTexture, SetStreamSource) makes the device hold it internally,
// as a real runtime does, without changing the count the caller sees: a bound
// texture whose last reference is released stays usable by draws until it is
// unbound, and only then is destroyed. Destroyed objects stay in the device as
// zombies (their texel memory freed) until the device itself is destroyed, so
// a double Release is reported (OverReleaseCount) instead of crashing. All
// objects die with the device; pointers to them must not outlive it.
//
// Per-frame calls (locks, state changes, draws) allocate nothing while call
// recording is off; creation calls allocate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d9_standin.h"

class SoftwareDevice;

// Every recorded method. Object methods (LockRect ... Release) name the object
// in DeviceCall::objectId.
enum class CallKind {
    CreateTexture,
    CreateVertexBuffer,
    SetFVF,
    SetRenderState,
    SetSamplerState,
    SetTexture,
    BeginScene,
    EndScene,
    Clear,
    SetTransform,
    SetStreamSource,
    DrawPrimitive,
    LockRect,      // IDirect3DTexture9::LockRect
    UnlockRect,    // IDirect3DTexture9::UnlockRect
    Lock,          // IDirect3DVertexBuffer9::Lock
    Unlock,        // IDirect3DVertexBuffer9::Unlock
    AddRef,
    Release,
    Count_
};

const char* CallKindName(CallKind kind);

// One recorded call. Fields that the call does not have stay zero. Object ids
// are 1, 2, 3 ... in creation order per device; 0 stands for a null pointer.
struct DeviceCall {
    CallKind kind = CallKind::BeginScene;
    // CreateTexture/CreateVertexBuffer: the created object (0 when creation
    // failed). SetTexture/SetStreamSource: the bound object (0 for null).
    // LockRect/UnlockRect/Lock/Unlock/AddRef/Release: the object called.
    int objectId = 0;
    bool failed = false;    // the call returned an error (injected or genuine)
    HRESULT result = S_OK;  // AddRef/Release: the returned count instead

    // CreateTexture
    UINT width = 0, height = 0, levels = 0;
    // CreateTexture, CreateVertexBuffer
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    bool sharedHandleGiven = false;
    // CreateVertexBuffer
    UINT length = 0;
    // CreateVertexBuffer, SetFVF
    DWORD fvf = 0;
    // SetRenderState, SetSamplerState, SetTransform: the state type
    DWORD stateType = 0;
    // SetRenderState, SetSamplerState
    DWORD value = 0;
    // SetSamplerState: sampler; SetTexture: stage; SetStreamSource: stream
    DWORD stage = 0;
    // Clear
    DWORD rectCount = 0;
    bool rectsGiven = false;
    D3DCOLOR color = 0;
    float z = 0.0f;
    DWORD stencil = 0;
    // Clear, LockRect, Lock
    DWORD flags = 0;
    // SetTransform
    bool matrixGiven = false;
    D3DMATRIX matrix = {};
    // SetStreamSource, Lock
    UINT offset = 0;
    // SetStreamSource
    UINT stride = 0;
    // DrawPrimitive
    D3DPRIMITIVETYPE primitiveType = D3DPT_FORCE_DWORD;
    UINT startVertex = 0, primitiveCount = 0;
    // LockRect, UnlockRect
    UINT level = 0;
    bool rectGiven = false;  // LockRect's pRect; its contents in `rect`
    RECT rect = {};
    // Lock
    UINT size = 0;

    // One line with every argument, e.g. "SetRenderState(D3DRS_ZENABLE, 1)",
    // "#2->LockRect(0, null, 0x2000)", "#2->Release() -> 0"; a failed call ends
    // in " FAILED(0x8876086c)". Floats are printed so that they read back to
    // the same bits.
    std::string Describe() const;
};

// Common bookkeeping of textures and vertex buffers.
class SoftwareObject {
public:
    virtual ~SoftwareObject() = default;
    int Id() const { return id_; }
    // References held by the caller: what AddRef/Release last returned.
    ULONG RefCount() const { return refCount_; }
    // Internal holds of the device's bindings (stages, streams).
    int BindingCount() const { return bindings_; }
    bool IsDestroyed() const { return destroyed_; }
    bool IsLocked() const { return locked_; }

protected:
    SoftwareObject(SoftwareDevice* device, int id) : device_(device), id_(id) {}
    virtual void FreeMemory() = 0;

    SoftwareDevice* device_;
    int id_;
    ULONG refCount_ = 1;
    int bindings_ = 0;
    bool destroyed_ = false;
    bool locked_ = false;

    friend class SoftwareDevice;
};

class SoftwareTexture final : public IDirect3DTexture9, public SoftwareObject {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) override;
    HRESULT UnlockRect(UINT Level) override;

    int Width() const { return width_; }
    int Height() const { return height_; }
    UINT Levels() const { return levels_; }
    DWORD Usage() const { return usage_; }
    D3DFORMAT Format() const { return format_; }
    D3DPOOL Pool() const { return pool_; }
    // Byte distance between rows: 4 x width + 64.
    int Pitch() const { return pitch_; }
    // Texel (x, y) of level 0, read without a lock; unchecked, so keep
    // 0 <= x < Width(), 0 <= y < Height() and the texture not destroyed.
    uint32_t Texel(int x, int y) const;
    // Writes texel (x, y) without a lock, for tests and tools preparing input;
    // unchecked like Texel.
    void SetTexel(int x, int y, uint32_t value);
    // Level 0 row-major without the pitch padding.
    std::vector<uint32_t> Texels() const;
    // Level 0 in place, rows Pitch() bytes apart; null once destroyed. For
    // readers that must not copy (a presenter uploading it every frame).
    const uint8_t* Bits() const { return destroyed_ ? nullptr : memory_.data(); }

private:
    SoftwareTexture(SoftwareDevice* device, int id, UINT width, UINT height, UINT levels, DWORD usage,
                    D3DFORMAT format, D3DPOOL pool);
    void FreeMemory() override;
    const uint8_t* Row(int y) const { return memory_.data() + static_cast<size_t>(y) * pitch_; }

    int width_, height_;
    UINT levels_;
    DWORD usage_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    int pitch_;
    std::vector<uint8_t> memory_;

    friend class SoftwareDevice;
};

class SoftwareVertexBuffer final : public IDirect3DVertexBuffer9, public SoftwareObject {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;

    UINT Length() const { return length_; }
    DWORD Usage() const { return usage_; }
    DWORD Fvf() const { return fvf_; }
    D3DPOOL Pool() const { return pool_; }
    const std::vector<uint8_t>& Bytes() const { return memory_; }

private:
    SoftwareVertexBuffer(SoftwareDevice* device, int id, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);
    void FreeMemory() override;

    UINT length_;
    DWORD usage_;
    DWORD fvf_;
    D3DPOOL pool_;
    std::vector<uint8_t> memory_;

    friend class SoftwareDevice;
};

class SoftwareDevice final : public IDirect3DDevice9 {
public:
    // Back buffer (A8R8G8B8 words, row-major, no padding) and depth buffer of
    // width x height; starts as colour 0 and depth 1.0.
    SoftwareDevice(int width, int height);
    ~SoftwareDevice() override;
    SoftwareDevice(const SoftwareDevice&) = delete;
    SoftwareDevice& operator=(const SoftwareDevice&) = delete;

    // IDirect3DDevice9
    HRESULT CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                          IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) override;
    HRESULT CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                               IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) override;
    HRESULT SetFVF(DWORD FVF) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                  DWORD Stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                            UINT Stride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;

    // --- Call log -------------------------------------------------------------
    const std::vector<DeviceCall>& Calls() const { return calls_; }
    std::vector<std::string> CallDescriptions() const;  // Describe() of each call
    std::string DescribeCalls() const;                  // the same, one per line
    void ClearCallLog() { calls_.clear(); }
    void SetRecording(bool on) { recording_ = on; }
    bool Recording() const { return recording_; }
    // Calls of this kind since the device was created, recorded or not.
    int CallCount(CallKind kind) const { return callCounts_[static_cast<int>(kind)]; }

    // --- Failure injection ----------------------------------------------------
    // Makes the occurrence-th call of `kind` fail (0-based, counted since the
    // device was created, see CallCount), or every call of it for -1. A failing
    // call does nothing but return the error and is recorded with failed set:
    // CreateTexture/CreateVertexBuffer return D3DERR_OUTOFVIDEOMEMORY and null
    // the out pointer; LockRect/Lock return D3DERR_INVALIDCALL with the locked
    // rectangle zeroed / the data pointer null; everything else returns
    // D3DERR_INVALIDCALL. AddRef and Release return counts and cannot fail:
    // rules for them are ignored.
    void FailCall(CallKind kind, int occurrence = -1);
    void FailNextCall(CallKind kind) { FailCall(kind, CallCount(kind)); }
    void FailAllCalls(bool on) { failAll_ = on; }
    void ClearFailures() {
        failRules_.clear();
        failAll_ = false;
    }

    // --- Objects and reference counting ----------------------------------------
    // Objects the caller still holds a reference to (RefCount() > 0).
    int LiveObjectCount() const;
    // Objects not yet destroyed: live ones plus released ones still bound.
    int ExistingObjectCount() const;
    // Release calls on an object whose count was already 0.
    int OverReleaseCount() const { return overReleases_; }
    // Other calls on (or binding of) an object whose count was already 0.
    int UseAfterReleaseCount() const { return usesAfterRelease_; }
    int ObjectCount() const { return static_cast<int>(objects_.size()); }
    SoftwareTexture* TextureById(int id) const;
    SoftwareVertexBuffer* VertexBufferById(int id) const;
    // Id of an object of this device, 0 for null or a foreign object.
    static int IdOf(const IDirect3DResource9* object);

    // Level 0 of a software texture row-major without the pitch padding; false
    // for null, a foreign or a destroyed texture.
    static bool ReadTexels(IDirect3DTexture9* texture, std::vector<uint32_t>& out, int& width, int& height);
    // The bytes of a software vertex buffer; false as above.
    static bool ReadVertexBytes(IDirect3DVertexBuffer9* buffer, std::vector<uint8_t>& out);

    // --- Lock behaviour ---------------------------------------------------------
    // A lock with D3DLOCK_DISCARD hands out a renamed buffer whose contents are
    // undefined; the device fills it with a sentinel word so that a texel the
    // caller does not rewrite shows. OnEveryLock does so for any lock.
    enum class SentinelMode { Off, OnDiscard, OnEveryLock };
    void SetSentinelMode(SentinelMode mode) { sentinelMode_ = mode; }
    SentinelMode GetSentinelMode() const { return sentinelMode_; }
    // The word the n-th sentinel fill (0-based over the device) writes:
    // 0xDEADBEEF with its low 24 bits changed per fill; alpha is always 0xDE.
    static uint32_t SentinelWord(uint32_t fillIndex);
    // Word of the latest fill; SentinelFillCount() fills so far.
    uint32_t LastSentinelWord() const { return SentinelWord(sentinelFills_ == 0 ? 0 : sentinelFills_ - 1); }
    uint32_t SentinelFillCount() const { return sentinelFills_; }

    // Benchmarks: recording off, no sentinel fills, Clear and DrawPrimitive
    // return S_OK at once. Locks still hand out the real memory. Turning the
    // mode off restores recording and the sentinel mode set before.
    void SetCostFreeMode(bool on);
    bool CostFreeMode() const { return costFree_; }

    // --- The scene's draws -------------------------------------------------------
    // What a presenter needs to replay the scene somewhere else: every
    // DrawPrimitive since the last BeginScene, with the texture, stream and
    // transforms it drew with, and the scene's last Clear. Kept in every mode,
    // cost-free included (where nothing is rasterized), in fixed storage, so
    // keeping it allocates nothing. Render and sampler states are not copied
    // per draw: read them from the device (RenderState, SamplerState).
    struct SceneDraw {
        D3DPRIMITIVETYPE type;
        UINT startVertex;
        UINT primitiveCount;
        SoftwareTexture* texture;      // stage 0; null for none. May be destroyed since.
        SoftwareVertexBuffer* stream;  // stream 0; null for none
        UINT streamOffset;
        UINT streamStride;
        DWORD fvf;
        D3DMATRIX world, view, projection;
    };
    struct SceneClear {
        DWORD flags;  // 0: no Clear in this scene
        D3DCOLOR color;
        float z;
    };
    static constexpr int kSceneDrawCapacity = 16;
    // Draws remembered (further ones beyond the capacity are counted only).
    int SceneDrawCount() const { return sceneDrawCount_ < kSceneDrawCapacity ? sceneDrawCount_ : kSceneDrawCapacity; }
    int SceneDrawsMissed() const { return sceneDrawCount_ - SceneDrawCount(); }
    const SceneDraw& SceneDrawAt(int index) const { return sceneDraws_[index]; }
    const SceneClear& LastSceneClear() const { return sceneClear_; }

    // --- State and pictures -----------------------------------------------------
    int Width() const { return width_; }
    int Height() const { return height_; }
    const uint32_t* BackBuffer() const { return backBuffer_.data(); }
    const float* DepthBuffer() const { return depthBuffer_.data(); }
    uint32_t Pixel(int x, int y) const { return backBuffer_[static_cast<size_t>(y) * width_ + x]; }
    float Depth(int x, int y) const { return depthBuffer_[static_cast<size_t>(y) * width_ + x]; }

    DWORD RenderState(D3DRENDERSTATETYPE state) const;
    DWORD SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const;
    DWORD Fvf() const { return fvf_; }
    // The matrix in force (identity until set); identity for an unknown type.
    D3DMATRIX Transform(D3DTRANSFORMSTATETYPE state) const;
    IDirect3DBaseTexture9* BoundTexture(DWORD stage) const;
    IDirect3DVertexBuffer9* StreamSource(UINT stream, UINT* offset = nullptr, UINT* stride = nullptr) const;
    bool InScene() const { return inScene_; }

    // Limits of the stand-in (real Direct3D 9 values).
    static constexpr int kStages = 16;
    static constexpr int kStreams = 16;
    static constexpr int kRenderStates = 256;
    static constexpr int kSamplerStates = 14;
    static constexpr int kTransforms = 512;

private:
    friend class SoftwareTexture;
    friend class SoftwareVertexBuffer;
    struct ClipVertex;
    struct ScreenVertex;
    // The blend state, read once per triangle.
    struct BlendSetup {
        bool enabled;
        DWORD source, destination, operation, writeMask;
        bool overSourceAlpha;  // SRCALPHA, INVSRCALPHA, ADD
    };

    // Counts the call, and says whether an injected failure applies to it.
    bool Enter(CallKind kind);
    // Notes the call with its result (when recording) and returns the result.
    HRESULT Record(DeviceCall call, HRESULT hr);
    void RecordObjectCall(CallKind kind, int id, HRESULT result, bool failed);

    ULONG AddRefObject(SoftwareObject* object);
    ULONG ReleaseObject(SoftwareObject* object);
    void Hold(SoftwareObject* object);
    void Unhold(SoftwareObject* object);
    void DestroyIfUnused(SoftwareObject* object);
    SoftwareObject* Find(const IUnknown_standin* object) const;
    void FillSentinel(uint8_t* bytes, size_t count);

    HRESULT TextureLockRect(SoftwareTexture* texture, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                            DWORD flags);
    HRESULT TextureUnlockRect(SoftwareTexture* texture, UINT level);
    HRESULT BufferLock(SoftwareVertexBuffer* buffer, UINT offset, UINT size, void** data, DWORD flags);
    HRESULT BufferUnlock(SoftwareVertexBuffer* buffer);

    HRESULT Draw(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
    void DrawTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, bool flipWinding);
    void RasterizeTriangle(const ScreenVertex* v, const SoftwareTexture* texture);
    uint32_t SampleTexture(const SoftwareTexture& texture, double u, double v, bool bilinear) const;
    BlendSetup CurrentBlend() const;
    uint32_t ShadePixel(uint32_t source, uint32_t destination, const BlendSetup& blend) const;

    int width_, height_;
    std::vector<uint32_t> backBuffer_;
    std::vector<float> depthBuffer_;

    std::vector<std::unique_ptr<SoftwareObject>> objects_;
    int overReleases_ = 0;
    int usesAfterRelease_ = 0;

    std::vector<DeviceCall> calls_;
    bool recording_ = true;
    int callCounts_[static_cast<int>(CallKind::Count_)] = {};
    struct FailRule {
        CallKind kind;
        int occurrence;
    };
    std::vector<FailRule> failRules_;
    bool failAll_ = false;

    SentinelMode sentinelMode_ = SentinelMode::OnDiscard;
    uint32_t sentinelFills_ = 0;
    bool costFree_ = false;
    bool savedRecording_ = true;

    DWORD fvf_ = 0;
    DWORD renderStates_[kRenderStates];
    DWORD samplerStates_[kStages][kSamplerStates];
    D3DMATRIX transforms_[kTransforms];
    SoftwareTexture* stageTextures_[kStages] = {};
    SoftwareVertexBuffer* streams_[kStreams] = {};
    UINT streamOffsets_[kStreams] = {};
    UINT streamStrides_[kStreams] = {};
    bool inScene_ = false;

    void RememberDraw(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
    SceneDraw sceneDraws_[kSceneDrawCapacity] = {};
    int sceneDrawCount_ = 0;
    SceneClear sceneClear_ = {};
};
