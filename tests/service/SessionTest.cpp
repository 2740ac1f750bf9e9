// Session rules and many sessions at once.
#include <thread>

#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Sessions : public ServiceFixture {
protected:
    void SetUp() override {
        kxservice::Options options;
        options.maxTasks = 4;
        options.nbNetThreads = 3;
        startService(options);
    }
};

TEST_F(Sessions, OutOfTurnOrMalformedRequestsCloseOnlyThatSession) {
    Request<kLogin> guest;
    guest.username = "guest";
    Request<kQueryProgress> progress;
    struct Row {
        const char* name;
        std::vector<std::string> texts;  // the last one must close the session
    };
    const Row rows[] = {
        {"login before the handshake", {writeRequest(guest)}},
        {"progress before the handshake", {writeRequest(progress)}},
        {"progress before the login", {writeRequest(Request<kHandshake>{}), writeRequest(progress)}},
        {"not JSON", {"{ nope"}},
        {"index out of range", {R"({"index": 9, "data": {"hRequest": 0}})"}},
        {"member missing", {R"({"index": 0, "data": {}})"}},
        {"over the size cap", {std::string(kxservice::kMaxMessageBytes + 1, ' ')}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto ws = connect(false);
        for (size_t i = 0; i + 1 < row.texts.size(); ++i) {
            ws->sendText(row.texts[i]);
            EXPECT_TRUE(ws->readText());
        }
        ws->sendText(row.texts.back());
        EXPECT_FALSE(ws->readText());
    }
    // Other users are refused with a message, and the service still serves.
    auto ws = connect(false);
    ws->call(Request<kHandshake>{});
    Request<kLogin> other;
    other.username = "admin";
    const auto refused = ws->call(other);
    EXPECT_NE(refused.error.code, 0u);
    EXPECT_NE(refused.error.message.find("guest"), std::string::npos);
    connect();
}

TEST_F(Sessions, FiftySessionsRunTheirTasksAtOnce) {
    constexpr int kNbSessions = 50;
    std::vector<int> finished(kNbSessions, 0);
    std::vector<std::thread> clients;
    for (int i = 0; i < kNbSessions; ++i) {
        clients.emplace_back([&, i] {
            try {
                auto ws = connect();
                const FileKey img = upload(*ws, "image of session " + std::to_string(i));
                Request<kLaunchSfmTask> launch;
                launch.config = upload(*ws, configText({img}), FileType::kJson);
                const auto stages = waitEnd(*ws, ws->call(launch).hTask);
                finished[i] = stages.back().status == TaskStage::kFinished;
            } catch (const std::exception& e) {
                ADD_FAILURE() << "session " << i << ": " << e.what();
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(std::count(finished.begin(), finished.end(), 1), kNbSessions);
}

}  // namespace
}  // namespace kxtest
