// The client's entry: one application object and one main window, destroyed in that reverse order.
#include <cstdio>
#include <exception>

#include <QApplication>

#include "app/MainWindow.h"
#include "viewer/ModelViewer.h"

int main(int argc, char** argv) {
    // Every context of the window shares the viewer's format, or the viewer's texture cannot be composed.
    QSurfaceFormat::setDefaultFormat(ModelViewer::surfaceFormat());
    QApplication application(argc, argv);
    try {
        MainWindow window;
        window.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        // Commands catch their own errors; this is the last guard for a failure while starting up.
        std::fprintf(stderr, "kestrix-client: %s\n", e.what());
        return 1;
    }
}
