// A particle's new life: colour, start position, life, blob and kernel.
#include "core/generator.h"
#include "core/numeric.h"
#include "core/particle.h"

namespace {

// The draws are scaled by double-precision quotients k / 32767.
const double colourRedSpan = 155.0 / 32767.0;
const double colourGreenSpan = 100.0 / 32767.0;
const double colourBlueSpan = 65.0 / 32767.0;
const double whiteTestSpan = 100.0 / 32767.0;
const double whiteSpan = 20.0 / 32767.0;
const double lifeSpan = 2500.0 / 32767.0;
const double blobSpan = 1.0 / 32767.0;
// The step-size span is 0.182 rounded to single precision, then divided in double.
const double stepSpan = static_cast<double>(0.182f) / 32767.0;

// Fills the kernel's 10 x 10 weights that the glow pass reads.
void ComputeBlobKernel(Particle* particle)
{
    const double blobFalloff = static_cast<double>(particle->blobSize) / 1.3;
    const double redGain = 1.0 + static_cast<double>(particle->stepSize) / 256.0;
    const double blueGreenGain = 1.0 + static_cast<double>(particle->stepSize) / 128.0;
    for (int i = 0; i < BlobKernelSize; ++i) {
        for (int j = 0; j < BlobKernelSize; ++j) {
            // The centre is 5 on both axes, not 4.5.
            const int squaredDistance = (5 - i) * (5 - i) + (5 - j) * (5 - j);
            const float distance = SqrtSingle(static_cast<float>(squaredDistance));
            float weight = Single(static_cast<double>(distance) * 0.7 * blobFalloff);
            if (weight > 1.0f) {
                weight = 1.0f;
            } else if (weight < 0.0f) {
                weight = 0.0f;
            }
            const float falloff = Single(1.0 - static_cast<double>(weight));
            const float red = Single(static_cast<double>(falloff) * redGain);
            const float blueGreen = Single(static_cast<double>(falloff) * blueGreenGain);
            GridCell& cell = particle->kernel.cells[i][j];
            cell.blue = blueGreen;
            cell.green = blueGreen;
            cell.red = red;
        }
    }
}

}  // namespace

void RespawnParticle(Particle* particle, float offsetX, float offsetY, float scale)
{
    particle->offsetX = offsetX;
    particle->offsetY = offsetY;
    particle->scale = scale;

    particle->red = Single(static_cast<double>(Single(DrawRandom() * colourRedSpan)) + 100.0);
    particle->green = Single(
        (static_cast<double>(particle->red) - static_cast<double>(Single(DrawRandom() * colourGreenSpan))) * 0.5);
    particle->blue = Single(DrawRandom() * colourBlueSpan);

    // About 2 % of respawns come out white; their two extra draws are made
    // only then.
    const float whiteTest = Single(DrawRandom() * whiteTestSpan);
    if (whiteTest > 98.0f) {
        const float white = Single(static_cast<double>(Single(DrawRandom() * whiteSpan)) + 235.0);
        particle->red = white;
        particle->green = white;
        particle->blue = Single(static_cast<double>(Single(DrawRandom() * whiteSpan)) + 235.0);
    }

    DrawRandom();  // drawn and discarded; keeps the sequence in step

    // Uniform start over the whole grid, in map units. Both draws happen even
    // when the spawn axis overrides one of the coordinates below.
    const double gridWidth = static_cast<double>(particle->gridWidth);
    const float spanX = Single(gridWidth / static_cast<double>(scale) / static_cast<double>(particle->aspectFactor));
    particle->mapX = Single(static_cast<double>(Single(DrawRandom() * (static_cast<double>(spanX) / 32767.0))) -
                            static_cast<double>(offsetX));
    const float spanY = Single(static_cast<double>(particle->gridHeight) / static_cast<double>(scale));
    particle->mapY = Single(static_cast<double>(Single(DrawRandom() * (static_cast<double>(spanY) / 32767.0))) -
                            static_cast<double>(offsetY));

    if (particle->spawnAxis == 1) {
        // Middle row of the grid.
        particle->mapY = Single(static_cast<double>(particle->gridHeight / 2) / static_cast<double>(scale) -
                                static_cast<double>(offsetY));
    }
    if (particle->spawnAxis == 2) {
        // Middle column of the grid.
        particle->mapX =
            Single(gridWidth / static_cast<double>(scale) / static_cast<double>(particle->aspectFactor) * 0.5 -
                   static_cast<double>(offsetX));
    }

    // The sum is truncated without a further rounding to single precision.
    particle->lifeTicks = Trunc(static_cast<double>(Single(DrawRandom() * lifeSpan)) + 500.0);
    particle->blobSize = Single(static_cast<double>(Single(DrawRandom() * blobSpan)) + 0.3);
    particle->stepSize = Single(static_cast<double>(Single(DrawRandom() * stepSpan)) + 0.01);

    ComputeBlobKernel(particle);
}
