#pragma once
// A headless run of the client's real binary, with a clean environment: no default service or CA.
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace kxtest {

struct ClientRun {
    int status;
    QString out, err;
};

inline ClientRun runClient(const QStringList& args, int timeoutMs = 60000) {
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", "/nonexistent");  // no default CA file of a local service
    env.remove("KX_SERVICE");
    env.remove("KX_SERVICE_CA");
    client.setProcessEnvironment(env);
    client.start(QStringLiteral(KX_CLIENT_BINARY), args);
    EXPECT_TRUE(client.waitForFinished(timeoutMs));
    return {client.exitCode(), QString::fromLocal8Bit(client.readAllStandardOutput()),
            QString::fromLocal8Bit(client.readAllStandardError())};
}

}  // namespace kxtest
