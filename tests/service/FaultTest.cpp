// Each fault switch fires on the first matching event only: that event fails as the switch says and
// the same event next time succeeds.
#include <functional>

#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Faults : public ServiceFixture {
protected:
    // A finished SfM task's result item.
    Response<kGetSfmResults>::Item finishedSfm(WsClient& ws) {
        Request<kLaunchSfmTask> launch;
        launch.config = prepareSfm(ws);
        const TaskHandle task = ws.call(launch).hTask;
        EXPECT_EQ(waitEnd(ws, task).back().status, TaskStage::kFinished);
        Request<kGetSfmResults> get;
        get.hTask = task;
        return ws.call(get).items.at(0);
    }
    // The first answer to a handshake, as text.
    std::string firstAnswer() {
        auto ws = connect(false);
        ws->sendText(writeRequest(Request<kHandshake>{}));
        return ws->readText().value_or("");
    }
    HttpReply put(WsClient& ws, const std::string& bytes) {
        Request<kGetUploadUrl> req;
        req.key = keyOf(bytes);
        req.size = bytes.size();
        return httpsPut(ws.call(req).url, ca(), bytes, {{"Content-MD5", contentMd5(bytes)}});
    }
};

TEST_F(Faults, EachSwitchSpoilsTheFirstMatchingEventOnly) {
    const std::string big(3 << 20, 'x');  // several transfer chunks, so a cut lands half-way
    struct Row {
        const char* fault;
        std::function<void()> spoiled;  // the first event, failing
        std::function<void()> clean;    // the same event again, succeeding
    };
    const Row rows[] = {
        {"protocol-version-2",
         [&] { EXPECT_EQ(connect(false)->call(Request<kHandshake>{}).protocolVersion, 2u); },
         [&] { EXPECT_EQ(connect(false)->call(Request<kHandshake>{}).protocolVersion, 1u); }},
        {"login-refused", [&] { EXPECT_THROW(connect(), std::runtime_error); }, [&] { connect(); }},
        {"launch-refused",
         [&] {
             auto ws = connect();
             Request<kLaunchSfmTask> launch;
             launch.config = prepareSfm(*ws);
             EXPECT_EQ(ws->call(launch).sfmErr.code, kxservice::kRefused);
             EXPECT_EQ(ws->call(launch).sfmErr.code, 0u);
         },
         [] {}},
        {"task-fails",
         [&] {
             auto ws = connect();
             Request<kLaunchSfmTask> launch;
             launch.config = prepareSfm(*ws);
             const auto end = waitEnd(*ws, ws->call(launch).hTask).back();
             EXPECT_EQ(end.status, TaskStage::kFailed);
             EXPECT_EQ(end.error.code, 0u);
             EXPECT_NE(end.error.message.find("task-fails"), std::string::npos) << end.error.message;
             EXPECT_EQ(waitEnd(*ws, ws->call(launch).hTask).back().status, TaskStage::kFinished);
         },
         [] {}},
        {"put-500",
         [&] {
             EXPECT_EQ(put(*connect(), "bytes").status, 500);
             EXPECT_FALSE(storedAnywhere(keyOf("bytes")));
         },
         [&] { EXPECT_EQ(put(*connect(), "bytes").status, 201); }},
        {"drop-mid-upload",
         [&] {
             EXPECT_EQ(put(*connect(), big).status, 0);
             EXPECT_FALSE(storedAnywhere(keyOf(big)));
         },
         [&] { EXPECT_EQ(put(*connect(), big).status, 201); }},
        {"garbage-message", [&] { EXPECT_THROW(readResponse(firstAnswer()), std::exception); },
         [&] { EXPECT_EQ(readResponse(firstAnswer()).index(), 0u); }},
        {"wrong-response-type", [&] { EXPECT_NE(readResponse(firstAnswer()).index(), 0u); },
         [&] { EXPECT_EQ(readResponse(firstAnswer()).index(), 0u); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        kxservice::Options options;
        options.faults = {row.fault};
        startService(options);
        row.spoiled();
        row.clean();
        mService.reset();
        std::filesystem::remove_all(mDir / "data");
    }
}

TEST_F(Faults, DownloadSwitchesCutOrAlterTheFirstDownloadOnly) {
    struct Row {
        const char* fault;
        bool complete;
        bool sameSize;
    };
    for (const Row row : {Row{"drop-mid-download", false, false}, Row{"short-download", false, false},
                          Row{"bad-digest-download", true, true}}) {
        SCOPED_TRACE(row.fault);
        kxservice::Options options;
        options.faults = {row.fault};
        startService(options);
        auto ws = connect();
        const auto item = finishedSfm(*ws);
        const HttpReply spoiled = httpsGet(item.url, ca());
        EXPECT_EQ(spoiled.complete, row.complete);
        EXPECT_EQ(spoiled.body.size() == item.size, row.sameSize);
        EXPECT_LT(spoiled.body.size(), item.size + 1);
        EXPECT_NE(keyOf(spoiled.body), item.key);
        const HttpReply clean = httpsGet(item.url, ca());
        EXPECT_TRUE(clean.complete);
        EXPECT_EQ(keyOf(clean.body), item.key);
        mService.reset();
        std::filesystem::remove_all(mDir / "data");
    }
}

}  // namespace
}  // namespace kxtest
