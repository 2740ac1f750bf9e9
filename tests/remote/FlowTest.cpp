// Whole task flows against kestrix-service on the loopback, through the real event loop.
#include <set>

#include <QRegularExpression>
#include <QTimer>
#include <QtTest/QTest>

#include "remote/MvsBackend.h"
#include "remote/SfmBackend.h"
#include "tests/remote/ServicePeer.h"
#include "vexkit/Paths.h"

using namespace user_proto;
using namespace kxtest;

namespace {

using Asks = std::vector<std::pair<FileType, FileKey>>;
Asks uploadAsks(const std::vector<UserRequest>& sent) {
    Asks asks;
    for (const UserRequest& req : sent) {
        if (const auto* ask = std::get_if<kGetUploadUrl>(&req)) {
            asks.emplace_back(ask->type, ask->key);
        }
    }
    return asks;
}

class FlowTest : public ::testing::Test {
protected:
    bool launch(SfmBackend& sfm, int nbImages) {
        return sfm.launchSfmTask(makeSfmCfg(images.path(), nbImages), project.path());
    }
    TempDir project, images;
};

TEST_F(FlowTest, SfmUploadsImagesThenConfigurationAndSkipsWhatTheServiceHas) {
    ServicePeer peer;
    Recorded<SfmBackend> sfm(peer);
    Observer seen(sfm);
    const SfmCfg cfg = *makeSfmCfg(images.path(), 2);
    sfm.launchSfmTask(std::make_unique<SfmCfg>(cfg), project.path());
    ASSERT_TRUE(waitUntil([&] { return !seen.results.empty() || !seen.failures.empty(); }));
    const FileKey cfgKey(md5sumHex((project / "toBeUploaded.json").c_str()));
    EXPECT_EQ(uploadAsks(sfm.sent), (Asks{{FileType::kJpg, cfg.images[0].key},
                                          {FileType::kJpg, cfg.images[1].key},
                                          {FileType::kJson, cfgKey}}));
    ASSERT_EQ(seen.results.size(), 1u);
    EXPECT_EQ(std::set<std::filesystem::path>(seen.results[0].begin(), seen.results[0].end()),
              (std::set<std::filesystem::path>{project / "0.ksm", project / "0.json"}));
    EXPECT_TRUE(seen.labels.join(',').startsWith(
        "Connecting,Connected,Handshaking,Handshake OK,Login,Login OK,Uploading files"));
    EXPECT_TRUE(seen.labels.contains("Done"));
    EXPECT_FALSE(
        seen.logs.filter("Sending SFM request with key " + QString::fromStdString(cfgKey.str())).isEmpty());
    EXPECT_TRUE(seen.failures.empty());

    // Everything stored: only a changed configuration travels.
    auto changed = std::make_unique<SfmCfg>(cfg);
    changed->settings = SfmCfg::Settings{};
    changed->settings->nbKPoints = 1234;
    testing::internal::CaptureStdout();
    sfm.launchSfmTask(std::move(changed), project.path());
    const bool done = waitUntil([&] { return seen.results.size() == 2 || !seen.failures.empty(); });
    const QStringList lines = QString::fromStdString(testing::internal::GetCapturedStdout()).split('\n');
    ASSERT_TRUE(done);
    EXPECT_EQ(lines.filter(QRegularExpression("^Skipping ")).size(), 2);
    const QStringList uploads = lines.filter(QRegularExpression("^Start to upload file "));
    ASSERT_EQ(uploads.size(), 1);
    EXPECT_TRUE(uploads[0].startsWith("Start to upload file " + toQStr(project / "toBeUploaded.json")));
}

TEST_F(FlowTest, MvsUploadsTheModelThenTheCapturesInModelOrderButNoChangedOne) {
    ServicePeer peer;
    Recorded<SfmBackend> sfm(peer);
    Observer sfmSeen(sfm);
    const SfmCfg cfg = *makeSfmCfg(images.path(), 5);
    sfm.launchSfmTask(std::make_unique<SfmCfg>(cfg), project.path());
    ASSERT_TRUE(waitUntil([&] { return !sfmSeen.results.empty(); }));
    Recorded<MvsBackend> mvs(peer);
    Observer seen(mvs);
    mvs.launchMvsTask(project / "0.ksm", "0_dense", project.path());
    ASSERT_TRUE(waitUntil([&] { return !seen.results.empty() || !seen.failures.empty(); }));
    Asks expected{{FileType::kKsm, FileKey(md5sumHex((project / "0.ksm").c_str()))}};
    std::vector<FileKey> imageKeys;
    for (const auto& image : cfg.images) {
        expected.push_back({FileType::kJpg, image.key});
        imageKeys.push_back(image.key);
    }
    EXPECT_EQ(uploadAsks(mvs.sent), expected);
    const auto launch = std::find_if(mvs.sent.begin(), mvs.sent.end(),
                                     [](const UserRequest& r) { return r.index() == kLaunchMvsTask; });
    ASSERT_NE(launch, mvs.sent.end());
    EXPECT_EQ(std::get<kLaunchMvsTask>(*launch).images, imageKeys);
    EXPECT_EQ(seen.results, (std::vector<ResultPaths>{{project / "0_dense.ply"}}));
    EXPECT_TRUE(seen.failures.empty());

    // A capture changed since the model is hashed only when it must travel: the service that holds it
    // densifies, a new one is never sent it.
    writeFile(images / "img1.jpg", "changed");
    mvs.launchMvsTask(project / "0.ksm", "0_dense", project.path());
    ASSERT_TRUE(waitUntil([&] { return seen.results.size() == 2 || !seen.failures.empty(); }));
    ServicePeer newPeer;
    mvs.setServiceSettings(newPeer.trusted());
    testing::internal::CaptureStdout();
    mvs.launchMvsTask(project / "0.ksm", "0_dense", project.path());
    waitUntil([&] { return !seen.failures.empty(); });
    const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_EQ(seen.failures, (std::vector<remote::Failure>{{"Error", "image does not match the model\n" +
                                                                         toQStr(images / "img1.jpg")}}));
    EXPECT_TRUE(out.contains("Start to upload file " + toQStr(project / "0.ksm")));
    EXPECT_FALSE(out.contains("Start to upload file " + toQStr(images / "img1.jpg")));
}

// A service that goes away during the task is one box that says so, and the task has failed.
TEST_F(FlowTest, AServiceStoppedDuringTheTaskIsOneBoxNamingIt) {
    auto peer = std::make_unique<ServicePeer>();
    Recorded<SfmBackend> sfm(*peer);
    Observer seen(sfm);
    QObject::connect(&sfm, &Backend::reportProgress, &sfm,
                     [&](const QString& label, int32_t, const QString&) {
                         if (label == "Uploading files" && peer) {
                             QTimer::singleShot(0, &sfm, [&] { peer.reset(); });
                         }
                     });
    launch(sfm, 3);
    ASSERT_TRUE(waitUntil([&] { return seen.labels.back() == "Failed"; }));
    QTest::qWait(300);
    ASSERT_EQ(seen.failures.size(), 1u) << seen.logs.join('\n').toStdString();
    EXPECT_TRUE(seen.failures[0].text.contains("The service at " + sfm.serviceSettings().address +
                                               " closed the connection during the task."))
        << seen.failures[0].text.toStdString();
    EXPECT_EQ(seen.labels.back(), "Failed");
}

TEST_F(FlowTest, UntrustedOrAbsentServiceShowsOneBoxPerAttemptSayingWhatToDo) {
    ServicePeer peer;
    SfmBackend sfm;
    Observer seen(sfm);
    const QString untrusted =
        "WebSocket: SslHandshakeFailedError\nThe service's certificate is not trusted. "
        "Pass its CA with --service-ca or KX_SERVICE_CA.";
    const QString refused =
        "WebSocket: ConnectionRefusedError\nNo service is listening at 127.0.0.1:1. Start "
        "one with scripts/run-client.sh or kestrix-service.";
    const std::pair<QString, QString> attempts[] = {
        {peer.address, untrusted}, {peer.address, untrusted}, {"127.0.0.1:1", refused}};
    for (const auto& [address, text] : attempts) {
        const size_t nbBefore = seen.failures.size();
        sfm.setServiceSettings({address, {}});
        launch(sfm, 1);
        ASSERT_TRUE(waitUntil([&] { return seen.failures.size() > nbBefore; }));
        QTest::qWait(200);
        ASSERT_EQ(seen.failures.size(), nbBefore + 1);
        EXPECT_EQ(seen.failures.back().text, text);
        EXPECT_EQ(seen.labels.back(), "Failed");
    }
}

TEST_F(FlowTest, SecondTaskDuringDownloadsAbortsTheFirstQuietly) {
    ServicePeer peer;
    Recorded<SfmBackend> sfm(peer);
    Observer seen(sfm);
    size_t restartAt = 0;
    QObject::connect(&sfm, &Backend::reportProgress, &sfm,
                     [&](const QString& label, int32_t, const QString&) {
                         if (label == "Downloading results" && restartAt == 0) {
                             restartAt = seen.labels.size();
                             // Once the first task's downloads are running.
                             QTimer::singleShot(0, &sfm, [&] { launch(sfm, 2); });
                         }
                     });
    launch(sfm, 2);
    ASSERT_TRUE(waitUntil([&] { return !seen.results.empty() || !seen.failures.empty(); }));
    QTest::qWait(300);
    EXPECT_EQ(seen.results.size(), 1u);
    EXPECT_TRUE(seen.failures.empty());
    // Nothing of the first task's downloads reaches the second task's status before its own downloads.
    const auto connecting = std::find(seen.labels.begin() + restartAt, seen.labels.end(), "Connecting");
    const auto uploaded = std::find(connecting, seen.labels.end(), "Upload OK");
    ASSERT_NE(uploaded, seen.labels.end());
    EXPECT_EQ(std::find(connecting, uploaded, "Downloading results"), uploaded);
}

// Each fault fires once: its task ends in its box or log line, and the next task of the same client
// succeeds.
TEST_F(FlowTest, EveryServiceFaultEndsInItsMessageAndTheNextTaskSucceeds) {
    struct Row {
        const char* fault;
        QString title;     // the box, or empty for a log line
        const char* text;  // prefix of the box text or log line
    };
    const Row rows[] = {
        {"protocol-version-2", "Error", "Software update required!"},
        {"login-refused", "Error", "Handshake failed!\ncode = "},
        {"launch-refused", "Failure", "SFM task cannot start:\ncode = "},
        {"task-fails", "Failure", "The task failed."},
        {"put-500", "Failure", "Failed to upload "},
        {"drop-mid-upload", "Failure", "Failed to upload "},
        {"drop-mid-download", "Download Failure", ""},
        {"short-download", "Download Error", ""},
        {"bad-digest-download", "Download Error", "0.ksm: code = UnknownContentError"},
        {"garbage-message", "", "Protocol error: unreadable response"},
        {"wrong-response-type", "", "Protocol error: response of type"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        ServicePeer peer({"--fault", row.fault});
        writeFile(project / "0.ksm", "an earlier result");
        Recorded<SfmBackend> sfm(peer);
        Observer seen(sfm);
        launch(sfm, 2);
        // Every failure is logged; only the first of the task is a box.
        const QString title = row.title.isEmpty() ? "" : row.title + ": ";
        ASSERT_TRUE(waitUntil([&] { return !seen.logs.filter(title).filter(row.text).isEmpty(); }));
        EXPECT_EQ(seen.failures.size(), row.title.isEmpty() ? 0u : 1u);
        EXPECT_TRUE(seen.results.empty());
        EXPECT_EQ(readFile(project / "0.ksm"), "an earlier result");
        if (std::string(row.fault) == "task-fails") {
            const int failed = seen.logs.indexOf("Task failed!");
            ASSERT_GE(failed, 0);
            EXPECT_LT(failed + 1, seen.logs.size());  // the reason the service gave
        }
        seen.failures.clear();
        launch(sfm, 2);
        ASSERT_TRUE(waitUntil([&] { return !seen.results.empty(); }));
        EXPECT_TRUE(seen.failures.empty());
    }
}

}  // namespace
