// The OpenGL 1.1 calls the piece makes, over WebGL 1: immediate-mode
// triangles with a colour and a texture coordinate per vertex, the projection
// and modelview matrices, one 2-D texture modulated by the colour. The
// picture and the driver include <GL/gl.h> and call these as they do on a
// desktop; what WebGL offers itself is reached through its emscripten_gl*
// names, since the plain names are ours here.
#include "platform/web_gl.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstring>
#include <vector>

// The WebGL entry points we build on (from Emscripten's WebGL library).
extern "C" {
void emscripten_glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);
void emscripten_glClear(GLbitfield mask);
void emscripten_glViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void emscripten_glEnable(GLenum cap);
void emscripten_glDisable(GLenum cap);
void emscripten_glGenTextures(GLsizei n, GLuint* textures);
void emscripten_glBindTexture(GLenum target, GLuint texture);
void emscripten_glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width,
                             GLsizei height, GLint border, GLenum format, GLenum type,
                             const void* pixels);
void emscripten_glTexParameteri(GLenum target, GLenum pname, GLint param);
GLuint emscripten_glCreateShader(GLenum type);
void emscripten_glShaderSource(GLuint shader, GLsizei count, const GLchar* const* string,
                               const GLint* length);
void emscripten_glCompileShader(GLuint shader);
void emscripten_glGetShaderiv(GLuint shader, GLenum pname, GLint* params);
GLuint emscripten_glCreateProgram();
void emscripten_glAttachShader(GLuint program, GLuint shader);
void emscripten_glBindAttribLocation(GLuint program, GLuint index, const GLchar* name);
void emscripten_glLinkProgram(GLuint program);
void emscripten_glGetProgramiv(GLuint program, GLenum pname, GLint* params);
void emscripten_glUseProgram(GLuint program);
GLint emscripten_glGetUniformLocation(GLuint program, const GLchar* name);
void emscripten_glUniform1i(GLint location, GLint v0);
void emscripten_glUniformMatrix4fv(GLint location, GLsizei count, GLboolean transpose,
                                   const GLfloat* value);
void emscripten_glGenBuffers(GLsizei n, GLuint* buffers);
void emscripten_glBindBuffer(GLenum target, GLuint buffer);
void emscripten_glBufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage);
void emscripten_glEnableVertexAttribArray(GLuint index);
void emscripten_glVertexAttribPointer(GLuint index, GLint size, GLenum type, GLboolean normalized,
                                      GLsizei stride, const void* pointer);
void emscripten_glDrawArrays(GLenum mode, GLint first, GLsizei count);
}

namespace {

// WebGL enums not in the GL 1.1 header.
const GLenum ARRAY_BUFFER = 0x8892;
const GLenum STREAM_DRAW = 0x88E0;
const GLenum FRAGMENT_SHADER = 0x8B30;
const GLenum VERTEX_SHADER = 0x8B31;
const GLenum COMPILE_STATUS = 0x8B81;
const GLenum LINK_STATUS = 0x8B82;

// Attribute slots: position, texture coordinate, colour.
const GLuint POSITION = 0;
const GLuint TEXCOORD = 1;
const GLuint COLOUR = 2;

const char* const VERTEX_SOURCE =
    "uniform mat4 matrix;\n"  // projection times modelview
    "attribute vec3 position;\n"
    "attribute vec2 texcoord;\n"
    "attribute vec4 colour;\n"
    "varying vec2 v_texcoord;\n"
    "varying vec4 v_colour;\n"
    "void main() {\n"
    "  v_texcoord = texcoord;\n"
    "  v_colour = colour;\n"
    "  gl_Position = matrix * vec4(position, 1.0);\n"
    "}\n";

// Texture coordinates reach about 33 repeats of a 64-texel texture, which
// needs more than mediump's 11 bits to land on the right texel.
const char* const FRAGMENT_SOURCE =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n"
    "uniform sampler2D noise;\n"
    "uniform bool textured;\n"
    "varying vec2 v_texcoord;\n"
    "varying vec4 v_colour;\n"
    "void main() {\n"
    // GL 1.1's modulate: the vertex colour times the texel.
    "  gl_FragColor = textured ? v_colour * texture2D(noise, v_texcoord) : v_colour;\n"
    "}\n";

struct Vertex {
    GLfloat position[3];
    GLfloat texcoord[2];
    GLfloat colour[4];
};

// Column-major 4x4 matrices, as GL keeps them.
typedef double Matrix[16];

Matrix projection;
Matrix modelview;
Matrix* current = &modelview;  // GL starts in modelview mode

bool textured = false;
bool drawing = false;          // between glBegin(GL_TRIANGLES) and glEnd
GLfloat colour[4] = {1, 1, 1, 1};
GLfloat texcoord[2] = {0, 0};
std::vector<Vertex> batch;     // the vertices since glBegin

GLuint program = 0;
GLint matrixUniform = -1;
GLint texturedUniform = -1;
GLuint vertexBuffer = 0;

// The piece's one texture as it was given, so that a restored context (the
// browser may take WebGL away and give it back) gets it again. The caller
// keeps the name it was given; `live` is the texture that name stands for in
// the present context.
struct KeptTexture {
    GLuint name = 0;
    GLuint live = 0;
    GLint internalformat = 0;
    GLsizei width = 0;
    GLsizei height = 0;
    GLenum format = 0;
    GLenum type = 0;
    std::vector<unsigned char> pixels;  // empty: none given
    GLint minFilter = -1;               // -1: never set
    GLint magFilter = -1;
};
KeptTexture kept;

void identity(Matrix m) {
    std::memset(m, 0, sizeof(Matrix));
    m[0] = m[5] = m[10] = m[15] = 1.0;
}

// m = m * by, as glMultMatrix does.
void multiply(Matrix m, const Matrix by) {
    Matrix product;
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += m[k * 4 + row] * by[column * 4 + k];
            product[column * 4 + row] = sum;
        }
    }
    std::memcpy(m, product, sizeof(Matrix));
}

GLuint compile(GLenum type, const char* source) {
    const GLuint shader = emscripten_glCreateShader(type);
    emscripten_glShaderSource(shader, 1, &source, nullptr);
    emscripten_glCompileShader(shader);
    GLint ok = 0;
    emscripten_glGetShaderiv(shader, COMPILE_STATUS, &ok);
    return ok ? shader : 0;
}

// The shader that stands in for the fixed pipeline and the vertex buffer.
bool buildProgram() {
    const GLuint vertexShader = compile(VERTEX_SHADER, VERTEX_SOURCE);
    const GLuint fragmentShader = compile(FRAGMENT_SHADER, FRAGMENT_SOURCE);
    if (vertexShader == 0 || fragmentShader == 0) return false;
    program = emscripten_glCreateProgram();
    emscripten_glAttachShader(program, vertexShader);
    emscripten_glAttachShader(program, fragmentShader);
    emscripten_glBindAttribLocation(program, POSITION, "position");
    emscripten_glBindAttribLocation(program, TEXCOORD, "texcoord");
    emscripten_glBindAttribLocation(program, COLOUR, "colour");
    emscripten_glLinkProgram(program);
    GLint ok = 0;
    emscripten_glGetProgramiv(program, LINK_STATUS, &ok);
    if (!ok) return false;
    emscripten_glUseProgram(program);
    matrixUniform = emscripten_glGetUniformLocation(program, "matrix");
    texturedUniform = emscripten_glGetUniformLocation(program, "textured");
    emscripten_glUniform1i(emscripten_glGetUniformLocation(program, "noise"), 0);

    emscripten_glGenBuffers(1, &vertexBuffer);
    emscripten_glBindBuffer(ARRAY_BUFFER, vertexBuffer);
    const GLsizei stride = sizeof(Vertex);
    emscripten_glEnableVertexAttribArray(POSITION);
    emscripten_glVertexAttribPointer(POSITION, 3, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<const void*>(offsetof(Vertex, position)));
    emscripten_glEnableVertexAttribArray(TEXCOORD);
    emscripten_glVertexAttribPointer(TEXCOORD, 2, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<const void*>(offsetof(Vertex, texcoord)));
    emscripten_glEnableVertexAttribArray(COLOUR);
    emscripten_glVertexAttribPointer(COLOUR, 4, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<const void*>(offsetof(Vertex, colour)));
    // GL 1.1 starts with depth testing off, as WebGL does.
    return true;
}

}  // namespace

bool webglStart() {
    identity(projection);
    identity(modelview);
    return buildProgram();
}

bool webglRestore() {
    if (!buildProgram()) return false;
    if (kept.name == 0) return true;
    emscripten_glGenTextures(1, &kept.live);
    emscripten_glBindTexture(GL_TEXTURE_2D, kept.live);
    if (!kept.pixels.empty()) {
        emscripten_glTexImage2D(GL_TEXTURE_2D, 0, kept.internalformat, kept.width, kept.height, 0,
                                kept.format, kept.type, kept.pixels.data());
    }
    if (kept.minFilter >= 0) emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, kept.minFilter);
    if (kept.magFilter >= 0) emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, kept.magFilter);
    return true;
}

extern "C" {

void glMatrixMode(GLenum mode) { current = mode == GL_PROJECTION ? &projection : &modelview; }

void glLoadIdentity() { identity(*current); }

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
    Matrix by;
    identity(by);
    by[12] = x;
    by[13] = y;
    by[14] = z;
    multiply(*current, by);
}

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    const double f = 1.0 / std::tan(fovy * M_PI / 360.0);  // cotangent of half the field
    Matrix by;
    std::memset(by, 0, sizeof by);
    by[0] = f / aspect;
    by[5] = f;
    by[10] = (zFar + zNear) / (zNear - zFar);
    by[11] = -1.0;
    by[14] = 2.0 * zFar * zNear / (zNear - zFar);
    multiply(*current, by);
}

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha) {
    emscripten_glClearColor(red, green, blue, alpha);
}

void glClear(GLbitfield mask) { emscripten_glClear(mask); }

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height) { emscripten_glViewport(x, y, width, height); }

// GL_TEXTURE_2D is a switch of the fixed pipeline; WebGL has none, so the
// shader takes it as a uniform. Everything else is WebGL's own.
void glEnable(GLenum cap) {
    if (cap == GL_TEXTURE_2D) {
        textured = true;
    } else {
        emscripten_glEnable(cap);
    }
}

void glDisable(GLenum cap) {
    if (cap == GL_TEXTURE_2D) {
        textured = false;
    } else {
        emscripten_glDisable(cap);
    }
}

void glGenTextures(GLsizei n, GLuint* textures) {
    emscripten_glGenTextures(n, textures);
    if (n == 1) kept.name = kept.live = textures[0];
}

void glBindTexture(GLenum target, GLuint texture) {
    emscripten_glBindTexture(target, texture == kept.name ? kept.live : texture);
}

// GL 1.1 accepts a component count (1 to 4) as the internal format; WebGL
// wants the internal format to equal the pixel format.
void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const GLvoid* pixels) {
    if (internalformat >= 1 && internalformat <= 4) internalformat = static_cast<GLint>(format);
    // Kept for a restore: the texture at level 0 in RGBA bytes, as the piece gives it.
    if (level == 0 && pixels && format == GL_RGBA && type == GL_UNSIGNED_BYTE && width > 0 && height > 0) {
        const unsigned char* bytes = static_cast<const unsigned char*>(pixels);
        kept.pixels.assign(bytes, bytes + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
        kept.internalformat = internalformat;
        kept.width = width;
        kept.height = height;
        kept.format = format;
        kept.type = type;
    }
    emscripten_glTexImage2D(target, level, internalformat, width, height, border, format, type,
                            pixels);
}

void glTexParameteri(GLenum target, GLenum pname, GLint param) {
    if (pname == GL_TEXTURE_MIN_FILTER) kept.minFilter = param;
    if (pname == GL_TEXTURE_MAG_FILTER) kept.magFilter = param;
    emscripten_glTexParameteri(target, pname, param);
}

// Only independent triangles are gathered; the piece draws nothing else.
void glBegin(GLenum mode) {
    drawing = mode == GL_TRIANGLES;
    batch.clear();
}

void glColor3f(GLfloat red, GLfloat green, GLfloat blue) {
    colour[0] = red;
    colour[1] = green;
    colour[2] = blue;
    colour[3] = 1.0f;
}

void glTexCoord2f(GLfloat s, GLfloat t) {
    texcoord[0] = s;
    texcoord[1] = t;
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    if (!drawing) return;
    Vertex v;
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    std::memcpy(v.texcoord, texcoord, sizeof texcoord);
    std::memcpy(v.colour, colour, sizeof colour);
    batch.push_back(v);
}

void glEnd() {
    if (!drawing) return;
    drawing = false;
    const GLsizei count = static_cast<GLsizei>(batch.size() / 3 * 3);
    if (count == 0) return;
    Matrix both;
    std::memcpy(both, projection, sizeof both);
    multiply(both, modelview);
    GLfloat matrix[16];
    for (int k = 0; k < 16; ++k) matrix[k] = static_cast<GLfloat>(both[k]);
    emscripten_glUniformMatrix4fv(matrixUniform, 1, GL_FALSE, matrix);
    emscripten_glUniform1i(texturedUniform, textured ? 1 : 0);
    emscripten_glBufferData(ARRAY_BUFFER, static_cast<GLsizeiptr>(count * sizeof(Vertex)),
                            batch.data(), STREAM_DRAW);
    emscripten_glDrawArrays(GL_TRIANGLES, 0, count);
}

}  // extern "C"
