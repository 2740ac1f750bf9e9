#include "tests/remote/ServicePeer.h"

#include <QRegularExpression>

#include "tests/support/ImageFixtures.h"
#include "vexkit/Paths.h"

namespace kxtest {

ServicePeer::ServicePeer(const QStringList& options, const QString& engine) {
    const QStringList arguments{"--listen", "127.0.0.1:0", "--data-dir", toQStr(mDataDir.path()),
                                "--engine", engine};
    mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess.start(QStringLiteral(KX_SERVICE_BINARY), arguments + options);
    const QRegularExpression startLine(QStringLiteral("listening on wss://(\\S+)/client CA (.+)$"));
    QByteArray out;
    while (!out.contains('\n') && mProcess.waitForReadyRead(20000)) {
        out += mProcess.readAllStandardOutput();
    }
    const QRegularExpressionMatch match = startLine.match(QString::fromUtf8(out).trimmed());
    EXPECT_TRUE(match.hasMatch()) << "no start line from the service: " << out.toStdString();
    address = match.captured(1);
    caFile = toPath(match.captured(2));
}

ServicePeer::~ServicePeer() {
    mProcess.terminate();  // SIGTERM: an orderly stop that exits with status 0
    EXPECT_TRUE(mProcess.waitForFinished(10000));
    EXPECT_TRUE(mProcess.exitStatus() == QProcess::NormalExit && mProcess.exitCode() == 0);
}

std::string ServicePeer::taskLogs() const {
    std::string logs;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(mDataDir / "tasks", ec)) {
        logs += readFile(task.path() / "task.log");
    }
    return logs;
}

Observer::Observer(Backend& backend) {
    QObject::connect(&backend, &Backend::reportProgress, &backend,
                     [this](const QString& label, int32_t, const QString& log) {
                         if (labels.isEmpty() || labels.back() != label) {
                             labels << label;
                         }
                         if (!log.isEmpty()) {
                             logs.push_back(log);
                         }
                     });
    QObject::connect(&backend, &Backend::downloadedResults, &backend,
                     [this](const ResultPaths& paths) { results.push_back(paths); });
    QObject::connect(&backend, &Backend::failed, &backend,
                     [this](const remote::Failure& failure) { failures.push_back(failure); });
}

ClientRun runClient(const QStringList& args, int timeoutMs) {
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

std::unique_ptr<SfmCfg> makeSfmCfg(const std::filesystem::path& dir, int nbImages) {
    auto cfg = std::make_unique<SfmCfg>();
    cfg->cameras.push_back(SfmCfg::Camera{64, 48, 50, 50, 32, 24, 0, 0, 0, 0, 0});
    for (int i = 0; i < nbImages; ++i) {
        const std::filesystem::path file = dir / ("img" + std::to_string(i) + ".jpg");
        // Distinct contents: each image has its own key.
        writeJpeg(file, 64, 48,
                  ImageTags().setExif("Exif.Image.ImageDescription", "image " + std::to_string(i)));
        SfmCfg::Image image;
        image.key = FileKey(md5sumHex(file.c_str()));
        image.name = file.u8string();
        cfg->images.push_back(image);
    }
    return cfg;
}

}  // namespace kxtest
