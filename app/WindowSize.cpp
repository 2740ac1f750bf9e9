#include "app/WindowSize.h"

namespace app {

QSize plyWindowSize(const QSize& available) {
    const QSize full(1024, 768);
    return available.isValid() ? full.boundedTo(available) : full;
}

}  // namespace app
