// Takes the README's picture of the viewer: the main window with a model loaded into its viewer pane.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/app/kestrix-viewer-shot <model.ply|.ksm> <out.png>
#include <cstdio>
#include <exception>

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include "app/MainWindow.h"
#include "viewer/ModelViewer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <model.ply|model.ksm> <out.png>\n", argv[0]);
        return 2;
    }
    QSurfaceFormat::setDefaultFormat(ModelViewer::surfaceFormat());
    QApplication application(argc, argv);
    try {
        MainWindow window;
        window.show();
        QApplication::processEvents();
        auto* viewer = window.findChild<ModelViewer*>("modelViewer");
        QObject::disconnect(viewer, nullptr, &window, nullptr);  // a failure ends the tool, not in a box
        viewer::loadModelAndWait(*viewer, QString::fromLocal8Bit(argv[1]));
        // A three-quarter view rather than straight down the z axis.
        viewer->rotateScene(QPointF(0, 0), QPointF(0.08, -0.06));
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 3000) {  // thumbnails arrive on the pool
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        window.grab().save(QString::fromLocal8Bit(argv[2]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrix-viewer-shot: %s\n", e.what());
        return 1;
    }
    return 0;
}
