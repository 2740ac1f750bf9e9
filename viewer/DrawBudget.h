#pragma once
// How many points a frame can draw within a target time, learnt from the frames just drawn.
#include <cstddef>

namespace viewer {

class DrawBudget {
public:
    // `targetSeconds` <= 0 or not finite draws every point in every frame.
    explicit DrawBudget(double targetSeconds = 0.033) : mTarget(targetSeconds) {}
    void setTarget(double targetSeconds) { mTarget = targetSeconds; }
    double target() const { return mTarget; }
    bool unlimited() const;

    // Points for the next frame, out of `total`: all when unlimited or when the cloud fits.
    size_t pointsPerFrame(size_t total) const;
    // A frame drew `nbPoints` in `pointSeconds` and took `frameSeconds` in all; the difference (clearing,
    // cameras, copying to the window) is the fixed cost that the points must leave room for.
    void record(size_t nbPoints, double pointSeconds, double frameSeconds);

private:
    double mTarget;
    double mSecondsPerPoint = 0;  // 0 until a frame has been measured
    double mFixedSeconds = 0;
};

}  // namespace viewer
