// The session: connection, handshake, login, pairing of answers with requests, and the task's stages.
#include "remote/Backend.h"

#include <stdexcept>

#include <QMetaEnum>
#include <QWebSocket>

#include "protocol/ServiceDefaults.h"
#include "remote/ConnectionText.h"
#include "remote/TaskStageText.h"
#include "vexkit/DebugLine.h"

using namespace user_proto;

namespace {
QString socketErrorName(QAbstractSocket::SocketError error) {
    return QString::fromLatin1(QMetaEnum::fromType<QAbstractSocket::SocketError>().valueToKey(error));
}
QString qstr(const std::string& text) {
    return QString::fromStdString(text);
}
// A WebSocket message is UTF-8 text; the protocol reads bytes.
UserResponse responseFromMessage(const QString& msg) {
    const QByteArray bytes = msg.toUtf8();
    return readResponse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}
}  // namespace

Backend::Backend(QObject* parent)
    : QObject(parent),
      mSettings{QString::fromStdString(service_defaults::address()), {}},
      mWebSocket(new QWebSocket(QStringLiteral("kxsfm_client"), QWebSocketProtocol::Version13, this)),
      mTransfers(new remote::Transfers(
          mSettings, [this](const std::function<void()>& handler) { guarded(handler); }, this)) {
    mWebSocket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    const auto status = [this](const char* label, int32_t percentage, const char* log = "") {
        return [this, label, percentage, log] {
            emit reportProgress(QString::fromLatin1(label), percentage, QString::fromLatin1(log));
        };
    };
    connect(mWebSocket, &QWebSocket::textMessageReceived, this, &Backend::handleMsg);
    connect(mWebSocket, &QWebSocket::connected, this, [this] { mConnected = true; });
    connect(mWebSocket, &QWebSocket::connected, this, status("Connected", 100));
    connect(mWebSocket, &QWebSocket::connected, this, [this] { guarded([this] { handshake(); }); });
    connect(this, &Backend::handshaked, this, status("Handshake OK", 100));
    connect(this, &Backend::handshaked, this, [this] { guarded([this] { login(); }); });
    connect(this, &Backend::loginOK, this, status("Login OK", 100));
    connect(this, &Backend::loginOK, this, [this] { guarded([this] { uploadInputFiles(); }); });
    connect(mTransfers, &remote::Transfers::progress, this, &Backend::reportProgress);
    connect(mTransfers, &remote::Transfers::failed, this, [this](const remote::Failure& f) { fail(f); });
    connect(mTransfers, &remote::Transfers::uploaded, this, &Backend::uploadedFiles);
    connect(mTransfers, &remote::Transfers::downloaded, this, [this](const ResultPaths& results) {
        if (mOutcome == Outcome::kRunning) {
            mOutcome = Outcome::kDone;
        }
        // Closed after the listeners have told what the results hold, unless one began another task.
        emit downloadedResults(results);
        if (mOutcome == Outcome::kDone) {
            emit reportProgress(QStringLiteral("Done"), 100, QString());
            endSession(true);
        }
    });
    connect(mTransfers, &remote::Transfers::writeFailed, this, &Backend::abort);
    connect(this, &Backend::gotUploadUrl, mTransfers, &remote::Transfers::upload);
    connect(this, &Backend::uploadedFiles, this, status("Upload OK", 100));
    connect(this, &Backend::uploadedFiles, this, [this] { guarded([this] { launchTask(); }); });
    connect(this, &Backend::launchedTask, this, status("Launched", 100));
    connect(this, &Backend::launchedTask, this, [this](TaskHandle hTask) {
        guarded([this, hTask] {
            mTaskHandle = hTask;
            queryProgress();
        });
    });
    connect(this, &Backend::gotProgress, this,
            [this](TaskStage stage, float ratio) { guarded([&] { onProgress(stage, ratio); }); });
    connect(this, &Backend::gotSfmResultUrls, this, status("Getting result URLs", 100));
    connect(this, &Backend::gotSfmResultUrls, this,
            status("Downloading results", 0, "Downloading SFM results."));
    connect(this, &Backend::gotSfmResultUrls, this,
            [this](const SfmResultItems& items) { guarded([&] { downloadSfmResults(items); }); });
    connect(this, &Backend::gotMvsResultUrls, this, status("Getting result URLs", 100));
    connect(this, &Backend::gotMvsResultUrls, this,
            status("Downloading results", 0, "Downloading MVS results."));
    connect(this, &Backend::gotMvsResultUrls, this,
            [this](const MvsResultItems& items) { guarded([&] { downloadMvsResults(items); }); });
    connect(mWebSocket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            [this] { onDisconnected(false); });
    connect(mWebSocket, &QWebSocket::disconnected, this, [this] { onDisconnected(true); });
}

Backend::~Backend() = default;

void Backend::connectToServer() {
    emit reportProgress(QStringLiteral("Connecting"), 0, QString());
    mOutcome = Outcome::kRunning;
    mConnected = false;
    // One box per connection attempt: a handler left over from an attempt without error goes first.
    disconnect(mSocketErrorBox);
    mSocketErrorBox = connect(mWebSocket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error),
                              this, &Backend::socketFailed);
    mWebSocket->setSslConfiguration(remote::sslConfiguration(mSettings));
    mWebSocket->open(remote::sessionUrl(mSettings));
    mPendingRequests.clear();
}

void Backend::handshake() {
    emit reportProgress(QStringLiteral("Handshaking"), 0, QStringLiteral("Handshaking with server."));
    sendReq(Request<kHandshake>{nextRequest(), mProtocolType});
}

void Backend::login() {
    emit reportProgress(QStringLiteral("Login"), 0, QStringLiteral("Login to server."));
    sendReq(Request<kLogin>{nextRequest(), "guest", ""});
}

void Backend::getUploadUrl(const std::filesystem::path& file, FileType type, const FileKey& key,
                           bool verified) {
    getUploadUrl(TransferItem{file, key, std::filesystem::file_size(file), type, {}, nullptr, 0, verified});
}

void Backend::getUploadUrl(const TransferItem& item) {
    mTransfers->awaitAddress(item);
    sendReq(Request<kGetUploadUrl>{nextRequest(), item.key, item.size, item.type});
}

void Backend::queryProgress() {
    sendReq(Request<kQueryProgress>{nextRequest(), mTaskHandle});
}

void Backend::sendReq(const UserRequest& req) {
    mPendingRequests.push_back(req);
    mWebSocket->sendTextMessage(QString::fromStdString(writeRequest(req)));
}

void Backend::handleMsg(const QString& msg) {
    guarded([&] {
        // UTF-16 in memory: two bytes a character.
        if (msg.size() > kMaxMessageBytes / 2) {
            protocolError(QStringLiteral("Protocol error: a message of %1 characters is over the limit")
                              .arg(msg.size()));
            return;
        }
        UserResponse response;
        try {
            response = responseFromMessage(msg);
        } catch (const std::exception& e) {
            protocolError(
                QStringLiteral("Protocol error: unreadable response: %1").arg(QString::fromUtf8(e.what())));
            return;
        }
        if (mPendingRequests.empty()) {
            protocolError(QStringLiteral("Protocol error: response of type %1 with no request pending")
                              .arg(typeOf(response)));
            return;
        }
        const UserRequest request = std::move(mPendingRequests.front());
        mPendingRequests.pop_front();
        if (typeOf(request) != typeOf(response)) {
            protocolError(QStringLiteral("Protocol error: response of type %1 to a request of type %2")
                              .arg(typeOf(response))
                              .arg(typeOf(request)));
            return;
        }
        handleResponse(request, response);
    });
}

void Backend::showResponseError(const ErrorInfo& error) {
    fail(QStringLiteral("Error"), QStringLiteral("Handshake failed!\ncode = %1\nmessage=%2")
                                      .arg(QString::number(error.code), qstr(error.message)));
}

void Backend::handleResponse(const UserRequest& request, const UserResponse& response) {
    const auto taskFailure = [this](const char* text, const TaskError& error) {
        fail(QStringLiteral("Failure"),
             QString::fromLatin1(text).arg(QString::number(error.code), qstr(error.message)));
    };
    const ReqType type = typeOf(request);
    if (std::visit([](const auto& r) { return r.error.code; }, response) != 0) {
        // The file is forgotten before the box: answers that arrive while it is open pair with the files
        // they were asked for.
        if (type == kGetUploadUrl && mTransfers->awaitingAddress()) {
            mTransfers->takeAwaited();
        }
        showResponseError(std::visit([](const auto& r) { return r.error; }, response));
        return;
    }
    switch (type) {
        case kHandshake:
            if (std::get<kHandshake>(response).protocolVersion == 1) {
                emit handshaked();
            } else {
                endSession(false);
                fail(QStringLiteral("Error"), QStringLiteral("Software update required!"));
            }
            break;
        case kLogin:
            emit loginOK();
            break;
        case kGetUploadUrl: {
            if (!mTransfers->awaitingAddress()) {
                protocolError(QStringLiteral("Protocol error: upload address with no file waiting for one"));
                return;
            }
            const auto& r = std::get<kGetUploadUrl>(response);
            TransferItem item = mTransfers->takeAwaited();
            if (r.skipUpload) {
                mTransfers->skipUpload(item);
            } else {
                item.url = r.url;
                emit gotUploadUrl(item);
            }
            break;
        }
        case kGetSfmResults: {
            vexkit::debugLine("Received response for kGetSfmResults");
            const auto& r = std::get<kGetSfmResults>(response);
            if (r.sfmError.code == 0 && r.items.empty()) {
                noResults();
            } else if (r.sfmError.code == 0) {
                emit gotSfmResultUrls(r.items);
            } else {
                taskFailure("Failed to get SFM results:\ncode = %1\nmessage = %2", r.sfmError);
            }
            break;
        }
        case kLaunchSfmTask: {
            const auto& r = std::get<kLaunchSfmTask>(response);
            if (r.sfmErr.code == 0) {
                emit launchedTask(r.hTask);
            } else {
                taskFailure("SFM task cannot start:\ncode = %1\nmessage = %2", r.sfmErr);
            }
            break;
        }
        case kQueryProgress: {
            const auto& r = std::get<kQueryProgress>(response);
            mProgressMessage = r.error.message;
            emit gotProgress(r.status, r.ratio);
            break;
        }
        case kGetMvsResults: {
            vexkit::debugLine("Received response for kGetMvsResults");
            const auto& r = std::get<kGetMvsResults>(response);
            if (r.mvsErr.code == 0 && r.items.empty()) {
                noResults();
            } else if (r.mvsErr.code == 0) {
                emit gotMvsResultUrls(r.items);
            } else {
                taskFailure("Failed to get MVS results:\ncode = %1\nmessage = %2", r.mvsErr);
            }
            break;
        }
        case kLaunchMvsTask: {
            const auto& r = std::get<kLaunchMvsTask>(response);
            if (r.mvsErr.code == 0) {
                emit launchedTask(r.hTask);
            } else {
                taskFailure("MVS task cannot start:\ncode = %1\nmessage  = %2", r.mvsErr);
            }
            break;
        }
    }
}

void Backend::onProgress(TaskStage stage, float ratio) {
    if (!remote::isKnownStage(stage)) {
        protocolError(QStringLiteral("unhandled stage value"));
        return;
    }
    const int32_t percentage = remote::stagePercent(ratio);
    if (stage == TaskStage::kFinished) {
        vexkit::debugLine("Trying to get urls for results");
        emit reportProgress(QStringLiteral("Getting result URLs"), 0,
                            QStringLiteral("Trying to get URLs for results."));
        getResultUrls();
    } else if (stage == TaskStage::kFailed) {
        endSession(false);
        fail(QStringLiteral("Failure"), QStringLiteral("The task failed."));
    } else {
        queryProgress();
    }
    const auto value = static_cast<uint8_t>(stage);
    QString log;
    if (value != mLastStage) {
        log = remote::stageLog(stage);
        mLastStage = value;
    }
    emit reportProgress(remote::stageLabel(stage), percentage, log);
    if (stage == TaskStage::kFailed && !mProgressMessage.empty()) {
        emit reportProgress(remote::stageLabel(stage), percentage, qstr(mProgressMessage));
    }
}

void Backend::abort() {
    endSession(false);
    mTransfers->abort();
}

void Backend::endSession(bool done) {
    if (mOutcome == Outcome::kRunning) {
        mOutcome = done ? Outcome::kDone : Outcome::kFailed;
    }
    mWebSocket->close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void Backend::beginTask(const std::filesystem::path& outputDir) {
    abort();
    mOutputDir = outputDir;
    mOutcome = Outcome::kNone;
    mBoxShown = false;
}

void Backend::socketFailed(QAbstractSocket::SocketError error) {
    disconnect(mSocketErrorBox);
    QString text = QStringLiteral("WebSocket: %1").arg(socketErrorName(error));
    const QString hint = remote::connectionHint(error, mSettings.address, mConnected);
    if (!hint.isEmpty()) {
        text += QLatin1Char('\n') + hint;
    }
    fail(QStringLiteral("Error"), text);
}

void Backend::onDisconnected(bool closed) {
    // A close the client did not ask for, after the service answered and before the task ended.
    if (closed && mOutcome == Outcome::kRunning && mConnected &&
        mWebSocket->state() == QAbstractSocket::UnconnectedState) {
        fail(QStringLiteral("Error"), remote::closedDuringTask(mSettings.address));
    }
    const bool done = mOutcome == Outcome::kDone;
    const bool failed = mOutcome == Outcome::kFailed;
    emit reportProgress(done     ? QStringLiteral("Done")
                        : failed ? QStringLiteral("Failed")
                                 : QStringLiteral("Disconnected"),
                        done ? 100 : 0, QStringLiteral("Disconnected from server."));
}

void Backend::fail(const remote::Failure& failure, bool logged) {
    const bool running = mOutcome == Outcome::kRunning;
    if (running) {
        mOutcome = Outcome::kFailed;
    }
    if (running || !logged) {
        emit reportProgress(running ? QStringLiteral("Failed") : QStringLiteral("Error"), 0,
                            logged ? QString() : failure.title + QStringLiteral(": ") + failure.text);
    }
    // Set before the box: its event loop may deliver the next failure of the same task.
    if (!mBoxShown) {
        mBoxShown = true;
        emit failed(failure);
    }
}

void Backend::noResults() {
    // Nothing would ever be downloaded, so the task could not end otherwise.
    const QString text = QStringLiteral("The service returned no results for this task.");
    emit reportProgress(QStringLiteral("Error"), 0, text);
    endSession(false);
    fail({QStringLiteral("Error"), text}, true);
}

bool Backend::refuseTask(const std::exception& e) {
    const QString text = QString::fromUtf8(e.what());
    emit reportProgress(QStringLiteral("Error"), 0, QStringLiteral("Error: ") + text);
    fail({QStringLiteral("Error"), text}, true);
    return false;
}

void Backend::guarded(const std::function<void()>& handler) {
    QString message;
    try {
        handler();
        return;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("unknown error");
    }
    emit reportProgress(QStringLiteral("Error"), 0, QStringLiteral("Error: ") + message);
    fail({QStringLiteral("Error"), message}, true);
}

void Backend::protocolError(const QString& what) {
    emit reportProgress(QStringLiteral("Protocol error"), 0, what);
    mPendingRequests.clear();
    mTransfers->abort();
    if (mOutcome == Outcome::kRunning) {
        mOutcome = Outcome::kFailed;
    }
    mWebSocket->close(QWebSocketProtocol::CloseCodeProtocolError, QString());
}

void Backend::downloadMvsResults(const MvsResultItems&) {
    throw std::runtime_error("You should never reach here");
}

void Backend::downloadSfmResults(const SfmResultItems& items) {
    std::vector<remote::Download> files;
    for (const SfmResultItem& item : items) {
        files.push_back(remote::Download{mOutputDir / (std::to_string(item.hModel) + extensionOf(item.type)),
                                         item.key, item.size, item.type, item.url});
    }
    mTransfers->download(files);
}
