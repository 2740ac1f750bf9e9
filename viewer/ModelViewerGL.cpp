// The viewer's GL side: start-up, the framebuffer with its object-id attachment, and the frame.
#include <cmath>
#include <cstdio>

#include <QElapsedTimer>
#include <QOpenGLContext>

#include "vexkit/DebugLine.h"
#include "viewer/GlAssert.h"
#include "viewer/ModelViewer.h"

namespace {
constexpr uint32_t kNoObject = 0xFFFFFFFF;
}

void ModelViewer::applyGLCtxSettings() {
    glClearColor(0, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_STENCIL_TEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    // No line smoothing: it would blend into the integer id image, and Mesa's software rasteriser crashes
    // compiling a smoothed line program with an integer output.
    glEnable(GL_PROGRAM_POINT_SIZE);
    // Point sprites and point smoothing exist only outside a core profile (there they are GL_INVALID_ENUM).
    if (context()->format().profile() != QSurfaceFormat::CoreProfile) {
        constexpr GLenum kPointSprite = 0x8861, kPointSmooth = 0x0B10;
        glEnable(kPointSprite);
        glEnable(kPointSmooth);
    }
}

void ModelViewer::initializeGL() {
    initializeOpenGLFunctions();
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major < 3 || (major == 3 && minor < 3)) {
        disabled = true;
        setDisabled(true);
        return;
    }
    applyGLCtxSettings();
    try {
        makeEngines();
    } catch (const std::exception& e) {
        // A context that cannot build the programs leaves the viewer empty instead of ending the process.
        vexkit::debugLine(std::string("ModelViewer: OpenGL set-up failed: ") + e.what());
        disabled = true;
        setDisabled(true);
    }
}

void ModelViewer::makeEngines() {
    // Engines from an earlier context (the widget moved to another window) go with that context.
    releaseGL();
    makeCurrent();
    mVao = std::make_unique<QOpenGLVertexArrayObject>();
    mVao->create();
    mPointEngine = std::make_unique<PointEngine>(context());
    mCaptureEngine = std::make_unique<CaptureEngine>(context());
    mAxisEngine = std::make_unique<AxisEngine>(context());
    connect(mCaptureEngine.get(), &CaptureEngine::thumbnailDecoded, this, &ModelViewer::thumbnailArrived);
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &ModelViewer::releaseGL,
            Qt::UniqueConnection);
    mModelChanged = true;  // a new context holds none of the model's buffers yet
}

void ModelViewer::releaseGL() {
    if (!mPointEngine && !mFramebuffer && !mVao) {
        return;
    }
    // GL objects are deleted in the context that made them, also when the window closes mid-load.
    makeCurrent();
    mPointEngine.reset();
    mCaptureEngine.reset();
    mAxisEngine.reset();
    mObjectIds.reset();
    mFramebuffer.reset();
    mVao.reset();
    doneCurrent();
}

void ModelViewer::resizeGL(int, int) {
    if (disabled) {
        return;
    }
    const QSize size = viewportSize();
    if (mFramebuffer && mFramebuffer->size() == size) {
        return;
    }
    mFramebuffer = std::make_unique<QOpenGLFramebufferObject>(
        size, QOpenGLFramebufferObject::CombinedDepthStencil, GL_TEXTURE_2D);
    mObjectIds = std::make_unique<QOpenGLTexture>(QOpenGLTexture::Target2D);
    mObjectIds->setFormat(QOpenGLTexture::R32U);
    mObjectIds->setSize(size.width(), size.height());
    mObjectIds->setMipLevels(1);
    mObjectIds->setMinificationFilter(QOpenGLTexture::Nearest);
    mObjectIds->setMagnificationFilter(QOpenGLTexture::Nearest);
    mObjectIds->allocateStorage(QOpenGLTexture::Red_Integer, QOpenGLTexture::UInt32);
    QOpenGLFramebufferObject& fb = *mFramebuffer;
    KX_GL_ASSERT(fb.bind());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT1, GL_TEXTURE_2D, mObjectIds->textureId(), 0);
    KX_GL_ASSERT(glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE);
    fb.release();
    mSceneDirty = true;
}

void ModelViewer::uploadPending() {
    if (mModelChanged) {
        mPointEngine->setPoints(mPoints.data(), mPoints.size(), 0);
        mCaptureEngine->setCaptures(mCaptures.data(), mCaptures.size(), uint32_t(mPoints.size()),
                                    mCaptureScale);
        mCaptureEngine->setHighlighted(mHighlighted ? *mHighlighted : UINT64_MAX);
        mModelChanged = false;
        mHighlightChanged = false;
        mHighlightDirty.clear();
        mSceneDirty = true;
    } else if (mHighlightChanged) {
        // Only the highlight bytes change: rewriting them spares a new upload of a large cloud.
        mPointEngine->updatePoints(mPoints.data(), mHighlightDirty.data(), mHighlightDirty.size());
        mCaptureEngine->setHighlighted(mHighlighted ? *mHighlighted : UINT64_MAX);
        mHighlightChanged = false;
        mHighlightDirty.clear();
        mSceneDirty = true;
    }
}

void ModelViewer::drawScene() {
    const QMatrix4x4 P = projMat();
    const float distance = (mPose.eye - mPose.target).length();
    PointEngine::Style style{P, mPose.eye, mPerspectivePointSize,
                             mPerspectivePointSize ? mPointSizeFactor * distance : mPointSizeFactor};
    const size_t total = mPointEngine->count();
    const bool sameView = !mSceneDirty && P == mLastProj && style.sizeFactor == mLastPointSize;
    static constexpr GLenum kBuffers[2] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1};
    glDrawBuffers(2, kBuffers);
    const bool timed = !mBudget.unlimited();
    QElapsedTimer timer;
    const auto startPoints = [&]() {
        if (timed) {
            glFinish();  // the points' own time, apart from the clearing queued before them
            timer.start();
        }
    };
    const auto endPoints = [&]() {
        if (timed) {
            glFinish();
            mPointSeconds = double(timer.nsecsElapsed()) * 1e-9;
        }
    };
    const size_t budget = mBudget.pointsPerFrame(total);
    size_t drawn = 0;
    if (sameView && mRefineNext < total) {
        // A still view: add the next points in model order over what is already there.
        drawn = std::min(budget, total - mRefineNext);
        startPoints();
        mPointEngine->drawRange(style, mRefineNext, drawn);
        endPoints();
        mRefineNext += drawn;
    } else {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        const GLuint none[4] = {kNoObject, kNoObject, kNoObject, kNoObject};
        glClearBufferuiv(GL_COLOR, 1, none);
        startPoints();
        if (budget >= total) {
            mPointEngine->draw(style);
            mRefineNext = total;
        } else {
            mPointEngine->drawSample(style, budget);
            mRefineNext = 0;
        }
        endPoints();
        drawn = std::min(budget, total);
        mCaptureEngine->draw(P);
        // The gizmo writes no object id: the id image keeps what lies beneath it.
        glDrawBuffers(1, kBuffers);
        mAxisEngine->draw(P, mPose.target, distance * std::tan(mFieldOfView * float(M_PI) / 360.0f) * 0.5f);
        glDrawBuffers(2, kBuffers);
    }
    mSceneDirty = false;
    mLastProj = P;
    mLastPointSize = style.sizeFactor;
    mPointsDrawn = drawn;
}

void ModelViewer::paintGL() {
    if (disabled || !mPointEngine) {
        return;
    }
    QElapsedTimer frameTimer;
    frameTimer.start();
    try {
        mPointsDrawn = 0;
        uploadPending();
        if (mFramebuffer && mFramebuffer->size() != viewportSize()) {
            resizeGL(width(), height());  // the scale changed without a resize: the id image follows
        }
        mVao->bind();
        glViewport(0, 0, viewportWidth(), viewportHeight());
        KX_GL_ASSERT(mFramebuffer->bind());
        drawScene();
        KX_GL_ASSERT(mFramebuffer->release());
        copyToScreen();
        mVao->release();
        if (const auto highlighted = highlightedCapture()) {
            const QString path =
                *highlighted < mCaptures.size() ? mCaptures[*highlighted].imagePath : QString();
            KX_GL_ASSERT(mQPainter->begin(this));
            mQPainter->setPen(Qt::lightGray);
            mQPainter->drawText(10, 20, path);
            mQPainter->end();
            applyGLCtxSettings();
        }
        handlePick();
        glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
        if (!mBudget.unlimited() && mPointsDrawn > 0) {
            glFinish();
            mBudget.record(mPointsDrawn, mPointSeconds, double(frameTimer.nsecsElapsed()) * 1e-9);
        }
        if (isRefining()) {
            update();
        }
    } catch (const std::exception& e) {
        // Nothing may leave a paint handler: the view stays as it is and the next frame tries again.
        vexkit::debugLine(std::string("ModelViewer: frame not drawn: ") + e.what());
        glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
    }
}

void ModelViewer::copyToScreen() {
    KX_GL_ASSERT(QOpenGLFramebufferObject::hasOpenGLFramebufferBlit());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mFramebuffer->handle());
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, defaultFramebufferObject());
    const int w = viewportWidth(), h = viewportHeight();
    glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, defaultFramebufferObject());
}

void ModelViewer::handlePick() {
    // While a large cloud is refined the id image lacks the points not drawn yet: the click waits.
    if (isRefining()) {
        return;
    }
    const bool isDouble = mDoubleClickRequest.has_value();
    const std::optional<QPointF> request = isDouble ? mDoubleClickRequest : mLeftClickRequest;
    mDoubleClickRequest.reset();
    mLeftClickRequest.reset();
    if (!request) {
        return;
    }
    pickAt(*request, isDouble, viewportSize());
}

void ModelViewer::pickAt(const QPointF& normalized, bool isDouble, QSize pickSize) {
    // The id image has the size of the last resize; a click measured against another size is dropped
    // rather than read outside the image (paintGL rebuilds the image first when the sizes differ).
    const QSize idSize = mFramebuffer ? mFramebuffer->size() : QSize();
    if (pickSize != idSize) {
        return;
    }
    const auto index = viewer::pickIndex(normalized, idSize.width(), idSize.height());
    if (!index) {
        return;  // the rounded pixel lies outside the id image
    }
    const int column = int(*index % size_t(idSize.width())), row = int(*index / size_t(idSize.width()));
    uint32_t id = kNoObject;
    KX_GL_ASSERT(mFramebuffer->bind());
    glReadBuffer(GL_COLOR_ATTACHMENT1);
    glReadPixels(column, row, 1, 1, GL_RED_INTEGER, GL_UNSIGNED_INT, &id);
    mFramebuffer->release();
    const size_t nbPoints = mPoints.size();
    // Ids beyond the points and captures (none should be written) are ignored like the background.
    const bool isPoint = id < nbPoints;
    const bool isCapture = !isPoint && id != kNoObject && id - nbPoints < mCaptures.size();
    if (isDouble && (isPoint || isCapture)) {
        const QVector3D position = isPoint ? QVector3D(mPoints[id].x, mPoints[id].y, mPoints[id].z)
                                           : mCaptures[id - nbPoints].centre;
        const QVector3D shift = position - mPose.target;
        mPose.target += shift;
        mPose.eye += shift;
        update();
    } else if (!isDouble && isCapture) {
        highlightCapture(uint32_t(id - nbPoints));
    }
}

uint32_t ModelViewer::objectIdAt(int x, int y) {
    if (!mFramebuffer || x < 0 || y < 0 || x >= viewportWidth() || y >= viewportHeight()) {
        return kNoObject;
    }
    makeCurrent();
    uint32_t id = kNoObject;
    mFramebuffer->bind();
    glReadBuffer(GL_COLOR_ATTACHMENT1);
    glReadPixels(x, viewportHeight() - 1 - y, 1, 1, GL_RED_INTEGER, GL_UNSIGNED_INT, &id);
    mFramebuffer->release();
    doneCurrent();
    return id;
}

void ModelViewer::setPointHighlight(uint32_t captureIndex, bool on) {
    if (captureIndex >= mCapturePoints.size()) {
        return;
    }
    for (uint32_t i : mCapturePoints[captureIndex]) {
        if (i < mPoints.size()) {
            mPoints[i].highlight = on ? 1 : 0;
        }
    }
    mHighlightDirty.insert(mHighlightDirty.end(), mCapturePoints[captureIndex].begin(),
                           mCapturePoints[captureIndex].end());
    mHighlightChanged = true;
}

void ModelViewer::highlightCapture(uint32_t index) {
    if (disabled) {
        return;
    }
    if (mHighlighted) {
        setPointHighlight(*mHighlighted, false);
    }
    mHighlighted.reset();
    if (index < mCaptures.size()) {
        setPointHighlight(index, true);
        mHighlighted = index;
    }
    mHighlightChanged = true;
    update();
}
