// The client's command line, and headless runs of the real binaries with their exit statuses.
#include <QTcpServer>

#include "app/CommandLine.h"
#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "project/SfmCfgFile.h"
#include "tests/remote/ServicePeer.h"
#include "vexkit/Paths.h"

namespace {

using Mode = app::ClientOptions::Mode;
using namespace kxtest;

TEST(CommandLine, ModesAndUsageErrors) {
    TempDir dir;
    const std::string json = (dir / "sfm.json").string(), d = dir.path().string();
    writeFile(json, "{}");
    const std::string relative = std::filesystem::relative(json).string();
    // Arguments, and the mode or none for a usage error.
    const std::pair<std::vector<std::string>, std::optional<Mode>> rows[] = {
        {{}, Mode::kWindow},
        {{"--align", relative, "--project-dir", d, "--timeout", "2.5"}, Mode::kAlign},
        {{"--densify", json, "--project-dir", d}, Mode::kDensify},
        {{"--bogus"}, std::nullopt},
        {{"--align"}, std::nullopt},
        {{"--align", json, "--densify", json, "--project-dir", d}, std::nullopt},
        {{"--project-dir", d}, std::nullopt},
        {{"--align", json}, std::nullopt},
        {{"--align", json, "--project-dir", json}, std::nullopt},
        {{"--align", json, "--project-dir", d, "--timeout", "0"}, std::nullopt},
        {{"--align", json, "--project-dir", d, "--service", "a", "--service", "b"}, std::nullopt},
    };
    for (const auto& [args, mode] : rows) {
        SCOPED_TRACE(testing::PrintToString(args));
        if (!mode) {
            EXPECT_THROW(app::parseCommandLine(args), app::UsageError);
            continue;
        }
        const app::ClientOptions options = app::parseCommandLine(args);
        EXPECT_EQ(options.mode, *mode);
        if (options.mode != Mode::kWindow) {
            EXPECT_EQ(options.input, json);  // resolved
            EXPECT_EQ(options.projectDir, dir.path());
        }
    }
}

class Headless : public ::testing::Test {
protected:
    void SetUp() override { writeSfmCfgFile(json, *makeSfmCfg(images.path(), 2)); }
    QStringList align(const QString& address) const {
        return {"--align", toQStr(json), "--project-dir", toQStr(project.path()), "--service", address};
    }
    TempDir project, images;
    std::filesystem::path json = images / "sfm.json";
};

// An alignment that leaves a photograph out still succeeds, and says so.
TEST_F(Headless, AlignThenDensifyDownloadTheResultsAndTellWhatTheyHold) {
    ServicePeer peer({"--fault", "incomplete-alignment"});
    const QStringList trust{"--service-ca", toQStr(peer.caFile), "--timeout", "50"};
    const ClientRun aligned = runClient(align(peer.address) + trust);
    ASSERT_EQ(aligned.status, 0) << aligned.out.toStdString() << aligned.err.toStdString();
    EXPECT_TRUE(aligned.out.contains("Results are ready to be downloaded from server."));
    const auto model = std::get<ksm::Model<1u>>(ksm::loadKsm(project / "0.ksm"));
    EXPECT_EQ(model.captures.size(), 1u);
    EXPECT_TRUE(aligned.out.contains(
        QString("Aligned 1 of 2 photographs: %1 points, mean reprojection error ").arg(model.points.size())));
    EXPECT_TRUE(aligned.out.contains("Not aligned: " + toQStr(images / "img1.jpg") + "\n"));
    EXPECT_TRUE(aligned.out.contains("Alignment incomplete: Only 1 of 2 photographs were aligned."));
    const ClientRun densified = runClient(QStringList{"--densify", toQStr(project / "0.ksm"), "--project-dir",
                                                      toQStr(project.path()), "--service", peer.address} +
                                          trust);
    ASSERT_EQ(densified.status, 0) << densified.err.toStdString();
    EXPECT_TRUE(densified.out.contains(
        QString("Dense cloud: %1 points\n")
            .arg(kxply::PLYData((project / "0_dense.ply").string()).getVertexPositions().size())));
}

TEST_F(Headless, FailuresEndWithTheirStatusAndMessage) {
    ServicePeer failing({"--fault", "task-fails"});
    QTcpServer silent;  // accepts and never answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const QString silentAddress = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
    writeFile(project / "not-a-ca.pem", "text");
    const std::tuple<QStringList, int, QString> rows[] = {
        // arguments, exit status, text in stderr
        {align(failing.address) << "--service-ca" << toQStr(failing.caFile), 1,
         "Failure: The task failed.\n"},
        {align("127.0.0.1:1"), 1,
         "Error: WebSocket: ConnectionRefusedError\nNo service is listening at 127.0.0.1:1. Start one"},
        {align(silentAddress) + QStringList{"--timeout", "1"}, 3, "Timeout: no results after 1 s\n"},
        {align(silentAddress) << "--service-ca" << toQStr(project / "not-a-ca.pem"), 2,
         "kestrix-client: cannot"},
        {QStringList{"--densify", toQStr(project / "none.ksm"), "--project-dir", toQStr(project.path())}, 2,
         "kestrix-client: no such file"},
    };
    for (const auto& [args, status, err] : rows) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const ClientRun run = runClient(args);
        EXPECT_EQ(run.status, status);
        EXPECT_TRUE(run.err.contains(err)) << run.err.toStdString();
    }
}

}  // namespace
