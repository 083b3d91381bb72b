// The rasterizer: transform, clip, cull, scan-convert, sample, depth-test and
// blend. See rasterizer.h for the conventions it follows.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "platform/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int subpixelBits = 8;
constexpr int64_t subpixelOne = int64_t(1) << subpixelBits;

struct ClipVertex {
    double x, y, z, w;  // clip space
    double r, g, b, a;  // diffuse, 0..255
    double u, v;
};

struct ScreenVertex {
    int64_t x, y;  // screen position in 1/256 pixel
    double z;      // depth after the viewport's 0..1 mapping
    double invW;
    double rw, gw, bw, aw, uw, vw;  // attributes divided by w
    double r, g, b, a, u, v;        // and as they are
};

int ToChannel(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 255.0)
        return 255;
    return static_cast<int>(value + 0.5);
}

uint32_t PackColor(int a, int r, int g, int b)
{
    return (static_cast<uint32_t>(a) << 24) | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
           static_cast<uint32_t>(b);
}

// Texel coordinates are kept within +-2^30 so that they convert to int; a
// coordinate that far out only comes from degenerate geometry.
double ClampTexelCoordinate(double x)
{
    if (!(x > -1073741824.0))
        return -1073741824.0;  // also NaN
    if (x > 1073741824.0)
        return 1073741824.0;
    return x;
}

// floor() through a 32-bit conversion: on 32-bit x86 the library floor and
// 64-bit conversions go through the x87 unit, many times slower than SSE2.
int FloorToInt(double x)
{
    int i = static_cast<int>(x);
    return i > x ? i - 1 : i;
}

// A texel index outside [0, size) wrapped into it.
int Wrap(int index, int size)
{
    if (index >= 0 && index < size)
        return index;
    int m = index % size;
    return m < 0 ? m + size : m;
}

// Floor of a / 2^subpixelBits for signed values; >> of a negative int64 is
// an arithmetic shift on every compiler we build with.
int64_t FloorPixel(int64_t subpixels) { return subpixels >> subpixelBits; }
int64_t CeilPixel(int64_t subpixels) { return (subpixels + subpixelOne - 1) >> subpixelBits; }

struct TriangleSetup;

class Pipeline {
public:
    Pipeline(const RasterTarget& target, const RasterState& state, const RasterTexture* texture)
        : target_(target), state_(state), texture_(texture)
    {}
    void Triangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, bool flipWinding);

private:
    void Rasterize(const ScreenVertex* input);
    void ShadeRow(const TriangleSetup& t, int py);
    uint32_t Sample(double u, double v, bool bilinear) const;
    uint32_t Blend(uint32_t source, uint32_t destination) const;

    const RasterTarget& target_;
    const RasterState& state_;
    const RasterTexture* texture_;
};

// Clips one triangle against the view volume (0 <= z <= w, |x|, |y| <= w),
// culls it by winding and hands the pieces to the scan conversion.
void Pipeline::Triangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, bool flipWinding)
{
    constexpr int maxVertices = 16;
    ClipVertex polygon[maxVertices] = {a, b, c};
    ClipVertex clipped[maxVertices];
    int count = 3;
    // The last plane keeps w away from zero, where the perspective divide
    // would blow up, for projections whose near plane does not already.
    auto distance = [](const ClipVertex& v, int plane) {
        switch (plane) {
        case 0:
            return v.z;
        case 1:
            return v.w - v.z;
        case 2:
            return v.w + v.x;
        case 3:
            return v.w - v.x;
        case 4:
            return v.w + v.y;
        case 5:
            return v.w - v.y;
        default:
            return v.w - 1e-9;
        }
    };
    for (int plane = 0; plane < 7 && count > 0; ++plane) {
        int out = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& current = polygon[i];
            const ClipVertex& next = polygon[(i + 1) % count];
            double dc = distance(current, plane);
            double dn = distance(next, plane);
            if (dc >= 0.0)
                clipped[out++] = current;
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
    if (count < 3)
        return;

    ScreenVertex screen[maxVertices];
    double halfWidth = target_.width * 0.5;
    double halfHeight = target_.height * 0.5;
    for (int i = 0; i < count; ++i) {
        const ClipVertex& v = polygon[i];
        ScreenVertex& s = screen[i];
        double invW = 1.0 / v.w;
        s.x = std::llround((v.x * invW + 1.0) * halfWidth * subpixelOne);
        s.y = std::llround((1.0 - v.y * invW) * halfHeight * subpixelOne);
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
    if (twiceArea == 0)
        return;
    if (flipWinding)
        twiceArea = -twiceArea;
    if (state_.cullCounterClockwise && twiceArea < 0)
        return;

    for (int i = 1; i + 1 < count; ++i) {
        ScreenVertex triangle[3] = {screen[0], screen[i], screen[i + 1]};
        Rasterize(triangle);
    }
}

uint32_t Pipeline::Sample(double u, double v, bool bilinear) const
{
    const RasterTexture& texture = *texture_;
    auto fetch = [&](int x, int y) -> uint32_t {
        uint32_t texel;
        std::memcpy(&texel,
                    texture.bits + static_cast<size_t>(Wrap(y, texture.height)) * texture.pitch +
                        static_cast<size_t>(Wrap(x, texture.width)) * 4,
                    4);
        return texel;
    };
    // Texel centres sit at (i + 0.5) / size, Direct3D 9's texture addressing.
    double x = ClampTexelCoordinate(u * texture.width - (bilinear ? 0.5 : 0.0));
    double y = ClampTexelCoordinate(v * texture.height - (bilinear ? 0.5 : 0.0));
    int x0 = FloorToInt(x);
    int y0 = FloorToInt(y);
    if (!bilinear)
        return fetch(x0, y0);

    uint32_t t00, t10, t01, t11;
    if (x0 >= 0 && y0 >= 0 && x0 + 1 < texture.width && y0 + 1 < texture.height) {
        // All four inside: no wrapping needed.
        const uint8_t* row0 = texture.bits + static_cast<size_t>(y0) * texture.pitch + static_cast<size_t>(x0) * 4;
        const uint8_t* row1 = row0 + texture.pitch;
        std::memcpy(&t00, row0, 4);
        std::memcpy(&t10, row0 + 4, 4);
        std::memcpy(&t01, row1, 4);
        std::memcpy(&t11, row1 + 4, 4);
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

// Blends a shaded source pixel over the back-buffer pixel: source x (source
// alpha or one) + destination x (inverse source alpha or zero), in integers.
uint32_t Pipeline::Blend(uint32_t source, uint32_t destination) const
{
    if (!state_.blend)
        return source;
    const uint32_t alpha = source >> 24;
    const uint32_t sourceFactor = state_.sourceAlpha ? alpha : 255;
    const uint32_t destinationFactor = state_.inverseSourceAlpha ? 255 - alpha : 0;
    // The layers' blend, by far the most frequent, meets both often: a
    // transparent texel leaves the pixel as it is, an opaque one replaces it.
    if (sourceFactor == 255 && destinationFactor == 0)
        return source;
    if (sourceFactor == 0 && destinationFactor == 255)
        return destination;
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t s = (source >> shift) & 0xFF;
        uint32_t d = (destination >> shift) & 0xFF;
        result |= std::min<uint32_t>((s * sourceFactor + d * destinationFactor + 127) / 255, 255) << shift;
    }
    return result;
}

// One triangle made ready for scan conversion: its pixel bounds, its edges
// and the interpolated quantities with their steps to the right.
struct TriangleSetup {
    // Edge k runs from vertex k+1 to vertex k+2 and weighs vertex k; it is
    // positive inside. A pixel exactly on an edge belongs to the triangle only
    // when the edge is a top or a left one.
    struct Edge {
        int64_t dx, dy, ax, ay;
        int64_t bias;
    };
    // Interpolated quantities: depth, 1/w and the attributes divided by w.
    enum { Depth, InverseW, Red, Green, Blue, Alpha, U, V, Count };

    int x0, x1, y0, y1;
    Edge edges[3];
    double invArea;
    double values[3][Count];
    double stepX[Count];  // change per pixel to the right
    // Only the quantities this triangle needs are stepped: every one costs an
    // addition per pixel, and on an emulated 32-bit host a float addition is
    // dear.
    int active[Count];
    int activeCount;
    // The diffuse colour is the same at every pixel when the three vertices
    // agree, the usual case; then it is not interpolated.
    bool flatColor;
    int flatR, flatG, flatB, flatA;
    bool bilinear;
};

bool SameColor(const ScreenVertex& p, const ScreenVertex& q)
{
    return p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a;
}

// The quantities, which of them this triangle steps, and their steps.
void SetUpInterpolation(TriangleSetup& t, const ScreenVertex* v, bool textured)
{
    for (int k = 0; k < 3; ++k) {
        const ScreenVertex& s = v[k];
        const double row[TriangleSetup::Count] = {s.z, s.invW, s.rw, s.gw, s.bw, s.aw, s.uw, s.vw};
        std::copy(row, row + TriangleSetup::Count, t.values[k]);
    }
    t.flatColor = SameColor(v[0], v[1]) && SameColor(v[0], v[2]);
    t.flatR = ToChannel(v[0].r);
    t.flatG = ToChannel(v[0].g);
    t.flatB = ToChannel(v[0].b);
    t.flatA = ToChannel(v[0].a);
    t.activeCount = 0;
    t.active[t.activeCount++] = TriangleSetup::Depth;
    if (textured || !t.flatColor)
        t.active[t.activeCount++] = TriangleSetup::InverseW;
    if (textured) {
        t.active[t.activeCount++] = TriangleSetup::U;
        t.active[t.activeCount++] = TriangleSetup::V;
    }
    if (!t.flatColor) {
        t.active[t.activeCount++] = TriangleSetup::Red;
        t.active[t.activeCount++] = TriangleSetup::Green;
        t.active[t.activeCount++] = TriangleSetup::Blue;
        t.active[t.activeCount++] = TriangleSetup::Alpha;
    }
    for (int q = 0; q < TriangleSetup::Count; ++q) {
        t.stepX[q] = 0.0;
        for (int k = 0; k < 3; ++k)
            t.stepX[q] += double(-t.edges[k].dy * subpixelOne) * t.invArea * t.values[k][q];
    }
}

// The covered span [first, last] of row py (offsets from x0), solved per
// edge in integers: the same pixels a per-pixel test of the three edges would
// pick. Leaves each edge's value at (x0, py) in e. Empty when first > last.
void RowSpan(const TriangleSetup& t, int py, int64_t e[3], int64_t& first, int64_t& last)
{
    const int64_t sy = int64_t(py) * subpixelOne;
    const int64_t sx0 = int64_t(t.x0) * subpixelOne;
    first = 0;
    last = t.x1 - t.x0;
    for (int k = 0; k < 3 && first <= last; ++k) {
        const TriangleSetup::Edge& edge = t.edges[k];
        e[k] = edge.dx * (sy - edge.ay) - edge.dy * (sx0 - edge.ax);
        const int64_t c = e[k] + edge.bias;  // inside while c + step * n >= 0
        const int64_t step = -edge.dy * subpixelOne;
        if (step == 0) {
            if (c < 0)
                first = last + 1;
        } else if (step > 0) {
            if (c < 0)
                first = std::max(first, (-c + step - 1) / step);
        } else {
            if (c < 0)
                first = last + 1;
            else
                last = std::min(last, c / -step);
        }
    }
}

// Scan-converts one triangle: top-left fill rule on 1/256-pixel positions,
// samples at integer pixel positions. Coverage is decided in integers;
// depth and the attributes divided by w are stepped across the row.
void Pipeline::Rasterize(const ScreenVertex* input)
{
    ScreenVertex v[3] = {input[0], input[1], input[2]};
    int64_t area = (v[1].x - v[0].x) * (v[2].y - v[0].y) - (v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (area == 0)
        return;
    if (area < 0) {
        std::swap(v[1], v[2]);
        area = -area;
    }

    TriangleSetup t;
    t.x0 = static_cast<int>(std::max<int64_t>(CeilPixel(std::min({v[0].x, v[1].x, v[2].x})), 0));
    t.x1 = static_cast<int>(std::min<int64_t>(FloorPixel(std::max({v[0].x, v[1].x, v[2].x})), target_.width - 1));
    t.y0 = static_cast<int>(std::max<int64_t>(CeilPixel(std::min({v[0].y, v[1].y, v[2].y})), 0));
    t.y1 = static_cast<int>(std::min<int64_t>(FloorPixel(std::max({v[0].y, v[1].y, v[2].y})), target_.height - 1));
    if (t.x0 > t.x1 || t.y0 > t.y1)
        return;
    for (int k = 0; k < 3; ++k) {
        const ScreenVertex& a = v[(k + 1) % 3];
        const ScreenVertex& b = v[(k + 2) % 3];
        TriangleSetup::Edge& e = t.edges[k];
        e.dx = b.x - a.x;
        e.dy = b.y - a.y;
        e.ax = a.x;
        e.ay = a.y;
        const bool topLeft = e.dy < 0 || (e.dy == 0 && e.dx > 0);
        e.bias = topLeft ? 0 : -1;
    }
    t.bilinear = false;
    if (texture_ != nullptr) {
        // Minified when the triangle covers more texels than pixels.
        const double texelArea =
            std::fabs((v[1].u - v[0].u) * (v[2].v - v[0].v) - (v[2].u - v[0].u) * (v[1].v - v[0].v)) * texture_->width *
            texture_->height;
        const double pixelArea = double(area) / double(subpixelOne * subpixelOne);
        t.bilinear = texelArea > pixelArea ? state_.minifyLinear : state_.magnifyLinear;
    }
    t.invArea = 1.0 / double(area);
    SetUpInterpolation(t, v, texture_ != nullptr);
    for (int py = t.y0; py <= t.y1; ++py) {
        ShadeRow(t, py);
    }
}

// The covered pixels of one row: depth test, colour and texture, blend.
void Pipeline::ShadeRow(const TriangleSetup& t, int py)
{
    int64_t e[3];
    int64_t first;
    int64_t last;
    RowSpan(t, py, e, first, last);
    if (first > last)
        return;
    double at[TriangleSetup::Count];
    for (int i = 0; i < t.activeCount; ++i) {
        const int q = t.active[i];
        at[q] = 0.0;
        for (int k = 0; k < 3; ++k)
            at[q] += double(e[k] - t.edges[k].dy * subpixelOne * first) * t.invArea * t.values[k][q];
    }
    uint32_t* colorRow = target_.color + static_cast<size_t>(py) * target_.width;
    float* depthRow = target_.depth + static_cast<size_t>(py) * target_.width;
    const RasterTexture* texture = texture_;
    const int pxEnd = t.x0 + static_cast<int>(last);
    for (int px = t.x0 + static_cast<int>(first); px <= pxEnd; ++px) {
        const float depth = static_cast<float>(at[TriangleSetup::Depth]);
        if (depth <= depthRow[px]) {
            int r = t.flatR, g = t.flatG, b = t.flatB, a = t.flatA;
            if (texture != nullptr || !t.flatColor) {
                const double w = 1.0 / at[TriangleSetup::InverseW];
                if (!t.flatColor) {
                    r = ToChannel(at[TriangleSetup::Red] * w);
                    g = ToChannel(at[TriangleSetup::Green] * w);
                    b = ToChannel(at[TriangleSetup::Blue] * w);
                    a = ToChannel(at[TriangleSetup::Alpha] * w);
                }
                if (texture != nullptr) {
                    uint32_t texel = Sample(at[TriangleSetup::U] * w, at[TriangleSetup::V] * w, t.bilinear);
                    // Stage 0 defaults: colour = texture x diffuse (MODULATE),
                    // alpha = texture (SELECTARG1).
                    r = (static_cast<int>((texel >> 16) & 0xFF) * r + 127) / 255;
                    g = (static_cast<int>((texel >> 8) & 0xFF) * g + 127) / 255;
                    b = (static_cast<int>(texel & 0xFF) * b + 127) / 255;
                    a = static_cast<int>(texel >> 24);
                }
            }
            colorRow[px] = Blend(PackColor(a, r, g, b), colorRow[px]);
            depthRow[px] = depth;
        }
        for (int i = 0; i < t.activeCount; ++i)
            at[t.active[i]] += t.stepX[t.active[i]];
    }
}

}  // namespace

void DrawTriangleStrip(const RasterTarget& target, const RasterState& state, const RasterTexture* texture,
                       const uint8_t* vertices, UINT stride, UINT triangles)
{
    // Combined transform v' = v . World . View . Projection (row vectors).
    double wvp[4][4];
    {
        double wv[4][4];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double sum = 0.0;
                for (int k = 0; k < 4; ++k)
                    sum += double(state.world.m[r][k]) * state.view.m[k][c];
                wv[r][c] = sum;
            }
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double sum = 0.0;
                for (int k = 0; k < 4; ++k)
                    sum += wv[r][k] * state.projection.m[k][c];
                wvp[r][c] = sum;
            }
    }

    auto fetch = [&](uint64_t index) {
        const uint8_t* bytes = vertices + index * stride;
        float position[3];
        std::memcpy(position, bytes, sizeof position);
        ClipVertex vertex;
        vertex.x = position[0] * wvp[0][0] + position[1] * wvp[1][0] + position[2] * wvp[2][0] + wvp[3][0];
        vertex.y = position[0] * wvp[0][1] + position[1] * wvp[1][1] + position[2] * wvp[2][1] + wvp[3][1];
        vertex.z = position[0] * wvp[0][2] + position[1] * wvp[1][2] + position[2] * wvp[2][2] + wvp[3][2];
        vertex.w = position[0] * wvp[0][3] + position[1] * wvp[1][3] + position[2] * wvp[2][3] + wvp[3][3];
        D3DCOLOR diffuse;
        std::memcpy(&diffuse, bytes + 12, 4);
        // No lights and a zero material: only the vertex's alpha survives.
        if (state.lighting)
            diffuse &= 0xFF000000u;
        vertex.a = double(diffuse >> 24);
        vertex.r = double((diffuse >> 16) & 0xFF);
        vertex.g = double((diffuse >> 8) & 0xFF);
        vertex.b = double(diffuse & 0xFF);
        float uv[2];
        std::memcpy(uv, bytes + 16, sizeof uv);
        vertex.u = uv[0];
        vertex.v = uv[1];
        return vertex;
    };

    Pipeline pipeline(target, state, texture);
    for (UINT i = 0; i < triangles; ++i) {
        // Every second strip triangle runs the other way round; its winding is
        // judged as if its first two vertices were swapped.
        pipeline.Triangle(fetch(i), fetch(i + 1ull), fetch(i + 2ull), (i & 1) != 0);
    }
}
