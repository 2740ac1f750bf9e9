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
}  // namespace

bool DrawBudget::unlimited() const {
    return !(mTarget > 0) || !std::isfinite(mTarget);
}

size_t DrawBudget::pointsPerFrame(size_t total) const {
    if (unlimited()) {
        return total;
    }
    const double nb = mSecondsPerPoint > 0 ? kHeadroom * mTarget / mSecondsPerPoint : kFirstGuess;
    return std::min(total, size_t(std::max(nb, kMinimum)));
}

void DrawBudget::record(size_t nbPoints, double seconds) {
    if (nbPoints == 0 || !(seconds > 0) || !std::isfinite(seconds)) {
        return;
    }
    const double measured = seconds / double(nbPoints);
    // Half the weight on the newest frame: quick to follow a changed view, steady against one odd frame.
    mSecondsPerPoint = mSecondsPerPoint > 0 ? 0.5 * (mSecondsPerPoint + measured) : measured;
}

}  // namespace viewer
