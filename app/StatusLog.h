#pragma once
// The lines of the main window's log pane.
#include <QString>
#include <QTime>

namespace app {

// "[hh:mm:ss.zzz] text": the local time with milliseconds, then the text as given.
QString formatLogLine(const QTime& time, const QString& text);

}  // namespace app
