#pragma once
// The session's file transfers: the files waiting for an upload address, the uploads to the addresses the
// service hands out and the downloads of results, one batch at a time, each batch with its progress.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

#include "remote/Failure.h"
#include "remote/ServiceSettings.h"
#include "remote/TransProgress.h"
#include "remote/TransferItem.h"

class DownloadFile;
class QNetworkAccessManager;

using ResultPaths = std::vector<std::filesystem::path>;

namespace remote {

// One download to make.
struct Download {
    std::filesystem::path file;
    FileKey key;
    uint64_t size = 0;
    FileType type = FileType::kJpg;
    std::string url;
};

class Transfers : public QObject {
    Q_OBJECT

public:
    // The session's boundary, which each handler of a network event runs in.
    using Guard = std::function<void(const std::function<void()>&)>;

    // `settings`, the session's, outlive the transfers.
    Transfers(const ServiceSettings& settings, Guard guarded, QObject* parent);
    ~Transfers() override;

    // The files asked an upload address for, answered in the order they were asked.
    void awaitAddress(const TransferItem& item);
    bool awaitingAddress() const { return !mUrlQueue.empty(); }
    // Removes the oldest file waiting for an address and returns it.
    TransferItem takeAwaited();
    // The service already has `item`: it counts as uploaded.
    void skipUpload(const TransferItem& item);

    // Begins a batch of uploads of `nbFiles` files; uploaded() once each of them was sent or skipped.
    void beginUploads(uint64_t nbFiles);
    // Sends `item` to its address. A verified item is hashed on the thread pool first, and a file that no
    // longer has its key fails with "image does not match the model" and is not sent.
    void upload(TransferItem item);
    // Begins a batch of downloads; downloaded() once each of them is stored.
    void download(const std::vector<Download>& files);
    // Forgets the files waiting for an address, the hashes under way and the running transfers of the
    // batch; an aborted transfer shows no box and completes nothing.
    void abort();

signals:
    void progress(QString label, int32_t percentage, QString log);
    void failed(remote::Failure failure);
    void uploaded();
    void downloaded(ResultPaths results);
    // A download could not be written: the session cannot end the task.
    void writeFailed();

private:
    struct PoolReturn;

    void fail(const QString& title, const QString& text) { emit failed(Failure{title, text}); }
    void onHashed(TransferItem item, const FileKey& key, uint64_t batch);
    void put(TransferItem& item);
    void onUploadFinished(QNetworkReply* reply);
    // One box per task: `box`, else "Failure", "Failed to upload <file>".
    void failUpload(const TransferItem& item, const QString& errorName, const QString& detail,
                    const std::optional<Failure>& box = std::nullopt);
    void startDownload(const Download& entry, std::unique_ptr<DownloadFile> sink);
    void onDownloadFinished(QNetworkReply* reply, DownloadFile& file);
    void failDownload(const TransferItem& item, const QString& errorName);

    const ServiceSettings& mSettings;
    Guard mGuarded;
    QNetworkAccessManager* mNetwork;  // child
    std::shared_ptr<PoolReturn> mPoolReturn;
    std::deque<TransferItem> mUrlQueue;
    // Counts batches, so that a hash finished after its batch ended sends nothing.
    uint64_t mBatch = 0;
    uint64_t mNbTransfers = 0;
    bool mUploading = true;
    TransProgress mProgress;
    ResultPaths mResults;
};

}  // namespace remote
