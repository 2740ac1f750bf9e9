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
    // A frame that drew `nbPoints` took `seconds` in all. Fixed costs (clearing, blitting) count against
    // the points, so the estimate settles where the whole frame meets the target.
    void record(size_t nbPoints, double seconds);

private:
    double mTarget;
    double mSecondsPerPoint = 0;  // 0 until a frame has been measured
};

}  // namespace viewer
