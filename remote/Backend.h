#pragma once
// The client's session with the processing service: one WebSocket for the requests of the protocol, one
// network access manager for the file transfers, and the signals that drive a remote task from the
// connection to the downloaded results. SfmBackend and MvsBackend supply the task-specific steps.
#include <array>
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

#include "remote/TransProgress.h"
#include "remote/TransferItem.h"
#include "remote/UserProto.h"

class DownloadFile;
class QNetworkAccessManager;
class QWebSocket;

namespace user_proto {
using SfmResultItem = Response<kGetSfmResults>::Item;
using MvsResultItem = Response<kGetMvsResults>::Item;
using SfmResultItems = std::vector<SfmResultItem>;
using MvsResultItems = std::vector<MvsResultItem>;
}  // namespace user_proto

using ResultPaths = std::vector<std::filesystem::path>;

class Backend : public QObject {
    Q_OBJECT

public:
    // One download to make.
    struct DownloadAttr {
        std::filesystem::path file;
        FileKey key;
        uint64_t size = 0;
        FileType type = FileType::kJpg;
        std::string url;
    };

    // Incoming WebSocket messages above this size close the session: the largest honest answer, a result
    // list, stays far below it.
    static constexpr qint64 kMaxMessageBytes = 16 * 1024 * 1024;

    explicit Backend(QObject* parent = nullptr);
    ~Backend() override;

    // Opens the session on the process-wide service settings (remote/ServiceSettings.h).
    void connectToServer();
    void handshake();
    void login();
    void queryProgress();

    // Asks where to upload `file`; `key` saves hashing the file again.
    void getUploadUrl(const std::filesystem::path& file, FileType type,
                      const std::optional<std::array<char, 32>>& key = std::nullopt);
    void getUploadUrlImpl(const std::filesystem::path& file, const FileKey& key, uint64_t size,
                          FileType type);
    // The service already has the oldest file waiting for an address.
    void skipUpload();
    void downloadFiles(const std::vector<DownloadAttr>& files);
    // Stores each result in the project directory as <hModel><extension of its type>. Throws
    // std::logic_error("invalid file type") for a type outside the known kinds.
    void downloadSfmResults(const user_proto::SfmResultItems& items);

    // The session's socket, for observers of its state.
    QWebSocket* webSocket() const { return mWebSocket; }

signals:
    void handshaked();
    void loginOK();
    void gotUploadUrl(TransferItem file);
    void launchedTask(user_proto::TaskHandle hTask);
    void gotProgress(user_proto::TaskStage stage, float ratio);
    void gotSfmResultUrls(user_proto::SfmResultItems items);
    void gotMvsResultUrls(user_proto::MvsResultItems items);
    void uploadedFiles();
    void downloadedResults(ResultPaths results);
    void reportProgress(QString label, int32_t percentage, QString log);

public slots:
    // Virtual so that an observer can see every request in the order it is sent.
    virtual void sendReq(const user_proto::UserRequest& req);
    void handleMsg(const QString& msg);
    // Closes the session, drops the uploads waiting for an address and aborts the running transfers of
    // the current batch.
    void abort();
    void uploadFile(TransferItem item);

protected slots:
    // Only MvsBackend has MVS results; the base throws std::runtime_error("You should never reach here").
    virtual void downloadMvsResults(const user_proto::MvsResultItems& items);
    virtual void uploadInputFiles() = 0;
    virtual void launchTask() = 0;
    virtual void getResultUrls() = 0;

protected:
    // Runs a handler at the event-loop boundary: an exception becomes an "Error" box and a log line.
    void guarded(const std::function<void()>& handler);
    // Reports an answer the session cannot pair or read: one log line, then the session is closed.
    void protocolError(const QString& what);
    // Ends the previous task (abort()) and forgets its upload failure, so the new task shows its own.
    void beginTask();
    // Begins a batch of uploads of `nbFiles` files.
    void beginUploads(uint64_t nbFiles);
    // Reports a task that cannot start: "Error" box and log line; nothing is sent.
    void refuseTask(const std::exception& e);
    user_proto::TaskHandle taskHandle() const { return mTaskHandle; }
    uint32_t nextRequest() { return mNextRequest++; }

private:
    void handleResponse(const user_proto::UserRequest& request, const user_proto::UserResponse& response);
    void showResponseError(const user_proto::ErrorInfo& error);
    void onProgress(user_proto::TaskStage stage, float ratio);
    void onUploadFinished(QNetworkReply* reply);
    void failUpload(const TransferItem& item, const QString& errorName, const QString& detail);
    void onDownloadFinished(QNetworkReply* reply, DownloadFile& file);
    void failDownload(const TransferItem& item, const QString& errorName);
    void abortTransfers();
    TransProgress& transProgress();

    QWebSocket* mWebSocket;
    QNetworkAccessManager* mNetwork;
    uint8_t mProtocolType = 0;
    uint32_t mNextRequest = 0;
    std::deque<user_proto::UserRequest> mPendingRequests;
    user_proto::TaskHandle mTaskHandle = 0;
    std::deque<TransferItem> mUrlQueue;
    uint64_t mNbTransfers = 0;
    bool mUploading = true;
    std::unique_ptr<TransProgress> mTransProgress;
    uint8_t mLastStage = 5;
    bool mUploadFailureShown = false;

    ResultPaths mResults;
    // The one-shot "WebSocket: %1" box of the current connection attempt.
    QMetaObject::Connection mSocketErrorBox;
    // The reason a failed task gave with its last progress answer.
    std::string mProgressMessage;
};
