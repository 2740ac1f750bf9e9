#pragma once
// The size of the windows the client opens beside its main window.
#include <QSize>

namespace app {

// A cloud's window: 1024 x 768, shrunk to the screen's available area where that is smaller. An
// invalid area (no screen) keeps the full size.
QSize plyWindowSize(const QSize& available);

}  // namespace app
