#include "viewer/DrawBudget.h"

#include <algorithm>
#include <cmath>

namespace viewer {

namespace {
// Before any measurement: what a software renderer draws in a few milliseconds.
constexpr double kFirstGuess = 100000;
// Never fewer, so that a slow frame (a window resize, another process) cannot leave the view empty.
constexpr double kMinimum = 1000;
// Aim a little under the target so that noise does not push frames over it.
constexpr double kHeadroom = 0.85;

// Half the weight on the newest frame: quick to follow a changed view, steady against one odd frame.
double blend(double old, double measured) {
    return old > 0 ? 0.5 * (old + measured) : measured;
}
}  // namespace

bool DrawBudget::unlimited() const {
    return !(mTarget > 0) || !std::isfinite(mTarget);
}

size_t DrawBudget::pointsPerFrame(size_t total) const {
    if (unlimited()) {
        return total;
    }
    const double nb =
        mSecondsPerPoint > 0 ? (kHeadroom * mTarget - mFixedSeconds) / mSecondsPerPoint : kFirstGuess;
    return std::min(total, size_t(std::max(nb, kMinimum)));
}

void DrawBudget::record(size_t nbPoints, double pointSeconds, double frameSeconds) {
    if (nbPoints == 0 || !(pointSeconds > 0) || !std::isfinite(frameSeconds)) {
        return;
    }
    mSecondsPerPoint = blend(mSecondsPerPoint, pointSeconds / double(nbPoints));
    mFixedSeconds = blend(mFixedSeconds, std::max(0.0, frameSeconds - pointSeconds));
}

}  // namespace viewer
