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

#include "protocol/UserProto.h"
#include "remote/ServiceSettings.h"
#include "remote/TransProgress.h"
#include "remote/TransferItem.h"

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

namespace remote {
// Something the user must be told in a box: its title and text. The session reports it and goes on;
// whoever presents the session decides how it is shown.
struct Failure {
    QString title;
    QString text;
    bool operator==(const Failure& other) const { return title == other.title && text == other.text; }
};
}  // namespace remote

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

    // Where the next sessions connect and which extra authority they trust.
    void setServiceSettings(const remote::ServiceSettings& settings) { mSettings = settings; }
    const remote::ServiceSettings& serviceSettings() const { return mSettings; }
    // The directory the current task's results go to, fixed when it was launched.
    const std::filesystem::path& outputDir() const { return mOutputDir; }

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
    // Stores each result in the output directory as <hModel><extension of its type>. Throws
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
    // A box to show. Emitted after the session's own state is settled, so a handler may run an event loop.
    void failed(remote::Failure failure);

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
    // Ends the previous task (abort()) and forgets its upload failure, so the new task shows its own;
    // the new task's results go to `outputDir`.
    void beginTask(const std::filesystem::path& outputDir);
    // Reports a box to show.
    void fail(const QString& title, const QString& text);
    // Begins a batch of uploads of `nbFiles` files.
    void beginUploads(uint64_t nbFiles);
    // Reports a task that cannot start: "Error" box and log line; nothing is sent. Returns false.
    bool refuseTask(const std::exception& e);
    user_proto::TaskHandle taskHandle() const { return mTaskHandle; }
    uint32_t nextRequest() { return mNextRequest++; }

private:
    void handleResponse(const user_proto::UserRequest& request, const user_proto::UserResponse& response);
    void showResponseError(const user_proto::ErrorInfo& error);
    // A results answer that lists nothing: the task failed.
    void noResults();
    void onProgress(user_proto::TaskStage stage, float ratio);
    void onUploadFinished(QNetworkReply* reply);
    void failUpload(const TransferItem& item, const QString& errorName, const QString& detail);
    void onDownloadFinished(QNetworkReply* reply, DownloadFile& file);
    void failDownload(const TransferItem& item, const QString& errorName);
    void abortTransfers();
    TransProgress& transProgress();

    remote::ServiceSettings mSettings;
    std::filesystem::path mOutputDir;
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
