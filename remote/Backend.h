#pragma once
// The client's session with the processing service: one WebSocket for the requests of the protocol, the
// file transfers it asks addresses for, and the signals that drive a remote task from the connection to
// the downloaded results. SfmBackend and MvsBackend supply the task-specific steps.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <QAbstractSocket>
#include <QObject>
#include <QString>

#include "protocol/UserProto.h"
#include "remote/Failure.h"
#include "remote/ServiceSettings.h"
#include "remote/TransferItem.h"
#include "remote/Transfers.h"

class QWebSocket;

namespace user_proto {
using SfmResultItem = Response<kGetSfmResults>::Item;
using MvsResultItem = Response<kGetMvsResults>::Item;
using SfmResultItems = std::vector<SfmResultItem>;
using MvsResultItems = std::vector<MvsResultItem>;
}  // namespace user_proto

class Backend : public QObject {
    Q_OBJECT

public:
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

    // Asks where to upload `file`, which the service knows by `key`. A `verified` file is hashed again only
    // when the service asks for its bytes, and is sent only if it still has `key`.
    void getUploadUrl(const std::filesystem::path& file, FileType type, const FileKey& key,
                      bool verified = false);
    // Asks where to upload `item`, of its size.
    void getUploadUrl(const TransferItem& item);
    // Stores each result in the output directory as <hModel><extension of its type>. Throws
    // std::logic_error("invalid file type") for a type outside the known kinds.
    void downloadSfmResults(const user_proto::SfmResultItems& items);

    // The session's socket, for observers of its state.
    QWebSocket* webSocket() const { return mWebSocket; }
    // The session's uploads and downloads; their reports come out of the session's signals.
    remote::Transfers& transfers() { return *mTransfers; }

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
    // Ends the previous task (abort()) and forgets its box, so the new task shows its own; the new task's
    // results go to `outputDir`.
    void beginTask(const std::filesystem::path& outputDir);
    // Reports a failure: the first of a task as a box, later ones as log lines only; each is logged
    // unless the caller has logged it already. The task's outcome becomes a failure.
    void fail(const remote::Failure& failure, bool logged = false);
    void fail(const QString& title, const QString& text) { fail(remote::Failure{title, text}); }
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
    // The socket's error during the current attempt, as a box that says what it means for the user.
    void socketFailed(QAbstractSocket::SocketError error);
    // The connection ended (`closed`) or failed: the status shows how the task ended, and a service that
    // closed it during the task is a failure.
    void onDisconnected(bool closed);
    // Closes the connection when the task has ended one way or the other.
    void endSession(bool done);

    // Where the current task stands: the status after the connection closes tells it.
    enum class Outcome { kNone, kRunning, kDone, kFailed };

    remote::ServiceSettings mSettings;
    std::filesystem::path mOutputDir;
    QWebSocket* mWebSocket;
    remote::Transfers* mTransfers;  // child
    uint8_t mProtocolType = 0;
    uint32_t mNextRequest = 0;
    std::deque<user_proto::UserRequest> mPendingRequests;
    user_proto::TaskHandle mTaskHandle = 0;
    uint8_t mLastStage = 5;
    Outcome mOutcome = Outcome::kNone;
    bool mConnected = false;  // the current attempt reached the service
    bool mBoxShown = false;   // the current task has shown its box
    // The one-shot "WebSocket: %1" box of the current connection attempt.
    QMetaObject::Connection mSocketErrorBox;
    // The reason a failed task gave with its last progress answer.
    std::string mProgressMessage;
};
