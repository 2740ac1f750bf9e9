#include "tests/support/DialogStub.h"

#include <QDialog>

namespace kxtest {
namespace {
gui::DialogHooks hooksFor(DialogStub& stub, std::vector<DialogStub::Message>& messages,
                          std::vector<DialogStub::FileRequest>& requests) {
    gui::DialogHooks hooks;
    hooks.messageBox = [&messages](const QString& title, const QString& text) {
        messages.push_back({title, text});
    };
    hooks.openFileNames = [&stub, &requests](QWidget*, const QString& caption, const QString& dir,
                                             const QString& filter) {
        requests.push_back({caption, dir, filter});
        return stub.openFilesAnswer;
    };
    hooks.openFileName = [&stub, &requests](QWidget*, const QString& caption, const QString& dir,
                                            const QString& filter) {
        requests.push_back({caption, dir, filter});
        return stub.openFileAnswer;
    };
    hooks.saveFileName = [&stub, &requests](QWidget*, const QString& caption, const QString& dir,
                                            const QString& filter) {
        requests.push_back({caption, dir, filter});
        return stub.saveFileAnswer;
    };
    hooks.existingDirectory = [&stub, &requests](QWidget*, const QString& caption, const QString& dir) {
        requests.push_back({caption, dir, QString()});
        return stub.directoryAnswer;
    };
    hooks.execDialog = [&stub](QDialog& dialog) {
        return stub.execAnswer ? stub.execAnswer(dialog) : static_cast<int>(QDialog::Rejected);
    };
    return hooks;
}
}  // namespace

DialogStub::DialogStub() : mScope(hooksFor(*this, messages, fileRequests)) {}

}  // namespace kxtest
