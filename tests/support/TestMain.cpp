// The one main of every test program: a QApplication (offscreen unless the test asks for another
// platform), a fixed locale and seed, modal dialogs that fail the test instead of blocking it, and
// pending deletions processed before exit.
#include <clocale>
#include <cstdlib>

#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QSurfaceFormat>

#include <gtest/gtest.h>

#include "gui/Gui.h"
#include "tests/support/TestSupport.h"

namespace {
// A test that expects a dialog installs its answers with gui::ScopedDialogHooks; any other dialog is a
// failure, never a hang.
gui::DialogHooks unexpectedDialogs() {
    gui::DialogHooks hooks;
    hooks.messageBox = [](const QString& title, const QString& text) {
        ADD_FAILURE() << "unexpected message box \"" << title.toStdString() << "\": " << text.toStdString();
    };
    // A file or directory dialog answers as cancelled.
    const auto fileDialog = [](auto cancelled) {
        return [cancelled](QWidget*, const QString& caption, const auto&...) {
            ADD_FAILURE() << "unexpected file dialog \"" << caption.toStdString() << "\"";
            return cancelled;
        };
    };
    hooks.openFileNames = fileDialog(QStringList());
    hooks.openFileName = fileDialog(QString());
    hooks.saveFileName = hooks.openFileName;
    hooks.existingDirectory = fileDialog(QString());
    hooks.execDialog = [](QDialog& dialog) {
        ADD_FAILURE() << "unexpected modal dialog " << dialog.objectName().toStdString();
        return static_cast<int>(QDialog::Rejected);
    };
    return hooks;
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    std::srand(12345);
    ::testing::InitGoogleTest(&argc, argv);
    // GL tests run on an X server: every context of a window must agree with the viewer's OpenGL 3.3 core
    // format, set before the application exists. Other platforms keep Qt's default.
    if (qgetenv("QT_QPA_PLATFORM") == "xcb") {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        format.setDepthBufferSize(24);
        format.setStencilBufferSize(8);
        QSurfaceFormat::setDefaultFormat(format);
    }
    QApplication app(argc, argv);
    gui::dialogHooks() = unexpectedDialogs();
    const int result = RUN_ALL_TESTS();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
