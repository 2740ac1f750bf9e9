#pragma once
// The baseline of the viewer benchmarks: the least a GL program must do to show the same points into the
// same kind of framebuffer (colour and object id, depth), with a trivial shader and a fixed point size.
#include <memory>

#include <QMatrix4x4>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QOpenGLShaderProgram>

#include "viewer/SceneTypes.h"

class MinimalRenderer : protected QOpenGLExtraFunctions {
public:
    MinimalRenderer(int width, int height);
    ~MinimalRenderer();
    void upload(const viewer::ScenePoint* points, size_t count);
    // Draws every point with `projMat` at `pointSize` pixels and waits for the GL to finish.
    void frame(const QMatrix4x4& projMat, float pointSize);

private:
    QOffscreenSurface mSurface;
    QOpenGLContext mContext;
    std::unique_ptr<QOpenGLFramebufferObject> mFbo;
    GLuint mIds = 0, mVao = 0, mBuffer = 0;
    QOpenGLShaderProgram mProgram;
    size_t mCount = 0;
    int mWidth, mHeight;
};
