#include "service/ClientSession.h"

#include <mutex>

#include "service/LaunchCheck.h"
#include "service/Limits.h"
#include "service/Log.h"

namespace kxservice {

using namespace user_proto;

namespace {

template <ReqType type>
Response<type> replyTo(const Request<type>& req) {
    Response<type> res;
    res.hRequest = req.hRequest;
    return res;
}

ErrorInfo error(uint32_t code, std::string message) {
    return {code, std::move(message)};
}

TaskError taskError(uint32_t code, std::string message, std::vector<FileKey> missing = {}) {
    return {code, std::move(message), std::move(missing)};
}

// A response of the type after the request's, for the wrong-response-type fault.
UserResponse otherType(const UserResponse& res) {
    const uint32_t hRequest = std::visit([](const auto& r) { return r.hRequest; }, res);
    if (res.index() == kLogin) {
        Response<kHandshake> other;
        other.hRequest = hRequest;
        other.protocolVersion = 1;
        return other;
    }
    Response<kLogin> other;
    other.hRequest = hRequest;
    return other;
}

}  // namespace

// A launch whose inputs the reader works on; whichever of the reader and the session comes last gives
// the pins back when the session went first.
struct ClientSession::PendingLaunch {
    std::mutex mutex;
    bool done = false;
    bool abandoned = false;
    PreparedLaunch prepared;
};

ClientSession::ClientSession(ServiceCore& core, std::string urlBase)
    : mCore(core), mUrlBase(std::move(urlBase)), mId(core.newSession()) {}

ClientSession::~ClientSession() {
    if (mLaunch) {
        const std::lock_guard<std::mutex> lock(mLaunch->mutex);
        mLaunch->abandoned = true;
        mCore.store().unpinAll(mLaunch->prepared.pinned);
    }
    mCore.sessionEnded(mId);
}

ClientSession::Outcome ClientSession::answer(UserResponse res) {
    Outcome out;
    if (mCore.faults().fire(Fault::kGarbageMessage)) {
        out.reply = "}{ this is not a response";
    } else if (mCore.faults().fire(Fault::kWrongResponseType)) {
        out.reply = writeResponse(otherType(res));
    } else {
        out.reply = writeResponse(res);
    }
    return out;
}

ClientSession::Outcome ClientSession::onMessage(std::string_view text, Clock::time_point now) {
    if (text.size() > kMaxMessageBytes) {
        return {{}, true, "message of " + std::to_string(text.size()) + " bytes is over the cap", {}};
    }
    UserRequest req;
    try {
        req = readRequest(text);
    } catch (const std::exception& e) {
        return {{}, true, std::string("not a request: ") + e.what(), {}};
    }
    const ReqType type = typeOf(req);
    if (!mHandshaked && type != kHandshake) {
        return {{}, true, "request type " + std::to_string(type) + " before the handshake", {}};
    }
    if (mHandshaked && !mLoggedIn && type != kLogin) {
        return {{}, true, "request type " + std::to_string(type) + " before the login", {}};
    }
    if (type == kQueryProgress) {
        mWaiting = std::get<Request<kQueryProgress>>(req);
        return progress(*mWaiting, now);
    }
    if (type == kLaunchSfmTask || type == kLaunchMvsTask) {
        return launch(req, now);
    }
    return answer(handle(req));
}

ClientSession::Outcome ClientSession::poll(Clock::time_point now) {
    if (mLaunch) {
        return launchOutcome(now);
    }
    if (!mWaiting) {
        return {};
    }
    return progress(*mWaiting, now);
}

ClientSession::Outcome ClientSession::progress(const Request<kQueryProgress>& req, Clock::time_point now) {
    auto res = replyTo(req);
    const std::optional<TaskStatus> status = mCore.tasks().status(req.hTask);
    if (!status) {
        mWaiting.reset();
        res.error = error(kUnknownTask, "unknown task");
        return answer(res);
    }
    const auto last = mPaced.find(req.hTask);
    if (last != mPaced.end() && last->second.stage == status->stage &&
        now < last->second.at + kProgressPace) {
        Outcome wait;
        wait.retryAt = last->second.at + kProgressPace;
        return wait;
    }
    mWaiting.reset();
    mPaced[req.hTask] = {status->stage, now};
    res.status = status->stage;
    res.ratio = status->ratio;
    if (status->stage == TaskStage::kFailed) {
        // The reason travels with the failed stage; the code stays 0 as the request itself worked.
        res.error = error(kOk, status->error);
    }
    return answer(res);
}

UserResponse ClientSession::handle(const UserRequest& request) {
    switch (typeOf(request)) {
        case kHandshake: {
            auto res = replyTo(std::get<Request<kHandshake>>(request));
            if (mHandshaked) {
                res.error = error(kNotAllowed, "the session has already shaken hands");
                return res;
            }
            mHandshaked = true;
            res.protocolVersion = mCore.faults().fire(Fault::kProtocolVersion2) ? 2 : 1;
            return res;
        }
        case kLogin: {
            const auto& req = std::get<Request<kLogin>>(request);
            auto res = replyTo(req);
            if (mLoggedIn) {
                res.error = error(kNotAllowed, "the session is already logged in");
            } else if (mCore.faults().fire(Fault::kLoginRefused)) {
                res.error = error(kLoginFailed, "login refused on purpose (fault login-refused)");
            } else if (req.username != "guest" || !req.secret.empty()) {
                res.error = error(kLoginFailed,
                                  "unknown user or wrong secret: only \"guest\" with an empty "
                                  "secret may log in");
            } else {
                mLoggedIn = true;
            }
            return res;
        }
        case kGetUploadUrl: {
            const auto& req = std::get<Request<kGetUploadUrl>>(request);
            auto res = replyTo(req);
            if (!isHexKey(req.key)) {
                res.error = error(kBadKey, "not a content key: " + req.key.str());
            } else if (mCore.store().has(req.key)) {
                res.skipUpload = true;
            } else {
                const auto token = mCore.grantUpload(req.key, req.size, mId);
                if (token) {
                    res.url = mUrlBase + "/upload/" + *token;
                } else {
                    res.error =
                        error(kOverLimit, "the session holds " + std::to_string(limits::kMaxPendingUploads) +
                                              " unused upload URLs, the most one session may hold");
                }
            }
            return res;
        }
        case kLaunchSfmTask:
        case kLaunchMvsTask:
        case kGetSfmResults:
            return results(std::get<Request<kGetSfmResults>>(request));
        case kGetMvsResults:
            return results(std::get<Request<kGetMvsResults>>(request));
        case kQueryProgress:
            break;  // answered by progress() and launch()
    }
    throw std::logic_error("unhandled request type");
}

ClientSession::Outcome ClientSession::launch(const UserRequest& request, Clock::time_point now) {
    const bool sfm = typeOf(request) == kLaunchSfmTask;
    const auto refuse = [&](uint32_t code, std::string message) {
        const TaskError err = taskError(code, std::move(message));
        if (sfm) {
            auto res = replyTo(std::get<Request<kLaunchSfmTask>>(request));
            res.sfmErr = err;
            return answer(res);
        }
        auto res = replyTo(std::get<Request<kLaunchMvsTask>>(request));
        res.mvsErr = err;
        return answer(res);
    };
    if (mCore.faults().fire(Fault::kLaunchRefused)) {
        return refuse(kRefused, "launch refused on purpose (fault launch-refused)");
    }
    if (auto refusal = mCore.runner().launchRefusal()) {
        return refuse(kRefused, std::move(*refusal));
    }
    if (auto refusal = sfm ? std::optional<std::string>() : mCore.runner().mvsRefusal()) {
        return refuse(kCannotDensify, std::move(*refusal));
    }
    const size_t nbTasks = mCore.tasks().nbOfSession(mId);
    if (nbTasks >= limits::kMaxSessionTasks) {
        return refuse(kOverLimit, "the session has " + std::to_string(nbTasks) +
                                      " tasks queued or running, the most one session may have");
    }
    const size_t nbHeld = mCore.tasks().nbUncollectedOfSession(mId);
    if (nbHeld >= limits::kMaxSessionUncollected) {
        return refuse(kOverLimit, "the session holds " + std::to_string(nbHeld) +
                                      " finished tasks whose results it has not asked for, the most one "
                                      "session may hold");
    }
    auto pending = std::make_shared<PendingLaunch>();
    mLaunch = pending;
    mLaunchRequest = request;
    ContentStore& store = mCore.store();
    std::error_code ec;
    const FileKey& input = sfm ? std::get<Request<kLaunchSfmTask>>(request).config
                               : std::get<Request<kLaunchMvsTask>>(request).ksmFile;
    const uint64_t bytes = isHexKey(input) ? std::filesystem::file_size(store.pathOf(input), ec) : 0;
    mCore.reader(ec ? 0 : bytes).post([pending, &store, request, sfm] {
        PreparedLaunch prepared;
        try {
            if (sfm) {
                prepared = prepareSfm(store, std::get<Request<kLaunchSfmTask>>(request).config);
            } else {
                const auto& req = std::get<Request<kLaunchMvsTask>>(request);
                prepared = prepareMvs(store, req.ksmFile, req.images);
            }
        } catch (const std::exception& e) {
            prepared.refusal =
                taskError(kUnreadableInput, std::string("the inputs do not read: ") + e.what());
        }
        const std::lock_guard<std::mutex> lock(pending->mutex);
        if (pending->abandoned) {
            store.unpinAll(prepared.pinned);
            return;
        }
        pending->prepared = std::move(prepared);
        pending->done = true;
    });
    return launchOutcome(now);
}

ClientSession::Outcome ClientSession::launchOutcome(Clock::time_point now) {
    PreparedLaunch prepared;
    {
        const std::lock_guard<std::mutex> lock(mLaunch->mutex);
        if (!mLaunch->done) {
            Outcome wait;
            wait.retryAt = now + kLaunchPollStep;
            return wait;
        }
        prepared = std::move(mLaunch->prepared);
    }
    mLaunch.reset();
    TaskHandle handle = 0;
    if (prepared.job) {
        handle = mCore.tasks().launch(std::move(*prepared.job), std::move(prepared.pinned), mId);
    }
    if (typeOf(mLaunchRequest) == kLaunchSfmTask) {
        auto res = replyTo(std::get<Request<kLaunchSfmTask>>(mLaunchRequest));
        res.sfmErr = prepared.refusal;
        res.hTask = handle;
        return answer(res);
    }
    auto res = replyTo(std::get<Request<kLaunchMvsTask>>(mLaunchRequest));
    res.mvsErr = prepared.refusal;
    res.hTask = handle;
    return answer(res);
}

template <ReqType type>
UserResponse ClientSession::results(const Request<type>& req) {
    constexpr bool kSfm = type == kGetSfmResults;
    auto res = replyTo(req);
    TaskError& taskErr = [&]() -> TaskError& {
        if constexpr (kSfm) {
            return res.sfmError;
        } else {
            return res.mvsErr;
        }
    }();
    const auto kind = mCore.tasks().kindOf(req.hTask);
    if (!kind || *kind != (kSfm ? TaskKind::kSfm : TaskKind::kMvs)) {
        res.error = error(kUnknownTask, kSfm ? "unknown SfM task" : "unknown MVS task");
        return res;
    }
    const auto results = mCore.tasks().collect(req.hTask, *kind);
    if (!results) {
        const auto status = mCore.tasks().status(req.hTask);
        taskErr = taskError(kNotFinished, status && status->stage == TaskStage::kFailed
                                              ? "the task failed: " + status->error
                                              : "the task has not finished");
        return res;
    }
    for (const TaskResult& r : *results) {
        typename Response<type>::Item item;
        if constexpr (kSfm) {
            item.hModel = r.hModel;
        }
        item.type = r.type;
        item.key = r.key;
        item.size = r.size;
        item.url = mUrlBase + "/download/" + mCore.grantDownload(r, mId);
        res.items.push_back(std::move(item));
    }
    return res;
}

}  // namespace kxservice
