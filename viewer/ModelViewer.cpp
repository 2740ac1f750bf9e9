#include "viewer/ModelViewer.h"

#include <cmath>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QTimer>
#include <QWheelEvent>

ModelViewer::ModelViewer(QWidget* parent, Qt::WindowFlags flags)
    : QOpenGLWidget(parent, flags),
      mQPainter(std::make_unique<QPainter>()),
      mThumbnailRepaint(new QTimer(this)) {
    setFormat(surfaceFormat());
    setUpInitParams();
    mThumbnailRepaint->setSingleShot(true);
    mThumbnailRepaint->setInterval(16);
    mThumbnailRepaint->setTimerType(Qt::CoarseTimer);
    connect(mThumbnailRepaint, &QTimer::timeout, this, qOverload<>(&ModelViewer::update));
}

ModelViewer::~ModelViewer() {
    releaseGL();
    // The base class destroys the context later; its notice must not reach this half-destroyed object.
    if (context() != nullptr) {
        disconnect(context(), nullptr, this, nullptr);
    }
}

QSurfaceFormat ModelViewer::surfaceFormat() {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setStencilBufferSize(8);
    return format;
}

int ModelViewer::viewportWidth() const {
    const double ratio = metric(PdmDevicePixelRatioScaled) / double(devicePixelRatioFScale());
    return int(width() * ratio);
}

int ModelViewer::viewportHeight() const {
    const double ratio = metric(PdmDevicePixelRatioScaled) / double(devicePixelRatioFScale());
    return int(height() * ratio);
}

std::optional<QPointF> ModelViewer::normalizedPos(const QPointF& pixel) const {
    return viewer::normalizedPos(pixel, width(), height());
}

QMatrix4x4 ModelViewer::projMat() const {
    const int h = viewportHeight();
    const float aspect = h > 0 ? float(viewportWidth()) / float(h) : 1.0f;
    return viewer::projectionView(mPose, mFieldOfView, aspect);
}

void ModelViewer::setPose(const viewer::ViewPose& pose) {
    mPose = pose;
    update();
}

void ModelViewer::rotateScene(const QPointF& from, const QPointF& to) {
    if (disabled) {
        return;
    }
    viewer::orbit(mPose, from, to);
}

void ModelViewer::moveScene(const QPointF& from, const QPointF& to) {
    if (disabled) {
        return;
    }
    viewer::pan(mPose, from, to, mFieldOfView);
}

size_t ModelViewer::getNbCaptures() const {
    return mCaptures.size();
}

std::optional<uint32_t> ModelViewer::highlightedCapture() const {
    return mHighlighted;
}

void ModelViewer::setUpInitParams() {
    const size_t stride = sizeof(PointEngine::Point) / sizeof(float);
    const viewer::CameraFit fit = viewer::fitCamera(mPoints.empty() ? nullptr : &mPoints.front().x,
                                                    mPoints.size(), stride, mFieldOfView);
    std::vector<QVector3D> centres;
    for (const auto& capture : mCaptures) {
        centres.push_back(capture.centre);
    }
    mPose.target = fit.target;
    mPose.eye = fit.target + mPose.rotation.conjugated().rotatedVector(QVector3D(0, 0, fit.distance));
    if (const auto scale = viewer::captureScale(centres)) {
        mCaptureScale = *scale;
    }
}

void ModelViewer::thumbnailArrived() {
    mSceneDirty = true;  // the image planes are drawn again, not refined over
    if (!mThumbnailRepaint->isActive()) {
        mThumbnailRepaint->start();
    }
}

void ModelViewer::setFrameBudget(double seconds) {
    mBudget.setTarget(seconds);
    mSceneDirty = true;
    update();
}

bool ModelViewer::isRefining() const {
    return mRefineNext < mPoints.size();
}

bool ModelViewer::isCtrlPressed() {
    return QApplication::keyboardModifiers().testFlag(Qt::ControlModifier);
}

void ModelViewer::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        mPressPos = QPointF(event->pos());
    }
    update();
}

void ModelViewer::mouseMoveEvent(QMouseEvent* event) {
    const auto current = normalizedPos(QPointF(event->pos()));
    if (!current) {
        return;
    }
    if (!std::isnan(mLastPos.x()) && event->buttons().testFlag(Qt::LeftButton)) {
        if (event->modifiers().testFlag(Qt::ControlModifier)) {
            moveScene(mLastPos, *current);
        } else {
            rotateScene(mLastPos, *current);
        }
    }
    mLastPos = *current;
    update();
}

void ModelViewer::mouseReleaseEvent(QMouseEvent* event) {
    mLastPos = QPointF(qQNaN(), qQNaN());
    const QPointF release(event->pos());
    if (event->button() == Qt::LeftButton && qFuzzyCompare(release.x(), mPressPos.x()) &&
        qFuzzyCompare(release.y(), mPressPos.y())) {
        mouseLeftClicked(event);
    }
    update();
}

void ModelViewer::mouseLeftClicked(QMouseEvent* event) {
    if (const auto pos = normalizedPos(QPointF(event->pos()))) {
        mLeftClickRequest = *pos;
    }
}

void ModelViewer::mouseDoubleClickEvent(QMouseEvent* event) {
    if (const auto pos = normalizedPos(QPointF(event->pos()))) {
        mDoubleClickRequest = *pos;
    }
    update();
}

void ModelViewer::wheelEvent(QWheelEvent* event) {
    if (height() <= 0 || disabled) {
        return;
    }
    const double factor = viewer::wheelFactor(event->angleDelta().y());
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        mPointSizeFactor = float(std::clamp(mPointSizeFactor * factor, 1e-3, 1e3));
    } else {
        viewer::zoom(mPose, factor);
    }
    update();
}

void ModelViewer::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (disabled || (key != Qt::Key_Left && key != Qt::Key_Right)) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    const auto current = highlightedCapture();
    const size_t count = getNbCaptures();
    if (!current || count == 0) {
        return;
    }
    const size_t step = key == Qt::Key_Left ? count - 1 : 1;
    highlightCapture(uint32_t((*current + step) % count));
    update();
}

void ModelViewer::closeEvent(QCloseEvent* event) {
    QOpenGLWidget::closeEvent(event);
    emit closingModelViewerWindow(event);
}
