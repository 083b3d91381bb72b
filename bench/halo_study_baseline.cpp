// halo_study: why the HaloArithmetic benchmark of 24c5995 (0.82 ms on the
// machine of issue 14) did not measure the work a frame's glow does. Built
// only against that tree (it calls its layer passes and globals directly),
// by halo-study.sh.
//
// In 24c5995 a frame's glow is UpdateGlowLayer (render/layer_update.cpp):
// lock the glow texture, clear its 2.3 MB of texels, start a fresh map of
// the written cells, lay every particle's halo over last frame's glow as if
// it had been cleared, zero the cells last frame's halos wrote and this
// frame's did not. HaloArithmetic instead called HaloPass, the halos alone,
// over and over on 2000 particles moved onto twenty spots, into a texel
// buffer of its own, the glow grid never cleared. The variants change one
// thing at a time:
//
//  HaloPass/spots/neverCleared      HaloArithmetic as it was.
//  HaloPass/spots/clearedFirst      the spots' glow cells zeroed (untimed)
//                                   before every run, as a frame's clear
//                                   leaves them.
//  HaloPass/twoTicks/neverCleared   the real particles of two consecutive
//                                   ticks in turn, their glow never cleared:
//                                   it climbs to the cap as on the spots.
//  HaloPass/twoTicks/clearedFirst   the same with the halo cells of the list
//                                   about to be laid zeroed (untimed) first.
//  GlowLayer/spots                  the frame's whole glow work
//                                   (UpdateGlowLayer on the device's texture)
//                                   on the twenty spots.
//  GlowLayer/twoTicks               UpdateGlowLayer on the real particles of
//                                   two consecutive ticks in turn: a frame's
//                                   glow work on a frame's data, cached as far
//                                   as the caches hold it (the current tree's
//                                   GlowInCache).
//  GlowLayer/twoTicksFromMemory     the same after a 128 MB sweep (untimed).
//  Frame/particles:2000             the whole frame, for scale.
//
// After the table it prints what the halos left in the glow grid: the share
// of halo cells standing at the 255 cap in all three channels, and the share
// of halo texels left unwritten, for the spots and for a real frame.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "benchmark_body.h"
#include "bodies.h"
#include "cache_sweep.h"
#include "platform/software_device.h"
#include "plugin/scene_state.h"
#include "render/layer_update.h"

namespace {

const SceneConfig frameScene = {1, -1, true};
const int spots = 20;

// Moves every particle onto one of the twenty spots of the old benchmark;
// the returned places put them back.
std::vector<int32_t> MoveOntoSpots()
{
    std::vector<int32_t> places;
    for (uint32_t n = 0; n < particles.count; ++n) {
        places.push_back(particles.records[n].pixelX);
        places.push_back(particles.records[n].pixelY);
        particles.records[n].pixelX = 100 + 83 * static_cast<int32_t>(n % spots);
        particles.records[n].pixelY = 200 + 37 * static_cast<int32_t>(n % spots);
    }
    return places;
}

void PutBack(const std::vector<int32_t>& places)
{
    for (uint32_t n = 0; n < particles.count; ++n) {
        particles.records[n].pixelX = places[2 * n];
        particles.records[n].pixelY = places[2 * n + 1];
    }
}

// Calls fn for every glow cell inside a particle's halo (kernel indices 1..9,
// within the grid's half size), once per particle.
template <typename Fn>
void ForEachHaloCell(Fn fn)
{
    const int halfWidth = scene.gridWidth >> 1;
    const int halfHeight = scene.gridHeight >> 1;
    for (uint32_t n = 0; n < particles.count; ++n) {
        const int hx = particles.records[n].pixelX >> 1;
        const int hy = particles.records[n].pixelY >> 1;
        for (int x = hx - 4; x <= hx + 4; ++x) {
            for (int y = hy - 4; y <= hy + 4; ++y) {
                if (x >= 1 && x < halfWidth && y >= 1 && y < halfHeight) {
                    fn(x, y);
                }
            }
        }
    }
}

// Zeroes the glow cells of the halos of the particles as they stand.
void ZeroHaloGlow()
{
    ForEachHaloCell([](int x, int y) { std::memset(&GlowGrid[x * GlowGridHeight + y], 0, sizeof(GridCell)); });
}

// What the halos of the current particle places left: cells at the cap in
// all channels, and texels not written (zero: a written texel is opaque).
struct HaloCensus {
    long cells = 0;
    long saturated = 0;
    long unwritten = 0;
};

HaloCensus TakeCensus(const uint32_t* texels, int pitchTexels)
{
    std::vector<bool> seen(static_cast<size_t>(GlowGridWidth) * GlowGridHeight, false);
    HaloCensus census;
    ForEachHaloCell([&](int x, int y) {
        const size_t index = static_cast<size_t>(x) * GlowGridHeight + y;
        if (seen[index])
            return;
        seen[index] = true;
        const GridCell& cell = GlowGrid[index];
        ++census.cells;
        if (cell.blue >= 255.0f && cell.green >= 255.0f && cell.red >= 255.0f)
            ++census.saturated;
        if (texels != nullptr && texels[static_cast<size_t>(y) * pitchTexels + x] == 0)
            ++census.unwritten;
    });
    return census;
}

HaloCensus spotsCensus;        // after the runs of HaloArithmetic
HaloCensus spotsOneRunCensus;  // after one run from zeroed spots
HaloCensus frameCensus;

// The particle lists a run lays in turn: the scene's own records moved
// onto the spots, or copies of the records of two consecutive ticks. The
// scene gets its own back at the end.
class HaloLists {
public:
    explicit HaloLists(bool twoTicks) : twoTicks_(twoTicks)
    {
        PrepareScene(frameScene);
        own_ = particles.records;
        if (!twoTicks_) {
            places_ = MoveOntoSpots();
            return;
        }
        before_.assign(particles.records, particles.records + particles.count);
        BenchTick(frameScene);
        after_.assign(particles.records, particles.records + particles.count);
    }
    ~HaloLists()
    {
        particles.records = own_;
        if (!twoTicks_) {
            PutBack(places_);
        }
    }
    // The list of the next run.
    void Next()
    {
        if (twoTicks_) {
            particles.records = turn_ == 0 ? after_.data() : before_.data();
            turn_ ^= 1;
        }
    }

private:
    bool twoTicks_;
    Particle* own_ = nullptr;
    std::vector<int32_t> places_;
    std::vector<Particle> before_;
    std::vector<Particle> after_;
    int turn_ = 0;
};

void BM_HaloPass(benchmark::State& state, bool twoTicks, bool clearFirst)
{
    HaloLists lists(twoTicks);
    std::vector<uint32_t> glowTexels(size_t{GlowGridWidth} * GlowGridHeight);
    for (auto _ : state) {
        lists.Next();
        if (clearFirst) {
            state.PauseTiming();
            ZeroHaloGlow();
            state.ResumeTiming();
        }
        HaloPass(glowTexels.data(), GlowGridWidth * 4);
        benchmark::DoNotOptimize(glowTexels.data());
        benchmark::ClobberMemory();
    }
    if (!twoTicks) {
        (clearFirst ? spotsOneRunCensus : spotsCensus) = TakeCensus(nullptr, 0);
    }
}

void BM_GlowLayer(benchmark::State& state, bool twoTicks, bool evictFirst)
{
    HaloLists lists(twoTicks);
    CacheSweep sweep(evictFirst);
    for (auto _ : state) {
        lists.Next();
        if (evictFirst) {
            state.PauseTiming();
            benchmark::DoNotOptimize(sweep.Run());
            state.ResumeTiming();
        }
        UpdateGlowLayer();
        benchmark::ClobberMemory();
    }
}

// The census of a real frame: one more tick and frame, then the glow grid
// and the glow texture as that frame left them.
void CensusOfAFrame()
{
    PrepareScene(frameScene);
    BenchTick(frameScene);
    BenchFrame();
    std::vector<uint32_t> texels;
    int width = 0;
    int height = 0;
    if (SoftwareDevice::ReadTexels(scene.GlowLayerTexture, texels, width, height)) {
        frameCensus = TakeCensus(texels.data(), width);
    }
}

void PrintCensus(const char* what, const HaloCensus& census, bool texels)
{
    if (census.cells == 0)
        return;
    std::printf("  %-36s %7ld cells, %5.1f %% at the cap in all channels", what, census.cells,
                100.0 * census.saturated / census.cells);
    if (texels) {
        std::printf(", %5.1f %% of their texels left unwritten", 100.0 * census.unwritten / census.cells);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::unique_ptr<BenchBody>> bodies = MakeEntryPointBodies();
    const struct {
        const char* name;
        bool twoTicks;
        bool clearFirst;
    } haloPasses[] = {{"HaloPass/spots/neverCleared", false, false},
                      {"HaloPass/spots/clearedFirst", false, true},
                      {"HaloPass/twoTicks/neverCleared", true, false},
                      {"HaloPass/twoTicks/clearedFirst", true, true}};
    std::vector<std::string> names;
    for (const auto& pass : haloPasses) {
        benchmark::RegisterBenchmark(pass.name, BM_HaloPass, pass.twoTicks, pass.clearFirst)
            ->Unit(benchmark::kMicrosecond);
        names.push_back(pass.name);
    }
    const struct {
        const char* name;
        bool twoTicks;
        bool evictFirst;
    } glowLayers[] = {{"GlowLayer/spots", false, false},
                      {"GlowLayer/twoTicks", true, false},
                      {"GlowLayer/twoTicksFromMemory", true, true}};
    for (const auto& layer : glowLayers) {
        benchmark::RegisterBenchmark(layer.name, BM_GlowLayer, layer.twoTicks, layer.evictFirst)
            ->Unit(benchmark::kMicrosecond);
        names.push_back(layer.name);
    }
    for (const std::unique_ptr<BenchBody>& body : bodies) {
        if (body->Name() == "Frame/particles:2000") {
            RegisterBody(body.get());
            names.push_back(body->Name());
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    LeastTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double haloArithmetic = reporter.Seconds(names[0]);
    std::printf("\nLeast CPU time of the repetitions, against HaloArithmetic as it was:\n");
    for (const std::string& name : names) {
        const double seconds = reporter.Seconds(name);
        if (seconds > 0.0 && haloArithmetic > 0.0) {
            std::printf("  %-34s %9.1f us  %6.2f x\n", name.c_str(), seconds * 1e6, seconds / haloArithmetic);
        }
    }

    CensusOfAFrame();
    std::printf("\nWhat the halos left in the glow grid:\n");
    PrintCensus("HaloArithmetic's spots, after its runs", spotsCensus, false);
    PrintCensus("the spots after one run from zero", spotsOneRunCensus, false);
    PrintCensus("a real frame (2000 particles)", frameCensus, true);
    return 0;
}
