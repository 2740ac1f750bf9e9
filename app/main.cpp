// The client's entry: the application object, then the window or one headless task.
#include <string>
#include <vector>

#include <QApplication>

#include "app/Headless.h"
#include "viewer/ModelViewer.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    // A headless task needs no display server.
    if (app::wantsHeadless(args) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Every context of the window shares the viewer's format, or the viewer's texture cannot be composed.
    QSurfaceFormat::setDefaultFormat(ModelViewer::surfaceFormat());
    QApplication application(argc, argv);
    std::vector<std::string> remaining;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        remaining.push_back(arg.toStdString());
    }
    return app::runClient(remaining);
}
