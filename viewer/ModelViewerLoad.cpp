// Loading models into the viewer: everything is read, built and checked before the swap, so a failed
// load leaves the previous model on screen. Files are read on the thread pool.
#include <stdexcept>

#include <QCoreApplication>

#include "vexkit/Paths.h"
#include "viewer/ModelViewer.h"
#include "viewer/OnPool.h"
#include "viewer/SceneBuild.h"

void ModelViewer::loadKsmModel(const QString& path) {
    const float depth = mCaptureDepth;
    startLoad([path, depth]() { return viewer::buildScene(ksm::loadKsm(toPath(path)), depth); });
}

void ModelViewer::loadPlyModel(const QString& path) {
    startLoad([local = path.toLocal8Bit().toStdString()]() { return viewer::readPlyScene(local); });
}

void ModelViewer::startLoad(std::function<viewer::SceneModel()> read) {
    const uint64_t load = ++mNbLoadsStarted;
    if (disabled) {
        emit modelLoaded();
        return;
    }
    viewer::runOnPool<viewer::SceneModel>(
        this, std::move(read), [this, load](const viewer::PoolOutcome<viewer::SceneModel>& outcome) {
            if (load != mNbLoadsStarted) {
                return;  // a later load superseded this one
            }
            try {
                swapInScene(std::move(outcome.get()), true);
            } catch (const std::exception& e) {
                emit modelFailed(QString::fromUtf8(e.what()));
                return;
            } catch (...) {
                emit modelFailed(QStringLiteral("unknown error"));
                return;
            }
            emit modelLoaded();
        });
}

void ModelViewer::setModel(const KestrixSparseModel& model, bool resetView) {
    if (disabled) {
        return;
    }
    swapInScene(viewer::buildScene(model, mCaptureDepth), resetView);
}

void ModelViewer::swapInScene(viewer::SceneModel&& scene, bool resetView) {
    if (scene.points.size() + scene.captures.size() >= 0xFFFFFFFFull) {
        throw std::length_error("too many points and cameras for 32-bit object ids");
    }
    mPoints.swap(scene.points);
    mCaptures.swap(scene.captures);
    mCapturePoints.swap(scene.capturePoints);
    if (mHighlighted && *mHighlighted < mCaptures.size()) {
        setPointHighlight(*mHighlighted, true);
    } else {
        mHighlighted.reset();
    }
    mModelChanged = true;
    mResetView = resetView;
    mRefineNext = 0;
    scene = viewer::SceneModel();  // the old lists go now rather than with the caller's
    if (resetView) {
        setUpInitParams();
    }
    update();
}

namespace viewer {

void loadModelAndWait(ModelViewer& viewer, const QString& path) {
    bool done = false;
    QString error;
    QObject scope;  // the connections end with this call
    QObject::connect(&viewer, &ModelViewer::modelLoaded, &scope, [&done]() { done = true; });
    QObject::connect(&viewer, &ModelViewer::modelFailed, &scope, [&](const QString& message) {
        error = message;
        done = true;
    });
    if (path.endsWith(QStringLiteral(".ply"))) {
        viewer.loadPlyModel(path);
    } else {
        viewer.loadKsmModel(path);
    }
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (!error.isEmpty()) {
        throw std::runtime_error(error.toStdString());
    }
}

}  // namespace viewer
