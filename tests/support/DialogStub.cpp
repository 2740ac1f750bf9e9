#include "tests/support/DialogStub.h"

#include <QDialog>

namespace kxtest {
namespace {
// A file or directory dialog that records its request and gives the stub's answer of that kind; the
// directory dialog has no filter.
template <typename Answer>
auto fileDialog(DialogStub& stub, Answer DialogStub::*answer) {
    return [&stub, answer](QWidget*, const QString& caption, const QString& dir, const auto&... filter) {
        stub.fileRequests.push_back({caption, dir, QString(filter...)});
        return stub.*answer;
    };
}

gui::DialogHooks hooksFor(DialogStub& stub) {
    gui::DialogHooks hooks = gui::dialogHooks();
    hooks.messageBox = [&stub](const QString& title, const QString& text) {
        stub.messages.push_back({title, text});
    };
    hooks.openFileNames = fileDialog(stub, &DialogStub::openFilesAnswer);
    hooks.existingDirectory = fileDialog(stub, &DialogStub::directoryAnswer);
    hooks.execDialog = [&stub](QDialog& dialog) {
        return stub.execAnswer ? stub.execAnswer(dialog) : static_cast<int>(QDialog::Rejected);
    };
    return hooks;
}
}  // namespace

DialogStub::DialogStub() : mScope(hooksFor(*this)) {}

}  // namespace kxtest
