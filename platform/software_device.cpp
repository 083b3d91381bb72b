// The software Direct3D 9 device: its objects and references, creation,
// locks, states and the checks of Clear and DrawPrimitive; drawing itself is
// the rasterizer's. See software_device.h for the rules it follows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "platform/software_device.h"

#include <algorithm>
#include <cstring>

#include "platform/rasterizer.h"

namespace {

constexpr uint32_t Bit(DWORD value) { return uint32_t(1) << value; }

// A state the device keeps, with Direct3D 9's default and the values it may
// be set to: its default, and for the states the scene sets, what it sets.
struct StateRule {
    DWORD state;
    DWORD defaultValue;
    uint32_t settable;  // bit v: value v
};

const StateRule renderStateRules[] = {
    {D3DRS_ZENABLE, D3DZB_TRUE, Bit(D3DZB_TRUE)},
    {D3DRS_ZWRITEENABLE, TRUE, Bit(TRUE)},
    {D3DRS_ALPHATESTENABLE, FALSE, Bit(FALSE)},
    {D3DRS_SRCBLEND, D3DBLEND_ONE, Bit(D3DBLEND_ONE) | Bit(D3DBLEND_SRCALPHA)},
    {D3DRS_DESTBLEND, D3DBLEND_ZERO, Bit(D3DBLEND_ZERO) | Bit(D3DBLEND_INVSRCALPHA)},
    {D3DRS_CULLMODE, D3DCULL_CCW, Bit(D3DCULL_CCW) | Bit(D3DCULL_NONE)},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL, Bit(D3DCMP_LESSEQUAL)},
    {D3DRS_ALPHAREF, 0, Bit(0)},
    {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS, Bit(D3DCMP_ALWAYS)},
    {D3DRS_ALPHABLENDENABLE, FALSE, Bit(FALSE) | Bit(TRUE)},
    {D3DRS_LIGHTING, TRUE, Bit(TRUE) | Bit(FALSE)},
    {D3DRS_COLORVERTEX, TRUE, Bit(TRUE)},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1, Bit(D3DMCS_COLOR1)},
    {D3DRS_COLORWRITEENABLE, 0xF, Bit(0xF)},  // red, green, blue and alpha
    {D3DRS_BLENDOP, D3DBLENDOP_ADD, Bit(D3DBLENDOP_ADD)},
};
const StateRule samplerStateRules[] = {
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP, Bit(D3DTADDRESS_WRAP)},
    {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP, Bit(D3DTADDRESS_WRAP)},
    {D3DSAMP_BORDERCOLOR, 0, Bit(0)},
    {D3DSAMP_MAGFILTER, D3DTEXF_POINT, Bit(D3DTEXF_POINT) | Bit(D3DTEXF_ANISOTROPIC)},
    {D3DSAMP_MINFILTER, D3DTEXF_POINT, Bit(D3DTEXF_POINT) | Bit(D3DTEXF_ANISOTROPIC)},
    {D3DSAMP_MAXANISOTROPY, 1, 0x1FFFE},  // 1 to 16
};

template <size_t N>
bool Settable(const StateRule (&rules)[N], DWORD state, DWORD value)
{
    for (const StateRule& rule : rules)
        if (rule.state == state)
            return value < 32 && (rule.settable & Bit(value)) != 0;
    return false;
}

D3DMATRIX Identity()
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

}  // namespace

// ---------------------------------------------------------------------------
// Textures and vertex buffers

SoftwareTexture::SoftwareTexture(SoftwareDevice* device, int id, UINT width, UINT height, bool dynamic)
    // Rows padded by 64 bytes, as drivers align them: code that steps rows by
    // width x 4 instead of the pitch draws a sheared picture.
    : SoftwareObject(device, id, (static_cast<size_t>(width) * 4 + 64) * height),
      width_(static_cast<int>(width)),
      height_(static_cast<int>(height)),
      dynamic_(dynamic),
      pitch_(static_cast<int>(width) * 4 + 64)
{}

ULONG SoftwareTexture::AddRef() { return device_->CountReference(this, CallKind::AddRef); }
ULONG SoftwareTexture::Release() { return device_->CountReference(this, CallKind::Release); }
HRESULT SoftwareTexture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags)
{
    return device_->TextureLockRect(this, Level, pLockedRect, pRect, Flags);
}
HRESULT SoftwareTexture::UnlockRect(UINT Level) { return device_->ObjectUnlock(this, CallKind::UnlockRect, Level); }

uint32_t SoftwareTexture::Texel(int x, int y) const
{
    uint32_t texel;
    std::memcpy(&texel, memory_.data() + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * 4, 4);
    return texel;
}

void SoftwareTexture::SetTexel(int x, int y, uint32_t value)
{
    std::memcpy(memory_.data() + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * 4, &value, 4);
}

void SoftwareTexture::CopyTexels(std::vector<uint32_t>& out) const
{
    if (destroyed_) {
        out.clear();
        return;
    }
    out.resize(static_cast<size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y)
        std::memcpy(out.data() + static_cast<size_t>(y) * width_, memory_.data() + static_cast<size_t>(y) * pitch_,
                    static_cast<size_t>(width_) * 4);
}

ULONG SoftwareVertexBuffer::AddRef() { return device_->CountReference(this, CallKind::AddRef); }
ULONG SoftwareVertexBuffer::Release() { return device_->CountReference(this, CallKind::Release); }
HRESULT SoftwareVertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags)
{
    return device_->BufferLock(this, OffsetToLock, SizeToLock, ppbData, Flags);
}
HRESULT SoftwareVertexBuffer::Unlock() { return device_->ObjectUnlock(this, CallKind::Unlock, 0); }

// ---------------------------------------------------------------------------
// Device, modes

SoftwareDevice::SoftwareDevice(int width, int height)
    : width_(width > 0 ? width : 1),
      height_(height > 0 ? height : 1),
      backBuffer_(static_cast<size_t>(width_) * height_, 0u),
      depthBuffer_(static_cast<size_t>(width_) * height_, 1.0f)
{
    for (const StateRule& rule : renderStateRules)
        renderStates_[rule.state] = rule.defaultValue;
    for (const StateRule& rule : samplerStateRules)
        samplerStates_[rule.state] = rule.defaultValue;
    for (D3DMATRIX& m : transforms_)
        m = Identity();
}

SoftwareDevice::~SoftwareDevice() = default;  // objects_ frees every object, zombie or not

void SoftwareDevice::SkipRasterizing(bool skip)
{
    if (skip == skipRasterizing_)
        return;
    skipRasterizing_ = skip;
    if (skip) {
        savedRecording_ = Recording();
        SetRecording(false);
    } else {
        SetRecording(savedRecording_);
    }
}

uint32_t SoftwareDevice::SentinelWord(uint32_t fillIndex)
{
    return 0xDEADBEEFu ^ ((fillIndex * 0x00010307u) & 0x00FFFFFFu);
}

void SoftwareDevice::FillSentinel(std::vector<uint8_t>& memory, DWORD lockFlags)
{
    if (skipRasterizing_ || sentinelMode_ == SentinelMode::Off || (lockFlags & D3DLOCK_DISCARD) == 0)
        return;
    uint32_t word = SentinelWord(sentinelFills_++);
    uint8_t pattern[4];
    std::memcpy(pattern, &word, 4);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = pattern[i & 3];
}

// ---------------------------------------------------------------------------
// Objects and references

SoftwareObject* SoftwareDevice::Find(const IUnknown_standin* object) const
{
    const SoftwareObject* found = dynamic_cast<const SoftwareObject*>(object);
    if (found == nullptr || found->device_ != this)
        return nullptr;
    return const_cast<SoftwareObject*>(found);
}

int SoftwareDevice::IdOf(const IDirect3DResource9* object)
{
    const SoftwareObject* found = dynamic_cast<const SoftwareObject*>(object);
    return found == nullptr ? 0 : found->Id();
}

// AddRef or Release. Neither can be made to fail; on an object whose count
// is already 0 they return 0 and count a use after release or an
// over-release.
ULONG SoftwareDevice::CountReference(SoftwareObject* object, CallKind kind)
{
    Open(kind);
    DeviceCall call(kind);
    call.objectId = object->id_;
    const bool adding = kind == CallKind::AddRef;
    if (object->refCount_ == 0) {
        ++(adding ? usesAfterRelease_ : overReleases_);
        Record(call, 0, true);
        return 0;
    }
    const ULONG count = adding ? ++object->refCount_ : --object->refCount_;
    Record(call, static_cast<HRESULT>(count), false);
    if (count == 0)
        DestroyIfUnused(object);
    return count;
}

bool SoftwareDevice::UsedAfterRelease(const SoftwareObject& object)
{
    if (object.refCount_ != 0)
        return false;
    ++usesAfterRelease_;
    return true;
}

// Binds `object` in `slot`, or unbinds for null `given`; refused for a
// foreign object and for one the caller has released. The new binding is held
// before the old one is let go, so rebinding the same object never destroys
// it on the way.
template <typename Object>
HRESULT SoftwareDevice::Bind(Object*& slot, Object* object, const void* given)
{
    if (given != nullptr && object == nullptr)
        return D3DERR_INVALIDCALL;
    if (object != nullptr && UsedAfterRelease(*object))
        return D3DERR_INVALIDCALL;
    Object* previous = slot;
    if (object != nullptr)
        ++object->bindings_;
    slot = object;
    if (previous != nullptr) {
        --previous->bindings_;
        DestroyIfUnused(previous);
    }
    return S_OK;
}

void SoftwareDevice::DestroyIfUnused(SoftwareObject* object)
{
    if (object->refCount_ == 0 && object->bindings_ == 0 && !object->destroyed_) {
        object->destroyed_ = true;
        object->locked_ = false;
        std::vector<uint8_t>().swap(object->memory_);
    }
}

int SoftwareDevice::LiveObjectCount() const
{
    return static_cast<int>(std::count_if(objects_.begin(), objects_.end(),
                                          [](const std::unique_ptr<SoftwareObject>& o) { return o->refCount_ > 0; }));
}

int SoftwareDevice::ExistingObjectCount() const
{
    return static_cast<int>(std::count_if(objects_.begin(), objects_.end(),
                                          [](const std::unique_ptr<SoftwareObject>& o) { return !o->destroyed_; }));
}

SoftwareTexture* SoftwareDevice::TextureById(int id) const
{
    if (id < 1 || id > static_cast<int>(objects_.size()))
        return nullptr;
    return dynamic_cast<SoftwareTexture*>(objects_[id - 1].get());
}

bool SoftwareDevice::ReadTexels(IDirect3DTexture9* texture, std::vector<uint32_t>& out, int& width, int& height)
{
    const SoftwareTexture* software = dynamic_cast<const SoftwareTexture*>(texture);
    if (software == nullptr || software->IsDestroyed())
        return false;
    software->CopyTexels(out);
    width = software->Width();
    height = software->Height();
    return true;
}

bool SoftwareDevice::ReadVertexBytes(IDirect3DVertexBuffer9* buffer, std::vector<uint8_t>& out)
{
    const SoftwareVertexBuffer* software = dynamic_cast<const SoftwareVertexBuffer*>(buffer);
    if (software == nullptr || software->IsDestroyed())
        return false;
    out = software->Bytes();
    return true;
}

// ---------------------------------------------------------------------------
// Creation

HRESULT SoftwareDevice::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                                      IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle)
{
    DeviceCall call(CallKind::CreateTexture);
    call.width = Width;
    call.height = Height;
    call.levels = Levels;
    call.usage = Usage;
    call.format = Format;
    call.pool = Pool;
    call.sharedHandleGiven = pSharedHandle != nullptr;
    if (ppTexture != nullptr)
        *ppTexture = nullptr;
    return Call(
        call,
        [&]() -> HRESULT {
            // Shared handles need Direct3D 9Ex.
            if (ppTexture == nullptr || Width == 0 || Height == 0 || Width > 16384 || Height > 16384 || Levels != 1 ||
                Format != D3DFMT_A8R8G8B8 || Pool != D3DPOOL_DEFAULT || pSharedHandle != nullptr)
                return D3DERR_INVALIDCALL;
            call.objectId = ObjectCount() + 1;
            auto* texture = new SoftwareTexture(this, call.objectId, Width, Height, (Usage & D3DUSAGE_DYNAMIC) != 0);
            objects_.emplace_back(texture);
            *ppTexture = texture;
            return S_OK;
        },
        D3DERR_OUTOFVIDEOMEMORY);
}

// The usage is recorded and otherwise ignored: every vertex buffer can be
// locked, as on a real device.
HRESULT SoftwareDevice::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                           IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle)
{
    DeviceCall call(CallKind::CreateVertexBuffer);
    call.length = Length;
    call.usage = Usage;
    call.fvf = FVF;
    call.pool = Pool;
    call.sharedHandleGiven = pSharedHandle != nullptr;
    if (ppVertexBuffer != nullptr)
        *ppVertexBuffer = nullptr;
    return Call(
        call,
        [&]() -> HRESULT {
            if (ppVertexBuffer == nullptr || Length == 0 || Pool != D3DPOOL_DEFAULT || pSharedHandle != nullptr)
                return D3DERR_INVALIDCALL;
            call.objectId = ObjectCount() + 1;
            auto* buffer = new SoftwareVertexBuffer(this, call.objectId, Length);
            objects_.emplace_back(buffer);
            *ppVertexBuffer = buffer;
            return S_OK;
        },
        D3DERR_OUTOFVIDEOMEMORY);
}

// ---------------------------------------------------------------------------
// Locks: level 0 of a texture as a whole, any range of a vertex buffer; the
// flags other than D3DLOCK_DISCARD are recorded and otherwise ignored.

HRESULT SoftwareDevice::TextureLockRect(SoftwareTexture* texture, UINT level, D3DLOCKED_RECT* lockedRect,
                                        const RECT* rect, DWORD flags)
{
    DeviceCall call(CallKind::LockRect);
    call.objectId = texture->id_;
    call.level = level;
    call.rectGiven = rect != nullptr;
    call.flags = flags;
    if (lockedRect != nullptr)
        *lockedRect = D3DLOCKED_RECT{0, nullptr};
    return Call(call, [&]() -> HRESULT {
        if (UsedAfterRelease(*texture))
            return D3DERR_INVALIDCALL;
        // A default-pool texture is lockable only when dynamic.
        if (lockedRect == nullptr || level != 0 || rect != nullptr || texture->locked_ || !texture->dynamic_)
            return D3DERR_INVALIDCALL;
        texture->locked_ = true;
        FillSentinel(texture->memory_, flags);
        lockedRect->Pitch = texture->pitch_;
        lockedRect->pBits = texture->memory_.data();
        return S_OK;
    });
}

HRESULT SoftwareDevice::BufferLock(SoftwareVertexBuffer* buffer, UINT offset, UINT size, void** data, DWORD flags)
{
    DeviceCall call(CallKind::Lock);
    call.objectId = buffer->id_;
    call.offset = offset;
    call.size = size;
    call.flags = flags;
    if (data != nullptr)
        *data = nullptr;
    return Call(call, [&]() -> HRESULT {
        if (UsedAfterRelease(*buffer))
            return D3DERR_INVALIDCALL;
        // Offset and size 0 together lock the whole buffer; size 0 alone
        // locks from the offset to the end.
        const uint64_t length = buffer->memory_.size();
        const uint64_t end = size == 0 ? length : uint64_t(offset) + size;
        if (data == nullptr || buffer->locked_ || offset >= length || end > length)
            return D3DERR_INVALIDCALL;
        buffer->locked_ = true;
        FillSentinel(buffer->memory_, flags);
        *data = buffer->memory_.data() + offset;
        return S_OK;
    });
}

HRESULT SoftwareDevice::ObjectUnlock(SoftwareObject* object, CallKind kind, UINT level)
{
    DeviceCall call(kind);
    call.objectId = object->id_;
    call.level = level;
    return Call(call, [&]() -> HRESULT {
        if (UsedAfterRelease(*object))
            return D3DERR_INVALIDCALL;
        if (level != 0 || !object->locked_)
            return D3DERR_INVALIDCALL;
        object->locked_ = false;
        return S_OK;
    });
}

// ---------------------------------------------------------------------------
// State

HRESULT SoftwareDevice::SetFVF(DWORD FVF)
{
    DeviceCall call(CallKind::SetFVF);
    call.fvf = FVF;
    return Call(call, [&]() -> HRESULT {
        if (FVF != 0 && FVF != stripVertexFormat)
            return D3DERR_INVALIDCALL;
        fvf_ = FVF;
        return S_OK;
    });
}

HRESULT SoftwareDevice::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value)
{
    DeviceCall call(CallKind::SetRenderState);
    call.stateType = static_cast<DWORD>(State);
    call.value = Value;
    return Call(call, [&]() -> HRESULT {
        if (!Settable(renderStateRules, State, Value))
            return D3DERR_INVALIDCALL;
        renderStates_[State] = Value;
        return S_OK;
    });
}

HRESULT SoftwareDevice::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value)
{
    DeviceCall call(CallKind::SetSamplerState);
    call.stage = Sampler;
    call.stateType = static_cast<DWORD>(Type);
    call.value = Value;
    return Call(call, [&]() -> HRESULT {
        if (Sampler != 0 || !Settable(samplerStateRules, Type, Value))
            return D3DERR_INVALIDCALL;
        samplerStates_[Type] = Value;
        return S_OK;
    });
}

HRESULT SoftwareDevice::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture)
{
    SoftwareTexture* texture = dynamic_cast<SoftwareTexture*>(Find(pTexture));
    DeviceCall call(CallKind::SetTexture);
    call.stage = Stage;
    call.objectId = texture != nullptr ? texture->id_ : 0;
    return Call(call, [&]() { return Stage != 0 ? D3DERR_INVALIDCALL : Bind(texture_, texture, pTexture); });
}

HRESULT SoftwareDevice::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                        UINT Stride)
{
    SoftwareVertexBuffer* buffer = dynamic_cast<SoftwareVertexBuffer*>(Find(pStreamData));
    DeviceCall call(CallKind::SetStreamSource);
    call.stage = StreamNumber;
    call.objectId = buffer != nullptr ? buffer->id_ : 0;
    call.offset = OffsetInBytes;
    call.stride = Stride;
    return Call(call, [&]() -> HRESULT {
        const HRESULT result = StreamNumber != 0 ? D3DERR_INVALIDCALL : Bind(stream_, buffer, pStreamData);
        if (SUCCEEDED(result)) {
            streamOffset_ = OffsetInBytes;
            streamStride_ = Stride;
        }
        return result;
    });
}

HRESULT SoftwareDevice::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix)
{
    DeviceCall call(CallKind::SetTransform);
    call.stateType = static_cast<DWORD>(State);
    call.matrixGiven = pMatrix != nullptr;
    if (pMatrix != nullptr)
        call.matrix = *pMatrix;
    return Call(call, [&]() -> HRESULT {
        const int index = TransformIndex(State);
        if (pMatrix == nullptr || index < 0)
            return D3DERR_INVALIDCALL;
        transforms_[index] = *pMatrix;
        return S_OK;
    });
}

int SoftwareDevice::TransformIndex(DWORD type)
{
    switch (type) {
    case D3DTS_WORLD:
        return WorldSlot;
    case D3DTS_VIEW:
        return ViewSlot;
    case D3DTS_PROJECTION:
        return ProjectionSlot;
    default:
        return -1;
    }
}

DWORD SoftwareDevice::RenderState(D3DRENDERSTATETYPE state) const
{
    const DWORD index = static_cast<DWORD>(state);
    return index < static_cast<DWORD>(renderStates) ? renderStates_[index] : 0;
}

DWORD SoftwareDevice::SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const
{
    const DWORD index = static_cast<DWORD>(type);
    return sampler == 0 && index < static_cast<DWORD>(samplerStates) ? samplerStates_[index] : 0;
}

D3DMATRIX SoftwareDevice::Transform(D3DTRANSFORMSTATETYPE state) const
{
    const int index = TransformIndex(state);
    return index < 0 ? Identity() : transforms_[index];
}

// ---------------------------------------------------------------------------
// Scenes, Clear and DrawPrimitive

HRESULT SoftwareDevice::BeginScene()
{
    DeviceCall call(CallKind::BeginScene);
    return Call(call, [&]() -> HRESULT {
        if (inScene_)
            return D3DERR_INVALIDCALL;
        inScene_ = true;
        sceneDrawCount_ = 0;
        sceneClear_ = SceneClear{};
        return S_OK;
    });
}

HRESULT SoftwareDevice::EndScene()
{
    DeviceCall call(CallKind::EndScene);
    return Call(call, [&]() -> HRESULT {
        if (!inScene_)
            return D3DERR_INVALIDCALL;
        inScene_ = false;
        return S_OK;
    });
}

// The whole target and depth buffer only: no rectangles and, the depth
// buffer having no stencil bits, no stencil.
HRESULT SoftwareDevice::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z, DWORD Stencil)
{
    DeviceCall call(CallKind::Clear);
    call.rectCount = Count;
    call.rectsGiven = pRects != nullptr;
    call.flags = Flags;
    call.color = Color;
    call.z = Z;
    call.stencil = Stencil;
    return Call(call, [&]() -> HRESULT {
        const bool target = (Flags & D3DCLEAR_TARGET) != 0;
        const bool depth = (Flags & D3DCLEAR_ZBUFFER) != 0;
        if (Count != 0 || pRects != nullptr || (!target && !depth) ||
            (Flags & ~static_cast<DWORD>(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER)) != 0 ||
            (depth && !(Z >= 0.0f && Z <= 1.0f)))
            return D3DERR_INVALIDCALL;
        sceneClear_ = SceneClear{Flags, Color, Z};
        if (skipRasterizing_)
            return S_OK;
        if (target)
            std::fill(backBuffer_.begin(), backBuffer_.end(), Color);
        if (depth)
            std::fill(depthBuffer_.begin(), depthBuffer_.end(), Z);
        return S_OK;
    });
}

HRESULT SoftwareDevice::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount)
{
    DeviceCall call(CallKind::DrawPrimitive);
    call.primitiveType = PrimitiveType;
    call.startVertex = StartVertex;
    call.primitiveCount = PrimitiveCount;
    return Call(call, [&]() -> HRESULT {
        if (PrimitiveType != D3DPT_TRIANGLESTRIP)
            return D3DERR_INVALIDCALL;
        const HRESULT result = Draw(StartVertex, PrimitiveCount);
        if (SUCCEEDED(result))
            RememberDraw(StartVertex, PrimitiveCount);
        return result;
    });
}

// Checks a strip draw and, unless rasterizing is skipped, rasterizes it.
HRESULT SoftwareDevice::Draw(UINT startVertex, UINT primitiveCount)
{
    if (!inScene_ || fvf_ != stripVertexFormat || stream_ == nullptr)
        return D3DERR_INVALIDCALL;
    if (primitiveCount == 0)
        return S_OK;
    const uint64_t vertexCount = uint64_t(primitiveCount) + 2;
    const uint64_t firstByte = uint64_t(streamOffset_) + uint64_t(startVertex) * streamStride_;
    if (firstByte + (vertexCount - 1) * streamStride_ + stripVertexBytes > stream_->memory_.size())
        return D3DERR_INVALIDCALL;
    if (skipRasterizing_)
        return S_OK;

    const RasterTarget target = {backBuffer_.data(), depthBuffer_.data(), width_, height_};
    RasterState state;
    state.world = transforms_[WorldSlot];
    state.view = transforms_[ViewSlot];
    state.projection = transforms_[ProjectionSlot];
    state.lighting = renderStates_[D3DRS_LIGHTING] != FALSE;
    state.cullCounterClockwise = renderStates_[D3DRS_CULLMODE] == D3DCULL_CCW;
    state.blend = renderStates_[D3DRS_ALPHABLENDENABLE] != FALSE;
    state.sourceAlpha = renderStates_[D3DRS_SRCBLEND] == D3DBLEND_SRCALPHA;
    state.inverseSourceAlpha = renderStates_[D3DRS_DESTBLEND] == D3DBLEND_INVSRCALPHA;
    state.minifyLinear = samplerStates_[D3DSAMP_MINFILTER] != D3DTEXF_POINT;
    state.magnifyLinear = samplerStates_[D3DSAMP_MAGFILTER] != D3DTEXF_POINT;
    RasterTexture texture = {};
    if (texture_ != nullptr)
        texture = {texture_->memory_.data(), texture_->width_, texture_->height_, texture_->pitch_};
    DrawTriangleStrip(target, state, texture_ != nullptr ? &texture : nullptr, stream_->memory_.data() + firstByte,
                      streamStride_, primitiveCount);
    return S_OK;
}

void SoftwareDevice::RememberDraw(UINT startVertex, UINT primitiveCount)
{
    if (sceneDrawCount_ < sceneDrawCapacity) {
        SceneDraw& draw = sceneDraws_[sceneDrawCount_];
        draw.type = D3DPT_TRIANGLESTRIP;
        draw.startVertex = startVertex;
        draw.primitiveCount = primitiveCount;
        draw.texture = texture_;
        draw.stream = stream_;
        draw.streamOffset = streamOffset_;
        draw.streamStride = streamStride_;
        draw.fvf = fvf_;
        draw.world = transforms_[WorldSlot];
        draw.view = transforms_[ViewSlot];
        draw.projection = transforms_[ProjectionSlot];
    }
    if (sceneDrawCount_ < 0x7FFFFFFF)
        ++sceneDrawCount_;
}
