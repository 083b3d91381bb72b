#include "core/move.h"

#include "core/numeric.h"

MapValues MapValuesOf(const Particle& particle)
{
    const float x = particle.mapX;
    const float y = particle.mapY;
    MapValues values = {};
    values.sinA = SinSingle(Single(static_cast<double>(y) + AtanSingle(y)));
    values.sinX = SinSingle(x);
    values.tanB = TanSingle(Single(static_cast<double>(x) - values.sinX));
    switch (particle.equationType) {
    case 0:
        break;
    case 1:
        values.first = SinSingle(Single(static_cast<double>(y) + CosSingle(y)));
        break;
    case 2:
        // The inner tangents are rounded before they are added.
        values.first = TanSingle(Single(static_cast<double>(y) + TanSingle(x)));
        values.second = TanSingle(Single(static_cast<double>(x) - TanSingle(y)));
        break;
    case 3:
    case 4:
    case 5:
    case 6:
        values.first = TanSingle(x);
        values.second = TanSingle(y);
        break;
    case 8:
    case 9:
        values.first = SinSingle(y);
        break;
    default:
        values.first = SinSingle(y);
        values.second = CosSingle(x);
        break;
    }
    return values;
}

namespace {

// ApplyMove for a given family: the tick's blocks, all of one family, call it
// with the family as a constant, so that each block's loop is one family's
// arithmetic with no switch in it.
__attribute__((always_inline)) inline GridPosition ApplyFamilyMove(Particle* particle, const MapValues& values,
                                                                   int32_t family)
{
    const double h = particle->stepSize;
    // Base step, common to every family. A and B stay in double precision.
    const double baseA = h * values.sinA;
    const double baseB = h * values.tanB;
    const float x1 = Single(static_cast<double>(particle->mapX) + baseA);
    const float y1 = Single(static_cast<double>(particle->mapY) - baseB);

    float x2;
    float y2;
    switch (family) {
    case 0:
        x2 = Single(static_cast<double>(x1) + baseA);
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 1:
        x2 = Single(static_cast<double>(x1) + h * values.first);
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 2:
        x2 = Single(static_cast<double>(x1) + (0.1 * h) * values.first);
        y2 = Single(static_cast<double>(y1) - (0.1 * h) * values.second);
        particle->spawnAxis = 1;
        break;
    case 3:
        x2 = Single(static_cast<double>(x1) + (2.1 * h) * values.first);
        y2 = Single(static_cast<double>(y1) - (2.1 * h) * values.second);
        particle->spawnAxis = 0;
        break;
    case 4:
    case 5:
    case 6:
        // Same move; only the restart place differs.
        x2 = Single(static_cast<double>(x1) + (0.001 * h) * values.first);
        y2 = Single(static_cast<double>(y1) - (0.01 * h) * values.second);
        particle->spawnAxis = family - 4;
        break;
    case 7:
        x2 = Single(static_cast<double>(x1) + h * values.first);
        y2 = Single(static_cast<double>(y1) - h * values.second);
        particle->spawnAxis = 1;
        break;
    case 8:
    case 9:
        // sin x is the rounded value the base step already used.
        x2 = Single(static_cast<double>(x1) + h * values.first);
        y2 = Single(static_cast<double>(y1) - h * values.sinX);
        particle->spawnAxis = family == 8 ? 2 : 0;
        break;
    default:
        // Any other family moves as 7 and keeps the previous restart place.
        x2 = Single(static_cast<double>(x1) + h * values.first);
        y2 = Single(static_cast<double>(y1) - h * values.second);
        break;
    }

    particle->lifeTicks -= 1;
    particle->mapX = x2;
    particle->mapY = y2;

    GridPosition position;
    position.gx = Single(static_cast<double>(Single(static_cast<double>(x2) + particle->offsetX)) *
                         (static_cast<double>(particle->aspectFactor) * particle->scale));
    position.gy = Single(static_cast<double>(Single(static_cast<double>(y2) + particle->offsetY)) *
                         static_cast<double>(particle->scale));
    return position;
}

}  // namespace

GridPosition ApplyMove(Particle* particle, const MapValues& values)
{
    return ApplyFamilyMove(particle, values, particle->equationType);
}

GridPosition MoveParticle(Particle* particle) { return ApplyMove(particle, MapValuesOf(*particle)); }

namespace {

// A block's map positions and function values, one array per quantity, so
// that each function runs over the whole block in lanes. Every value is the
// correctly rounded float MapValuesOf computes, whatever the lane count:
// the batch functions give the scalar functions' bits, and the sums between
// them are the same roundings, done one particle at a time.
struct BlockValues {
    float x[moveBlockSize];
    float y[moveBlockSize];
    float sum[moveBlockSize];
    float sinA[moveBlockSize];
    float sinX[moveBlockSize];
    float tanB[moveBlockSize];
    float first[moveBlockSize];
    float second[moveBlockSize];
};

// sum[n] = single(a[n] + sign b[n]): the arguments that are themselves sums.
void SumsOf(const float* a, const float* b, double sign, float* sum, uint32_t count)
{
    for (uint32_t n = 0; n < count; ++n) {
        sum[n] = Single(static_cast<double>(a[n]) + sign * b[n]);
    }
}

void BaseValues(BlockValues& v, uint32_t count, SimdLevel level)
{
    AtanSingleBatch(v.y, v.sum, count, level);
    SumsOf(v.y, v.sum, 1.0, v.sum, count);
    SinSingleBatch(v.sum, v.sinA, count, level);
    SinSingleBatch(v.x, v.sinX, count, level);
    SumsOf(v.x, v.sinX, -1.0, v.sum, count);
    TanSingleBatch(v.sum, v.tanB, count, level);
}

// The family's own values, as MapValuesOf gives them for that family (the
// block starts zeroed, so unused values are 0 as there).
void FamilyValues(int32_t family, BlockValues& v, uint32_t count, SimdLevel level)
{
    switch (family) {
    case 0:
        break;
    case 1:
        CosSingleBatch(v.y, v.sum, count, level);
        SumsOf(v.y, v.sum, 1.0, v.sum, count);
        SinSingleBatch(v.sum, v.first, count, level);
        break;
    case 2:
        TanSingleBatch(v.x, v.sum, count, level);
        SumsOf(v.y, v.sum, 1.0, v.sum, count);
        TanSingleBatch(v.sum, v.first, count, level);
        TanSingleBatch(v.y, v.sum, count, level);
        SumsOf(v.x, v.sum, -1.0, v.sum, count);
        TanSingleBatch(v.sum, v.second, count, level);
        break;
    case 3:
    case 4:
    case 5:
    case 6:
        TanSingleBatch(v.x, v.first, count, level);
        TanSingleBatch(v.y, v.second, count, level);
        break;
    case 8:
    case 9:
        SinSingleBatch(v.y, v.first, count, level);
        break;
    default:
        SinSingleBatch(v.y, v.first, count, level);
        CosSingleBatch(v.x, v.second, count, level);
        break;
    }
}

template <int32_t family>
void ApplyBlock(Particle* particles, const BlockValues& v, uint32_t count, GridPosition* positions)
{
    for (uint32_t n = 0; n < count; ++n) {
        const MapValues values = {v.sinA[n], v.sinX[n], v.tanB[n], v.first[n], v.second[n]};
        positions[n] = ApplyFamilyMove(&particles[n], values, family);
    }
}

}  // namespace

void MoveParticles(Particle* particles, uint32_t count, GridPosition* positions, SimdLevel level)
{
    BlockValues v = {};
    bool oneFamily = true;
    for (uint32_t n = 0; n < count; ++n) {
        v.x[n] = particles[n].mapX;
        v.y[n] = particles[n].mapY;
        oneFamily &= particles[n].equationType == particles[0].equationType;
    }
    if (!oneFamily) {
        for (uint32_t n = 0; n < count; ++n) {
            positions[n] = MoveParticle(&particles[n]);
        }
        return;
    }
    BaseValues(v, count, level);
    const int32_t family = particles[0].equationType;
    FamilyValues(family, v, count, level);
    switch (family) {
    case 0:
        return ApplyBlock<0>(particles, v, count, positions);
    case 1:
        return ApplyBlock<1>(particles, v, count, positions);
    case 2:
        return ApplyBlock<2>(particles, v, count, positions);
    case 3:
        return ApplyBlock<3>(particles, v, count, positions);
    case 4:
        return ApplyBlock<4>(particles, v, count, positions);
    case 5:
        return ApplyBlock<5>(particles, v, count, positions);
    case 6:
        return ApplyBlock<6>(particles, v, count, positions);
    case 7:
        return ApplyBlock<7>(particles, v, count, positions);
    case 8:
        return ApplyBlock<8>(particles, v, count, positions);
    case 9:
        return ApplyBlock<9>(particles, v, count, positions);
    default:
        // Every other family moves alike (the fallback row).
        return ApplyBlock<10>(particles, v, count, positions);
    }
}
