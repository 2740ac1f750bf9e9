#include "remote/MvsBackend.h"

using namespace user_proto;

MvsBackend::MvsBackend(QObject* parent) : Backend(parent) {}

MvsBackend::~MvsBackend() = default;

bool MvsBackend::launchMvsTask(const std::filesystem::path& sparseModel, const std::string& name,
                               const std::filesystem::path& outputDir) {
    beginTask(outputDir);
    mSparseModel = sparseModel;
    mName = name;
    mImageKeys.clear();
    mCaptures.clear();
    try {
        remote::checkResultName(name);
        remote::checkWritableDirectory(outputDir);
        mCaptures = remote::mvsInputs(sparseModel);
        if (mCaptures.empty()) {
            throw remote::TaskInputError("The sparse model has no captures to densify.", sparseModel);
        }
    } catch (const remote::TaskInputError& e) {
        return refuseTask(std::runtime_error(std::string(e.what()) + "\n" + e.file.u8string()));
    } catch (const vexkit::FileError& e) {
        return refuseTask(e);  // names the file already
    } catch (const std::exception& e) {
        return refuseTask(std::runtime_error(std::string(e.what()) + "\n" + sparseModel.u8string()));
    }
    mSparseKey = FileKey(md5sumHex(mSparseModel.c_str()));
    connectToServer();
    return true;
}

void MvsBackend::uploadInputFiles() {
    emit reportProgress(QStringLiteral("Uploading files"), 0,
                        QStringLiteral("Upload MVS input files to server."));
    transfers().beginUploads(mCaptures.size() + 1);
    getUploadUrl(mSparseModel, FileType::kKsm, mSparseKey);
    for (const remote::UploadInput& capture : mCaptures) {
        mImageKeys.push_back(capture.key);
        // The model's digest, not the file's: a file changed since is refused if it must travel.
        getUploadUrl(capture.file, capture.type, capture.key, true);
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
    std::vector<remote::Download> files;
    for (const MvsResultItem& item : items) {
        files.push_back(remote::Download{outputDir() / (mName + extensionOf(item.type)), item.key, item.size,
                                         item.type, item.url});
    }
    transfers().download(files);
}
