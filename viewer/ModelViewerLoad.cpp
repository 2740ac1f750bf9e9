// Loading models into the viewer: everything is built and checked before the swap, so a failed load
// leaves the previous model on screen.
#include "viewer/ModelViewer.h"
#include "viewer/SceneBuild.h"

void ModelViewer::setKsmModel(const char* path) {
    if (disabled) {
        return;
    }
    setModel(ksm::loadKsm(std::filesystem::u8path(path)), true);
}

void ModelViewer::setPlyModel(const char* path) {
    if (disabled) {
        return;
    }
    swapInScene(viewer::readPlyScene(path), true);
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
    {
        std::lock_guard<std::mutex> lock(mMutex);
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
    }
    // The old lists go here, outside the lock.
    scene = viewer::SceneModel();
    if (resetView) {
        setUpInitParams();
    }
    update();
}
