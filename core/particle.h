// One particle of the scene and the cell type shared by the grids.
#pragma once

#include <cstdint>

// One cell of the accumulation and glow grids. Channel order blue, green, red;
// the extra field is carried along and never used.
struct GridCell {
    float blue;
    float green;
    float red;
    float extra;
};

// Glow weights around a particle: [i][j], i the column offset, j the row
// offset, centre [5][5] (the halo uses i and j from 1 to 9). Only these
// 10 x 10 weights are ever written or read, so only they are stored: the
// record stays small and hot in cache, and is exactly what a dump holds.
enum { BlobKernelSize = 10 };
struct BlobKernel {
    GridCell cells[BlobKernelSize][BlobKernelSize];
};

// Held by value in the particle list and copied when it grows: no pointers.
struct Particle {
    float mapX;  // state of the chaotic map, map units
    float mapY;
    float offsetX;  // pattern offset added before scaling
    float offsetY;
    float scale;     // grid cells per map unit
    int32_t pixelX;  // grid cell of the latest splat
    int32_t pixelY;
    BlobKernel kernel;  // computed at respawn, read by the glow pass
    float blue;         // splat colour, 0 to 255
    float green;
    float red;
    int32_t gridWidth;  // copied from the scene at creation
    int32_t gridHeight;
    float aspectFactor;  // horizontal stretch of the pattern
    int32_t equationType;
    int32_t spawnAxis;  // 0 anywhere, 1 middle row, 2 middle column
    int32_t lifeTicks;  // steps left before a forced respawn
    float blobSize;     // fall-off of splat and kernel, 0.3 to 1.3
    float stepSize;     // step length of the map, 0.01 to 0.192
};

// Gives the particle a new life: colour, start position, life, blob and step
// size and kernel. Draws 10 random numbers, or 12 when the colour comes out
// white. Reads gridWidth, gridHeight, aspectFactor and spawnAxis.
void RespawnParticle(Particle* particle, float offsetX, float offsetY, float scale);
