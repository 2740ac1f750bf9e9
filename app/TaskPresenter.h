#pragma once
// How a remote task reaches its user, the same in the window and in headless mode: the session's status
// and log lines go to one sink, its failures become message boxes (through the dialog seam), its results
// go to another sink after their summary is logged, and what the user must notice about them (an
// alignment that left photographs out) goes to a third.
#include <cstdint>
#include <functional>

#include <QString>

#include "remote/Backend.h"

namespace app {

using StatusSink = std::function<void(const QString& label, int32_t percentage, const QString& log)>;
using ResultSink = std::function<void(const ResultPaths& results)>;
using NoticeSink = std::function<void(const QString& title, const QString& text)>;

// Connects `backend` for as long as `context` lives.
void presentTask(Backend& backend, QObject* context, StatusSink status, ResultSink results,
                 NoticeSink notice);

}  // namespace app
