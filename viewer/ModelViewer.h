#pragma once
// The 3D view of sparse models (points, cameras with their photographs) and dense clouds: an orbit camera
// driven by mouse, wheel and keys, drawing into an off-screen framebuffer whose second attachment holds
// object ids for picking. Large clouds are drawn within a frame-time budget and refined while still.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>
#include <QOpenGLTexture>
#include <QOpenGLVertexArrayObject>
#include <QOpenGLWidget>
#include <QPainter>
#include <QPointF>
#include <QSurfaceFormat>

#include "model/KsmModel.h"
#include "viewer/AxisEngine.h"
#include "viewer/CameraMath.h"
#include "viewer/CaptureEngine.h"
#include "viewer/DrawBudget.h"
#include "viewer/PointEngine.h"

class QTimer;

class ModelViewer : public QOpenGLWidget, protected QOpenGLExtraFunctions {
    Q_OBJECT
public:
    explicit ModelViewer(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~ModelViewer() override;

    // The format the viewer needs (OpenGL 3.3 core, depth and stencil). Applications set it as the default
    // before creating the QApplication so that every context of the window agrees with it.
    static QSurfaceFormat surfaceFormat();

    // Read and build a model on the thread pool, then swap it in on the GUI thread, refit the camera and
    // emit modelLoaded(). On any error the previous model stays shown and modelFailed() carries the
    // message: the reader's (PLY parser messages, "Failed to read ..."), "the PLY cloud has no points",
    // "not a sparse model of a known version", and those of setModel. A load started while another is in
    // flight supersedes it, whose outcome is dropped unsignalled. While disabled nothing is read and
    // modelLoaded() follows at once.
    void loadKsmModel(const QString& path);
    void loadPlyModel(const QString& path);  // read through the file system's own encoding
    // On the GUI thread; refuses an inconsistent model (see viewer::buildScene) before anything is
    // swapped in.
    void setModel(const KestrixSparseModel& model, bool resetView);

    void setUpInitParams();
    QMatrix4x4 projMat() const;
    void rotateScene(const QPointF& from, const QPointF& to);
    void moveScene(const QPointF& from, const QPointF& to);
    size_t getNbCaptures() const;
    // Highlights capture `index` and the points it observed (any other value: none); also on a click.
    void highlightCapture(uint32_t index);
    // Sets the highlight of the points capture `captureIndex` observed; an unknown index is ignored.
    void setPointHighlight(uint32_t captureIndex, bool on);

    bool isDisabledGL() const { return disabled; }
    const viewer::ViewPose& pose() const { return mPose; }
    void setPose(const viewer::ViewPose& pose);
    float captureScale() const { return mCaptureScale; }
    std::optional<uint32_t> highlightedCapture() const;
    float fieldOfView() const { return mFieldOfView; }
    float pointSizeFactor() const { return mPointSizeFactor; }

    // Frame-time target for large clouds, in seconds; 0 draws every point in every frame.
    void setFrameBudget(double seconds);
    // True while a still view is still adding points of a cloud too large for one frame.
    bool isRefining() const;
    // Picks at `normalized` as a click does, measured against `pickSize` device pixels; one that does not
    // match the id image is ignored. Called from paintGL with the viewport's size (a seam for tests).
    void pickAt(const QPointF& normalized, bool isDouble, QSize pickSize);
    // Object id at a device pixel (row 0 at the top) of the last frame; 0xFFFFFFFF where nothing was drawn.
    uint32_t objectIdAt(int x, int y);

    int viewportWidth() const;
    int viewportHeight() const;
    QSize viewportSize() const { return QSize(viewportWidth(), viewportHeight()); }

signals:
    void closingModelViewerWindow(QCloseEvent* event);
    void modelLoaded();
    void modelFailed(const QString& message);

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void applyGLCtxSettings();
    void copyToScreen();
    void mouseLeftClicked(QMouseEvent* event);
    std::optional<QPointF> normalizedPos(const QPointF& pixel) const;
    void startLoad(std::function<viewer::SceneModel()> read);
    void swapInScene(viewer::SceneModel&& scene, bool resetView);
    void thumbnailArrived();
    void uploadPending();
    void drawScene();
    void handlePick();
    void releaseGL();
    void makeEngines();
    static bool isCtrlPressed();

    // Every member is the GUI thread's: pool work hands its results over through events (viewer/OnPool.h).
    bool disabled = false;
    uint64_t mNbLoadsStarted = 0;  // an outcome whose load is not the latest is dropped
    std::unique_ptr<QOpenGLFramebufferObject> mFramebuffer;
    std::unique_ptr<QOpenGLTexture> mObjectIds;
    std::unique_ptr<QOpenGLVertexArrayObject> mVao;
    bool mModelChanged = false;
    bool mResetView = false;
    std::vector<PointEngine::Point> mPoints;
    std::unique_ptr<PointEngine> mPointEngine;
    std::vector<CaptureEngine::Capture> mCaptures;
    std::vector<std::vector<uint32_t>> mCapturePoints;
    std::unique_ptr<CaptureEngine> mCaptureEngine;
    viewer::ViewPose mPose;
    float mFieldOfView = viewer::kDefaultFieldOfView;
    float mCaptureDepth = 0.2f;
    float mPointSizeFactor = 2.0f;
    bool mPerspectivePointSize = true;
    float mCaptureScale = 2.0f;
    std::unique_ptr<AxisEngine> mAxisEngine;
    std::unique_ptr<QPainter> mQPainter;
    QPointF mPressPos{qQNaN(), qQNaN()};
    QPointF mLastPos{qQNaN(), qQNaN()};
    std::optional<QPointF> mDoubleClickRequest;
    std::optional<QPointF> mLeftClickRequest;
    std::optional<uint32_t> mHighlighted;

    // Points whose highlight byte changed since the last upload.
    std::vector<uint32_t> mHighlightDirty;
    bool mHighlightChanged = false;
    // Progressive drawing of clouds larger than one frame's budget.
    viewer::DrawBudget mBudget;
    size_t mRefineNext = 0;  // next point (model order) to add; the point count when complete
    bool mSceneDirty = true;
    QMatrix4x4 mLastProj;
    float mLastPointSize = 0;
    QTimer* mThumbnailRepaint;  // child; at most one repaint per 16 ms however many thumbnails arrive
    size_t mPointsDrawn = 0;    // by the frame being drawn
    double mPointSeconds = 0;
};

namespace viewer {
// For tools with no window to keep responsive: loads a .ply (by its extension) or a .ksm into `viewer`,
// running the event loop until the outcome. Throws std::runtime_error with the failure's message.
void loadModelAndWait(ModelViewer& viewer, const QString& path);
}  // namespace viewer
