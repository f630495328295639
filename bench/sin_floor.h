// The floor of a frame's CPU work: the sines renderFrame must evaluate, with
// the same arguments, and nothing else. 2 + 8 per triangle of the window.
#pragma once

// Returns the sum of the sines (so none can be optimised away); *count gets
// how many were evaluated.
double sinFloor(float progress, int* count);

// Triangles in the window renderFrame draws at this progress.
int windowTriangles(float progress);
