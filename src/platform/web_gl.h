// The GL 1.1 subset over WebGL (web_gl.cpp): the web platform layer starts it
// once its WebGL context is current.
#pragma once

// Compiles the shader that stands in for the fixed pipeline and sets up the
// vertex buffer. False when the browser's WebGL refuses the shader.
bool webglStart();

// The same on a context the browser has given back after losing it: the
// shader and buffer again, and the piece's texture from the copy kept of it.
// The matrices and the texture's name are kept as they were.
bool webglRestore();
