// The session's file transfers: uploads to the addresses the service hands out, downloads of results.
#include <set>
#include <system_error>

#include <QFile>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "remote/Backend.h"
#include "remote/DownloadFile.h"
#include "remote/TransferUrl.h"
#include "vexkit/DebugLine.h"
#include "vexkit/Paths.h"

using namespace user_proto;

namespace {
// Reads of a download never take more than this at once, so a result is never held whole in memory.
constexpr qint64 kChunkBytes = 2048;
constexpr qint64 kReadAheadBytes = 1024 * 1024;

QString replyErrorName(QNetworkReply::NetworkError error) {
    return QString::fromLatin1(QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error));
}
using remote::isTransferUrl;
using remote::redactedUrl;

// A declared size above the free space of the destination is refused before anything is fetched.
bool fitsOnDisk(const std::filesystem::path& file, uint64_t size) {
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(file.parent_path(), ec);
    return ec || size <= space.available;  // a destination that cannot be measured fails at its write
}
QNetworkRequest transferRequest(const std::string& url, const remote::ServiceSettings& settings) {
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("kxsfm_client"));
    request.setRawHeader("Connection", "Keep-Alive");
    request.setSslConfiguration(remote::sslConfiguration(settings));
    return request;
}
}  // namespace

void Backend::getUploadUrl(const std::filesystem::path& file, FileType type,
                           const std::optional<std::array<char, 32>>& key) {
    const uint64_t size = std::filesystem::file_size(file);
    const FileKey fileKey(key ? *key : md5sumHex(file.c_str()));
    getUploadUrlImpl(file, fileKey, size, type);
}

void Backend::getUploadUrlImpl(const std::filesystem::path& file, const FileKey& key, uint64_t size,
                               FileType type) {
    mUrlQueue.push_back(TransferItem{file, key, size, type, {}, nullptr, 0});
    sendReq(Request<kGetUploadUrl>{nextRequest(), key, size, type});
}

void Backend::skipUpload() {
    vexkit::debugLine("Skipping " + mUrlQueue.front().file.u8string());
    if (mNbTransfers > 0) {
        --mNbTransfers;
    }
    if (mNbTransfers == transProgress().getNbFinished()) {
        emit uploadedFiles();
    }
}

void Backend::uploadFile(TransferItem item) {
    guarded([&] {
        const QString name = toQStr(item.file);
        const QUrl url(QString::fromStdString(item.url));
        if (!isTransferUrl(url)) {
            failUpload(item, replyErrorName(QNetworkReply::ProtocolUnknownError),
                       QStringLiteral("unsupported address"));
            return;
        }
        // The requirement checks of an upload fail this file, before anything is sent.
        std::error_code ec;
        if (!std::filesystem::exists(item.file, ec) || !QFile::exists(name)) {
            failUpload(item, replyErrorName(QNetworkReply::ContentNotFoundError),
                       QStringLiteral("fs::exists(item.file)"));
            return;
        }
        auto file = std::make_unique<QFile>(name);
        if (!file->open(QFile::OpenModeFlag::ReadOnly)) {
            failUpload(item, replyErrorName(QNetworkReply::ContentAccessDenied),
                       QStringLiteral("file->open(QFile::OpenModeFlag::ReadOnly)"));
            return;
        }
        vexkit::debugLine("Start to upload file " + item.file.u8string() + " to " + redactedUrl(item.url));
        QNetworkRequest request = transferRequest(item.url, mSettings);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
        request.setHeader(QNetworkRequest::ContentLengthHeader, QVariant::fromValue<qulonglong>(item.size));
        const std::array<char, 24> md5 = item.key.base64();
        request.setRawHeader("Content-MD5", QByteArray(md5.data(), static_cast<int>(md5.size())));
        request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        QNetworkReply* reply = mNetwork->put(request, file.get());
        file.release()->setParent(reply);
        item.reply = reply;
        transProgress().addItem(item);
        connect(reply, &QNetworkReply::finished, this,
                [this, reply] { guarded([&] { onUploadFinished(reply); }); });
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        connect(reply, &QNetworkReply::uploadProgress, this, [this, reply](qint64 sent, qint64) {
            TransferItem* running = transProgress().find(reply);
            if (!mUploading || !running) {
                return;
            }
            transProgress().setProgress(*running, static_cast<uint64_t>(std::max<qint64>(sent, 0)));
            emit reportProgress(QStringLiteral("Uploading files"),
                                batchPercent(transProgress().getTransferred(), transProgress().getTotal()),
                                QString());
        });
    });
}

void Backend::onUploadFinished(QNetworkReply* reply) {
    TransferItem* item = transProgress().find(reply);
    if (!item) {
        return;  // a transfer of an earlier batch
    }
    if (reply->error() == QNetworkReply::NoError) {
        vexkit::debugLine("Uploaded file " + item->file.u8string() + " to " + redactedUrl(item->url));
        transProgress().updateFinished(reply);
        transProgress().release(reply);
        if (transProgress().getNbFinished() == mNbTransfers) {
            emit uploadedFiles();
        }
        return;
    }
    transProgress().setProgress(*item, 0);
    const TransferItem failed = *item;
    transProgress().release(reply);
    failUpload(failed, replyErrorName(reply->error()),
               reply->errorString() + QString::fromUtf8(reply->readAll()));
}

void Backend::failUpload(const TransferItem& item, const QString& errorName, const QString& detail) {
    const QString name = toQStr(item.file);
    // Set before the box: its event loop may deliver the next failure of the same task.
    if (!mUploadFailureShown) {
        mUploadFailureShown = true;
        fail(QStringLiteral("Failure"), QStringLiteral("Failed to upload %1").arg(name));
    }
    vexkit::debugLine("Failed to upload " + item.file.u8string() + " to " + redactedUrl(item.url) +
                      " due to error " + (errorName + detail).toStdString());
}

void Backend::downloadSfmResults(const SfmResultItems& items) {
    std::vector<DownloadAttr> files;
    for (const SfmResultItem& item : items) {
        files.push_back(DownloadAttr{mOutputDir / (std::to_string(item.hModel) + extensionOf(item.type)),
                                     item.key, item.size, item.type, item.url});
    }
    downloadFiles(files);
}

void Backend::downloadFiles(const std::vector<DownloadAttr>& files) {
    transProgress().clear();
    mUploading = false;
    mNbTransfers = files.size();
    mResults.clear();
    std::set<std::filesystem::path> destinations;
    for (const DownloadAttr& entry : files) {
        TransferItem item{entry.file, entry.key, entry.size, entry.type, entry.url, nullptr, 0};
        const QUrl url(QString::fromStdString(entry.url));
        QString refused;
        if (!destinations.insert(entry.file.lexically_normal()).second) {
            refused = replyErrorName(QNetworkReply::UnknownContentError);
        } else if (!isTransferUrl(url)) {
            refused = replyErrorName(QNetworkReply::ProtocolUnknownError);
        } else if (!fitsOnDisk(entry.file, entry.size)) {
            refused = QStringLiteral("InsufficientSpace");
        }
        auto sink = std::make_unique<DownloadFile>(entry.file, entry.size, entry.key, nullptr);
        if (refused.isEmpty() && !sink->open()) {
            fail(QStringLiteral("Download Failure"), QStringLiteral("Failed to write downloaded data"));
            continue;
        }
        if (!refused.isEmpty()) {
            failDownload(item, refused);
            continue;
        }
        QNetworkReply* reply = mNetwork->get(transferRequest(entry.url, mSettings));
        // Back-pressure: the network stops reading ahead while the disk is slower.
        reply->setReadBufferSize(kReadAheadBytes);
        DownloadFile* file = sink.release();
        file->setParent(reply);
        item.reply = reply;
        transProgress().addItem(item);
        connect(reply, &QNetworkReply::readyRead, this, [this, reply, file] {
            guarded([&] {
                TransferItem* running = transProgress().find(reply);
                if (!running) {
                    return;
                }
                // An error page is no part of the file.
                const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                if (status.isValid() && (status.toInt() < 200 || status.toInt() >= 300)) {
                    reply->readAll();
                    return;
                }
                char buffer[kChunkBytes];
                while (reply->bytesAvailable() > 0) {
                    const qint64 nbRead = reply->read(buffer, kChunkBytes);
                    const DownloadFile::Written written =
                        nbRead < 0 ? DownloadFile::Written::kFailed : file->write(buffer, nbRead);
                    if (written == DownloadFile::Written::kTooLong) {
                        disconnect(reply, nullptr, this, nullptr);
                        transProgress().setProgress(*running, 0);
                        const TransferItem failed = *running;
                        transProgress().release(reply);
                        reply->abort();
                        failDownload(failed, replyErrorName(QNetworkReply::UnknownContentError));
                        return;
                    }
                    if (written == DownloadFile::Written::kFailed) {
                        fail(QStringLiteral("Download Failure"),
                             QStringLiteral("Failed to write downloaded data"));
                        abort();
                        return;
                    }
                }
            });
        });
        const QString path = toQStr(entry.file);
        connect(reply, &QNetworkReply::errorOccurred, this, [this, reply, path](QNetworkReply::NetworkError) {
            if (transProgress().find(reply)) {
                fail(QStringLiteral("Download Failure"), path);
            }
        });
        connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
            TransferItem* running = transProgress().find(reply);
            if (mUploading || !running) {
                return;
            }
            transProgress().setProgress(*running, static_cast<uint64_t>(std::max<qint64>(received, 0)));
            emit reportProgress(QStringLiteral("Downloading results"),
                                batchPercent(transProgress().getTransferred(), transProgress().getTotal()),
                                QString());
        });
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, file] { guarded([&] { onDownloadFinished(reply, *file); }); });
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    }
}

void Backend::onDownloadFinished(QNetworkReply* reply, DownloadFile& file) {
    TransferItem* item = transProgress().find(reply);
    if (!item) {
        return;  // a transfer of an earlier batch, or one already failed
    }
    QString errorName;
    if (reply->error() != QNetworkReply::NoError) {
        errorName = replyErrorName(reply->error());
    } else if (!file.complete() || !file.commit()) {
        errorName = replyErrorName(QNetworkReply::UnknownContentError);
    }
    if (!errorName.isEmpty()) {
        transProgress().setProgress(*item, 0);
        const TransferItem failed = *item;
        transProgress().release(reply);
        failDownload(failed, errorName);
        return;
    }
    mResults.push_back(item->file);
    vexkit::debugLine("Downloaded " + item->file.u8string() + " from " + redactedUrl(item->url));
    transProgress().updateFinished(reply);
    transProgress().release(reply);
    vexkit::debugLine("mTransProgress->getNbFinished() = " + std::to_string(transProgress().getNbFinished()) +
                      ", mNbTransfers " + std::to_string(mNbTransfers));
    if (transProgress().getNbFinished() == mNbTransfers) {
        vexkit::debugLine("All downloaded");
        const ResultPaths results = mResults;
        mResults.clear();
        emit downloadedResults(results);
    }
}

void Backend::failDownload(const TransferItem& item, const QString& errorName) {
    vexkit::debugLine("Failed to download " + item.file.u8string() + " from " + redactedUrl(item.url));
    fail(QStringLiteral("Download Error"), QStringLiteral("%1: code = %2").arg(toQStr(item.file), errorName));
}

void Backend::abortTransfers() {
    if (!mTransProgress) {
        return;
    }
    std::vector<std::pair<QNetworkReply*, std::filesystem::path>> running;
    for (const TransferItem& item : mTransProgress->getItems()) {
        if (item.reply) {
            running.emplace_back(item.reply, item.file);
        }
    }
    for (const auto& [reply, file] : running) {
        // Disconnected first: a reply ended here shows no box and completes nothing.
        disconnect(reply, nullptr, this, nullptr);
        mTransProgress->release(reply);
        reply->abort();
        emit reportProgress(QStringLiteral("Aborted"), 0,
                            QStringLiteral("Aborted the transfer of %1").arg(toQStr(file)));
    }
}
