#pragma once
// What a failed connection means for the user, in words that say what to do about it.
#include <QAbstractSocket>
#include <QString>

namespace remote {

// The explanation to put under the socket's own error, naming the service's `address`; empty when there
// is nothing to add. `reached`: the connection had been established.
QString connectionHint(QAbstractSocket::SocketError error, const QString& address, bool reached);

// The service ended the connection while the task was under way.
QString closedDuringTask(const QString& address);

}  // namespace remote
