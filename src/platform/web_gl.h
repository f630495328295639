// The GL 1.1 subset over WebGL (web_gl.cpp): the web platform layer starts it
// once its WebGL context is current.
#pragma once

// Compiles the shader that stands in for the fixed pipeline and sets up the
// vertex buffer. False when the browser's WebGL refuses the shader.
bool webglStart();
