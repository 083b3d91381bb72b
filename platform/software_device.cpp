// The software Direct3D 9 device: bookkeeping, call log, failure injection,
// locks, and a small fixed-function rasterizer. See software_device.h for the
// conventions it follows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "platform/software_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Real Direct3D 9 values of states and constants the stand-in header does not
// declare but the device honours, so that its defaults match a real device.
constexpr DWORD kRsFillMode = 8;
constexpr DWORD kRsShadeMode = 9;
constexpr DWORD kRsAlphaTestEnable = 15;
constexpr DWORD kRsLastPixel = 16;
constexpr DWORD kRsAlphaRef = 24;
constexpr DWORD kRsAlphaFunc = 25;
constexpr DWORD kRsStencilMask = 58;
constexpr DWORD kRsStencilWriteMask = 59;
constexpr DWORD kRsTextureFactor = 60;
constexpr DWORD kRsClipping = 136;
constexpr DWORD kRsColorVertex = 141;
constexpr DWORD kRsLocalViewer = 142;
constexpr DWORD kRsDiffuseMaterialSource = 145;
constexpr DWORD kRsSpecularMaterialSource = 146;
constexpr DWORD kRsColorWriteEnable = 168;
constexpr DWORD kRsBlendOp = 171;

constexpr DWORD kSampAddressU = 1;
constexpr DWORD kSampAddressV = 2;
constexpr DWORD kSampAddressW = 3;
constexpr DWORD kSampBorderColor = 4;

constexpr DWORD kAddressWrap = 1;
constexpr DWORD kAddressMirror = 2;
constexpr DWORD kAddressClamp = 3;
constexpr DWORD kAddressBorder = 4;
constexpr DWORD kAddressMirrorOnce = 5;

constexpr DWORD kBlendSrcColor = 3;
constexpr DWORD kBlendInvSrcColor = 4;
constexpr DWORD kBlendDestAlpha = 7;
constexpr DWORD kBlendInvDestAlpha = 8;
constexpr DWORD kBlendDestColor = 9;
constexpr DWORD kBlendInvDestColor = 10;
constexpr DWORD kBlendSrcAlphaSat = 11;
constexpr DWORD kBlendBothSrcAlpha = 12;
constexpr DWORD kBlendBothInvSrcAlpha = 13;

constexpr DWORD kBlendOpAdd = 1;
constexpr DWORD kBlendOpSubtract = 2;
constexpr DWORD kBlendOpRevSubtract = 3;
constexpr DWORD kBlendOpMin = 4;
constexpr DWORD kBlendOpMax = 5;

constexpr DWORD kMcsColor1 = 1;

constexpr DWORD kFvfPositionMask = 0x400E;
constexpr DWORD kFvfNormal = 0x010;
constexpr DWORD kFvfPsize = 0x020;
constexpr DWORD kFvfSpecular = 0x080;
constexpr DWORD kFvfTexCountMask = 0xF00;
constexpr DWORD kFvfTexCountShift = 8;

constexpr int kSubpixelBits = 8;
constexpr int64_t kSubpixelOne = int64_t(1) << kSubpixelBits;

const char* const kCallKindNames[] = {
    "CreateTexture", "CreateVertexBuffer", "SetFVF", "SetRenderState", "SetSamplerState", "SetTexture",
    "BeginScene", "EndScene", "Clear", "SetTransform", "SetStreamSource", "DrawPrimitive",
    "LockRect", "UnlockRect", "Lock", "Unlock", "AddRef", "Release",
};
static_assert(sizeof(kCallKindNames) / sizeof(kCallKindNames[0]) == static_cast<size_t>(CallKind::Count_),
              "one name per call kind");

struct NamedValue {
    DWORD value;
    const char* name;
};

const NamedValue kRenderStateNames[] = {
    {7, "D3DRS_ZENABLE"},          {8, "D3DRS_FILLMODE"},          {9, "D3DRS_SHADEMODE"},
    {14, "D3DRS_ZWRITEENABLE"},    {15, "D3DRS_ALPHATESTENABLE"},  {19, "D3DRS_SRCBLEND"},
    {20, "D3DRS_DESTBLEND"},       {22, "D3DRS_CULLMODE"},         {23, "D3DRS_ZFUNC"},
    {24, "D3DRS_ALPHAREF"},        {25, "D3DRS_ALPHAFUNC"},        {27, "D3DRS_ALPHABLENDENABLE"},
    {137, "D3DRS_LIGHTING"},       {139, "D3DRS_AMBIENT"},         {168, "D3DRS_COLORWRITEENABLE"},
    {171, "D3DRS_BLENDOP"},
};
const NamedValue kSamplerStateNames[] = {
    {1, "D3DSAMP_ADDRESSU"},  {2, "D3DSAMP_ADDRESSV"},  {3, "D3DSAMP_ADDRESSW"},
    {4, "D3DSAMP_BORDERCOLOR"}, {5, "D3DSAMP_MAGFILTER"}, {6, "D3DSAMP_MINFILTER"},
    {7, "D3DSAMP_MIPFILTER"}, {10, "D3DSAMP_MAXANISOTROPY"},
};
const NamedValue kFormatNames[] = {{21, "D3DFMT_A8R8G8B8"}, {22, "D3DFMT_X8R8G8B8"}};
const NamedValue kPoolNames[] = {
    {0, "D3DPOOL_DEFAULT"}, {1, "D3DPOOL_MANAGED"}, {2, "D3DPOOL_SYSTEMMEM"}, {3, "D3DPOOL_SCRATCH"}};
const NamedValue kPrimitiveNames[] = {
    {1, "D3DPT_POINTLIST"},     {2, "D3DPT_LINELIST"},     {3, "D3DPT_LINESTRIP"},
    {4, "D3DPT_TRIANGLELIST"},  {5, "D3DPT_TRIANGLESTRIP"}, {6, "D3DPT_TRIANGLEFAN"},
};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

// Nine significant digits read back to the same float.
std::string FloatText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

template <size_t N>
std::string NameOr(const NamedValue (&table)[N], DWORD value) {
    for (const NamedValue& entry : table)
        if (entry.value == value) return entry.name;
    return std::to_string(static_cast<unsigned long>(value));
}

std::string TransformName(DWORD type) {
    if (type == 2) return "D3DTS_VIEW";
    if (type == 3) return "D3DTS_PROJECTION";
    if (type >= 16 && type <= 23) return "D3DTS_TEXTURE" + std::to_string(static_cast<unsigned long>(type - 16));
    if (type == 256) return "D3DTS_WORLD";
    if (type > 256 && type < 512)
        return "D3DTS_WORLDMATRIX(" + std::to_string(static_cast<unsigned long>(type - 256)) + ")";
    return std::to_string(static_cast<unsigned long>(type));
}

std::string ObjectText(int id) { return id == 0 ? std::string("null") : "#" + std::to_string(id); }

bool IsValidTransform(DWORD type) {
    return type == 2 || type == 3 || (type >= 16 && type <= 23) || (type >= 256 && type < 512);
}

D3DMATRIX Identity() {
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

bool PassesComparison(DWORD function, float a, float b) {
    switch (function) {
        case D3DCMP_NEVER: return false;
        case D3DCMP_LESS: return a < b;
        case D3DCMP_EQUAL: return a == b;
        case D3DCMP_LESSEQUAL: return a <= b;
        case D3DCMP_GREATER: return a > b;
        case D3DCMP_NOTEQUAL: return a != b;
        case D3DCMP_GREATEREQUAL: return a >= b;
        default: return true;  // D3DCMP_ALWAYS and anything unknown
    }
}

int ToChannel(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<int>(value + 0.5);
}

uint32_t PackColor(int a, int r, int g, int b) {
    return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
           static_cast<uint32_t>(b);
}

// Maps a texel index outside [0, size) by the sampler's address mode; -1
// stands for the border colour.
int AddressTexel(int index, int size, DWORD mode) {
    if (index >= 0 && index < size) return index;
    switch (mode) {
        case kAddressMirror: {
            int period = 2 * size;
            int m = index % period;
            if (m < 0) m += period;
            return m < size ? m : period - 1 - m;
        }
        case kAddressClamp: return index < 0 ? 0 : size - 1;
        case kAddressBorder: return -1;
        case kAddressMirrorOnce: {
            int m = index < 0 ? -(index + 1) : index;
            return m < size ? m : size - 1;
        }
        default: {  // wrap, the default
            int m = index % size;
            return m < 0 ? m + size : m;
        }
    }
}

// Texel coordinates are kept within +-2^30 so that they convert to int; a
// coordinate that far out only comes from degenerate geometry.
double ClampTexelCoordinate(double x) {
    if (!(x > -1073741824.0)) return -1073741824.0;  // also NaN
    if (x > 1073741824.0) return 1073741824.0;
    return x;
}

// floor() through a 32-bit conversion: on 32-bit x86 the library floor and
// 64-bit conversions go through the x87 unit, many times slower than SSE2.
int FloorToInt(double x) {
    int i = static_cast<int>(x);
    return i > x ? i - 1 : i;
}

// Floor of a / 2^kSubpixelBits for signed values; >> of a negative int64 is
// an arithmetic shift on every compiler we build with.
int64_t FloorPixel(int64_t subpixels) { return subpixels >> kSubpixelBits; }
int64_t CeilPixel(int64_t subpixels) { return (subpixels + kSubpixelOne - 1) >> kSubpixelBits; }

}  // namespace

const char* CallKindName(CallKind kind) {
    int index = static_cast<int>(kind);
    if (index < 0 || index >= static_cast<int>(CallKind::Count_)) return "?";
    return kCallKindNames[index];
}

// ---------------------------------------------------------------------------
// DeviceCall

std::string DeviceCall::Describe() const {
    std::string text;
    auto u = [](unsigned long v) { return std::to_string(v); };
    switch (kind) {
        case CallKind::CreateTexture:
            text = "CreateTexture(" + u(width) + ", " + u(height) + ", " + u(levels) + ", " + Hex(usage) + ", " +
                   NameOr(kFormatNames, format) + ", " + NameOr(kPoolNames, pool) + ", " +
                   (sharedHandleGiven ? "handle" : "null") + ") -> " + ObjectText(objectId);
            break;
        case CallKind::CreateVertexBuffer:
            text = "CreateVertexBuffer(" + u(length) + ", " + Hex(usage) + ", " + Hex(fvf) + ", " +
                   NameOr(kPoolNames, pool) + ", " + (sharedHandleGiven ? "handle" : "null") + ") -> " +
                   ObjectText(objectId);
            break;
        case CallKind::SetFVF: text = "SetFVF(" + Hex(fvf) + ")"; break;
        case CallKind::SetRenderState:
            text = "SetRenderState(" + NameOr(kRenderStateNames, stateType) + ", " + u(value) + ")";
            break;
        case CallKind::SetSamplerState:
            text = "SetSamplerState(" + u(stage) + ", " + NameOr(kSamplerStateNames, stateType) + ", " + u(value) + ")";
            break;
        case CallKind::SetTexture: text = "SetTexture(" + u(stage) + ", " + ObjectText(objectId) + ")"; break;
        case CallKind::BeginScene: text = "BeginScene()"; break;
        case CallKind::EndScene: text = "EndScene()"; break;
        case CallKind::Clear:
            text = "Clear(" + u(rectCount) + ", " + (rectsGiven ? "rects" : "null") + ", " + Hex(flags) + ", " +
                   Hex(color) + ", " + FloatText(z) + ", " + u(stencil) + ")";
            break;
        case CallKind::SetTransform:
            text = "SetTransform(" + TransformName(stateType) + ", ";
            if (!matrixGiven) {
                text += "null";
            } else {
                text += "[";
                for (int row = 0; row < 4; ++row)
                    for (int column = 0; column < 4; ++column)
                        text += FloatText(matrix.m[row][column]) + (column < 3 ? " " : row < 3 ? "; " : "]");
            }
            text += ")";
            break;
        case CallKind::SetStreamSource:
            text = "SetStreamSource(" + u(stage) + ", " + ObjectText(objectId) + ", " + u(offset) + ", " +
                   u(stride) + ")";
            break;
        case CallKind::DrawPrimitive:
            text = "DrawPrimitive(" + NameOr(kPrimitiveNames, primitiveType) + ", " + u(startVertex) + ", " +
                   u(primitiveCount) + ")";
            break;
        case CallKind::LockRect:
            text = ObjectText(objectId) + "->LockRect(" + u(level) + ", ";
            if (rectGiven)
                text += "[" + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                        std::to_string(rect.right) + " " + std::to_string(rect.bottom) + "]";
            else
                text += "null";
            text += ", " + Hex(flags) + ")";
            break;
        case CallKind::UnlockRect: text = ObjectText(objectId) + "->UnlockRect(" + u(level) + ")"; break;
        case CallKind::Lock:
            text = ObjectText(objectId) + "->Lock(" + u(offset) + ", " + u(size) + ", " + Hex(flags) + ")";
            break;
        case CallKind::Unlock: text = ObjectText(objectId) + "->Unlock()"; break;
        case CallKind::AddRef:
            text = ObjectText(objectId) + "->AddRef() -> " + u(static_cast<uint32_t>(result));
            break;
        case CallKind::Release:
            text = ObjectText(objectId) + "->Release() -> " + u(static_cast<uint32_t>(result));
            break;
        case CallKind::Count_: text = "?"; break;
    }
    if (failed) {
        if (kind == CallKind::Release)
            text += " OVER-RELEASE";
        else if (kind == CallKind::AddRef)
            text += " USE-AFTER-RELEASE";
        else
            text += " FAILED(" + Hex(static_cast<uint32_t>(result)) + ")";
    }
    return text;
}

// ---------------------------------------------------------------------------
// Textures and vertex buffers

SoftwareTexture::SoftwareTexture(SoftwareDevice* device, int id, UINT width, UINT height, UINT levels, DWORD usage,
                                 D3DFORMAT format, D3DPOOL pool)
    : SoftwareObject(device, id),
      width_(static_cast<int>(width)),
      height_(static_cast<int>(height)),
      levels_(levels),
      usage_(usage),
      format_(format),
      pool_(pool),
      // Rows padded by 64 bytes, as drivers align them: code that steps rows by
      // width x 4 instead of the pitch draws a sheared picture.
      pitch_(static_cast<int>(width) * 4 + 64),
      memory_(static_cast<size_t>(pitch_) * height, 0) {}

ULONG SoftwareTexture::AddRef() { return device_->AddRefObject(this); }
ULONG SoftwareTexture::Release() { return device_->ReleaseObject(this); }
HRESULT SoftwareTexture::LockRect(UINT Level, D3DLOCKED_RECT* pLockedRect, const RECT* pRect, DWORD Flags) {
    return device_->TextureLockRect(this, Level, pLockedRect, pRect, Flags);
}
HRESULT SoftwareTexture::UnlockRect(UINT Level) { return device_->TextureUnlockRect(this, Level); }

uint32_t SoftwareTexture::Texel(int x, int y) const {
    uint32_t texel;
    std::memcpy(&texel, Row(y) + static_cast<size_t>(x) * 4, 4);
    return texel;
}

void SoftwareTexture::SetTexel(int x, int y, uint32_t value) {
    std::memcpy(memory_.data() + static_cast<size_t>(y) * pitch_ + static_cast<size_t>(x) * 4, &value, 4);
}

std::vector<uint32_t> SoftwareTexture::Texels() const {
    std::vector<uint32_t> texels;
    if (destroyed_) return texels;
    texels.resize(static_cast<size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y)
        std::memcpy(texels.data() + static_cast<size_t>(y) * width_, Row(y), static_cast<size_t>(width_) * 4);
    return texels;
}

void SoftwareTexture::FreeMemory() { std::vector<uint8_t>().swap(memory_); }

SoftwareVertexBuffer::SoftwareVertexBuffer(SoftwareDevice* device, int id, UINT length, DWORD usage, DWORD fvf,
                                           D3DPOOL pool)
    : SoftwareObject(device, id), length_(length), usage_(usage), fvf_(fvf), pool_(pool), memory_(length, 0) {}

ULONG SoftwareVertexBuffer::AddRef() { return device_->AddRefObject(this); }
ULONG SoftwareVertexBuffer::Release() { return device_->ReleaseObject(this); }
HRESULT SoftwareVertexBuffer::Lock(UINT OffsetToLock, UINT SizeToLock, void** ppbData, DWORD Flags) {
    return device_->BufferLock(this, OffsetToLock, SizeToLock, ppbData, Flags);
}
HRESULT SoftwareVertexBuffer::Unlock() { return device_->BufferUnlock(this); }

void SoftwareVertexBuffer::FreeMemory() { std::vector<uint8_t>().swap(memory_); }

// ---------------------------------------------------------------------------
// Device: construction, log, failures

SoftwareDevice::SoftwareDevice(int width, int height)
    : width_(width > 0 ? width : 1),
      height_(height > 0 ? height : 1),
      backBuffer_(static_cast<size_t>(width_) * height_, 0u),
      depthBuffer_(static_cast<size_t>(width_) * height_, 1.0f) {
    std::fill(std::begin(renderStates_), std::end(renderStates_), 0u);
    // Direct3D 9's documented defaults for the states the device looks at.
    renderStates_[D3DRS_ZENABLE] = D3DZB_TRUE;  // as with an automatic depth buffer
    renderStates_[kRsFillMode] = 3;             // D3DFILL_SOLID
    renderStates_[kRsShadeMode] = 2;            // D3DSHADE_GOURAUD
    renderStates_[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates_[kRsAlphaTestEnable] = FALSE;
    renderStates_[kRsLastPixel] = TRUE;
    renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates_[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates_[kRsAlphaRef] = 0;
    renderStates_[kRsAlphaFunc] = D3DCMP_ALWAYS;
    renderStates_[D3DRS_ALPHABLENDENABLE] = FALSE;
    renderStates_[kRsStencilMask] = 0xFFFFFFFFu;
    renderStates_[kRsStencilWriteMask] = 0xFFFFFFFFu;
    renderStates_[kRsTextureFactor] = 0xFFFFFFFFu;
    renderStates_[kRsClipping] = TRUE;
    renderStates_[D3DRS_LIGHTING] = TRUE;
    renderStates_[kRsColorVertex] = TRUE;
    renderStates_[kRsLocalViewer] = TRUE;
    renderStates_[kRsDiffuseMaterialSource] = kMcsColor1;
    renderStates_[kRsSpecularMaterialSource] = 2;  // D3DMCS_COLOR2
    renderStates_[kRsColorWriteEnable] = 0xF;
    renderStates_[kRsBlendOp] = kBlendOpAdd;

    for (auto& sampler : samplerStates_) {
        std::fill(std::begin(sampler), std::end(sampler), 0u);
        sampler[kSampAddressU] = kAddressWrap;
        sampler[kSampAddressV] = kAddressWrap;
        sampler[kSampAddressW] = kAddressWrap;
        sampler[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        sampler[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        sampler[D3DSAMP_MAXANISOTROPY] = 1;
    }
    const D3DMATRIX identity = Identity();
    for (D3DMATRIX& m : transforms_) m = identity;
}

SoftwareDevice::~SoftwareDevice() {
    for (auto& slot : stageTextures_) slot = nullptr;
    for (auto& slot : streams_) slot = nullptr;
    // objects_ frees every object, zombie or not.
}

bool SoftwareDevice::Enter(CallKind kind) {
    int index = static_cast<int>(kind);
    int occurrence = callCounts_[index]++;
    if (kind == CallKind::AddRef || kind == CallKind::Release) return false;
    if (failAll_) return true;
    for (const FailRule& rule : failRules_)
        if (rule.kind == kind && (rule.occurrence < 0 || rule.occurrence == occurrence)) return true;
    return false;
}

HRESULT SoftwareDevice::Record(DeviceCall call, HRESULT hr) {
    call.result = hr;
    call.failed = FAILED(hr);
    if (recording_) calls_.push_back(call);
    return hr;
}

void SoftwareDevice::RecordObjectCall(CallKind kind, int id, HRESULT result, bool failed) {
    if (!recording_) return;
    DeviceCall call;
    call.kind = kind;
    call.objectId = id;
    call.result = result;
    call.failed = failed;
    calls_.push_back(call);
}

void SoftwareDevice::FailCall(CallKind kind, int occurrence) { failRules_.push_back({kind, occurrence}); }

std::vector<std::string> SoftwareDevice::CallDescriptions() const {
    std::vector<std::string> lines;
    lines.reserve(calls_.size());
    for (const DeviceCall& call : calls_) lines.push_back(call.Describe());
    return lines;
}

std::string SoftwareDevice::DescribeCalls() const {
    std::string text;
    for (const DeviceCall& call : calls_) text += call.Describe() + "\n";
    return text;
}

void SoftwareDevice::SetCostFreeMode(bool on) {
    if (on == costFree_) return;
    costFree_ = on;
    if (on) {
        savedRecording_ = recording_;
        recording_ = false;
    } else {
        recording_ = savedRecording_;
    }
}

uint32_t SoftwareDevice::SentinelWord(uint32_t fillIndex) {
    return 0xDEADBEEFu ^ ((fillIndex * 0x00010307u) & 0x00FFFFFFu);
}

void SoftwareDevice::FillSentinel(uint8_t* bytes, size_t count) {
    uint32_t word = SentinelWord(sentinelFills_++);
    uint8_t pattern[4];
    std::memcpy(pattern, &word, 4);
    for (size_t i = 0; i < count; ++i) bytes[i] = pattern[i & 3];
}

// ---------------------------------------------------------------------------
// Reference counting

SoftwareObject* SoftwareDevice::Find(const IUnknown_standin* object) const {
    const SoftwareObject* found = dynamic_cast<const SoftwareObject*>(object);
    if (found == nullptr || found->device_ != this) return nullptr;
    return const_cast<SoftwareObject*>(found);
}

int SoftwareDevice::IdOf(const IDirect3DResource9* object) {
    const SoftwareObject* found = dynamic_cast<const SoftwareObject*>(object);
    return found == nullptr ? 0 : found->Id();
}

ULONG SoftwareDevice::AddRefObject(SoftwareObject* object) {
    Enter(CallKind::AddRef);
    if (object->refCount_ == 0) {
        ++usesAfterRelease_;
        RecordObjectCall(CallKind::AddRef, object->id_, 0, true);
        return 0;
    }
    ULONG count = ++object->refCount_;
    RecordObjectCall(CallKind::AddRef, object->id_, static_cast<HRESULT>(count), false);
    return count;
}

ULONG SoftwareDevice::ReleaseObject(SoftwareObject* object) {
    Enter(CallKind::Release);
    if (object->refCount_ == 0) {
        ++overReleases_;
        RecordObjectCall(CallKind::Release, object->id_, 0, true);
        return 0;
    }
    ULONG count = --object->refCount_;
    RecordObjectCall(CallKind::Release, object->id_, static_cast<HRESULT>(count), false);
    if (count == 0) DestroyIfUnused(object);
    return count;
}

void SoftwareDevice::Hold(SoftwareObject* object) {
    if (object != nullptr) ++object->bindings_;
}

void SoftwareDevice::Unhold(SoftwareObject* object) {
    if (object == nullptr) return;
    --object->bindings_;
    DestroyIfUnused(object);
}

void SoftwareDevice::DestroyIfUnused(SoftwareObject* object) {
    if (object->refCount_ == 0 && object->bindings_ == 0 && !object->destroyed_) {
        object->destroyed_ = true;
        object->locked_ = false;
        object->FreeMemory();
    }
}

int SoftwareDevice::LiveObjectCount() const {
    int count = 0;
    for (const auto& object : objects_) count += object->refCount_ > 0 ? 1 : 0;
    return count;
}

int SoftwareDevice::ExistingObjectCount() const {
    int count = 0;
    for (const auto& object : objects_) count += object->destroyed_ ? 0 : 1;
    return count;
}

SoftwareTexture* SoftwareDevice::TextureById(int id) const {
    if (id < 1 || id > static_cast<int>(objects_.size())) return nullptr;
    return dynamic_cast<SoftwareTexture*>(objects_[id - 1].get());
}

SoftwareVertexBuffer* SoftwareDevice::VertexBufferById(int id) const {
    if (id < 1 || id > static_cast<int>(objects_.size())) return nullptr;
    return dynamic_cast<SoftwareVertexBuffer*>(objects_[id - 1].get());
}

bool SoftwareDevice::ReadTexels(IDirect3DTexture9* texture, std::vector<uint32_t>& out, int& width, int& height) {
    const SoftwareTexture* software = dynamic_cast<const SoftwareTexture*>(texture);
    if (software == nullptr || software->IsDestroyed()) return false;
    out = software->Texels();
    width = software->Width();
    height = software->Height();
    return true;
}

bool SoftwareDevice::ReadVertexBytes(IDirect3DVertexBuffer9* buffer, std::vector<uint8_t>& out) {
    const SoftwareVertexBuffer* software = dynamic_cast<const SoftwareVertexBuffer*>(buffer);
    if (software == nullptr || software->IsDestroyed()) return false;
    out = software->Bytes();
    return true;
}

// ---------------------------------------------------------------------------
// Creation

HRESULT SoftwareDevice::CreateTexture(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format,
                                      D3DPOOL Pool, IDirect3DTexture9** ppTexture, HANDLE* pSharedHandle) {
    bool inject = Enter(CallKind::CreateTexture);
    DeviceCall call;
    call.kind = CallKind::CreateTexture;
    call.width = Width;
    call.height = Height;
    call.levels = Levels;
    call.usage = Usage;
    call.format = Format;
    call.pool = Pool;
    call.sharedHandleGiven = pSharedHandle != nullptr;

    HRESULT hr = S_OK;
    if (inject)
        hr = D3DERR_OUTOFVIDEOMEMORY;
    else if (ppTexture == nullptr || Width == 0 || Height == 0 || Width > 16384 || Height > 16384)
        hr = D3DERR_INVALIDCALL;
    else if (Format != D3DFMT_A8R8G8B8 && Format != D3DFMT_X8R8G8B8)
        hr = D3DERR_INVALIDCALL;
    else if (Pool != D3DPOOL_DEFAULT && Pool != D3DPOOL_MANAGED && Pool != D3DPOOL_SYSTEMMEM && Pool != D3DPOOL_SCRATCH)
        hr = D3DERR_INVALIDCALL;
    else if (Pool == D3DPOOL_MANAGED && (Usage & D3DUSAGE_DYNAMIC) != 0)
        hr = D3DERR_INVALIDCALL;  // real runtime refuses dynamic managed textures
    else if (pSharedHandle != nullptr)
        hr = D3DERR_INVALIDCALL;  // shared handles need Direct3D 9Ex

    if (FAILED(hr)) {
        if (ppTexture != nullptr) *ppTexture = nullptr;
    } else {
        int id = static_cast<int>(objects_.size()) + 1;
        auto* texture = new SoftwareTexture(this, id, Width, Height, Levels, Usage, Format, Pool);
        objects_.emplace_back(texture);
        *ppTexture = texture;
        call.objectId = id;
    }
    return Record(call, hr);
}

HRESULT SoftwareDevice::CreateVertexBuffer(UINT Length, DWORD Usage, DWORD FVF, D3DPOOL Pool,
                                           IDirect3DVertexBuffer9** ppVertexBuffer, HANDLE* pSharedHandle) {
    bool inject = Enter(CallKind::CreateVertexBuffer);
    DeviceCall call;
    call.kind = CallKind::CreateVertexBuffer;
    call.length = Length;
    call.usage = Usage;
    call.fvf = FVF;
    call.pool = Pool;
    call.sharedHandleGiven = pSharedHandle != nullptr;

    HRESULT hr = S_OK;
    if (inject)
        hr = D3DERR_OUTOFVIDEOMEMORY;
    else if (ppVertexBuffer == nullptr || Length == 0 || pSharedHandle != nullptr)
        hr = D3DERR_INVALIDCALL;
    else if (Pool != D3DPOOL_DEFAULT && Pool != D3DPOOL_MANAGED && Pool != D3DPOOL_SYSTEMMEM && Pool != D3DPOOL_SCRATCH)
        hr = D3DERR_INVALIDCALL;

    if (FAILED(hr)) {
        if (ppVertexBuffer != nullptr) *ppVertexBuffer = nullptr;
    } else {
        int id = static_cast<int>(objects_.size()) + 1;
        auto* buffer = new SoftwareVertexBuffer(this, id, Length, Usage, FVF, Pool);
        objects_.emplace_back(buffer);
        *ppVertexBuffer = buffer;
        call.objectId = id;
    }
    return Record(call, hr);
}

// ---------------------------------------------------------------------------
// Locks

HRESULT SoftwareDevice::TextureLockRect(SoftwareTexture* texture, UINT level, D3DLOCKED_RECT* lockedRect,
                                        const RECT* rect, DWORD flags) {
    bool inject = Enter(CallKind::LockRect);
    HRESULT hr = S_OK;
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (texture->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else if (lockedRect == nullptr || level != 0 || texture->locked_) {
        hr = D3DERR_INVALIDCALL;
    } else if (texture->pool_ == D3DPOOL_DEFAULT && (texture->usage_ & D3DUSAGE_DYNAMIC) == 0) {
        hr = D3DERR_INVALIDCALL;  // default-pool textures are lockable only when dynamic
    } else if (rect != nullptr && (rect->left < 0 || rect->top < 0 || rect->right > texture->width_ ||
                                   rect->bottom > texture->height_ || rect->left >= rect->right ||
                                   rect->top >= rect->bottom)) {
        hr = D3DERR_INVALIDCALL;
    }

    if (FAILED(hr)) {
        if (lockedRect != nullptr) {
            lockedRect->Pitch = 0;
            lockedRect->pBits = nullptr;
        }
    } else {
        texture->locked_ = true;
        bool sentinel = !costFree_ && (sentinelMode_ == SentinelMode::OnEveryLock ||
                                       (sentinelMode_ == SentinelMode::OnDiscard && (flags & D3DLOCK_DISCARD) != 0));
        if (sentinel) FillSentinel(texture->memory_.data(), texture->memory_.size());
        size_t offset = 0;
        if (rect != nullptr)
            offset = static_cast<size_t>(rect->top) * texture->pitch_ + static_cast<size_t>(rect->left) * 4;
        lockedRect->Pitch = texture->pitch_;
        lockedRect->pBits = texture->memory_.data() + offset;
    }

    DeviceCall call;
    call.kind = CallKind::LockRect;
    call.objectId = texture->id_;
    call.level = level;
    call.rectGiven = rect != nullptr;
    if (rect != nullptr) call.rect = *rect;
    call.flags = flags;
    return Record(call, hr);
}

HRESULT SoftwareDevice::TextureUnlockRect(SoftwareTexture* texture, UINT level) {
    bool inject = Enter(CallKind::UnlockRect);
    HRESULT hr = S_OK;
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (texture->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else if (level != 0 || !texture->locked_) {
        hr = D3DERR_INVALIDCALL;
    } else {
        texture->locked_ = false;
    }
    DeviceCall call;
    call.kind = CallKind::UnlockRect;
    call.objectId = texture->id_;
    call.level = level;
    return Record(call, hr);
}

HRESULT SoftwareDevice::BufferLock(SoftwareVertexBuffer* buffer, UINT offset, UINT size, void** data, DWORD flags) {
    bool inject = Enter(CallKind::Lock);
    // Offset and size 0 together lock the whole buffer; size 0 alone locks
    // from the offset to the end.
    uint64_t end = size == 0 ? buffer->length_ : uint64_t(offset) + size;
    HRESULT hr = S_OK;
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (buffer->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else if (data == nullptr || buffer->locked_ || offset >= buffer->length_ || end > buffer->length_) {
        hr = D3DERR_INVALIDCALL;
    }

    if (FAILED(hr)) {
        if (data != nullptr) *data = nullptr;
    } else {
        buffer->locked_ = true;
        bool sentinel = !costFree_ && (sentinelMode_ == SentinelMode::OnEveryLock ||
                                       (sentinelMode_ == SentinelMode::OnDiscard && (flags & D3DLOCK_DISCARD) != 0));
        if (sentinel) FillSentinel(buffer->memory_.data(), buffer->memory_.size());
        *data = buffer->memory_.data() + offset;
    }

    DeviceCall call;
    call.kind = CallKind::Lock;
    call.objectId = buffer->id_;
    call.offset = offset;
    call.size = size;
    call.flags = flags;
    return Record(call, hr);
}

HRESULT SoftwareDevice::BufferUnlock(SoftwareVertexBuffer* buffer) {
    bool inject = Enter(CallKind::Unlock);
    HRESULT hr = S_OK;
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (buffer->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else if (!buffer->locked_) {
        hr = D3DERR_INVALIDCALL;
    } else {
        buffer->locked_ = false;
    }
    RecordObjectCall(CallKind::Unlock, buffer->id_, hr, FAILED(hr));
    return hr;
}

// ---------------------------------------------------------------------------
// State

HRESULT SoftwareDevice::SetFVF(DWORD FVF) {
    bool inject = Enter(CallKind::SetFVF);
    HRESULT hr = inject ? D3DERR_INVALIDCALL : S_OK;
    if (SUCCEEDED(hr)) fvf_ = FVF;
    DeviceCall call;
    call.kind = CallKind::SetFVF;
    call.fvf = FVF;
    return Record(call, hr);
}

HRESULT SoftwareDevice::SetRenderState(D3DRENDERSTATETYPE State, DWORD Value) {
    bool inject = Enter(CallKind::SetRenderState);
    DWORD index = static_cast<DWORD>(State);
    HRESULT hr = (inject || index >= static_cast<DWORD>(kRenderStates)) ? D3DERR_INVALIDCALL : S_OK;
    if (SUCCEEDED(hr)) renderStates_[index] = Value;
    DeviceCall call;
    call.kind = CallKind::SetRenderState;
    call.stateType = index;
    call.value = Value;
    return Record(call, hr);
}

HRESULT SoftwareDevice::SetSamplerState(DWORD Sampler, D3DSAMPLERSTATETYPE Type, DWORD Value) {
    bool inject = Enter(CallKind::SetSamplerState);
    DWORD type = static_cast<DWORD>(Type);
    HRESULT hr = (inject || Sampler >= static_cast<DWORD>(kStages) || type == 0 ||
                  type >= static_cast<DWORD>(kSamplerStates))
                     ? D3DERR_INVALIDCALL
                     : S_OK;
    if (SUCCEEDED(hr)) samplerStates_[Sampler][type] = Value;
    DeviceCall call;
    call.kind = CallKind::SetSamplerState;
    call.stage = Sampler;
    call.stateType = type;
    call.value = Value;
    return Record(call, hr);
}

HRESULT SoftwareDevice::SetTexture(DWORD Stage, IDirect3DBaseTexture9* pTexture) {
    bool inject = Enter(CallKind::SetTexture);
    SoftwareTexture* texture = nullptr;
    int id = 0;
    HRESULT hr = S_OK;
    if (pTexture != nullptr) {
        texture = dynamic_cast<SoftwareTexture*>(Find(pTexture));
        id = texture != nullptr ? texture->id_ : 0;
    }
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (Stage >= static_cast<DWORD>(kStages) || (pTexture != nullptr && texture == nullptr)) {
        hr = D3DERR_INVALIDCALL;
    } else if (texture != nullptr && texture->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else {
        // Hold the new binding before letting go of the old one, so rebinding
        // the same texture never destroys it on the way.
        SoftwareTexture* previous = stageTextures_[Stage];
        Hold(texture);
        stageTextures_[Stage] = texture;
        Unhold(previous);
    }
    DeviceCall call;
    call.kind = CallKind::SetTexture;
    call.stage = Stage;
    call.objectId = id;
    return Record(call, hr);
}

HRESULT SoftwareDevice::SetStreamSource(UINT StreamNumber, IDirect3DVertexBuffer9* pStreamData, UINT OffsetInBytes,
                                        UINT Stride) {
    bool inject = Enter(CallKind::SetStreamSource);
    SoftwareVertexBuffer* buffer = nullptr;
    int id = 0;
    HRESULT hr = S_OK;
    if (pStreamData != nullptr) {
        buffer = dynamic_cast<SoftwareVertexBuffer*>(Find(pStreamData));
        id = buffer != nullptr ? buffer->id_ : 0;
    }
    if (inject) {
        hr = D3DERR_INVALIDCALL;
    } else if (StreamNumber >= static_cast<UINT>(kStreams) || (pStreamData != nullptr && buffer == nullptr)) {
        hr = D3DERR_INVALIDCALL;
    } else if (buffer != nullptr && buffer->refCount_ == 0) {
        ++usesAfterRelease_;
        hr = D3DERR_INVALIDCALL;
    } else {
        SoftwareVertexBuffer* previous = streams_[StreamNumber];
        Hold(buffer);
        streams_[StreamNumber] = buffer;
        streamOffsets_[StreamNumber] = OffsetInBytes;
        streamStrides_[StreamNumber] = Stride;
        Unhold(previous);
    }
    DeviceCall call;
    call.kind = CallKind::SetStreamSource;
    call.stage = StreamNumber;
    call.objectId = id;
    call.offset = OffsetInBytes;
    call.stride = Stride;
    return Record(call, hr);
}

HRESULT SoftwareDevice::SetTransform(D3DTRANSFORMSTATETYPE State, const D3DMATRIX* pMatrix) {
    bool inject = Enter(CallKind::SetTransform);
    DWORD type = static_cast<DWORD>(State);
    HRESULT hr = (inject || pMatrix == nullptr || !IsValidTransform(type)) ? D3DERR_INVALIDCALL : S_OK;
    if (SUCCEEDED(hr)) transforms_[type] = *pMatrix;
    DeviceCall call;
    call.kind = CallKind::SetTransform;
    call.stateType = type;
    call.matrixGiven = pMatrix != nullptr;
    if (pMatrix != nullptr) call.matrix = *pMatrix;
    return Record(call, hr);
}

HRESULT SoftwareDevice::BeginScene() {
    bool inject = Enter(CallKind::BeginScene);
    HRESULT hr = (inject || inScene_) ? D3DERR_INVALIDCALL : S_OK;
    if (SUCCEEDED(hr)) {
        inScene_ = true;
        sceneDrawCount_ = 0;
        sceneClear_ = SceneClear{};
    }
    RecordObjectCall(CallKind::BeginScene, 0, hr, FAILED(hr));
    return hr;
}

HRESULT SoftwareDevice::EndScene() {
    bool inject = Enter(CallKind::EndScene);
    HRESULT hr = (inject || !inScene_) ? D3DERR_INVALIDCALL : S_OK;
    if (SUCCEEDED(hr)) inScene_ = false;
    RecordObjectCall(CallKind::EndScene, 0, hr, FAILED(hr));
    return hr;
}

DWORD SoftwareDevice::RenderState(D3DRENDERSTATETYPE state) const {
    DWORD index = static_cast<DWORD>(state);
    return index < static_cast<DWORD>(kRenderStates) ? renderStates_[index] : 0;
}

DWORD SoftwareDevice::SamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type) const {
    DWORD index = static_cast<DWORD>(type);
    if (sampler >= static_cast<DWORD>(kStages) || index >= static_cast<DWORD>(kSamplerStates)) return 0;
    return samplerStates_[sampler][index];
}

D3DMATRIX SoftwareDevice::Transform(D3DTRANSFORMSTATETYPE state) const {
    DWORD type = static_cast<DWORD>(state);
    return IsValidTransform(type) ? transforms_[type] : Identity();
}

IDirect3DBaseTexture9* SoftwareDevice::BoundTexture(DWORD stage) const {
    return stage < static_cast<DWORD>(kStages) ? stageTextures_[stage] : nullptr;
}

IDirect3DVertexBuffer9* SoftwareDevice::StreamSource(UINT stream, UINT* offset, UINT* stride) const {
    if (stream >= static_cast<UINT>(kStreams)) return nullptr;
    if (offset != nullptr) *offset = streamOffsets_[stream];
    if (stride != nullptr) *stride = streamStrides_[stream];
    return streams_[stream];
}

// ---------------------------------------------------------------------------
// Clear

HRESULT SoftwareDevice::Clear(DWORD Count, const D3DRECT* pRects, DWORD Flags, D3DCOLOR Color, float Z,
                              DWORD Stencil) {
    bool inject = Enter(CallKind::Clear);
    HRESULT hr = S_OK;
    if (inject)
        hr = D3DERR_INVALIDCALL;
    else if ((Count == 0) != (pRects == nullptr))
        hr = D3DERR_INVALIDCALL;
    else if (Flags == 0 || (Flags & ~static_cast<DWORD>(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0)
        hr = D3DERR_INVALIDCALL;
    else if ((Flags & D3DCLEAR_STENCIL) != 0)
        hr = D3DERR_INVALIDCALL;  // the depth buffer has no stencil bits
    else if ((Flags & D3DCLEAR_ZBUFFER) != 0 && !(Z >= 0.0f && Z <= 1.0f))
        hr = D3DERR_INVALIDCALL;

    if (SUCCEEDED(hr)) sceneClear_ = SceneClear{Flags, Color, Z};
    if (SUCCEEDED(hr) && !costFree_) {
        auto clearArea = [&](int x1, int y1, int x2, int y2) {
            x1 = std::max(x1, 0);
            y1 = std::max(y1, 0);
            x2 = std::min(x2, width_);
            y2 = std::min(y2, height_);
            for (int y = y1; y < y2; ++y) {
                size_t row = static_cast<size_t>(y) * width_;
                if ((Flags & D3DCLEAR_TARGET) != 0)
                    std::fill(backBuffer_.begin() + row + x1, backBuffer_.begin() + row + x2, Color);
                if ((Flags & D3DCLEAR_ZBUFFER) != 0)
                    std::fill(depthBuffer_.begin() + row + x1, depthBuffer_.begin() + row + x2, Z);
            }
        };
        if (Count == 0) {
            clearArea(0, 0, width_, height_);
        } else {
            for (DWORD i = 0; i < Count; ++i) clearArea(pRects[i].x1, pRects[i].y1, pRects[i].x2, pRects[i].y2);
        }
    }

    DeviceCall call;
    call.kind = CallKind::Clear;
    call.rectCount = Count;
    call.rectsGiven = pRects != nullptr;
    call.flags = Flags;
    call.color = Color;
    call.z = Z;
    call.stencil = Stencil;
    return Record(call, hr);
}

// ---------------------------------------------------------------------------
// Drawing

struct SoftwareDevice::ClipVertex {
    double x, y, z, w;     // clip space
    double r, g, b, a;     // diffuse, 0..255
    double u, v;
};

struct SoftwareDevice::ScreenVertex {
    int64_t x, y;          // screen position in 1/256 pixel
    double z;              // depth after the viewport's 0..1 mapping
    double invW;
    double rw, gw, bw, aw, uw, vw;  // attributes divided by w
    double r, g, b, a, u, v;        // and as they are
};

HRESULT SoftwareDevice::DrawPrimitive(D3DPRIMITIVETYPE PrimitiveType, UINT StartVertex, UINT PrimitiveCount) {
    bool inject = Enter(CallKind::DrawPrimitive);
    HRESULT hr = inject ? D3DERR_INVALIDCALL : (costFree_ ? S_OK : Draw(PrimitiveType, StartVertex, PrimitiveCount));
    if (SUCCEEDED(hr) && inScene_) RememberDraw(PrimitiveType, StartVertex, PrimitiveCount);
    DeviceCall call;
    call.kind = CallKind::DrawPrimitive;
    call.primitiveType = PrimitiveType;
    call.startVertex = StartVertex;
    call.primitiveCount = PrimitiveCount;
    return Record(call, hr);
}

void SoftwareDevice::RememberDraw(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (sceneDrawCount_ < kSceneDrawCapacity) {
        SceneDraw& draw = sceneDraws_[sceneDrawCount_];
        draw.type = type;
        draw.startVertex = startVertex;
        draw.primitiveCount = primitiveCount;
        draw.texture = stageTextures_[0];
        draw.stream = streams_[0];
        draw.streamOffset = streamOffsets_[0];
        draw.streamStride = streamStrides_[0];
        draw.fvf = fvf_;
        draw.world = transforms_[256];
        draw.view = transforms_[D3DTS_VIEW];
        draw.projection = transforms_[D3DTS_PROJECTION];
    }
    if (sceneDrawCount_ < 0x7FFFFFFF) ++sceneDrawCount_;
}

HRESULT SoftwareDevice::Draw(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    if (!inScene_) return D3DERR_INVALIDCALL;
    if (type == D3DPT_POINTLIST || type == D3DPT_LINELIST || type == D3DPT_LINESTRIP) return E_NOTIMPL;
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLEFAN)
        return D3DERR_INVALIDCALL;

    // Vertex layout from the FVF: position, then the optional parts in their
    // fixed order.
    if ((fvf_ & kFvfPositionMask) == 0) return D3DERR_INVALIDCALL;  // no vertex format at all
    if ((fvf_ & kFvfPositionMask) != D3DFVF_XYZ) return E_NOTIMPL;    // pre-transformed or blended
    int texCount = static_cast<int>((fvf_ & kFvfTexCountMask) >> kFvfTexCountShift);
    if (texCount > 8) return D3DERR_INVALIDCALL;
    size_t vertexSize = 12;
    if ((fvf_ & kFvfNormal) != 0) vertexSize += 12;
    if ((fvf_ & kFvfPsize) != 0) vertexSize += 4;
    size_t diffuseOffset = vertexSize;
    bool hasDiffuse = (fvf_ & D3DFVF_DIFFUSE) != 0;
    if (hasDiffuse) vertexSize += 4;
    if ((fvf_ & kFvfSpecular) != 0) vertexSize += 4;
    size_t texOffset = vertexSize;
    static const size_t kTexCoordBytes[4] = {8, 12, 16, 4};  // D3DFVF_TEXCOORDSIZE2, 3, 4, 1
    for (int set = 0; set < texCount; ++set) vertexSize += kTexCoordBytes[(fvf_ >> (16 + 2 * set)) & 3];
    bool hasTexCoord = texCount > 0;
    if (hasTexCoord && ((fvf_ >> 16) & 3) != 0) return E_NOTIMPL;  // only 2D coordinates in set 0

    SoftwareVertexBuffer* buffer = streams_[0];
    if (buffer == nullptr || buffer->destroyed_) return D3DERR_INVALIDCALL;
    UINT stride = streamStrides_[0];
    if (primitiveCount == 0) return S_OK;
    uint64_t vertexCount = type == D3DPT_TRIANGLELIST ? uint64_t(primitiveCount) * 3 : uint64_t(primitiveCount) + 2;
    uint64_t lastByte = uint64_t(streamOffsets_[0]) + (uint64_t(startVertex) + vertexCount - 1) * stride + vertexSize;
    if (lastByte > buffer->memory_.size()) return D3DERR_INVALIDCALL;

    // Combined transform v' = v . World . View . Projection (row vectors).
    double wvp[4][4];
    {
        const D3DMATRIX& world = transforms_[256];
        const D3DMATRIX& view = transforms_[D3DTS_VIEW];
        const D3DMATRIX& projection = transforms_[D3DTS_PROJECTION];
        double wv[4][4];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double sum = 0.0;
                for (int k = 0; k < 4; ++k) sum += double(world.m[r][k]) * view.m[k][c];
                wv[r][c] = sum;
            }
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double sum = 0.0;
                for (int k = 0; k < 4; ++k) sum += wv[r][k] * projection.m[k][c];
                wvp[r][c] = sum;
            }
    }

    bool lighting = renderStates_[D3DRS_LIGHTING] != FALSE;
    bool alphaFromVertex = hasDiffuse && renderStates_[kRsColorVertex] != FALSE &&
                           renderStates_[kRsDiffuseMaterialSource] == kMcsColor1;
    const uint8_t* base = buffer->memory_.data() + streamOffsets_[0];
    auto fetch = [&](uint64_t index) {
        const uint8_t* bytes = base + (uint64_t(startVertex) + index) * stride;
        float position[3];
        std::memcpy(position, bytes, sizeof position);
        ClipVertex vertex;
        vertex.x = position[0] * wvp[0][0] + position[1] * wvp[1][0] + position[2] * wvp[2][0] + wvp[3][0];
        vertex.y = position[0] * wvp[0][1] + position[1] * wvp[1][1] + position[2] * wvp[2][1] + wvp[3][1];
        vertex.z = position[0] * wvp[0][2] + position[1] * wvp[1][2] + position[2] * wvp[2][2] + wvp[3][2];
        vertex.w = position[0] * wvp[0][3] + position[1] * wvp[1][3] + position[2] * wvp[2][3] + wvp[3][3];
        D3DCOLOR diffuse = 0xFFFFFFFFu;
        if (hasDiffuse) std::memcpy(&diffuse, bytes + diffuseOffset, 4);
        if (lighting) {
            // No lights and a zero material: only the alpha survives, and only
            // when it comes from the vertex.
            diffuse = alphaFromVertex ? (diffuse & 0xFF000000u) : 0u;
        }
        vertex.a = double(diffuse >> 24);
        vertex.r = double((diffuse >> 16) & 0xFF);
        vertex.g = double((diffuse >> 8) & 0xFF);
        vertex.b = double(diffuse & 0xFF);
        vertex.u = vertex.v = 0.0;
        if (hasTexCoord) {
            float uv[2];
            std::memcpy(uv, bytes + texOffset, sizeof uv);
            vertex.u = uv[0];
            vertex.v = uv[1];
        }
        return vertex;
    };

    for (UINT i = 0; i < primitiveCount; ++i) {
        switch (type) {
            case D3DPT_TRIANGLELIST:
                DrawTriangle(fetch(3ull * i), fetch(3ull * i + 1), fetch(3ull * i + 2), false);
                break;
            case D3DPT_TRIANGLESTRIP:
                // Every second strip triangle runs the other way round; its
                // winding is judged as if its first two vertices were swapped.
                DrawTriangle(fetch(i), fetch(i + 1ull), fetch(i + 2ull), (i & 1) != 0);
                break;
            default:
                DrawTriangle(fetch(0), fetch(i + 1ull), fetch(i + 2ull), false);
                break;
        }
    }
    return S_OK;
}

// Clips one triangle against the view volume (0 <= z <= w, |x|, |y| <= w),
// culls it by winding and hands the pieces to the rasterizer.
void SoftwareDevice::DrawTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, bool flipWinding) {
    constexpr int kMaxVertices = 16;
    ClipVertex polygon[kMaxVertices] = {a, b, c};
    ClipVertex clipped[kMaxVertices];
    int count = 3;
    // The last plane keeps w away from zero, where the perspective divide
    // would blow up, for projections whose near plane does not already.
    auto distance = [](const ClipVertex& v, int plane) {
        switch (plane) {
            case 0: return v.z;
            case 1: return v.w - v.z;
            case 2: return v.w + v.x;
            case 3: return v.w - v.x;
            case 4: return v.w + v.y;
            case 5: return v.w - v.y;
            default: return v.w - 1e-9;
        }
    };
    for (int plane = 0; plane < 7 && count > 0; ++plane) {
        int out = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& current = polygon[i];
            const ClipVertex& next = polygon[(i + 1) % count];
            double dc = distance(current, plane);
            double dn = distance(next, plane);
            if (dc >= 0.0) clipped[out++] = current;
            if ((dc >= 0.0) != (dn >= 0.0)) {
                double t = dc / (dc - dn);
                ClipVertex& v = clipped[out++];
                v.x = current.x + (next.x - current.x) * t;
                v.y = current.y + (next.y - current.y) * t;
                v.z = current.z + (next.z - current.z) * t;
                v.w = current.w + (next.w - current.w) * t;
                v.r = current.r + (next.r - current.r) * t;
                v.g = current.g + (next.g - current.g) * t;
                v.b = current.b + (next.b - current.b) * t;
                v.a = current.a + (next.a - current.a) * t;
                v.u = current.u + (next.u - current.u) * t;
                v.v = current.v + (next.v - current.v) * t;
            }
        }
        count = out;
        std::copy(clipped, clipped + count, polygon);
    }
    if (count < 3) return;

    ScreenVertex screen[kMaxVertices];
    double halfWidth = width_ * 0.5;
    double halfHeight = height_ * 0.5;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& v = polygon[i];
        ScreenVertex& s = screen[i];
        double invW = 1.0 / v.w;
        s.x = std::llround((v.x * invW + 1.0) * halfWidth * kSubpixelOne);
        s.y = std::llround((1.0 - v.y * invW) * halfHeight * kSubpixelOne);
        s.z = v.z * invW;
        s.invW = invW;
        s.rw = v.r * invW;
        s.gw = v.g * invW;
        s.bw = v.b * invW;
        s.aw = v.a * invW;
        s.uw = v.u * invW;
        s.vw = v.v * invW;
        s.r = v.r;
        s.g = v.g;
        s.b = v.b;
        s.a = v.a;
        s.u = v.u;
        s.v = v.v;
    }

    // Winding on screen (y down): positive is clockwise, Direct3D's front.
    int64_t twiceArea = 0;
    for (int i = 0; i < count; ++i) {
        const ScreenVertex& p = screen[i];
        const ScreenVertex& q = screen[(i + 1) % count];
        twiceArea += p.x * q.y - q.x * p.y;
    }
    if (twiceArea == 0) return;
    if (flipWinding) twiceArea = -twiceArea;
    DWORD cull = renderStates_[D3DRS_CULLMODE];
    if (cull == D3DCULL_CW && twiceArea > 0) return;
    if (cull == D3DCULL_CCW && twiceArea < 0) return;

    const SoftwareTexture* texture = stageTextures_[0];
    if (texture != nullptr && texture->destroyed_) texture = nullptr;
    for (int i = 1; i + 1 < count; ++i) {
        ScreenVertex triangle[3] = {screen[0], screen[i], screen[i + 1]};
        RasterizeTriangle(triangle, texture);
    }
}

uint32_t SoftwareDevice::SampleTexture(const SoftwareTexture& texture, double u, double v, bool bilinear) const {
    const DWORD* sampler = samplerStates_[0];
    const DWORD addressU = sampler[kSampAddressU];
    const DWORD addressV = sampler[kSampAddressV];
    const uint32_t opaque = texture.format_ == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    auto fetch = [&](int x, int y) -> uint32_t {
        int tx = AddressTexel(x, texture.width_, addressU);
        int ty = AddressTexel(y, texture.height_, addressV);
        if (tx < 0 || ty < 0) return sampler[kSampBorderColor];
        return texture.Texel(tx, ty) | opaque;
    };
    // Texel centres sit at (i + 0.5) / size, Direct3D 9's texture addressing.
    double x = ClampTexelCoordinate(u * texture.width_ - (bilinear ? 0.5 : 0.0));
    double y = ClampTexelCoordinate(v * texture.height_ - (bilinear ? 0.5 : 0.0));
    int x0 = FloorToInt(x);
    int y0 = FloorToInt(y);
    if (!bilinear) return fetch(x0, y0);

    uint32_t t00, t10, t01, t11;
    if (x0 >= 0 && y0 >= 0 && x0 + 1 < texture.width_ && y0 + 1 < texture.height_) {
        // All four inside: no addressing needed.
        const uint8_t* row0 = texture.Row(y0) + static_cast<size_t>(x0) * 4;
        const uint8_t* row1 = row0 + texture.pitch_;
        std::memcpy(&t00, row0, 4);
        std::memcpy(&t10, row0 + 4, 4);
        std::memcpy(&t01, row1, 4);
        std::memcpy(&t11, row1 + 4, 4);
        t00 |= opaque;
        t10 |= opaque;
        t01 |= opaque;
        t11 |= opaque;
    } else {
        t00 = fetch(x0, y0);
        t10 = fetch(x0 + 1, y0);
        t01 = fetch(x0, y0 + 1);
        t11 = fetch(x0 + 1, y0 + 1);
    }
    // Weights with 8 fractional bits, as filtering hardware keeps them.
    const uint32_t fx = static_cast<uint32_t>((x - x0) * 256.0);
    const uint32_t fy = static_cast<uint32_t>((y - y0) * 256.0);
    auto channel = [&](int shift) -> uint32_t {
        uint32_t top = ((t00 >> shift) & 0xFF) * (256 - fx) + ((t10 >> shift) & 0xFF) * fx;
        uint32_t bottom = ((t01 >> shift) & 0xFF) * (256 - fx) + ((t11 >> shift) & 0xFF) * fx;
        return (top * (256 - fy) + bottom * fy + 32768) >> 16;
    };
    return (channel(24) << 24) | (channel(16) << 16) | (channel(8) << 8) | channel(0);
}

SoftwareDevice::BlendSetup SoftwareDevice::CurrentBlend() const {
    BlendSetup blend;
    blend.enabled = renderStates_[D3DRS_ALPHABLENDENABLE] != FALSE;
    blend.source = renderStates_[D3DRS_SRCBLEND];
    blend.destination = renderStates_[D3DRS_DESTBLEND];
    if (blend.source == kBlendBothSrcAlpha) {
        blend.source = D3DBLEND_SRCALPHA;
        blend.destination = D3DBLEND_INVSRCALPHA;
    } else if (blend.source == kBlendBothInvSrcAlpha) {
        blend.source = D3DBLEND_INVSRCALPHA;
        blend.destination = D3DBLEND_SRCALPHA;
    }
    blend.operation = renderStates_[kRsBlendOp];
    blend.writeMask = renderStates_[kRsColorWriteEnable];
    blend.overSourceAlpha = blend.enabled && blend.source == D3DBLEND_SRCALPHA &&
                            blend.destination == D3DBLEND_INVSRCALPHA && blend.operation == kBlendOpAdd;
    return blend;
}

// Blends a shaded source pixel over the back-buffer pixel by the blend state.
uint32_t SoftwareDevice::ShadePixel(uint32_t source, uint32_t destination, const BlendSetup& blend) const {
    uint32_t result = source;
    if (blend.overSourceAlpha) {
        // The layers' blend, by far the most frequent, in integers: a
        // transparent texel leaves the pixel as it is.
        uint32_t alpha = source >> 24;
        if (alpha == 0) {
            result = destination;
        } else if (alpha != 255) {
            result = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                uint32_t s = (source >> shift) & 0xFF;
                uint32_t d = (destination >> shift) & 0xFF;
                result |= ((s * alpha + d * (255 - alpha) + 127) / 255) << shift;
            }
        }
    } else if (blend.enabled) {
        double s[4], d[4];  // a, r, g, b in 0..1
        for (int i = 0; i < 4; ++i) {
            s[i] = ((source >> (24 - 8 * i)) & 0xFF) / 255.0;
            d[i] = ((destination >> (24 - 8 * i)) & 0xFF) / 255.0;
        }
        const DWORD srcBlend = blend.source;
        const DWORD destBlend = blend.destination;
        auto factor = [&](DWORD which, int i) -> double {
            switch (which) {
                case D3DBLEND_ZERO: return 0.0;
                case D3DBLEND_ONE: return 1.0;
                case kBlendSrcColor: return s[i];
                case kBlendInvSrcColor: return 1.0 - s[i];
                case D3DBLEND_SRCALPHA: return s[0];
                case D3DBLEND_INVSRCALPHA: return 1.0 - s[0];
                case kBlendDestAlpha: return d[0];
                case kBlendInvDestAlpha: return 1.0 - d[0];
                case kBlendDestColor: return d[i];
                case kBlendInvDestColor: return 1.0 - d[i];
                case kBlendSrcAlphaSat: return i == 0 ? 1.0 : std::min(s[0], 1.0 - d[0]);
                default: return 1.0;
            }
        };
        int out[4];
        for (int i = 0; i < 4; ++i) {
            double a = s[i] * factor(srcBlend, i);
            double b = d[i] * factor(destBlend, i);
            double value;
            switch (blend.operation) {
                case kBlendOpSubtract: value = a - b; break;
                case kBlendOpRevSubtract: value = b - a; break;
                case kBlendOpMin: value = std::min(s[i], d[i]); break;
                case kBlendOpMax: value = std::max(s[i], d[i]); break;
                default: value = a + b; break;
            }
            out[i] = ToChannel(value * 255.0);
        }
        result = PackColor(out[0], out[1], out[2], out[3]);
    }
    const DWORD writeMask = blend.writeMask;
    if ((writeMask & 0xF) != 0xF) {
        uint32_t keep = 0;  // D3DCOLORWRITEENABLE_RED 1, GREEN 2, BLUE 4, ALPHA 8
        if ((writeMask & 1) != 0) keep |= 0x00FF0000u;
        if ((writeMask & 2) != 0) keep |= 0x0000FF00u;
        if ((writeMask & 4) != 0) keep |= 0x000000FFu;
        if ((writeMask & 8) != 0) keep |= 0xFF000000u;
        result = (result & keep) | (destination & ~keep);
    }
    return result;
}

// Scan-converts one triangle: top-left fill rule on 1/256-pixel positions,
// samples at integer pixel positions. Coverage is decided in integers;
// depth and the attributes divided by w are stepped across the row.
void SoftwareDevice::RasterizeTriangle(const ScreenVertex* input, const SoftwareTexture* texture) {
    ScreenVertex v[3] = {input[0], input[1], input[2]};
    int64_t area = (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (area == 0) return;
    if (area < 0) {
        std::swap(v[1], v[2]);
        area = -area;
    }

    int64_t minX = std::min({v[0].x, v[1].x, v[2].x});
    int64_t maxX = std::max({v[0].x, v[1].x, v[2].x});
    int64_t minY = std::min({v[0].y, v[1].y, v[2].y});
    int64_t maxY = std::max({v[0].y, v[1].y, v[2].y});
    const int x0 = static_cast<int>(std::max<int64_t>(CeilPixel(minX), 0));
    const int x1 = static_cast<int>(std::min<int64_t>(FloorPixel(maxX), width_ - 1));
    const int y0 = static_cast<int>(std::max<int64_t>(CeilPixel(minY), 0));
    const int y1 = static_cast<int>(std::min<int64_t>(FloorPixel(maxY), height_ - 1));
    if (x0 > x1 || y0 > y1) return;

    // Edge k runs from vertex k+1 to vertex k+2 and weighs vertex k; it is
    // positive inside. A pixel exactly on an edge belongs to the triangle only
    // when the edge is a top or a left one.
    struct Edge {
        int64_t dx, dy, ax, ay;
        int64_t bias;
    } edges[3];
    for (int k = 0; k < 3; ++k) {
        const ScreenVertex& a = v[(k + 1) % 3];
        const ScreenVertex& b = v[(k + 2) % 3];
        Edge& e = edges[k];
        e.dx = b.x - a.x;
        e.dy = b.y - a.y;
        e.ax = a.x;
        e.ay = a.y;
        bool topLeft = e.dy < 0 || (e.dy == 0 && e.dx > 0);
        e.bias = topLeft ? 0 : -1;
    }

    bool bilinear = false;
    if (texture != nullptr) {
        // Minified when the triangle covers more texels than pixels.
        double texelArea = std::fabs((v[1].u - v[0].u) * (v[2].v - v[0].v) - (v[2].u - v[0].u) * (v[1].v - v[0].v)) *
                           texture->width_ * texture->height_;
        double pixelArea = double(area) / double(kSubpixelOne * kSubpixelOne);
        DWORD filter = samplerStates_[0][texelArea > pixelArea ? D3DSAMP_MINFILTER : D3DSAMP_MAGFILTER];
        bilinear = filter >= D3DTEXF_LINEAR;  // linear, anisotropic and better all filter here
    }

    // Interpolated quantities: depth, 1/w and the attributes divided by w.
    enum { kDepth, kInvW, kRed, kGreen, kBlue, kAlpha, kU, kV, kCount };
    double values[3][kCount];
    for (int k = 0; k < 3; ++k) {
        const ScreenVertex& s = v[k];
        const double row[kCount] = {s.z, s.invW, s.rw, s.gw, s.bw, s.aw, s.uw, s.vw};
        std::copy(row, row + kCount, values[k]);
    }
    // The diffuse colour is the same at every pixel when the three vertices
    // agree, the usual case; then it is not interpolated.
    auto sameColor = [](const ScreenVertex& p, const ScreenVertex& q) {
        return p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a;
    };
    const bool flatColor = sameColor(v[0], v[1]) && sameColor(v[0], v[2]);
    const int flatR = ToChannel(v[0].r), flatG = ToChannel(v[0].g);
    const int flatB = ToChannel(v[0].b), flatA = ToChannel(v[0].a);

    const bool depthTest = renderStates_[D3DRS_ZENABLE] != D3DZB_FALSE;
    const bool depthWrite = depthTest && renderStates_[D3DRS_ZWRITEENABLE] != FALSE;
    const DWORD depthFunction = renderStates_[D3DRS_ZFUNC];
    const bool alphaTest = renderStates_[kRsAlphaTestEnable] != FALSE;
    const DWORD alphaFunction = renderStates_[kRsAlphaFunc];
    const int alphaRef = static_cast<int>(renderStates_[kRsAlphaRef] & 0xFF);
    const BlendSetup blend = CurrentBlend();

    // Only the quantities this triangle needs are stepped: every one costs an
    // addition per pixel, and on an emulated 32-bit host a float addition is
    // dear.
    int active[kCount];
    int activeCount = 0;
    if (depthTest) active[activeCount++] = kDepth;
    if (texture != nullptr || !flatColor) active[activeCount++] = kInvW;
    if (texture != nullptr) {
        active[activeCount++] = kU;
        active[activeCount++] = kV;
    }
    if (!flatColor) {
        active[activeCount++] = kRed;
        active[activeCount++] = kGreen;
        active[activeCount++] = kBlue;
        active[activeCount++] = kAlpha;
    }

    const double invArea = 1.0 / double(area);
    double stepX[kCount] = {};  // change per pixel to the right
    for (int q = 0; q < kCount; ++q)
        for (int k = 0; k < 3; ++k) stepX[q] += double(-edges[k].dy * kSubpixelOne) * invArea * values[k][q];

    for (int py = y0; py <= y1; ++py) {
        const int64_t sy = int64_t(py) * kSubpixelOne;
        const int64_t sx0 = int64_t(x0) * kSubpixelOne;
        // The covered span of the row, solved per edge in integers: the same
        // pixels a per-pixel test of the three edges would pick.
        int64_t first = 0;
        int64_t last = x1 - x0;
        int64_t e[3];
        for (int k = 0; k < 3 && first <= last; ++k) {
            e[k] = edges[k].dx * (sy - edges[k].ay) - edges[k].dy * (sx0 - edges[k].ax);
            const int64_t c = e[k] + edges[k].bias;  // inside while c + step * n >= 0
            const int64_t step = -edges[k].dy * kSubpixelOne;
            if (step == 0) {
                if (c < 0) first = last + 1;
            } else if (step > 0) {
                if (c < 0) first = std::max(first, (-c + step - 1) / step);
            } else {
                if (c < 0)
                    first = last + 1;
                else
                    last = std::min(last, c / -step);
            }
        }
        if (first > last) continue;

        double at[kCount];
        for (int i = 0; i < activeCount; ++i) {
            const int q = active[i];
            at[q] = 0.0;
            for (int k = 0; k < 3; ++k)
                at[q] += double(e[k] - edges[k].dy * kSubpixelOne * first) * invArea * values[k][q];
        }
        uint32_t* colorRow = backBuffer_.data() + static_cast<size_t>(py) * width_;
        float* depthRow = depthBuffer_.data() + static_cast<size_t>(py) * width_;
        const int pxEnd = x0 + static_cast<int>(last);
        for (int px = x0 + static_cast<int>(first); px <= pxEnd; ++px) {
            const float depth = depthTest ? static_cast<float>(at[kDepth]) : 0.0f;
            if (!depthTest || PassesComparison(depthFunction, depth, depthRow[px])) {
                int r = flatR, g = flatG, b = flatB, a = flatA;
                if (texture != nullptr || !flatColor) {
                    const double w = 1.0 / at[kInvW];
                    if (!flatColor) {
                        r = ToChannel(at[kRed] * w);
                        g = ToChannel(at[kGreen] * w);
                        b = ToChannel(at[kBlue] * w);
                        a = ToChannel(at[kAlpha] * w);
                    }
                    if (texture != nullptr) {
                        uint32_t texel = SampleTexture(*texture, at[kU] * w, at[kV] * w, bilinear);
                        // Stage 0 defaults: colour = texture x diffuse (MODULATE),
                        // alpha = texture (SELECTARG1).
                        r = (static_cast<int>((texel >> 16) & 0xFF) * r + 127) / 255;
                        g = (static_cast<int>((texel >> 8) & 0xFF) * g + 127) / 255;
                        b = (static_cast<int>(texel & 0xFF) * b + 127) / 255;
                        a = static_cast<int>(texel >> 24);
                    }
                }
                if (!alphaTest || PassesComparison(alphaFunction, float(a), float(alphaRef))) {
                    colorRow[px] = ShadePixel(PackColor(a, r, g, b), colorRow[px], blend);
                    // Depth is written only where the depth test runs: with
                    // D3DRS_ZENABLE off the buffer is left alone.
                    if (depthWrite) depthRow[px] = depth;
                }
            }
            for (int i = 0; i < activeCount; ++i) at[active[i]] += stepX[active[i]];
        }
    }
}
