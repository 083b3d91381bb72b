// One step of a particle along its chaotic map, and its splat into the
// accumulation grid.
#include "plugin/scene_state.h"
#include "simulation/numeric.h"
#include "simulation/particle.h"

namespace {

// Adds the particle's soft blob to the 6 x 6 cells around (gx, gy). The inside
// test has already kept the block within the grid, so nothing is clipped.
void SplatParticle(const Particle* particle, float gx, float gy)
{
    const int firstColumn = Trunc(static_cast<double>(gx) - 3.0);
    const int endColumn = Trunc(static_cast<double>(gx) + 3.0);
    const int firstRow = Trunc(static_cast<double>(gy) - 3.0);
    const int endRow = Trunc(static_cast<double>(gy) + 3.0);
    const double falloff = 0.8 * static_cast<double>(particle->blobSize);
    const double red = particle->red;
    const double green = particle->green;
    const double blue = particle->blue;

    for (int cx = firstColumn; cx < endColumn; ++cx) {
        GridCell* column = &AccumulationGrid[cx * AccumulationGridHeight];
        const float dx = Single(static_cast<double>(gx) - cx);
        const float dxSquared = Single(static_cast<double>(dx) * dx);
        for (int cy = firstRow; cy < endRow; ++cy) {
            // Distance to the cell's integer corner, not its centre; the
            // squares and their sum are each rounded.
            const float dy = Single(static_cast<double>(gy) - cy);
            const float dySquared = Single(static_cast<double>(dy) * dy);
            const float distance = SqrtSingle(Single(static_cast<double>(dxSquared) + dySquared));
            float weight = Single(static_cast<double>(distance) * falloff);
            if (weight > 1.0f) {
                weight = 1.0f;
            }
            const double share = Single(1.0 - static_cast<double>(weight));

            // The old value is truncated before the share is added, so a cell
            // the blob does not reach still loses its fraction.
            GridCell& cell = column[cy];
            int sum = Trunc(share * red + static_cast<double>(Trunc(cell.red)));
            cell.red = static_cast<float>(sum > 255 ? 255 : sum);
            sum = Trunc(share * green + static_cast<double>(Trunc(cell.green)));
            cell.green = static_cast<float>(sum > 255 ? 255 : sum);
            sum = Trunc(share * blue + static_cast<double>(Trunc(cell.blue)));
            cell.blue = static_cast<float>(sum > 255 ? 255 : sum);
        }
    }
}

}  // namespace

void StepParticle(Particle* particle)
{
    const float x = particle->mapX;
    const float y = particle->mapY;
    const double h = particle->stepSize;

    // Base step, common to every family. A and B stay in double precision.
    const double baseA = h * SinSingle(Single(static_cast<double>(y) + AtanSingle(y)));
    const float sinX = SinSingle(x);
    const double baseB = h * TanSingle(Single(static_cast<double>(x) - sinX));
    const float x1 = Single(static_cast<double>(x) + baseA);
    const float y1 = Single(static_cast<double>(y) - baseB);

    float x2;
    float y2;
    switch (particle->equationType) {
    case 0:
        x2 = Single(static_cast<double>(x1) + baseA);
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 1:
        x2 = Single(static_cast<double>(x1) + h * SinSingle(Single(static_cast<double>(y) + CosSingle(y))));
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 2: {
        // The inner tangents are rounded before they are added.
        const double factor = 0.1 * h;
        x2 = Single(static_cast<double>(x1) + factor * TanSingle(Single(static_cast<double>(y) + TanSingle(x))));
        y2 = Single(static_cast<double>(y1) - factor * TanSingle(Single(static_cast<double>(x) - TanSingle(y))));
        particle->spawnAxis = 1;
        break;
    }
    case 3: {
        const double factor = 2.1 * h;
        x2 = Single(static_cast<double>(x1) + factor * TanSingle(x));
        y2 = Single(static_cast<double>(y1) - factor * TanSingle(y));
        particle->spawnAxis = 0;
        break;
    }
    case 4:
    case 5:
    case 6:
        // Same move; only the restart place differs.
        x2 = Single(static_cast<double>(x1) + (0.001 * h) * TanSingle(x));
        y2 = Single(static_cast<double>(y1) - (0.01 * h) * TanSingle(y));
        particle->spawnAxis = particle->equationType - 4;
        break;
    case 7:
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * CosSingle(x));
        particle->spawnAxis = 1;
        break;
    case 8:
    case 9:
        // sin x is the rounded value the base step already used.
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * sinX);
        particle->spawnAxis = particle->equationType == 8 ? 2 : 0;
        break;
    default:
        // Any other family moves as 7 and keeps the previous restart place.
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * CosSingle(x));
        break;
    }

    particle->lifeTicks -= 1;
    particle->mapX = x2;
    particle->mapY = y2;

    const float gx = Single(static_cast<double>(Single(static_cast<double>(x2) + particle->offsetX)) *
                            (static_cast<double>(particle->aspectFactor) * particle->scale));
    const float gy = Single(static_cast<double>(Single(static_cast<double>(y2) + particle->offsetY)) *
                            static_cast<double>(particle->scale));

    // Strict bounds; a position that is not a number fails every comparison.
    const bool inside = gx < static_cast<float>(particle->gridWidth - 10) && gx > 10.0f && gy > 10.0f &&
                        gy < static_cast<float>(particle->gridHeight - 10) && particle->lifeTicks >= 1;
    if (!inside) {
        RespawnParticle(particle, particle->offsetX, particle->offsetY, particle->scale);
        return;
    }

    particle->pixelX = Trunc(gx);
    particle->pixelY = Trunc(gy);
    SplatParticle(particle, gx, gy);
}
