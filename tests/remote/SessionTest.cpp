// The session's reactions to answers, fed straight to handleMsg, and the transfer bookkeeping.
#include <cmath>

#include "model/KsmWriter.h"
#include "remote/DownloadFile.h"
#include "remote/SfmBackend.h"
#include "remote/TaskInputs.h"
#include "tests/support/DialogStub.h"
#include "tests/support/TestSupport.h"

using namespace user_proto;

namespace {

using Seen = std::tuple<QString, int32_t, QString>;  // label, percentage, log

struct Session {
    SfmBackend backend;
    std::vector<Seen> seen;
    Session() {
        QObject::connect(&backend, &Backend::reportProgress, &backend,
                         [this](const QString& l, int32_t p, const QString& log) {
                             seen.push_back({l, p, log});
                         });
    }
    // A progress answer to a request sent on the (unconnected) session.
    void progress(uint8_t stage, float ratio, const std::string& message = {}) {
        Response<kQueryProgress> res;
        res.status = static_cast<TaskStage>(stage);
        res.ratio = ratio;
        res.error.message = message;
        backend.sendReq(Request<kQueryProgress>{});
        backend.handleMsg(QString::fromStdString(writeResponse(res)));
    }
};

TEST(Session, AnswersThatCannotBePairedAreOneLogLineAndNoThrow) {
    const QString login = QString::fromStdString(writeResponse(Response<kLogin>{}));
    const struct {
        std::optional<UserRequest> pending;
        QString message;
        QString log;  // its start
    } rows[] = {
        {std::nullopt, login, "Protocol error: response of type 1 with no request pending"},
        {Request<kGetSfmResults>{}, login, "Protocol error: response of type 1 to a request of type 3"},
        {Request<kLogin>{}, "{\"index\": 8, \"data\": {}}", "Protocol error: unreadable response: "},
        {Request<kLogin>{}, QString(Backend::kMaxMessageBytes / 2 + 1, 'x'),
         "Protocol error: a message of 8388609 characters is over the limit"},
    };
    for (const auto& row : rows) {
        Session s;
        if (row.pending) {
            s.backend.sendReq(*row.pending);
        }
        s.backend.handleMsg(row.message);
        ASSERT_EQ(s.seen.size(), 1u);
        EXPECT_EQ(std::get<0>(s.seen[0]), "Protocol error");
        EXPECT_TRUE(std::get<2>(s.seen[0]).startsWith(row.log)) << std::get<2>(s.seen[0]).toStdString();
        // The queue was emptied: the next answer is unexpected too.
        s.seen.clear();
        s.backend.handleMsg(login);
        EXPECT_EQ(s.seen.size(), 1u);
    }
}

TEST(Session, StagesReportTheirLabelsOnceLoggedAndClampedPercentages) {
    kxtest::DialogStub stub;
    Session s;
    s.progress(1, 0.504f);
    s.progress(2, NAN);
    s.progress(2, 2.0f);
    s.progress(2, -1.0f);
    s.progress(6, 0.25f, "engine stopped");
    s.progress(9, 0.0f);
    EXPECT_EQ(s.seen, (std::vector<Seen>{
                          {"Worker: fetching files", 50, "Transfering input files to the allocated worker."},
                          {"Worker: running", 0, "Running the requested task on the worker."},
                          {"Worker: running", 100, ""},
                          {"Worker: running", 0, ""},
                          {"Failed", 25, "Task failed!"},
                          {"Failed", 25, "engine stopped"},
                          {"Protocol error", 0, "unhandled stage value"},
                      }));
    ASSERT_EQ(stub.messages.size(), 1u);
    EXPECT_EQ(stub.messages[0].text, "The task failed.");

    Session first;  // the first answer already finished: no stage log (the last stage starts as 5)
    first.progress(5, 1.0f);
    EXPECT_EQ(first.seen, (std::vector<Seen>{{"Getting result URLs", 0, "Trying to get URLs for results."},
                                             {"Server: finished", 100, ""}}));
}

TEST(TransProgress, BatchPercentAndReusedReplyAddresses) {
    EXPECT_EQ(batchPercent(0, 0), 100);  // an empty batch is done, not a division by zero
    TransProgress progress;
    auto* reply = reinterpret_cast<QNetworkReply*>(0x1000);
    progress.addItem(TransferItem{"a", {}, 10, FileType::kJpg, {}, reply, 0});
    progress.setProgress(*progress.find(reply), 25);  // more than its size counts as its size
    EXPECT_EQ(progress.getTransferred(), 10u);
    progress.updateFinished(reply);
    progress.release(reply);
    EXPECT_EQ(progress.find(reply), nullptr);
    // A later reply at the same address is the new transfer, not the finished one.
    progress.addItem(TransferItem{"b", {}, 4, FileType::kJpg, {}, reply, 0});
    EXPECT_EQ(progress.at(reply).file, "b");
    EXPECT_EQ(progress.getTotal(), 14u);
    EXPECT_EQ(progress.getNbFinished(), 1u);
}

TEST(DownloadFile, ReplacesTheDestinationOnlyWithTheWholeFile) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "abc", "abc");
    const FileKey abc(md5sumHex((dir / "abc").c_str()));
    const struct {
        std::vector<std::string> chunks;
        uint64_t size;
        bool good;
    } rows[] = {{{"a", "bc"}, 3, true}, {{"ab"}, 3, false}, {{"abd"}, 3, false}, {{"ab", "cd"}, 3, false}};
    for (const auto& row : rows) {
        kxtest::writeFile(dir / "0.ksm", "earlier");
        DownloadFile file(dir / "0.ksm", row.size, abc, nullptr);
        ASSERT_TRUE(file.open());
        bool tooLong = false;
        for (const std::string& chunk : row.chunks) {
            tooLong |= file.write(chunk.data(), static_cast<int64_t>(chunk.size())) ==
                       DownloadFile::Written::kTooLong;
        }
        EXPECT_EQ(tooLong, row.chunks.size() == 2 && !row.good);
        EXPECT_EQ(file.complete() && file.commit(), row.good);
        EXPECT_EQ(kxtest::readFile(dir / "0.ksm"), row.good ? "abc" : "earlier");
    }
}

// Why a task's inputs are refused and the file named, empty when they are accepted.
template <class Inputs>
std::string refusal(Inputs&& inputs) {
    try {
        inputs();
        return "";
    } catch (const remote::TaskInputError& e) {
        return std::string(e.what()) + ": " + e.file.filename().string();
    }
}

TEST(TaskInputs, RefusesWhatCannotBeUploaded) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "a.jpg", "jpeg");
    kxtest::writeFile(dir / "a.png", "png");
    const FileKey good(md5sumHex((dir / "a.jpg").c_str()));
    const vexkit::Md5Digest digest = vexkit::md5sum((dir / "a.jpg").c_str());
    const auto sfm = [&](const std::filesystem::path& file, const FileKey& key) {
        SfmCfg cfg;
        cfg.images.resize(1);
        cfg.images[0].name = file.u8string();
        cfg.images[0].key = key;
        return refusal([&] { remote::sfmInputs(cfg); });
    };
    const auto mvs = [&](const std::filesystem::path& file, const vexkit::Md5Digest& d) {
        ksm::Model<1u> model;
        model.captures.push_back({0, 0, {}, file.u8string(), d});
        ksm::writeKsm(dir / "m.ksm", model);
        return refusal([&] { EXPECT_EQ(remote::mvsInputs(dir / "m.ksm").at(0).key, good); });
    };
    EXPECT_EQ(sfm(dir / "a.png", good), "unknown extension: a.png");
    EXPECT_EQ(sfm(dir / "b.jpg", good), "missing image: b.jpg");
    EXPECT_EQ(sfm(dir / "a.jpg", FileKey(std::array<char, 32>{'z'})), "invalid key: a.jpg");
    // A sparse model names only matching local images.
    EXPECT_EQ(mvs(dir / "a.jpg", digest), "");
    EXPECT_EQ(mvs(dir / "a.png", digest), "unknown extension: a.png");
    EXPECT_EQ(mvs(dir / "m.ksm", digest), "not an image: m.ksm");
    EXPECT_EQ(mvs(dir / "b.jpg", digest), "missing image: b.jpg");
    EXPECT_EQ(mvs(dir / "a.jpg", {1, 2, 3, 4}), "image does not match the model: a.jpg");
    kxtest::writeFile(dir / "short.ksm", kxtest::readFile(dir / "m.ksm").substr(0, 20));
    EXPECT_THROW(remote::mvsInputs(dir / "short.ksm"), cereal::Exception);
    EXPECT_THROW(remote::mvsInputs(dir / "a.jpg"), std::bad_variant_access);
    for (const char* name : {"", "..", "a/b"}) {
        EXPECT_THROW(remote::checkResultName(name), remote::TaskInputError) << name;
    }
}

}  // namespace
