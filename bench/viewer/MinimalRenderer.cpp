#include "MinimalRenderer.h"

#include <stdexcept>
#include <vector>

namespace {
const char* kVertex = R"(#version 330
in vec3 inPosition;
in vec3 inColor;
uniform mat4 projMat;
uniform float pointSize;
out vec3 color;
flat out uint id;
void main() {
    gl_Position = projMat * vec4(inPosition, 1.0);
    gl_PointSize = pointSize;
    color = inColor;
    id = uint(gl_VertexID);
})";
const char* kFragment = R"(#version 330
in vec3 color;
flat in uint id;
layout(location = 0) out vec4 outColor;
layout(location = 1) out uint outId;
void main() {
    outColor = vec4(color, 1.0);
    outId = id;
})";
}  // namespace

MinimalRenderer::MinimalRenderer(int width, int height) : mWidth(width), mHeight(height) {
    mSurface.setFormat(QSurfaceFormat::defaultFormat());
    mSurface.create();
    mContext.setFormat(QSurfaceFormat::defaultFormat());
    if (!mContext.create() || !mContext.makeCurrent(&mSurface)) {
        throw std::runtime_error("no GL context for the baseline");
    }
    initializeOpenGLFunctions();
    mFbo = std::make_unique<QOpenGLFramebufferObject>(width, height,
                                                      QOpenGLFramebufferObject::CombinedDepthStencil);
    glGenTextures(1, &mIds);
    glBindTexture(GL_TEXTURE_2D, mIds);
    glTexStorage2D(GL_TEXTURE_2D, 1, GL_R32UI, width, height);
    mFbo->bind();
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_TEXTURE_2D, mIds, 0);
    mFbo->release();
    glGenVertexArrays(1, &mVao);
    glGenBuffers(1, &mBuffer);
    if (!mProgram.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertex) ||
        !mProgram.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragment) || !mProgram.link()) {
        throw std::runtime_error("baseline program");
    }
}

MinimalRenderer::~MinimalRenderer() {
    mContext.makeCurrent(&mSurface);
    glDeleteBuffers(1, &mBuffer);
    glDeleteVertexArrays(1, &mVao);
    glDeleteTextures(1, &mIds);
    mFbo.reset();
    mContext.doneCurrent();
}

void MinimalRenderer::upload(const viewer::ScenePoint* points, size_t count) {
    mContext.makeCurrent(&mSurface);
    glBindVertexArray(mVao);
    glBindBuffer(GL_ARRAY_BUFFER, mBuffer);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count * sizeof(*points)), points, GL_STATIC_DRAW);
    mProgram.bind();
    const GLuint position = mProgram.attributeLocation("inPosition");
    const GLuint color = mProgram.attributeLocation("inColor");
    glEnableVertexAttribArray(position);
    glEnableVertexAttribArray(color);
    glVertexAttribPointer(position, 3, GL_FLOAT, GL_FALSE, 16, nullptr);
    glVertexAttribPointer(color, 3, GL_UNSIGNED_BYTE, GL_TRUE, 16, reinterpret_cast<void*>(12));
    mCount = count;
}

void MinimalRenderer::frame(const QMatrix4x4& projMat, float pointSize) {
    mContext.makeCurrent(&mSurface);
    mFbo->bind();
    const GLenum buffers[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
    glDrawBuffers(2, buffers);
    glViewport(0, 0, mWidth, mHeight);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_PROGRAM_POINT_SIZE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const GLuint none[4] = {~0u, ~0u, ~0u, ~0u};
    glClearBufferuiv(GL_COLOR, 1, none);
    glBindVertexArray(mVao);
    mProgram.bind();
    mProgram.setUniformValue("projMat", projMat);
    mProgram.setUniformValue("pointSize", pointSize);
    glDrawArrays(GL_POINTS, 0, GLsizei(mCount));
    // Read the picture back, as the viewer's frame ends with its copy to the window.
    std::vector<uint32_t> pixels(size_t(mWidth) * mHeight);
    glReadPixels(0, 0, mWidth, mHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glFinish();
    mFbo->release();
}
