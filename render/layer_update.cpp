#include "render/layer_update.h"

#include <cstring>

#include "plugin/scene_state.h"
#include "simulation/generator.h"
#include "simulation/numeric.h"

namespace {

// Fade factors per visit, and the further factors while a new pattern is
// settling in. The blue factor is one unit in the last place above the
// double nearest to 0.7976, on purpose.
const double fadeFactorRed = 0.764;
const double fadeFactorGreen = 0.76;
const double fadeFactorBlue = 0.7976000000000001;
const double settlingFactorRed = 0.5;
const double settlingFactorGreen = 0.5;
const double settlingFactorBlue = 0.8;
const int32_t settlingTicks = 300;
const float fadeFloor = 5.0f;  // anything dimmer goes to black

const int latticeStep = 5;

// Glow weight per channel of the halo.
const double glowWeightRed = 170.0;
const double glowWeightGreen = 40.0;
const double glowWeightBlue = 70.0;

int DrawLatticePhase() { return Trunc(Single(DrawRandom() * (5.0 / 32767.0))); }

uint32_t* TexelRow(uint32_t* texels, int32_t pitchBytes, int y)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(texels) +
                                       static_cast<ptrdiff_t>(y) * pitchBytes);
}

float CapChannel(float value) { return value > 255.0f ? 255.0f : value; }

// A locked rectangle we may write: memory and a pitch that holds a whole row.
uint32_t* WritableTexels(const D3DLOCKED_RECT& locked, HRESULT result, int32_t width)
{
    if (FAILED(result) || locked.pBits == nullptr || locked.Pitch < width * 4) {
        return nullptr;
    }
    return static_cast<uint32_t*>(locked.pBits);
}

}  // namespace

uint32_t PackTexel(float red, float green, float blue)
{
    const uint32_t r = static_cast<uint32_t>(Trunc(red)) & 0xFFu;
    const uint32_t g = static_cast<uint32_t>(Trunc(green)) & 0xFFu;
    const uint32_t b = static_cast<uint32_t>(Trunc(blue)) & 0xFFu;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

void FadePass(uint32_t* texels, int32_t pitchBytes)
{
    const int gridWidth = scene.gridWidth < AccumulationGridWidth ? scene.gridWidth : AccumulationGridWidth;
    const int gridHeight = scene.gridHeight < AccumulationGridHeight ? scene.gridHeight : AccumulationGridHeight;
    const bool settling = scene.ticksSinceReseed < settlingTicks;

    for (int y = DrawLatticePhase(); y < gridHeight; y += latticeStep) {
        uint32_t* row = TexelRow(texels, pitchBytes, y);
        for (int x = DrawLatticePhase(); x < gridWidth; x += latticeStep) {
            GridCell& cell = AccumulationGrid[x * AccumulationGridHeight + y];
            float red = cell.red;
            float green = cell.green;
            float blue = cell.blue;
            if (!(static_cast<double>(red) + green + blue > 0.0)) {
                continue;  // an empty cell and its texel stay untouched
            }
            red = Single(red * fadeFactorRed);
            green = Single(green * fadeFactorGreen);
            blue = Single(blue * fadeFactorBlue);
            if (settling) {
                red = Single(red * settlingFactorRed);
                green = Single(green * settlingFactorGreen);
                blue = Single(blue * settlingFactorBlue);
            }
            if (red < fadeFloor) red = 0.0f;
            if (green < fadeFloor) green = 0.0f;
            if (blue < fadeFloor) blue = 0.0f;
            cell.red = red;
            cell.green = green;
            cell.blue = blue;
            row[x] = PackTexel(red, green, blue);
        }
    }
}

void ParticleTexelPass(uint32_t* texels, int32_t pitchBytes)
{
    const int gridWidth = scene.gridWidth < AccumulationGridWidth ? scene.gridWidth : AccumulationGridWidth;
    const int gridHeight = scene.gridHeight < AccumulationGridHeight ? scene.gridHeight : AccumulationGridHeight;
    const Particle* const end = particles.records + particles.count;
    for (const Particle* particle = particles.records; particle != end; ++particle) {
        // Column 0 and row 0 are never refreshed here.
        for (int64_t y = static_cast<int64_t>(particle->pixelY) - 3; y <= particle->pixelY + int64_t{2}; ++y) {
            if (y < 1 || y >= gridHeight) continue;
            uint32_t* row = TexelRow(texels, pitchBytes, static_cast<int>(y));
            for (int64_t x = static_cast<int64_t>(particle->pixelX) - 3; x <= particle->pixelX + int64_t{2}; ++x) {
                if (x < 1 || x >= gridWidth) continue;
                const GridCell& cell = AccumulationGrid[x * AccumulationGridHeight + y];
                // Capped for the texel only; the grid keeps its value.
                row[x] = PackTexel(CapChannel(cell.red), CapChannel(cell.green), CapChannel(cell.blue));
            }
        }
    }
}

void GlowClearPass(uint32_t* texels, int32_t pitchBytes)
{
    std::memset(GlowGrid, 0, sizeof(GlowGrid));
    if (texels == nullptr) {
        return;
    }
    const int halfWidth = GlowGridWidth;
    const int halfHeight = GlowGridHeight;
    for (int y = 0; y < halfHeight; ++y) {
        std::memset(TexelRow(texels, pitchBytes, y), 0, static_cast<size_t>(halfWidth) * 4);
    }
}

void HaloPass(uint32_t* texels, int32_t pitchBytes)
{
    const int gridHalfWidth = scene.gridWidth >> 1;
    const int gridHalfHeight = scene.gridHeight >> 1;
    const int halfWidth = gridHalfWidth < GlowGridWidth ? gridHalfWidth : GlowGridWidth;
    const int halfHeight = gridHalfHeight < GlowGridHeight ? gridHalfHeight : GlowGridHeight;
    const Particle* const end = particles.records + particles.count;
    for (const Particle* particle = particles.records; particle != end; ++particle) {
        const int hx = particle->pixelX >> 1;
        const int hy = particle->pixelY >> 1;
        // Kernel indices 1..9 only: the halo is the 9 x 9 cells hx-4..hx+4.
        for (int j = 1; j < BlobKernelSize; ++j) {
            const int64_t y = static_cast<int64_t>(hy) + j - 5;
            if (y < 1 || y >= halfHeight) continue;
            for (int i = 1; i < BlobKernelSize; ++i) {
                const int64_t x = static_cast<int64_t>(hx) + i - 5;
                if (x < 1 || x >= halfWidth) continue;
                const GridCell& k = particle->kernel.cells[i][j];
                const GridCell& full = AccumulationGrid[(2 * x) * AccumulationGridHeight + 2 * y];
                GridCell& glow = GlowGrid[x * GlowGridHeight + y];
                // Every bracketed partial result and every sum is rounded.
                float red = Single(static_cast<double>(Single(static_cast<double>(k.red) + 1.0)) * full.red +
                                   glowWeightRed * k.red);
                red = Single(static_cast<double>(red) + glow.red);
                float green = Single(static_cast<double>(Single(static_cast<double>(k.green) + 1.0)) * full.green +
                                     glowWeightGreen * k.green);
                green = Single(static_cast<double>(green) + glow.green);
                float blue = Single(static_cast<double>(Single(static_cast<double>(k.blue) + 1.0)) * full.blue +
                                    glowWeightBlue * k.blue);
                blue = Single(static_cast<double>(blue) + glow.blue);
                red = CapChannel(red);
                green = CapChannel(green);
                blue = CapChannel(blue);
                glow.red = red;
                glow.green = green;
                glow.blue = blue;
                // A zero-weight cell that is still black is left transparent.
                if (texels != nullptr &&
                    (static_cast<double>(k.red) + k.green + k.blue > 0.0 ||
                     static_cast<double>(red) + green + blue > 0.0)) {
                    TexelRow(texels, pitchBytes, static_cast<int>(y))[x] = PackTexel(red, green, blue);
                }
            }
        }
    }
}

void UpdateFullLayer()
{
    IDirect3DTexture9* texture = scene.FullLayerTexture;
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);

    // The passes write the persistent copy whatever the lock gave, so the
    // simulation never depends on whether a device call succeeded.
    const int32_t layerPitch = AccumulationGridWidth * 4;
    FadePass(FullLayerTexels, layerPitch);
    ParticleTexelPass(FullLayerTexels, layerPitch);

    // A discard lock hands over undefined memory: copy the whole layer.
    const int width = scene.gridWidth < AccumulationGridWidth ? scene.gridWidth : AccumulationGridWidth;
    const int height = scene.gridHeight < AccumulationGridHeight ? scene.gridHeight : AccumulationGridHeight;
    uint32_t* destination = WritableTexels(locked, result, width);
    if (destination != nullptr) {
        if (locked.Pitch == layerPitch && width == AccumulationGridWidth) {
            std::memcpy(destination, FullLayerTexels, static_cast<size_t>(layerPitch) * height);
        } else {
            for (int y = 0; y < height; ++y) {
                std::memcpy(TexelRow(destination, locked.Pitch, y), &FullLayerTexels[y * AccumulationGridWidth],
                            static_cast<size_t>(width) * 4);
            }
        }
    }
    texture->UnlockRect(0);
}

void UpdateGlowLayer()
{
    IDirect3DTexture9* texture = scene.GlowLayerTexture;
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
    uint32_t* texels = WritableTexels(locked, result, GlowGridWidth);
    GlowClearPass(texels, locked.Pitch);
    HaloPass(texels, locked.Pitch);
    texture->UnlockRect(0);
}
