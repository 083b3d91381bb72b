#include "tools/trails/gl_presenter.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// Direct3D 9 values the stand-in header does not name.
constexpr DWORD blendSrcColor = 3, blendInvSrcColor = 4, blendDestAlpha = 7, blendInvDestAlpha = 8, blendDestColor = 9,
                blendInvDestColor = 10, blendSrcAlphaSat = 11, blendBothSrcAlpha = 12, blendBothInvSrcAlpha = 13;
constexpr DWORD blendOpSubtract = 2, blendOpRevSubtract = 3, blendOpMin = 4, blendOpMax = 5;
constexpr DWORD addressMirror = 2, addressClamp = 3, addressBorder = 4, addressMirrorOnce = 5;

GLenum Comparison(DWORD function)
{
    // D3DCMP_NEVER .. D3DCMP_ALWAYS are 1 .. 8 in the order of GL_NEVER .. GL_ALWAYS.
    return function >= D3DCMP_NEVER && function <= D3DCMP_ALWAYS ? GL_NEVER + (function - D3DCMP_NEVER) : GL_ALWAYS;
}

GLenum BlendFactor(DWORD factor)
{
    switch (factor) {
    case D3DBLEND_ZERO:
        return GL_ZERO;
    case blendSrcColor:
        return GL_SRC_COLOR;
    case blendInvSrcColor:
        return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
        return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
        return GL_ONE_MINUS_SRC_ALPHA;
    case blendDestAlpha:
        return GL_DST_ALPHA;
    case blendInvDestAlpha:
        return GL_ONE_MINUS_DST_ALPHA;
    case blendDestColor:
        return GL_DST_COLOR;
    case blendInvDestColor:
        return GL_ONE_MINUS_DST_COLOR;
    case blendSrcAlphaSat:
        return GL_SRC_ALPHA_SATURATE;
    default:
        return GL_ONE;
    }
}

GLenum BlendEquation(DWORD operation)
{
    switch (operation) {
    case blendOpSubtract:
        return GL_FUNC_SUBTRACT;
    case blendOpRevSubtract:
        return GL_FUNC_REVERSE_SUBTRACT;
    case blendOpMin:
        return GL_MIN;
    case blendOpMax:
        return GL_MAX;
    default:
        return GL_FUNC_ADD;
    }
}

GLint AddressMode(DWORD mode)
{
    switch (mode) {
    case addressMirror:
        return GL_MIRRORED_REPEAT;
    case addressClamp:
        return GL_CLAMP_TO_EDGE;
    case addressBorder:
        return GL_CLAMP_TO_BORDER;
    // Mirrored once, then clamped: OpenGL 2.1 has no such mode; the part
    // beyond the mirrored copy is rarely drawn.
    case addressMirrorOnce:
        return GL_MIRRORED_REPEAT;
    default:
        return GL_REPEAT;
    }
}

GLenum PrimitiveMode(D3DPRIMITIVETYPE type)
{
    switch (type) {
    case D3DPT_TRIANGLELIST:
        return GL_TRIANGLES;
    case D3DPT_TRIANGLEFAN:
        return GL_TRIANGLE_FAN;
    default:
        return GL_TRIANGLE_STRIP;
    }
}

bool HasExtension(const char* name)
{
    const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (all == nullptr)
        return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(all, name); at != nullptr; at = std::strstr(at + 1, name)) {
        if ((at == all || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0'))
            return true;
    }
    return false;
}

}  // namespace

bool GlVersionAtLeast21(const char* version)
{
    int major = 0;
    int minor = 0;
    if (version == nullptr || std::sscanf(version, "%d.%d", &major, &minor) != 2)
        return false;
    return major > 2 || (major == 2 && minor >= 1);
}

// Mesa's rasterizers on the processor. Their anisotropic filter averages the
// texture over a pixel's whole footprint, where a GPU's takes one bilinear
// sample for a quad as little slanted as the scene's: on llvmpipe it made
// OpenGL's part of a frame about four times as long (56 to 69 against 16 ms
// at 960 x 600; 12 to 15 against 37 frames a second) and the picture 10
// levels a channel away from what the software device draws (0.13 with the
// linear filter, at 480 x 300).
bool RasterizesOnTheProcessor(const std::string& renderer)
{
    for (const char* name : {"llvmpipe", "softpipe", "Software Rasterizer", "SWR"}) {
        if (renderer.find(name) != std::string::npos)
            return true;
    }
    return false;
}

D3DMATRIX GlClipFromDirect3D(int width, int height, double aspectScale)
{
    D3DMATRIX m = {};
    m._11 = static_cast<float>(aspectScale);
    m._22 = 1.0f;
    m._33 = 2.0f;
    m._43 = -1.0f;
    m._41 = 1.0f / static_cast<float>(width > 0 ? width : 1);
    m._42 = -1.0f / static_cast<float>(height > 0 ? height : 1);
    m._44 = 1.0f;
    return m;
}

D3DMATRIX MultiplyMatrices(const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX product;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += static_cast<double>(a.m[row][k]) * b.m[k][column];
            product.m[row][column] = static_cast<float>(sum);
        }
    }
    return product;
}

GlPresenter::GlPresenter()
{
    anisotropic_ =
        HasExtension("GL_EXT_texture_filter_anisotropic") || HasExtension("GL_ARB_texture_filter_anisotropic");
    if (anisotropic_)
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &anisotropyLimit_);
}

GlPresenter::~GlPresenter()
{
    for (const Slot& slot : slots_)
        glDeleteTextures(1, &slot.name);
}

unsigned int GlPresenter::UploadTexture(const FrameTexture& texture)
{
    Slot* slot = nullptr;
    for (Slot& candidate : slots_) {
        if (candidate.id == texture.id)
            slot = &candidate;
    }
    if (slot == nullptr) {
        slots_.emplace_back();
        slot = &slots_.back();
        slot->id = texture.id;
        glGenTextures(1, &slot->name);
    }
    glBindTexture(GL_TEXTURE_2D, slot->name);
    // A8R8G8B8 is a little-endian word with alpha on top: the bytes B, G, R,
    // A, which GL_BGRA with GL_UNSIGNED_INT_8_8_8_8_REV takes as they are.
    if (slot->width != texture.width || slot->height != texture.height || slot->opaque != texture.opaque) {
        // Storage only when the size changes; every frame after that only
        // replaces the texels. An unsized internal format lets the GL keep
        // the texels as they come: Mesa then copies them as they are, where
        // for GL_RGBA8 it swizzles each one (1.3 against 4 ms a frame for
        // both layers on llvmpipe).
        glTexImage2D(GL_TEXTURE_2D, 0, texture.opaque ? GL_RGB : GL_RGBA, texture.width, texture.height, 0, GL_BGRA,
                     GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
        slot->width = texture.width;
        slot->height = texture.height;
        slot->opaque = texture.opaque;
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, texture.pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, texture.width, texture.height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                    texture.bits);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    return slot->name;
}

void GlPresenter::ApplyStates(const FrameStates& states)
{
    glDisable(GL_LIGHTING);  // the capture already applied the vertex colour rules
    glDisable(GL_FOG);
    glDisable(GL_DITHER);
    glDisable(GL_SCISSOR_TEST);
    glShadeModel(GL_SMOOTH);

    if (states.depthTest) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(Comparison(states.depthFunction));
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(states.depthTest && states.depthWrite ? GL_TRUE : GL_FALSE);

    // Direct3D's front faces run clockwise on its y-down screen, which is
    // counter-clockwise in OpenGL's y-up window: OpenGL's default front.
    if (states.cullMode == D3DCULL_CW || states.cullMode == D3DCULL_CCW) {
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(states.cullMode == D3DCULL_CW ? GL_FRONT : GL_BACK);
    } else {
        glDisable(GL_CULL_FACE);
    }

    if (states.blend) {
        DWORD source = states.sourceBlend;
        DWORD destination = states.destinationBlend;
        if (source == blendBothSrcAlpha) {
            source = D3DBLEND_SRCALPHA;
            destination = D3DBLEND_INVSRCALPHA;
        } else if (source == blendBothInvSrcAlpha) {
            source = D3DBLEND_INVSRCALPHA;
            destination = D3DBLEND_SRCALPHA;
        }
        glEnable(GL_BLEND);
        glBlendFunc(BlendFactor(source), BlendFactor(destination));
        glBlendEquation(BlendEquation(states.blendOperation));
    } else {
        glDisable(GL_BLEND);
    }

    if (states.alphaTest) {
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(Comparison(states.alphaFunction), static_cast<GLclampf>(states.alphaReference / 255.0));
    } else {
        glDisable(GL_ALPHA_TEST);
    }
    const DWORD mask = states.colorWriteMask;  // red 1, green 2, blue 4, alpha 8
    glColorMask((mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, (mask & 8) != 0);

    // Texture stage 0 as Direct3D 9 leaves it: colour = texel x diffuse,
    // alpha = the texel's alone (GL_MODULATE would multiply the alphas too,
    // and the quad's diffuse alpha is 0).
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SRC0_RGB, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_RGB, GL_SRC_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_SRC1_RGB, GL_PRIMARY_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_RGB, GL_SRC_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SRC0_ALPHA, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_ALPHA, GL_SRC_ALPHA);
}

void GlPresenter::ApplySampler(const FrameStates& states)
{
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, AddressMode(states.addressU));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, AddressMode(states.addressV));
    const D3DCOLOR border = states.borderColor;
    const GLfloat borderColor[4] = {((border >> 16) & 0xFF) / 255.0f, ((border >> 8) & 0xFF) / 255.0f,
                                    (border & 0xFF) / 255.0f, (border >> 24) / 255.0f};
    glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, borderColor);
    // Point is nearest; linear, anisotropic and the rest filter linearly. The
    // layers have one level, so there is no mipmap filter to choose.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, states.magFilter <= D3DTEXF_POINT ? GL_NEAREST : GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, states.minFilter <= D3DTEXF_POINT ? GL_NEAREST : GL_LINEAR);
    if (anisotropic_) {
        float anisotropy = 1.0f;
        if (anisotropyWanted_ && (states.minFilter == D3DTEXF_ANISOTROPIC || states.magFilter == D3DTEXF_ANISOTROPIC)) {
            anisotropy = static_cast<float>(states.maxAnisotropy < 1 ? 1 : states.maxAnisotropy);
            if (anisotropy > anisotropyLimit_)
                anisotropy = anisotropyLimit_;
        }
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, anisotropy);
    }
}

void GlPresenter::Present(const CapturedFrame& frame)
{
    Upload(frame);
    Draw(frame, frame.width, frame.height);
}

void GlPresenter::Upload(const CapturedFrame& frame)
{
    const auto uploadStart = std::chrono::steady_clock::now();
    frameNames_.resize(frame.textures.size());
    for (size_t n = 0; n < frame.textures.size(); ++n)
        frameNames_[n] = UploadTexture(frame.textures[n]);
    lastUploadSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - uploadStart).count();
}

// The clear, the states and the draws, in the scene's order.
void GlPresenter::Draw(const CapturedFrame& frame, int width, int height, double sceneAspect)
{
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    if (frame.clearFlags != 0) {
        // A clear writes every channel and depth whatever the write masks say.
        GLbitfield buffers = 0;
        if ((frame.clearFlags & D3DCLEAR_TARGET) != 0) {
            const D3DCOLOR c = frame.clearColor;
            glClearColor(((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f,
                         (c >> 24) / 255.0f);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            buffers |= GL_COLOR_BUFFER_BIT;
        }
        if ((frame.clearFlags & D3DCLEAR_ZBUFFER) != 0) {
            glClearDepth(frame.clearZ);
            glDepthMask(GL_TRUE);
            buffers |= GL_DEPTH_BUFFER_BIT;
        }
        glClear(buffers);
    }

    ApplyStates(frame.states);
    const double targetAspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    const double aspectScale = sceneAspect > 0.0 ? sceneAspect / targetAspect : 1.0;
    const D3DMATRIX clip = GlClipFromDirect3D(width, height, aspectScale);
    if (!frame.vertices.empty()) {
        const FrameVertex* vertices = frame.vertices.data();
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glVertexPointer(3, GL_FLOAT, sizeof(FrameVertex), &vertices[0].x);
        glColorPointer(4, GL_UNSIGNED_BYTE, sizeof(FrameVertex), vertices[0].rgba);
        glTexCoordPointer(2, GL_FLOAT, sizeof(FrameVertex), &vertices[0].u);
    }
    for (const FrameDraw& draw : frame.draws) {
        // A row-vector matrix stored row by row is, read column by column as
        // OpenGL reads it, its transpose: the column-vector matrix OpenGL
        // wants. So each loads unchanged.
        const D3DMATRIX projection = MultiplyMatrices(draw.projection, clip);
        const D3DMATRIX modelView = MultiplyMatrices(draw.world, draw.view);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(&projection.m[0][0]);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(&modelView.m[0][0]);
        if (draw.texture >= 0) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, frameNames_[static_cast<size_t>(draw.texture)]);
            ApplySampler(frame.states);
        } else {
            glDisable(GL_TEXTURE_2D);
        }
        glDrawArrays(PrimitiveMode(draw.type), draw.firstVertex, draw.vertexCount);
    }
    if (!frame.vertices.empty()) {
        glDisableClientState(GL_VERTEX_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
}
