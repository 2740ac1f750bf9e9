#pragma once
// What every widget of the client shares: the project directory, the way an error reaches the user, and
// the one seam through which all modal dialogs pass, so that tests can answer them without blocking.
#include <filesystem>
#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// The project directory; empty until the user sets one, never cleared.
extern std::optional<std::filesystem::path> workDirOpt;
// The project directory, or the user's home directory while none is set.
std::filesystem::path workDir();

// Shows a modal message box without a parent and returns when the user closes it.
void showMsgBox(const QString& title, const QString& text);

namespace gui {

// Every modal interaction of the client. Each member defaults to the real Qt dialog; tests replace
// members with answers of their own (see ScopedDialogHooks).
struct DialogHooks {
    std::function<void(const QString& title, const QString& text)> messageBox;
    std::function<QStringList(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter)>
        openFileNames;
    std::function<QString(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)>
        openFileName;
    std::function<QString(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)>
        saveFileName;
    std::function<QString(QWidget* parent, const QString& caption, const QString& dir)> existingDirectory;
    // Runs a dialog modally and returns its result code (QDialog::Accepted or QDialog::Rejected).
    std::function<int(QDialog& dialog)> execDialog;
};

// The hooks in force; only the GUI thread uses them.
DialogHooks& dialogHooks();
// The real dialogs.
DialogHooks realDialogHooks();

// Replaces the hooks for one scope and restores the previous ones when it ends.
class ScopedDialogHooks {
public:
    explicit ScopedDialogHooks(DialogHooks hooks) : mSaved(dialogHooks()) {
        dialogHooks() = std::move(hooks);
    }
    ~ScopedDialogHooks() { dialogHooks() = std::move(mSaved); }
    ScopedDialogHooks(const ScopedDialogHooks&) = delete;
    ScopedDialogHooks& operator=(const ScopedDialogHooks&) = delete;

private:
    DialogHooks mSaved;
};

inline QStringList getOpenFileNames(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
    return dialogHooks().openFileNames(parent, caption, dir, filter);
}
inline QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                               const QString& filter) {
    return dialogHooks().openFileName(parent, caption, dir, filter);
}
inline QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                               const QString& filter) {
    return dialogHooks().saveFileName(parent, caption, dir, filter);
}
inline QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& dir) {
    return dialogHooks().existingDirectory(parent, caption, dir);
}
inline int execDialog(QDialog& dialog) {
    return dialogHooks().execDialog(dialog);
}

// Runs a GUI command and turns any exception into an "Error" message box and a log line, so that no
// exception reaches Qt's event loop. `log` receives the line (may be empty).
void runGuarded(const std::function<void()>& command, const std::function<void(const QString&)>& log = {});
// How runGuarded tells of a failure: "Error: <message>" to `log` (may be empty), then the message box.
void reportError(const QString& message, const std::function<void(const QString&)>& log = {});

}  // namespace gui
