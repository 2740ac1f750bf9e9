#pragma once
// Answers the client's modal dialogs for one scope and records what they were asked, so widget tests
// drive commands that open dialogs without ever blocking.
#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

#include "gui/Gui.h"

namespace kxtest {

class DialogStub {
public:
    struct Message {
        QString title;
        QString text;
    };
    struct FileRequest {
        QString caption;
        QString dir;
        QString filter;
    };

    DialogStub();  // neither copied nor moved: the hooks refer to this object

    // Answers, taken by the next dialog of each kind (empty means "cancelled"). Single-file open and save
    // dialogs keep the hooks installed before (the test main's fail the test).
    QStringList openFilesAnswer;
    QString directoryAnswer;
    // Runs in place of QDialog::exec; the default rejects.
    std::function<int(QDialog&)> execAnswer;

    // What was asked, in order.
    std::vector<Message> messages;
    std::vector<FileRequest> fileRequests;

private:
    gui::ScopedDialogHooks mScope;
};

}  // namespace kxtest
