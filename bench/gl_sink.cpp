// The GL entry points the picture uses, recording into glSink. Their
// signatures come from GL/gl.h, so a mismatch with the real ones fails to build.
#include "gl_sink.h"

#include <GL/gl.h>

GlSink glSink;

namespace {

float currentColor[3] = {1.0f, 1.0f, 1.0f};
float currentTexCoord[2] = {0.0f, 0.0f};

}  // namespace

void sinkReset() {
    glSink.vertexCount = 0;
    glSink.droppedVertices = 0;
    glSink.begins = 0;
    glSink.ends = 0;
    glSink.otherCalls = 0;
}

extern "C" {

void glBegin(GLenum) {
    glSink.vertexCount = 0;
    ++glSink.begins;
}

void glEnd() { ++glSink.ends; }

void glColor3f(GLfloat r, GLfloat g, GLfloat b) {
    currentColor[0] = r;
    currentColor[1] = g;
    currentColor[2] = b;
}

void glTexCoord2f(GLfloat s, GLfloat t) {
    currentTexCoord[0] = s;
    currentTexCoord[1] = t;
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (glSink.vertexCount >= SINK_MAX_VERTICES) {
        ++glSink.droppedVertices;
        return;
    }
    SinkVertex& v = glSink.vertices[glSink.vertexCount++];
    v.r = currentColor[0];
    v.g = currentColor[1];
    v.b = currentColor[2];
    v.s = currentTexCoord[0];
    v.t = currentTexCoord[1];
    v.x = x;
    v.y = y;
    v.z = z;
}

void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
    glSink.clearColor[0] = r;
    glSink.clearColor[1] = g;
    glSink.clearColor[2] = b;
    glSink.clearColor[3] = a;
}

void glClear(GLbitfield) { ++glSink.otherCalls; }
void glMatrixMode(GLenum) { ++glSink.otherCalls; }
void glLoadIdentity() { ++glSink.otherCalls; }
void glTranslatef(GLfloat, GLfloat, GLfloat) { ++glSink.otherCalls; }
void glBindTexture(GLenum, GLuint) { ++glSink.otherCalls; }

// The noise texture's set-up, called once.
void glGenTextures(GLsizei n, GLuint* textures) {
    for (GLsizei k = 0; k < n; ++k) textures[k] = static_cast<GLuint>(k + 1);
}
void glTexImage2D(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*) {}
void glTexParameteri(GLenum, GLenum, GLint) {}
void glDisable(GLenum) {}
void glEnable(GLenum) {}

}  // extern "C"
