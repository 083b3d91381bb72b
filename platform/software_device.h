// A software Direct3D 9 device for the stand-in interfaces of d3d9_standin.h.
//
// It serves three kinds of user:
//  - unit tests, which assert the exact sequence of device calls the plug-in
//    makes (the call log of call_log.h), make chosen calls fail, and check
//    reference counting and over-release;
//  - tools (the command-line tool, the viewer), which run the scene on it and
//    read the picture from its back buffer, or replay its draws elsewhere;
//  - benchmarks, which want the device to cost nothing (SkipRasterizing).
//
// It implements what the scene uses, and refuses the rest:
//  - textures of one level of A8R8G8B8 in the default pool, with real texel
//    memory whose pitch is deliberately larger than a row, and vertex buffers
//    in the default pool with real memory; both COM-like: AddRef/Release
//    return the new count;
//  - the render and sampler states the scene sets, to the values it sets them
//    to or back to their defaults (see SetRenderState); texture stage 0,
//    sampler 0 and stream 0; the world, view and projection transforms;
//  - Clear of the whole target and depth buffer, and DrawPrimitive of
//    triangle strips of the quad's vertex format (position, diffuse colour,
//    one 2D texture coordinate), drawn by the rasterizer of rasterizer.h.
// Anything else (another state or value, a sub-rectangle, another primitive
// type or vertex format) fails with D3DERR_INVALIDCALL and is recorded, so a
// caller never takes for drawn what the picture would ignore.
//
// Device rules a real device shares:
//  - D3DRS_ZENABLE is TRUE: the device behaves as if created with an
//    automatic depth buffer (D24X8: no stencil, so Clear with
//    D3DCLEAR_STENCIL fails); depth is tested LESSEQUAL and written.
//  - D3DRS_LIGHTING defaults to TRUE and D3DRS_CULLMODE to D3DCULL_CCW.
//  - A default-pool texture can be locked only when created dynamic.
//  - Drawing outside BeginScene/EndScene fails with D3DERR_INVALIDCALL; so do
//    BeginScene inside a scene and EndScene outside one.
//
// Reference counting: AddRef/Release count the caller's references. Binding an
// object (SetTexture, SetStreamSource) makes the device hold it internally,
// as a real runtime does, without changing the count the caller sees: a bound
// texture whose last reference is released stays usable by draws until it is
// unbound, and only then is destroyed. Destroyed objects stay in the device as
// zombies (their memory freed) until the device itself is destroyed, so a
// double Release is reported (OverReleaseCount) instead of crashing. All
// objects die with the device; pointers to them must not outlive it.
//
// Per-frame calls (locks, state changes, draws) allocate nothing while call
// recording is off; creation calls allocate.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/call_log.h"
#include "platform/d3d9_standin.h"

class SoftwareDevice;

// Common bookkeeping of textures and vertex buffers.
class SoftwareObject {
public:
    virtual ~SoftwareObject() = default;
    int Id() const { return id_; }
    // References held by the caller: what AddRef/Release last returned.
    ULONG RefCount() const { return refCount_; }
    // Internal holds of the device's bindings (stage 0, stream 0).
    int BindingCount() const { return bindings_; }
    bool IsDestroyed() const { return destroyed_; }

protected:
    SoftwareObject(SoftwareDevice* device, int id, size_t bytes) : device_(device), id_(id), memory_(bytes, 0) {}

    SoftwareDevice* device_;
    int id_;
    ULONG refCount_ = 1;
    int bindings_ = 0;
    bool destroyed_ = false;
    bool locked_ = false;
    std::vector<uint8_t> memory_;  // texels or vertices; freed on destruction

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
    D3DFORMAT Format() const { return D3DFMT_A8R8G8B8; }  // the one format the device creates
    // Byte distance between rows: 4 x width + 64.
    int Pitch() const { return pitch_; }
    // Texel (x, y), read without a lock; unchecked, so keep 0 <= x < Width(),
    // 0 <= y < Height() and the texture not destroyed.
    uint32_t Texel(int x, int y) const;
    // Writes texel (x, y) without a lock, for tests and tools preparing input;
    // unchecked like Texel.
    void SetTexel(int x, int y, uint32_t value);
    // Row-major without the pitch padding into out, whose storage is reused
    // when it is large enough; empty once destroyed.
    void CopyTexels(std::vector<uint32_t>& out) const;
    // In place, rows Pitch() bytes apart; null once destroyed. For readers
    // that must not copy (a presenter uploading it every frame).
    const uint8_t* Bits() const { return destroyed_ ? nullptr : memory_.data(); }

private:
    SoftwareTexture(SoftwareDevice* device, int id, UINT width, UINT height, bool dynamic);

    int width_, height_;
    bool dynamic_;
    int pitch_;

    friend class SoftwareDevice;
};

class SoftwareVertexBuffer final : public IDirect3DVertexBuffer9, public SoftwareObject {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) override;
    HRESULT Unlock() override;

    const std::vector<uint8_t>& Bytes() const { return memory_; }

private:
    SoftwareVertexBuffer(SoftwareDevice* device, int id, UINT length) : SoftwareObject(device, id, length) {}

    friend class SoftwareDevice;
};

class SoftwareDevice final : public IDirect3DDevice9, public CallLog {
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
    // 0 (no format) or the quad's D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1.
    HRESULT SetFVF(DWORD FVF) override;
    // Honoured: D3DRS_LIGHTING, D3DRS_ALPHABLENDENABLE (TRUE or FALSE),
    // D3DRS_CULLMODE (D3DCULL_CCW or D3DCULL_NONE), D3DRS_SRCBLEND (ONE or
    // SRCALPHA), D3DRS_DESTBLEND (ZERO or INVSRCALPHA); the states a
    // presenter reads besides (RenderState) only to their defaults.
    HRESULT SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) override;
    // Sampler 0: the filters D3DTEXF_POINT (the default) or D3DTEXF_ANISOTROPIC,
    // which filters bilinearly here; D3DSAMP_MAXANISOTROPY 1 to 16, kept for a
    // presenter; the address modes and border colour only to their defaults.
    HRESULT SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) override;
    HRESULT SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) override;
    HRESULT SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                            UINT Stride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) override;

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
    // Id of an object of this device, 0 for null or a foreign object.
    static int IdOf(const IDirect3DResource9* object);

    // A software texture row-major without the pitch padding, into out (its
    // storage reused when large enough); false for null, a foreign or a
    // destroyed texture.
    static bool ReadTexels(IDirect3DTexture9* texture, std::vector<uint32_t>& out, int& width, int& height);
    // The bytes of a software vertex buffer; false as above.
    static bool ReadVertexBytes(IDirect3DVertexBuffer9* buffer, std::vector<uint8_t>& out);

    // --- Lock behaviour ---------------------------------------------------------
    // A lock with D3DLOCK_DISCARD hands out a renamed buffer whose contents are
    // undefined; the device fills it with a sentinel word so that a texel the
    // caller does not rewrite shows.
    enum class SentinelMode { Off, OnDiscard };
    void SetSentinelMode(SentinelMode mode) { sentinelMode_ = mode; }
    // The word the n-th sentinel fill (0-based over the device) writes:
    // 0xDEADBEEF with its low 24 bits changed per fill; alpha is always 0xDE.
    static uint32_t SentinelWord(uint32_t fillIndex);
    // Word of the latest fill; SentinelFillCount() fills so far.
    uint32_t LastSentinelWord() const { return SentinelWord(sentinelFills_ == 0 ? 0 : sentinelFills_ - 1); }
    uint32_t SentinelFillCount() const { return sentinelFills_; }

    // For frames nobody will look at (tools, benchmarks): Clear and
    // DrawPrimitive check their arguments and return without touching the
    // buffers, and with them the call log and the sentinel fills are off.
    // Locks still hand out the real memory. Turning it off restores recording.
    void SkipRasterizing(bool skip);
    bool SkipsRasterizing() const { return skipRasterizing_; }

    // --- The scene's draws -------------------------------------------------------
    // What a presenter needs to replay the scene somewhere else: every
    // DrawPrimitive since the last BeginScene, with the texture, stream and
    // transforms it drew with, and the scene's last Clear. Kept in every mode,
    // skipping rasterizing included (where nothing is rasterized), in fixed storage, so
    // keeping it allocates nothing. Render and sampler states are not copied
    // per draw: read them from the device (RenderState, SamplerState).
    struct SceneDraw {
        D3DPRIMITIVETYPE type;  // always D3DPT_TRIANGLESTRIP, the one the device draws
        UINT startVertex;
        UINT primitiveCount;
        SoftwareTexture* texture;      // stage 0; null for none. May be destroyed since.
        SoftwareVertexBuffer* stream;  // stream 0. May be destroyed since.
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
    static constexpr int sceneDrawCapacity = 16;
    // Draws remembered (further ones beyond the capacity are counted only).
    int SceneDrawCount() const { return sceneDrawCount_ < sceneDrawCapacity ? sceneDrawCount_ : sceneDrawCapacity; }
    int SceneDrawsMissed() const { return sceneDrawCount_ - SceneDrawCount(); }
    const SceneDraw& SceneDrawAt(int index) const { return sceneDraws_[index]; }
    const SceneClear& LastSceneClear() const { return sceneClear_; }

    // --- State and pictures -----------------------------------------------------
    int Width() const { return width_; }
    int Height() const { return height_; }
    const uint32_t* BackBuffer() const { return backBuffer_.data(); }
    uint32_t Pixel(int x, int y) const { return backBuffer_[static_cast<size_t>(y) * width_ + x]; }
    float Depth(int x, int y) const { return depthBuffer_[static_cast<size_t>(y) * width_ + x]; }

    // The value in force: Direct3D 9's default until set; 0 for a state the
    // device does not keep, or another sampler than 0.
    DWORD RenderState(D3DRENDERSTATETYPE state) const;
    DWORD SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const;
    DWORD Fvf() const { return fvf_; }
    // The matrix in force (identity until set); identity for an unknown type.
    D3DMATRIX Transform(D3DTRANSFORMSTATETYPE state) const;
    IDirect3DBaseTexture9* BoundTexture() const { return texture_; }
    IDirect3DVertexBuffer9* StreamSource() const { return stream_; }
    bool InScene() const { return inScene_; }

private:
    friend class SoftwareTexture;
    friend class SoftwareVertexBuffer;

    // The one way a device method runs: opens the call (counting it and
    // checking the failure rules), runs `body` for the result unless an
    // injected failure returns `injected` instead, and records the call.
    template <typename Body>
    HRESULT Call(DeviceCall& call, Body body, HRESULT injected = D3DERR_INVALIDCALL)
    {
        const HRESULT result = Open(call.kind) ? injected : body();
        Record(call, result, FAILED(result));
        return result;
    }

    ULONG CountReference(SoftwareObject* object, CallKind kind);
    // True, counting the use, when the caller has released the object.
    bool UsedAfterRelease(const SoftwareObject& object);
    template <typename Object>
    HRESULT Bind(Object*& slot, Object* object, const void* given);
    void DestroyIfUnused(SoftwareObject* object);
    SoftwareObject* Find(const IUnknown_standin* object) const;
    void FillSentinel(std::vector<uint8_t>& memory, DWORD lockFlags);

    HRESULT TextureLockRect(SoftwareTexture* texture, UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect,
                            DWORD flags);
    HRESULT BufferLock(SoftwareVertexBuffer* buffer, UINT offset, UINT size, void** data, DWORD flags);
    HRESULT ObjectUnlock(SoftwareObject* object, CallKind kind, UINT level);

    HRESULT Draw(UINT startVertex, UINT primitiveCount);
    void RememberDraw(UINT startVertex, UINT primitiveCount);

    int width_, height_;
    std::vector<uint32_t> backBuffer_;
    std::vector<float> depthBuffer_;

    std::vector<std::unique_ptr<SoftwareObject>> objects_;
    int overReleases_ = 0;
    int usesAfterRelease_ = 0;

    SentinelMode sentinelMode_ = SentinelMode::OnDiscard;
    uint32_t sentinelFills_ = 0;
    bool skipRasterizing_ = false;
    bool savedRecording_ = true;

    static constexpr int renderStates = 256;  // Direct3D 9's state numbers stay below
    static constexpr int samplerStates = 14;
    enum { WorldSlot, ViewSlot, ProjectionSlot, TransformSlots };
    static int TransformIndex(DWORD type);  // -1 for a transform the device does not keep
    DWORD fvf_ = 0;
    DWORD renderStates_[renderStates] = {};
    DWORD samplerStates_[samplerStates] = {};
    D3DMATRIX transforms_[TransformSlots];
    SoftwareTexture* texture_ = nullptr;
    SoftwareVertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    bool inScene_ = false;

    SceneDraw sceneDraws_[sceneDrawCapacity] = {};
    int sceneDrawCount_ = 0;
    SceneClear sceneClear_ = {};
};
