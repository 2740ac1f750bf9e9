#include "app/TaskPresenter.h"

#include "app/TaskReport.h"
#include "gui/Gui.h"

namespace app {

void presentTask(Backend& backend, QObject* context, StatusSink status, ResultSink results,
                 NoticeSink notice) {
    QObject::connect(&backend, &Backend::reportProgress, context, status);
    QObject::connect(&backend, &Backend::failed, context,
                     [](const remote::Failure& failure) { showMsgBox(failure.title, failure.text); });
    QObject::connect(
        &backend, &Backend::downloadedResults, context,
        [status, results = std::move(results), notice = std::move(notice)](const ResultPaths& paths) {
            const ResultSummary summary = summarizeResults(paths);
            for (const QString& line : summary.lines) {
                status(QStringLiteral("Done"), 100, line);
            }
            results(paths);
            if (!summary.incomplete.isEmpty()) {
                notice(QStringLiteral("Alignment incomplete"), summary.incomplete);
            }
        });
}

}  // namespace app
