// The recording GL sink: stands in for libGL at link time so that renderFrame
// can be timed without a driver. Each glVertex3f stores one vertex with the
// colour and texture coordinate current at that moment, as a driver's
// immediate mode does; the buffer is fixed, so recording never allocates.
#pragma once

const int SINK_MAX_VERTICES = 4096;  // a full frame needs 903

struct SinkVertex {
    float r, g, b;
    float s, t;
    float x, y, z;
};

struct GlSink {
    SinkVertex vertices[SINK_MAX_VERTICES];
    int vertexCount;      // vertices recorded since the last glBegin
    int droppedVertices;  // beyond the buffer; a full frame never gets here
    int begins, ends;     // glBegin / glEnd calls since the last sinkReset
    int otherCalls;       // clears, matrices, texture binds
    float clearColor[4];
};

extern GlSink glSink;

void sinkReset();
