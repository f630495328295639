// OpenGL 1.1 and GLU as the driver and the picture call them, on every
// target: Windows' GL/gl.h needs <windows.h>'s calling-convention macros
// first, and on the web the platform layer answers these calls over WebGL.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif
#include <GL/gl.h>
#include <GL/glu.h>
