// renderFrame's own CPU work per frame, with its GL calls recorded by the sink,
// against the floor of the sines it must evaluate. Both run at the same
// progress values; with --benchmark_enable_random_interleaving and repetitions
// the two are measured side by side under the same load.
//
// The argument is progress in thousandths. Each value below gives the full
// window of 301 triangles (progress above 0.13 and below 1).
#include <benchmark/benchmark.h>

#include "gl_sink.h"
#include "malloc_count.h"
#include "picture/picture.h"
#include "sin_floor.h"

namespace {

const int PROGRESS_MILLI[] = {150, 300, 510, 700, 900, 990};
const int ALLOCATION_PROBE_FRAMES = 1000;

float progressOf(const benchmark::State& state) {
    return static_cast<float>(state.range(0)) / 1000.0f;
}

void BM_renderFrame(benchmark::State& state) {
    const float progress = progressOf(state);
    sinkReset();
    for (auto _ : state) {
        renderFrame(progress);
        benchmark::ClobberMemory();
    }
    state.counters["triangles"] = glSink.vertexCount / 3;
    state.counters["dropped"] = glSink.droppedVertices;

    // Outside the timed loop: allocator calls over many frames.
    const unsigned long before = allocationCalls();
    for (int f = 0; f < ALLOCATION_PROBE_FRAMES; ++f) renderFrame(progress);
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocationCalls() - before) / ALLOCATION_PROBE_FRAMES;
}

void BM_sinFloor(benchmark::State& state) {
    const float progress = progressOf(state);
    int count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sinFloor(progress, &count));
    }
    state.counters["sines"] = count;
    state.counters["triangles"] = windowTriangles(progress);
}

void progressArgs(benchmark::internal::Benchmark* b) {
    for (int p : PROGRESS_MILLI) b->Arg(p);
}

BENCHMARK(BM_renderFrame)->Apply(progressArgs);
BENCHMARK(BM_sinFloor)->Apply(progressArgs);

}  // namespace

int main(int argc, char** argv) {
    initNoiseTexture();  // on the sink: gives noiseTexture its name
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
