#include "tools/trails/frame_capture.h"

#include <cstring>

namespace {

// Direct3D 9 values the stand-in header does not name.
constexpr DWORD rsAlphaTestEnable = 15;
constexpr DWORD rsAlphaRef = 24;
constexpr DWORD rsAlphaFunc = 25;
constexpr DWORD rsColorVertex = 141;
constexpr DWORD rsDiffuseMaterialSource = 145;
constexpr DWORD rsColorWriteEnable = 168;
constexpr DWORD rsBlendOp = 171;
constexpr DWORD sampAddressU = 1;
constexpr DWORD sampAddressV = 2;
constexpr DWORD sampBorderColor = 4;
constexpr DWORD mcsColor1 = 1;

constexpr DWORD fvfPositionMask = 0x400E;
constexpr DWORD fvfNormal = 0x010;
constexpr DWORD fvfPsize = 0x020;
constexpr DWORD fvfSpecular = 0x080;
constexpr DWORD fvfTexCountMask = 0xF00;

DWORD State(const SoftwareDevice& device, DWORD state)
{
    return device.RenderState(static_cast<D3DRENDERSTATETYPE>(state));
}

DWORD Sampler(const SoftwareDevice& device, DWORD type)
{
    return device.SamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(type));
}

FrameStates ReadStates(const SoftwareDevice& device)
{
    FrameStates states;
    states.depthTest = State(device, D3DRS_ZENABLE) != D3DZB_FALSE;
    states.depthWrite = State(device, D3DRS_ZWRITEENABLE) != FALSE;
    states.depthFunction = State(device, D3DRS_ZFUNC);
    states.cullMode = State(device, D3DRS_CULLMODE);
    states.blend = State(device, D3DRS_ALPHABLENDENABLE) != FALSE;
    states.sourceBlend = State(device, D3DRS_SRCBLEND);
    states.destinationBlend = State(device, D3DRS_DESTBLEND);
    states.blendOperation = State(device, rsBlendOp);
    states.colorWriteMask = State(device, rsColorWriteEnable);
    states.alphaTest = State(device, rsAlphaTestEnable) != FALSE;
    states.alphaFunction = State(device, rsAlphaFunc);
    states.alphaReference = State(device, rsAlphaRef) & 0xFF;
    states.addressU = Sampler(device, sampAddressU);
    states.addressV = Sampler(device, sampAddressV);
    states.borderColor = Sampler(device, sampBorderColor);
    states.magFilter = Sampler(device, D3DSAMP_MAGFILTER);
    states.minFilter = Sampler(device, D3DSAMP_MINFILTER);
    states.maxAnisotropy = Sampler(device, D3DSAMP_MAXANISOTROPY);
    return states;
}

// The index of the draw's texture in frame.textures, adding it on first use;
// -1 for none or one whose memory is gone.
int TextureIndex(const SoftwareTexture* texture, CapturedFrame& frame)
{
    if (texture == nullptr || texture->Bits() == nullptr)
        return -1;
    for (size_t n = 0; n < frame.textures.size(); ++n) {
        if (frame.textures[n].id == texture->Id())
            return static_cast<int>(n);
    }
    FrameTexture entry;
    entry.id = texture->Id();
    entry.bits = texture->Bits();
    entry.width = texture->Width();
    entry.height = texture->Height();
    entry.pitch = texture->Pitch();
    entry.opaque = texture->Format() == D3DFMT_X8R8G8B8;
    frame.textures.push_back(entry);
    return static_cast<int>(frame.textures.size()) - 1;
}

// Appends the draw's vertices; false when it cannot be replayed.
bool DecodeVertices(const SoftwareDevice& device, const SoftwareDevice::SceneDraw& draw, CapturedFrame& frame,
                    FrameDraw& out)
{
    if (draw.type != D3DPT_TRIANGLELIST && draw.type != D3DPT_TRIANGLESTRIP && draw.type != D3DPT_TRIANGLEFAN) {
        return false;
    }
    // Untransformed positions only; the optional parts follow in their fixed
    // order, as the device lays them out.
    if ((draw.fvf & fvfPositionMask) != D3DFVF_XYZ)
        return false;
    size_t size = 12;
    if ((draw.fvf & fvfNormal) != 0)
        size += 12;
    if ((draw.fvf & fvfPsize) != 0)
        size += 4;
    const size_t diffuseOffset = size;
    const bool hasDiffuse = (draw.fvf & D3DFVF_DIFFUSE) != 0;
    if (hasDiffuse)
        size += 4;
    if ((draw.fvf & fvfSpecular) != 0)
        size += 4;
    const size_t texOffset = size;
    const bool hasTexCoord = (draw.fvf & fvfTexCountMask) != 0;
    if (hasTexCoord && ((draw.fvf >> 16) & 3) != 0)
        return false;  // only 2D coordinates in set 0
    if (hasTexCoord)
        size += 8;

    if (draw.stream == nullptr || draw.stream->IsDestroyed() || draw.primitiveCount == 0)
        return false;
    const uint64_t count =
        draw.type == D3DPT_TRIANGLELIST ? uint64_t(draw.primitiveCount) * 3 : uint64_t(draw.primitiveCount) + 2;
    const std::vector<uint8_t>& bytes = draw.stream->Bytes();
    const uint64_t end =
        uint64_t(draw.streamOffset) + (uint64_t(draw.startVertex) + count - 1) * draw.streamStride + size;
    if (end > bytes.size() || count > 1u << 20)
        return false;

    // The fixed-function colour: with lighting on and no lights (the device
    // has none) only the vertex alpha survives, and only when the material
    // takes its diffuse from the vertex.
    const bool lighting = State(device, D3DRS_LIGHTING) != FALSE;
    const bool alphaFromVertex =
        hasDiffuse && State(device, rsColorVertex) != FALSE && State(device, rsDiffuseMaterialSource) == mcsColor1;
    out.firstVertex = static_cast<int>(frame.vertices.size());
    out.vertexCount = static_cast<int>(count);
    for (uint64_t n = 0; n < count; ++n) {
        const uint8_t* vertex = bytes.data() + draw.streamOffset + (draw.startVertex + n) * draw.streamStride;
        FrameVertex decoded;
        std::memcpy(&decoded.x, vertex, 12);
        D3DCOLOR diffuse = 0xFFFFFFFFu;
        if (hasDiffuse)
            std::memcpy(&diffuse, vertex + diffuseOffset, 4);
        if (lighting)
            diffuse = alphaFromVertex ? (diffuse & 0xFF000000u) : 0u;
        decoded.rgba[0] = static_cast<uint8_t>(diffuse >> 16);
        decoded.rgba[1] = static_cast<uint8_t>(diffuse >> 8);
        decoded.rgba[2] = static_cast<uint8_t>(diffuse);
        decoded.rgba[3] = static_cast<uint8_t>(diffuse >> 24);
        decoded.u = decoded.v = 0.0f;
        if (hasTexCoord) {
            std::memcpy(&decoded.u, vertex + texOffset, 4);
            std::memcpy(&decoded.v, vertex + texOffset + 4, 4);
        }
        frame.vertices.push_back(decoded);
    }
    return true;
}

}  // namespace

void CaptureFrame(const SoftwareDevice& device, CapturedFrame& frame)
{
    frame.width = device.Width();
    frame.height = device.Height();
    const SoftwareDevice::SceneClear& clear = device.LastSceneClear();
    frame.clearFlags = clear.flags;
    frame.clearColor = clear.color;
    frame.clearZ = clear.z;
    frame.textures.clear();
    frame.vertices.clear();
    frame.draws.clear();
    frame.states = ReadStates(device);
    frame.skippedDraws = device.SceneDrawsMissed();
    for (int n = 0; n < device.SceneDrawCount(); ++n) {
        const SoftwareDevice::SceneDraw& draw = device.SceneDrawAt(n);
        FrameDraw out;
        out.type = draw.type;
        out.world = draw.world;
        out.view = draw.view;
        out.projection = draw.projection;
        if (!DecodeVertices(device, draw, frame, out)) {
            ++frame.skippedDraws;
            continue;
        }
        out.texture = TextureIndex(draw.texture, frame);
        frame.draws.push_back(out);
    }
}
