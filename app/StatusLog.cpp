#include "app/StatusLog.h"

namespace app {

QString formatLogLine(const QTime& time, const QString& text) {
    // One multi-argument arg(): a "%1" inside the text must stay as it is.
    return QStringLiteral("[%1] %2").arg(time.toString(QStringLiteral("hh:mm:ss.zzz")), text);
}

}  // namespace app
