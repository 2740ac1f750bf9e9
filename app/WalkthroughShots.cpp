// Takes the README's walk-through pictures from the real window: the project directory set, photographs
// added as a group (with the optics dialog), Align Images while the task runs and when it is done, and
// Densify Point Cloud (its result window, or the box that refuses it) with, optionally, a PLY opened.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/app/kestrix-walkthrough-shots \
//       --service ADDRESS --service-ca FILE --project DIR --out DIR [--ply FILE] PHOTO...
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/MainWindow.h"
#include "gui/Gui.h"
#include "remote/ServiceSettings.h"
#include "viewer/ModelViewer.h"
#include "vexkit/Paths.h"

namespace {

struct Options {
    QString service, serviceCa, project, out, ply;
    QStringList photos;
};

Options parse(const QStringList& args) {
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        QString* value = arg == "--service"      ? &options.service
                         : arg == "--service-ca" ? &options.serviceCa
                         : arg == "--project"    ? &options.project
                         : arg == "--out"        ? &options.out
                         : arg == "--ply"        ? &options.ply
                                                 : nullptr;
        if (value && i + 1 < args.size()) {
            *value = args[++i];
        } else if (!arg.startsWith("--")) {
            options.photos << arg;
        } else {
            throw std::runtime_error("unknown option " + arg.toStdString());
        }
    }
    if (options.service.isEmpty() || options.project.isEmpty() || options.out.isEmpty() ||
        options.photos.isEmpty()) {
        throw std::runtime_error(
            "usage: --service ADDRESS --service-ca FILE --project DIR --out DIR [--ply FILE] PHOTO...");
    }
    return options;
}

// Lets the event loop run until `done` holds or `ms` pass.
void runUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void save(QWidget& widget, const Options& options, const char* name) {
    runUntil([] { return false; }, 300);
    widget.grab().save(options.out + "/" + name);
    std::printf("saved %s\n", name);
}

}  // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(ModelViewer::surfaceFormat());
    QApplication application(argc, argv);
    try {
        const Options options = parse(QApplication::arguments());
        const remote::ServiceSettings settings = remote::resolveServiceSettings(
            options.service.toStdString(),
            options.serviceCa.isEmpty() ? std::nullopt : std::optional(toPath(options.serviceCa)));
        MainWindow window;
        window.setServiceSettings(settings);
        window.resize(1263, 862);
        window.show();

        QStringList messages;
        gui::DialogHooks hooks = gui::realDialogHooks();
        hooks.existingDirectory = [&](QWidget*, const QString&, const QString&) { return options.project; };
        hooks.openFileNames = [&](QWidget*, const QString&, const QString&, const QString&) {
            return options.photos;
        };
        hooks.openFileName = [&](QWidget*, const QString&, const QString&, const QString&) {
            return options.ply;
        };
        hooks.execDialog = [&](QDialog& dialog) {
            dialog.show();
            save(dialog, options, "walkthrough-2-optics.png");
            dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
            return dialog.result();
        };
        hooks.messageBox = [&](const QString& title, const QString& text) {
            QMessageBox box(QMessageBox::NoIcon, title, text);
            box.show();
            // A notice about the results, not a failure: the walk-through goes on.
            const bool notice = title == "Alignment incomplete";
            save(box, options, notice ? "walkthrough-4-incomplete.png" : "walkthrough-6-message.png");
            if (!notice) {
                messages << title + ": " + text;
            }
        };
        const gui::ScopedDialogHooks scope(hooks);

        window.findChild<QAction*>("actionSet_Project_Directory")->trigger();
        window.findChild<QAction*>("actionAdd_Images")->trigger();
        save(window, options, "walkthrough-1-images.png");

        window.findChild<QAction*>("actionStart_SFM")->trigger();
        runUntil(
            [&] {
                return window.findChild<QLabel*>("statusLabel")->text() == "Worker: running" ||
                       !messages.isEmpty();
            },
            600000);
        runUntil([] { return false; }, 3000);
        save(window, options, "walkthrough-3-running.png");
        runUntil([&] { return !window.sparseModel().isEmpty() || !messages.isEmpty(); }, 3600000);
        window.findChild<ModelViewer*>("modelViewer")->rotateScene(QPointF(0, 0), QPointF(0.08, -0.06));
        runUntil([] { return false; }, 3000);  // thumbnails arrive on the pool
        save(window, options, "walkthrough-4-sparse.png");

        window.findChild<QAction*>("actionStart_MVS")->setEnabled(true);
        window.findChild<QAction*>("actionStart_MVS")->trigger();
        runUntil([&] { return window.plyViewer() || !messages.isEmpty(); }, 600000);
        if (!options.ply.isEmpty()) {
            // The cloud replaces the window once read on the pool.
            const ModelViewer* densified = window.plyViewer();
            window.findChild<QAction*>("actionOpen_PLY")->trigger();
            runUntil([&] { return window.plyViewer() != densified || !messages.isEmpty(); }, 600000);
        }
        if (window.plyViewer()) {
            runUntil([] { return false; }, 2000);
            save(*window.plyViewer(), options, "walkthrough-5-dense.png");
        }
        for (const QString& message : messages) {
            std::printf("%s\n", message.toLocal8Bit().constData());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrix-walkthrough-shots: %s\n", e.what());
        return 1;
    }
    return 0;
}
