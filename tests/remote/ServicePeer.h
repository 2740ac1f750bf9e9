#pragma once
// The test peer: kestrix-service started on 127.0.0.1 port 0 with its own data directory (its
// certificates are made when it starts), and what the tests need around it.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest/QTest>

#include "config/SfmCfg.h"
#include "remote/Backend.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

class ServicePeer {
public:
    // Starts the service with further options ("--fault" ...) and the engine; fails the test when it does
    // not start.
    explicit ServicePeer(const QStringList& options = {}, const QString& engine = "test");
    ~ServicePeer();
    QString address;
    std::filesystem::path caFile;
    remote::ServiceSettings trusted() const { return {address, remote::loadCaFile(caFile)}; }
    // The task logs of the service's engine, one after another, for a failing test to show.
    std::string taskLogs() const;

private:
    TempDir mDataDir;
    QProcess mProcess;
};

// A backend that records the requests it sends, pointed at `peer` and trusting it.
template <class B>
class Recorded : public B {
public:
    explicit Recorded(const ServicePeer& peer) { B::setServiceSettings(peer.trusted()); }
    void sendReq(const user_proto::UserRequest& req) override {
        sent.push_back(req);
        B::sendReq(req);
    }
    std::vector<user_proto::UserRequest> sent;
};

struct Observer {
    explicit Observer(Backend& backend);
    QStringList labels;  // the progress labels, each repeat once
    QStringList logs;    // the non-empty log lines
    std::vector<ResultPaths> results;
    std::vector<remote::Failure> failures;  // the boxes the session asked for
};

// A headless run of the client's binary with a clean environment: no default service or CA.
struct ClientRun {
    int status;
    QString out, err;
};
ClientRun runClient(const QStringList& args, int timeoutMs = 60000);

// JPEG fixtures of 64 x 48 in `dir` and a configuration naming them with their keys.
std::unique_ptr<SfmCfg> makeSfmCfg(const std::filesystem::path& dir, int nbImages);

inline bool waitUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 30000);
}

}  // namespace kxtest
