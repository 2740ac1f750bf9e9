#include "remote/Transfers.h"

#include <mutex>
#include <set>
#include <system_error>

#include <QFile>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "remote/DownloadFile.h"
#include "remote/TransferUrl.h"
#include "vexkit/DebugLine.h"
#include "vexkit/Paths.h"
#include "vexkit/ThreadPool.h"

namespace remote {
namespace {
// Reads of a download never take more than this at once, so a result is never held whole in memory.
constexpr qint64 kChunkBytes = 2048;
constexpr qint64 kReadAheadBytes = 1024 * 1024;

QString replyErrorName(QNetworkReply::NetworkError error) {
    return QString::fromLatin1(QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error));
}

// A declared size above the free space of the destination is refused before anything is fetched.
bool fitsOnDisk(const std::filesystem::path& file, uint64_t size) {
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(file.parent_path(), ec);
    return ec || size <= space.available;  // a destination that cannot be measured fails at its write
}
QNetworkRequest transferRequest(const std::string& url, const ServiceSettings& settings) {
    QNetworkRequest request(QUrl(QString::fromStdString(url)));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("kxsfm_client"));
    request.setRawHeader("Connection", "Keep-Alive");
    request.setSslConfiguration(sslConfiguration(settings));
    return request;
}
}  // namespace

// The way back from the thread pool: a hash that finishes posts its result to the transfers while they
// exist; they clear `owner` under the lock when they go, before Qt drops the events posted to them.
struct Transfers::PoolReturn {
    std::mutex mutex;
    Transfers* owner;
};

Transfers::Transfers(const ServiceSettings& settings, Guard guarded, QObject* parent)
    : QObject(parent),
      mSettings(settings),
      mGuarded(std::move(guarded)),
      mNetwork(new QNetworkAccessManager(this)),
      mPoolReturn(std::make_shared<PoolReturn>()) {
    mPoolReturn->owner = this;
}

Transfers::~Transfers() {
    const std::lock_guard<std::mutex> lock(mPoolReturn->mutex);
    mPoolReturn->owner = nullptr;
}

void Transfers::awaitAddress(const TransferItem& item) {
    mUrlQueue.push_back(item);
}

TransferItem Transfers::takeAwaited() {
    TransferItem item = mUrlQueue.front();
    mUrlQueue.pop_front();
    return item;
}

void Transfers::skipUpload(const TransferItem& item) {
    vexkit::debugLine("Skipping " + item.file.u8string());
    if (mNbTransfers > 0) {
        --mNbTransfers;
    }
    if (mNbTransfers == mProgress.getNbFinished()) {
        emit uploaded();
    }
}

void Transfers::beginUploads(uint64_t nbFiles) {
    mProgress.clear();
    ++mBatch;
    mUploading = true;
    mNbTransfers = nbFiles;
}

void Transfers::upload(TransferItem item) {
    mGuarded([&] {
        if (!item.verified) {
            put(item);
            return;
        }
        // Off the GUI thread: a photograph may take a while to hash.
        threadPool.enqueueStd([back = mPoolReturn, item, batch = mBatch] {
            FileKey key;  // a file that cannot be hashed matches no key: its upload fails, it never hangs
            try {
                key = FileKey(md5sumHex(item.file.c_str()));
            } catch (const std::exception&) {
            }
            const std::lock_guard<std::mutex> lock(back->mutex);
            if (Transfers* owner = back->owner) {
                QMetaObject::invokeMethod(
                    owner, [owner, item, key, batch] { owner->onHashed(item, key, batch); },
                    Qt::QueuedConnection);
            }
        });
    });
}

void Transfers::onHashed(TransferItem item, const FileKey& key, uint64_t batch) {
    mGuarded([&] {
        if (batch != mBatch) {
            return;  // the batch was aborted or ended
        }
        if (key != item.key) {
            const QString reason = QStringLiteral("image does not match the model");
            const QString text = reason + '\n' + toQStr(item.file);
            emit progress(QStringLiteral("Error"), 0, QStringLiteral("Error: ") + text);
            failUpload(item, reason, QString(), Failure{QStringLiteral("Error"), text});
            return;
        }
        put(item);
    });
}

void Transfers::put(TransferItem& item) {
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
    mProgress.addItem(item);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply] { mGuarded([&] { onUploadFinished(reply); }); });
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    connect(reply, &QNetworkReply::uploadProgress, this, [this, reply](qint64 sent, qint64) {
        TransferItem* running = mProgress.find(reply);
        if (!mUploading || !running) {
            return;
        }
        mProgress.setProgress(*running, static_cast<uint64_t>(std::max<qint64>(sent, 0)));
        emit progress(QStringLiteral("Uploading files"),
                      batchPercent(mProgress.getTransferred(), mProgress.getTotal()), QString());
    });
}

void Transfers::onUploadFinished(QNetworkReply* reply) {
    TransferItem* item = mProgress.find(reply);
    if (!item) {
        return;  // a transfer of an earlier batch
    }
    if (reply->error() == QNetworkReply::NoError) {
        vexkit::debugLine("Uploaded file " + item->file.u8string() + " to " + redactedUrl(item->url));
        mProgress.updateFinished(reply);
        mProgress.release(reply);
        if (mProgress.getNbFinished() == mNbTransfers) {
            emit uploaded();
        }
        return;
    }
    mProgress.setProgress(*item, 0);
    const TransferItem failed = *item;
    mProgress.release(reply);
    failUpload(failed, replyErrorName(reply->error()),
               reply->errorString() + QString::fromUtf8(reply->readAll()));
}

void Transfers::failUpload(const TransferItem& item, const QString& errorName, const QString& detail,
                           const std::optional<Failure>& box) {
    // Every failure is reported; the session shows the first of its task as a box.
    emit failed(box.value_or(
        Failure{QStringLiteral("Failure"), QStringLiteral("Failed to upload %1").arg(toQStr(item.file))}));
    vexkit::debugLine("Failed to upload " + item.file.u8string() + " to " + redactedUrl(item.url) +
                      " due to error " + (errorName + detail).toStdString());
}

void Transfers::download(const std::vector<Download>& files) {
    mProgress.clear();
    ++mBatch;
    mUploading = false;
    mNbTransfers = files.size();
    mResults.clear();
    std::set<std::filesystem::path> destinations;
    for (const Download& entry : files) {
        QString refused;
        if (!destinations.insert(entry.file.lexically_normal()).second) {
            refused = replyErrorName(QNetworkReply::UnknownContentError);
        } else if (!isTransferUrl(QUrl(QString::fromStdString(entry.url)))) {
            refused = replyErrorName(QNetworkReply::ProtocolUnknownError);
        } else if (!fitsOnDisk(entry.file, entry.size)) {
            refused = QStringLiteral("InsufficientSpace");
        }
        auto sink = std::make_unique<DownloadFile>(entry.file, entry.size, entry.key, nullptr);
        if (refused.isEmpty() && !sink->open()) {
            fail(QStringLiteral("Download Failure"), QStringLiteral("Failed to write downloaded data"));
        } else if (!refused.isEmpty()) {
            failDownload(TransferItem{entry.file, entry.key, entry.size, entry.type, entry.url}, refused);
        } else {
            startDownload(entry, std::move(sink));
        }
    }
}

void Transfers::startDownload(const Download& entry, std::unique_ptr<DownloadFile> sink) {
    QNetworkReply* reply = mNetwork->get(transferRequest(entry.url, mSettings));
    // Back-pressure: the network stops reading ahead while the disk is slower.
    reply->setReadBufferSize(kReadAheadBytes);
    DownloadFile* file = sink.release();
    file->setParent(reply);
    mProgress.addItem(TransferItem{entry.file, entry.key, entry.size, entry.type, entry.url, reply, 0});
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, file] {
        mGuarded([&] {
            TransferItem* running = mProgress.find(reply);
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
                    mProgress.setProgress(*running, 0);
                    const TransferItem failed = *running;
                    mProgress.release(reply);
                    reply->abort();
                    failDownload(failed, replyErrorName(QNetworkReply::UnknownContentError));
                    return;
                }
                if (written == DownloadFile::Written::kFailed) {
                    fail(QStringLiteral("Download Failure"),
                         QStringLiteral("Failed to write downloaded data"));
                    emit writeFailed();
                    return;
                }
            }
        });
    });
    const QString path = toQStr(entry.file);
    connect(reply, &QNetworkReply::errorOccurred, this, [this, reply, path](QNetworkReply::NetworkError) {
        if (mProgress.find(reply)) {
            fail(QStringLiteral("Download Failure"), path);
        }
    });
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        TransferItem* running = mProgress.find(reply);
        if (mUploading || !running) {
            return;
        }
        mProgress.setProgress(*running, static_cast<uint64_t>(std::max<qint64>(received, 0)));
        emit progress(QStringLiteral("Downloading results"),
                      batchPercent(mProgress.getTransferred(), mProgress.getTotal()), QString());
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, file] { mGuarded([&] { onDownloadFinished(reply, *file); }); });
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void Transfers::onDownloadFinished(QNetworkReply* reply, DownloadFile& file) {
    TransferItem* item = mProgress.find(reply);
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
        mProgress.setProgress(*item, 0);
        const TransferItem failed = *item;
        mProgress.release(reply);
        failDownload(failed, errorName);
        return;
    }
    mResults.push_back(item->file);
    vexkit::debugLine("Downloaded " + item->file.u8string() + " from " + redactedUrl(item->url));
    mProgress.updateFinished(reply);
    mProgress.release(reply);
    vexkit::debugLine("mTransProgress->getNbFinished() = " + std::to_string(mProgress.getNbFinished()) +
                      ", mNbTransfers " + std::to_string(mNbTransfers));
    if (mProgress.getNbFinished() == mNbTransfers) {
        vexkit::debugLine("All downloaded");
        const ResultPaths results = mResults;
        mResults.clear();
        emit downloaded(results);
    }
}

void Transfers::failDownload(const TransferItem& item, const QString& errorName) {
    vexkit::debugLine("Failed to download " + item.file.u8string() + " from " + redactedUrl(item.url));
    fail(QStringLiteral("Download Error"), QStringLiteral("%1: code = %2").arg(toQStr(item.file), errorName));
}

void Transfers::abort() {
    mUrlQueue.clear();
    ++mBatch;
    std::vector<std::pair<QNetworkReply*, std::filesystem::path>> running;
    for (const TransferItem& item : mProgress.getItems()) {
        if (item.reply) {
            running.emplace_back(item.reply, item.file);
        }
    }
    for (const auto& [reply, file] : running) {
        // Disconnected first: a reply ended here shows no box and completes nothing.
        disconnect(reply, nullptr, this, nullptr);
        mProgress.release(reply);
        reply->abort();
        emit progress(QStringLiteral("Aborted"), 0,
                      QStringLiteral("Aborted the transfer of %1").arg(toQStr(file)));
    }
}

}  // namespace remote
