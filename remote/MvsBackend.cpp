#include "remote/MvsBackend.h"

#include "gui/Gui.h"

using namespace user_proto;

MvsBackend::MvsBackend(QObject* parent) : Backend(parent) {}

MvsBackend::~MvsBackend() = default;

void MvsBackend::launchMvsTask(const std::filesystem::path& sparseModel, const std::string& name) {
    beginTask();
    mSparseModel = sparseModel;
    mName = name;
    mImageKeys.clear();
    mCaptures.clear();
    try {
        remote::checkResultName(name);
        mCaptures = remote::mvsInputs(sparseModel);
    } catch (const remote::TaskInputError& e) {
        refuseTask(std::runtime_error(std::string(e.what()) + "\n" + e.file.u8string()));
        return;
    } catch (const std::exception& e) {
        refuseTask(std::runtime_error(std::string(e.what()) + "\n" + sparseModel.u8string()));
        return;
    }
    mSparseKey = FileKey(md5sumHex(mSparseModel.c_str()));
    connectToServer();
}

void MvsBackend::uploadInputFiles() {
    emit reportProgress(QStringLiteral("Uploading files"), 0,
                        QStringLiteral("Upload MVS input files to server."));
    beginUploads(mCaptures.size() + 1);
    getUploadUrl(mSparseModel, FileType::kKsm, mSparseKey.data);
    for (const remote::UploadInput& capture : mCaptures) {
        mImageKeys.push_back(capture.key);
        getUploadUrl(capture.file, capture.type, capture.key.data);
    }
}

void MvsBackend::launchTask() {
    emit reportProgress(
        QStringLiteral("Launching MVS"), 0,
        QStringLiteral("Sending MVS request with key %1").arg(QString::fromStdString(mSparseKey.str())));
    sendReq(Request<kLaunchMvsTask>{nextRequest(), mSparseKey, mImageKeys});
}

void MvsBackend::getResultUrls() {
    sendReq(Request<kGetMvsResults>{nextRequest(), taskHandle()});
}

void MvsBackend::downloadMvsResults(const MvsResultItems& items) {
    std::vector<DownloadAttr> files;
    for (const MvsResultItem& item : items) {
        files.push_back(DownloadAttr{workDir() / (mName + extensionOf(item.type)), item.key, item.size,
                                     item.type, item.url});
    }
    downloadFiles(files);
}
