// A fixed number of frames for callgrind: run it with
//   valgrind --tool=callgrind --toggle-collect='renderFrame(float)' frame_count render
//   valgrind --tool=callgrind --toggle-collect='sinFloor(float, int*)' frame_count floor
// and divide the collected instructions by the frames printed. The frames
// spread evenly over the full-window part of the sweep.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gl_sink.h"
#include "malloc_count.h"
#include "picture/picture.h"
#include "sin_floor.h"

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "render") != 0 && std::strcmp(argv[1], "floor") != 0)) {
        std::fprintf(stderr, "usage: frame_count render|floor [FRAMES]\n");
        return 2;
    }
    const bool render = std::strcmp(argv[1], "render") == 0;
    const int frames = argc > 2 ? std::atoi(argv[2]) : 200;
    if (frames < 1) return 2;
    initNoiseTexture();
    // One allocation through operator new, to show the counter sees them.
    int* volatile probe = new int(1);
    delete probe;
    const unsigned long probeAllocations = allocationCalls();

    const float first = 0.15f, last = 0.99f;
    double checksum = 0.0;
    long sines = 0, triangles = 0;
    const unsigned long allocationsBefore = allocationCalls();
    for (int f = 0; f < frames; ++f) {
        const float progress = first + (last - first) * f / (frames > 1 ? frames - 1 : 1);
        if (render) {
            renderFrame(progress);
            triangles += glSink.vertexCount / 3;
            checksum += glSink.vertices[0].r;
        } else {
            int count = 0;
            checksum += sinFloor(progress, &count);
            sines += count;
            triangles += windowTriangles(progress);
        }
    }
    const unsigned long allocations = allocationCalls() - allocationsBefore;
    std::printf("mode=%s frames=%d triangles=%ld sines=%ld allocations=%lu "
                "probe_allocations=%lu checksum=%g\n",
                argv[1], frames, triangles, sines, allocations, probeAllocations, checksum);
    return 0;
}
