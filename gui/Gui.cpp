#include "gui/Gui.h"

#include <exception>

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "vexkit/Paths.h"

std::optional<std::filesystem::path> workDirOpt;

std::filesystem::path workDir() {
    return workDirOpt ? *workDirOpt : toPath(QDir::homePath());
}

void showMsgBox(const QString& title, const QString& text) {
    gui::dialogHooks().messageBox(title, text);
}

namespace gui {

DialogHooks realDialogHooks() {
    DialogHooks hooks;
    hooks.messageBox = [](const QString& title, const QString& text) {
        QMessageBox box;
        box.setWindowTitle(title);
        box.setText(text);
        box.exec();
    };
    hooks.openFileNames = [](QWidget* parent, const QString& caption, const QString& dir,
                             const QString& filter) {
        return QFileDialog::getOpenFileNames(parent, caption, dir, filter);
    };
    hooks.openFileName = [](QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    };
    hooks.saveFileName = [](QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    };
    hooks.existingDirectory = [](QWidget* parent, const QString& caption, const QString& dir) {
        return QFileDialog::getExistingDirectory(parent, caption, dir, QFileDialog::ShowDirsOnly);
    };
    hooks.execDialog = [](QDialog& dialog) { return dialog.exec(); };
    return hooks;
}

DialogHooks& dialogHooks() {
    static DialogHooks hooks = realDialogHooks();
    return hooks;
}

void runGuarded(const std::function<void()>& command, const std::function<void(const QString&)>& log) {
    QString message;
    try {
        command();
        return;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("unknown error");
    }
    reportError(message, log);
}

void reportError(const QString& message, const std::function<void(const QString&)>& log) {
    if (log) {
        log(QStringLiteral("Error: ") + message);
    }
    showMsgBox(QStringLiteral("Error"), message);
}

}  // namespace gui
