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

struct Seen {
    QString label;
    int32_t percentage;
    QString log;
    bool operator==(const Seen& o) const {
        return label == o.label && percentage == o.percentage && log == o.log;
    }
};
void PrintTo(const Seen& s, std::ostream* os) {
    *os << s.label.toStdString() << " " << s.percentage << " " << s.log.toStdString();
}

struct Session {
    SfmBackend backend;
    std::vector<Seen> seen;
    Session() {
        QObject::connect(&backend, &Backend::reportProgress, &backend,
                         [this](const QString& l, int32_t p, const QString& log) {
                             seen.push_back({l, p, log});
                         });
    }
    // An answer to a request sent on the (unconnected) session.
    void answer(const UserRequest& req, const UserResponse& res) {
        backend.sendReq(req);
        backend.handleMsg(QString::fromStdString(writeResponse(res)));
    }
    void progress(uint8_t stage, float ratio, const std::string& message = {}) {
        Response<kQueryProgress> res;
        res.status = static_cast<TaskStage>(stage);
        res.ratio = ratio;
        res.error.message = message;
        answer(Request<kQueryProgress>{}, res);
    }
};

TEST(Session, AnswersThatCannotBePairedAreOneLogLineAndNoThrow) {
    const QString login = QString::fromStdString(writeResponse(Response<kLogin>{}));
    const struct {
        std::optional<UserRequest> pending;
        QString message;
        QString log;
    } rows[] = {
        {std::nullopt, login, "Protocol error: response of type 1 with no request pending"},
        {Request<kGetSfmResults>{}, login, "Protocol error: response of type 1 to a request of type 3"},
        {Request<kLogin>{}, "{\"index\": 8, \"data\": {}}",
         "Protocol error: unreadable response: Invalid 'index' selector when deserializing std::variant"},
        {Request<kLogin>{}, QString(Backend::kMaxMessageBytes / 2 + 1, 'x'),
         "Protocol error: a message of 8388609 characters is over the limit"},
    };
    for (const auto& row : rows) {
        Session s;
        if (row.pending) {
            s.backend.sendReq(*row.pending);
        }
        s.backend.handleMsg(row.message);
        EXPECT_EQ(s.seen, (std::vector<Seen>{{"Protocol error", 0, row.log}}));
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

TEST(Session, ServiceErrorsShowTheirTexts) {
    kxtest::DialogStub stub;
    Session s;
    Response<kLogin> login;
    login.error = {7, "no such user"};
    s.answer(Request<kLogin>{}, login);
    Response<kLaunchMvsTask> mvs;
    mvs.mvsErr = {3, "missing", {}};
    s.answer(Request<kLaunchMvsTask>{}, mvs);
    Response<kGetSfmResults> sfm;
    sfm.sfmError = {4, "gone", {}};
    s.answer(Request<kGetSfmResults>{}, sfm);
    ASSERT_EQ(stub.messages.size(), 3u);
    EXPECT_EQ(stub.messages[0].text, "Handshake failed!\ncode = 7\nmessage=no such user");
    EXPECT_EQ(stub.messages[1].text, "MVS task cannot start:\ncode = 3\nmessage  = missing");
    EXPECT_EQ(stub.messages[2].text, "Failed to get SFM results:\ncode = 4\nmessage = gone");
}

TEST(TransProgress, BatchPercentAndReusedReplyAddresses) {
    EXPECT_EQ(batchPercent(0, 0), 100);
    EXPECT_EQ(batchPercent(1, 3), 33);
    EXPECT_EQ(batchPercent(0, 10), 0);
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
    const FileKey abc(std::array<char, 32>{'9', '0', '0', '1', '5', '0', '9', '8', '3', 'c', 'd',
                                           '2', '4', 'f', 'b', '0', 'd', '6', '9', '6', '3', 'f',
                                           '7', 'd', '2', '8', 'e', '1', '7', 'f', '7', '2'});
    const struct {
        std::vector<std::string> chunks;
        uint64_t size;
        bool good;
    } rows[] = {{{"a", "bc"}, 3, true}, {{"ab"}, 3, false}, {{"abd"}, 3, false}, {{"ab", "cd"}, 3, false}};
    for (const auto& row : rows) {
        kxtest::TempDir dir;
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

TEST(TaskInputs, RefusesWhatCannotBeUploaded) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "a.jpg", "jpeg");
    kxtest::writeFile(dir / "a.png", "png");
    const FileKey good(md5sumHex((dir / "a.jpg").c_str()));
    const struct {
        std::filesystem::path file;
        FileKey key;
        const char* error;
    } rows[] = {{dir / "a.png", good, "unknown extension"},
                {dir / "b.jpg", good, "missing image"},
                {dir / "a.jpg", FileKey(std::array<char, 32>{'z'}), "invalid key"}};
    for (const auto& row : rows) {
        SfmCfg cfg;
        cfg.images.resize(1);
        cfg.images[0].name = row.file.u8string();
        cfg.images[0].key = row.key;
        try {
            remote::sfmInputs(cfg);
            ADD_FAILURE() << row.error;
        } catch (const remote::TaskInputError& e) {
            EXPECT_STREQ(e.what(), row.error);
            EXPECT_EQ(e.file, row.file);
        }
    }
    // A sparse model names only matching local images.
    const vexkit::Md5Digest digest = vexkit::md5sum((dir / "a.jpg").c_str());
    const struct {
        std::filesystem::path file;
        vexkit::Md5Digest digest;
        const char* error;  // null: accepted
    } captures[] = {{dir / "a.jpg", digest, nullptr},
                    {dir / "a.png", digest, "unknown extension"},
                    {dir / "m.ksm", digest, "not an image"},
                    {dir / "b.jpg", digest, "missing image"},
                    {dir / "a.jpg", vexkit::Md5Digest{1, 2, 3, 4}, "image does not match the model"}};
    for (const auto& row : captures) {
        ksm::Model<1u> model;
        model.captures.push_back({0, 0, {}, row.file.u8string(), row.digest});
        ksm::writeKsm(dir / "m.ksm", model);
        try {
            const auto inputs = remote::mvsInputs(dir / "m.ksm");
            EXPECT_EQ(row.error, nullptr);
            EXPECT_EQ(inputs.at(0).key, good);
        } catch (const remote::TaskInputError& e) {
            EXPECT_STREQ(e.what(), row.error);
        }
    }
    kxtest::writeFile(dir / "short.ksm", kxtest::readFile(dir / "m.ksm").substr(0, 20));
    EXPECT_THROW(remote::mvsInputs(dir / "short.ksm"), cereal::Exception);
    EXPECT_THROW(remote::mvsInputs(dir / "a.jpg"), std::bad_variant_access);
    for (const char* name : {"", "..", "a/b"}) {
        EXPECT_THROW(remote::checkResultName(name), remote::TaskInputError) << name;
    }
}

}  // namespace
