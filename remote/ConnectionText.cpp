#include "remote/ConnectionText.h"

namespace remote {

QString connectionHint(QAbstractSocket::SocketError error, const QString& address, bool reached) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return QStringLiteral(
                       "No service is listening at %1. Start one with scripts/run-client.sh or "
                       "kestrix-service.")
                .arg(address);
        case QAbstractSocket::SslHandshakeFailedError:
            return QStringLiteral(
                "The service's certificate is not trusted. Pass its CA with --service-ca or KX_SERVICE_CA.");
        case QAbstractSocket::RemoteHostClosedError:
            return reached ? closedDuringTask(address) : QString();
        default:
            return QString();
    }
}

QString closedDuringTask(const QString& address) {
    return QStringLiteral("The service at %1 closed the connection during the task.").arg(address);
}

}  // namespace remote
