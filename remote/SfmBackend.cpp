#include "remote/SfmBackend.h"

#include <fstream>
#include <stdexcept>

#include "config/SfmCfgJson.h"

using namespace user_proto;

namespace {
void writeCfgFile(const std::filesystem::path& file, const SfmCfg& cfg) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    writeSfmCfg(out, cfg);
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.u8string());
    }
}
}  // namespace

SfmBackend::SfmBackend(QObject* parent) : Backend(parent) {}

SfmBackend::~SfmBackend() = default;

bool SfmBackend::launchSfmTask(std::unique_ptr<SfmCfg> cfg, const std::filesystem::path& outputDir) {
    beginTask(outputDir);
    mCfg = std::move(cfg);
    mInputs.clear();
    if (mCfg->images.empty()) {
        return refuseTask(std::runtime_error("Add photographs before aligning."));
    }
    try {
        remote::checkWritableDirectory(outputDir);
        mInputs = remote::sfmInputs(*mCfg);
    } catch (const remote::TaskInputError& e) {
        return refuseTask(std::runtime_error(std::string(e.what()) + "\n" + e.file.u8string()));
    }
    connectToServer();
    return true;
}

void SfmBackend::uploadInputFiles() {
    emit reportProgress(QStringLiteral("Uploading files"), 0,
                        QStringLiteral("Upload SFM input files to server."));
    transfers().beginUploads(mInputs.size() + 1);
    for (const remote::UploadInput& input : mInputs) {
        getUploadUrl(input.file, input.type, input.key);
    }
    mCfgFile = outputDir() / "toBeUploaded.json";
    writeCfgFile(mCfgFile, *mCfg);
    mCfgKey = FileKey(md5sumHex(mCfgFile.c_str()));
    getUploadUrl(mCfgFile, FileType::kJson, mCfgKey);
}

void SfmBackend::launchTask() {
    emit reportProgress(
        QStringLiteral("Launching SFM"), 0,
        QStringLiteral("Sending SFM request with key %1").arg(QString::fromStdString(mCfgKey.str())));
    sendReq(Request<kLaunchSfmTask>{nextRequest(), mCfgKey, 0});
}

void SfmBackend::getResultUrls() {
    sendReq(Request<kGetSfmResults>{nextRequest(), taskHandle()});
}
