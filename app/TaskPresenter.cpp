#include "app/TaskPresenter.h"

#include "gui/Gui.h"

namespace app {

void presentTask(Backend& backend, QObject* context, StatusSink status, ResultSink results) {
    QObject::connect(&backend, &Backend::reportProgress, context, std::move(status));
    QObject::connect(&backend, &Backend::failed, context,
                     [](const remote::Failure& failure) { showMsgBox(failure.title, failure.text); });
    QObject::connect(&backend, &Backend::downloadedResults, context, std::move(results));
}

}  // namespace app
