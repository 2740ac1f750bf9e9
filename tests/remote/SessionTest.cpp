// The session's reactions to answers, fed straight to handleMsg, and the transfer bookkeeping.
#include <cmath>

#include <QWebSocket>

#include "model/KsmWriter.h"
#include "remote/DownloadFile.h"
#include "remote/MvsBackend.h"
#include "remote/SfmBackend.h"
#include "remote/TaskInputs.h"
#include "remote/TransferUrl.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

using namespace user_proto;

namespace {

using Seen = std::tuple<QString, int32_t, QString>;  // label, percentage, log

struct Session {
    SfmBackend backend;
    std::vector<Seen> seen;
    std::vector<remote::Failure> failures;
    Session() {
        QObject::connect(&backend, &Backend::reportProgress, &backend,
                         [this](const QString& l, int32_t p, const QString& log) {
                             seen.push_back({l, p, log});
                         });
        QObject::connect(&backend, &Backend::failed, &backend,
                         [this](const remote::Failure& failure) { failures.push_back(failure); });
    }
    template <class Response>
    void answer(const Response& response) {
        backend.handleMsg(QString::fromStdString(writeResponse(response)));
    }
};

// A box may run an event loop: an address that arrives while the box about another file's address is
// open goes to the file it was asked for.
TEST(Session, AnAddressAnsweredWhileAnErrorBoxIsOpenGoesToItsOwnFile) {
    Session s;
    std::vector<TransferItem> addressed;
    QObject::connect(&s.backend, &Backend::gotUploadUrl, &s.backend,
                     [&](const TransferItem& item) { addressed.push_back(item); });
    s.backend.getUploadUrl(TransferItem{"a.jpg", FileKey{}, 1, FileType::kJpg, {}});
    s.backend.getUploadUrl(TransferItem{"b.jpg", FileKey{}, 1, FileType::kJpg, {}});
    Response<kGetUploadUrl> refused;
    refused.error.code = 3;
    Response<kGetUploadUrl> granted;
    granted.url = "https://127.0.0.1:9/upload/b";
    QObject::connect(&s.backend, &Backend::failed, &s.backend, [&] {
        if (s.failures.size() == 1) {
            s.answer(granted);
        }
    });
    s.answer(refused);
    ASSERT_EQ(addressed.size(), 1u);
    EXPECT_EQ(addressed[0].file, "b.jpg");
    EXPECT_EQ(addressed[0].url, granted.url);
}

// A results answer that lists nothing can never complete: the task fails with a box and a log line.
TEST(Session, AnEmptyResultListFailsTheTask) {
    const QString text = "The service returned no results for this task.";
    for (const bool mvs : {false, true}) {
        Session s;
        s.backend.sendReq(mvs ? UserRequest(Request<kGetMvsResults>{})
                              : UserRequest(Request<kGetSfmResults>{}));
        s.answer(mvs ? UserResponse(Response<kGetMvsResults>{}) : UserResponse(Response<kGetSfmResults>{}));
        EXPECT_EQ(s.failures, (std::vector<remote::Failure>{{"Error", text}}));
        EXPECT_EQ(s.seen, (std::vector<Seen>{{"Error", 0, text}}));
    }
}

TEST(Session, AnswersThatCannotBePairedAreOneLogLineAndNoThrow) {
    const QString login = QString::fromStdString(writeResponse(Response<kLogin>{}));
    // The request pending, the message, and the start of the log line.
    const std::tuple<std::optional<UserRequest>, QString, QString> rows[] = {
        {std::nullopt, login, "Protocol error: response of type 1 with no request pending"},
        {Request<kLogin>{}, QString(Backend::kMaxMessageBytes / 2 + 1, 'x'),
         "Protocol error: a message of 8388609 characters is over the limit"},
    };
    for (const auto& [pending, message, log] : rows) {
        Session s;
        if (pending) {
            s.backend.sendReq(*pending);
        }
        s.backend.handleMsg(message);
        ASSERT_EQ(s.seen.size(), 1u);
        EXPECT_EQ(std::get<0>(s.seen[0]), "Protocol error");
        EXPECT_TRUE(std::get<2>(s.seen[0]).startsWith(log)) << std::get<2>(s.seen[0]).toStdString();
        // The queue was emptied: the next answer is unexpected too.
        s.seen.clear();
        s.backend.handleMsg(login);
        EXPECT_EQ(s.seen.size(), 1u);
    }
}

// Ratios that are not finite or outside [0, 1] are clamped; an unknown stage ends the session.
TEST(Session, ProgressRatiosAreClampedAndUnknownStagesAreProtocolErrors) {
    Session s;
    for (const auto& [stage, ratio] : {std::pair{2, NAN}, {2, 2.0f}, {2, -1.0f}, {9, 0.0f}}) {
        Response<kQueryProgress> res;
        res.status = static_cast<TaskStage>(stage);
        res.ratio = ratio;
        s.backend.sendReq(Request<kQueryProgress>{});
        s.answer(res);
    }
    EXPECT_EQ(s.seen, (std::vector<Seen>{{"Worker: running", 0, "Running the requested task on the worker."},
                                         {"Worker: running", 100, ""},
                                         {"Worker: running", 0, ""},
                                         {"Protocol error", 0, "unhandled stage value"}}));
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

// Transfers follow only TLS addresses with a host, keep their capability out of debug lines, and refuse a
// result larger than the free space before fetching anything.
TEST(Transfers, PlainAddressesOversizedResultsAndRedactedLines) {
    EXPECT_EQ(remote::redactedUrl("https://h:1/upload/abc?x=/y"), "https://h:1/upload/\u2026");
    EXPECT_EQ(remote::redactedUrl("https://h/download/t"), "https://h/download/\u2026");
    for (const char* url : {"http://127.0.0.1/upload/a", "file:///etc/passwd", "https:///upload/a"}) {
        EXPECT_FALSE(remote::isTransferUrl(QUrl(url))) << url;
    }

    Session s;
    kxtest::TempDir dir;
    s.backend.transfers().upload(TransferItem{"a.jpg", {}, 1, FileType::kJpg, "http://127.0.0.1:9/upload/a"});
    s.backend.transfers().download(
        {{dir / "0.ksm", FileKey{}, uint64_t(1) << 62, FileType::kKsm, "https://127.0.0.1:9/d/t"},
         {dir / "1.ksm", FileKey{}, 3, FileType::kKsm, "http://127.0.0.1:9/d/u"}});
    // One box a task; the rest is logged.
    EXPECT_EQ(s.failures, (std::vector<remote::Failure>{{"Failure", "Failed to upload a.jpg"}}));
    EXPECT_EQ(std::get<2>(s.seen.back()),
              "Download Error: " + toQStr(dir / "1.ksm") + ": code = ProtocolUnknownError");
    EXPECT_EQ(std::get<2>(s.seen.at(s.seen.size() - 2)),
              "Download Error: " + toQStr(dir / "0.ksm") + ": code = InsufficientSpace");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Short and wrong downloads are the flows' fault switches; more bytes than announced are refused here.
TEST(DownloadFile, MoreBytesThanAnnouncedLeaveTheDestination) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "0.ksm", "earlier");
    DownloadFile file(dir / "0.ksm", 3, FileKey(md5sumHex((dir / "0.ksm").c_str())), nullptr);
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.write("ab", 2), DownloadFile::Written::kOk);
    EXPECT_EQ(file.write("cd", 2), DownloadFile::Written::kTooLong);
    EXPECT_FALSE(file.complete() && file.commit());
    EXPECT_EQ(kxtest::readFile(dir / "0.ksm"), "earlier");
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
    // A sparse model names only local images, keyed by its own digests.
    EXPECT_EQ(mvs(dir / "a.jpg", digest), "");
    EXPECT_EQ(mvs(dir / "m.ksm", digest), "not an image: m.ksm");
    for (const char* name : {"", "..", "a/b"}) {
        EXPECT_THROW(remote::checkResultName(name), remote::TaskInputError) << name;
    }
}

// A task that cannot run is refused before the session connects: a box, a log line, nothing sent.
TEST(TaskInputs, LaunchesThatCannotRunNeverConnect) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "file", "");
    ksm::writeKsm(dir / "empty.ksm", ksm::Model<1u>{});
    Session s;
    MvsBackend mvs;
    QObject::connect(&mvs, &Backend::failed, &mvs,
                     [&](const remote::Failure& f) { s.failures.push_back(f); });
    auto cfg = std::make_unique<SfmCfg>();
    cfg->images.resize(1);
    EXPECT_FALSE(s.backend.launchSfmTask(std::make_unique<SfmCfg>(), dir.path()));
    EXPECT_FALSE(s.backend.launchSfmTask(std::move(cfg), dir / "file"));
    EXPECT_FALSE(mvs.launchMvsTask(dir / "empty.ksm", "empty_dense", dir.path()));
    ASSERT_EQ(s.failures.size(), 3u);
    EXPECT_EQ(s.failures[0].text, "Add photographs before aligning.");
    EXPECT_EQ(s.failures[1].text,
              "The project directory cannot be written: Not a directory\n" + toQStr(dir / "file"));
    EXPECT_EQ(s.failures[2].text,
              "The sparse model has no captures to densify.\n" + toQStr(dir / "empty.ksm"));
    EXPECT_EQ(std::get<2>(s.seen.back()), "Error: " + s.failures[1].text);
    EXPECT_EQ(s.backend.webSocket()->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(mvs.webSocket()->state(), QAbstractSocket::UnconnectedState);
}

}  // namespace
