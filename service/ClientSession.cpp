#include "service/ClientSession.h"

#include <fstream>

#include "config/SfmCfgJson.h"
#include "model/KsmCheck.h"
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

ClientSession::ClientSession(ServiceCore& core, std::string urlBase)
    : mCore(core), mUrlBase(std::move(urlBase)), mId(core.newSession()) {}

ClientSession::~ClientSession() {
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
    return answer(handle(req));
}

ClientSession::Outcome ClientSession::poll(Clock::time_point now) {
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
                res.url = mUrlBase + "/upload/" + mCore.grantUpload(req.key, req.size, mId);
            }
            return res;
        }
        case kLaunchSfmTask:
            return launchSfm(std::get<Request<kLaunchSfmTask>>(request));
        case kLaunchMvsTask:
            return launchMvs(std::get<Request<kLaunchMvsTask>>(request));
        case kGetSfmResults:
            return results(std::get<Request<kGetSfmResults>>(request));
        case kGetMvsResults:
            return results(std::get<Request<kGetMvsResults>>(request));
        case kQueryProgress:
            break;  // answered by progress()
    }
    throw std::logic_error("unhandled request type");
}

UserResponse ClientSession::launchSfm(const Request<kLaunchSfmTask>& req) {
    auto res = replyTo(req);
    if (mCore.faults().fire(Fault::kLaunchRefused)) {
        res.sfmErr = taskError(kRefused, "launch refused on purpose (fault launch-refused)");
        return res;
    }
    std::vector<FileKey> missing;
    if (!mCore.store().pinAll({req.config}, missing)) {
        res.sfmErr = taskError(kMissingFiles, "the configuration is not stored", missing);
        return res;
    }
    std::vector<FileKey> pinned = {req.config};
    const auto refuse = [&](uint32_t code, std::string message, std::vector<FileKey> missingFiles = {}) {
        mCore.store().unpinAll(pinned);
        res.sfmErr = taskError(code, std::move(message), std::move(missingFiles));
        return res;
    };
    SfmJob job;
    job.configKey = req.config;
    try {
        std::ifstream in(mCore.store().pathOf(req.config), std::ios::binary);
        job.cfg = readSfmCfg(in);
    } catch (const std::exception& e) {
        return refuse(kUnreadableInput, std::string("the configuration does not read: ") + e.what());
    }
    std::vector<FileKey> images;
    for (size_t i = 0; i < job.cfg.images.size(); ++i) {
        const SfmCfg::Image& img = job.cfg.images[i];
        if (img.idxCam >= job.cfg.cameras.size()) {
            return refuse(kInconsistentInput, "image " + std::to_string(i) + " names camera " +
                                                  std::to_string(img.idxCam) + " of " +
                                                  std::to_string(job.cfg.cameras.size()));
        }
        images.push_back(img.key);
    }
    if (images.empty()) {
        return refuse(kInconsistentInput, "the configuration names no image");
    }
    if (!mCore.store().pinAll(images, missing)) {
        return refuse(kMissingFiles, std::to_string(missing.size()) + " input files are not stored", missing);
    }
    pinned.insert(pinned.end(), images.begin(), images.end());
    res.hTask = mCore.tasks().launch(std::move(job), std::move(pinned), mId);
    return res;
}

UserResponse ClientSession::launchMvs(const Request<kLaunchMvsTask>& req) {
    auto res = replyTo(req);
    if (mCore.faults().fire(Fault::kLaunchRefused)) {
        res.mvsErr = taskError(kRefused, "launch refused on purpose (fault launch-refused)");
        return res;
    }
    if (!mCore.engine().canDensify()) {
        res.mvsErr = taskError(kCannotDensify, mCore.engine().refusalOfMvs());
        return res;
    }
    std::vector<FileKey> missing;
    if (!mCore.store().pinAll({req.ksmFile}, missing)) {
        res.mvsErr = taskError(kMissingFiles, "the sparse model is not stored", missing);
        return res;
    }
    std::vector<FileKey> pinned = {req.ksmFile};
    const auto refuse = [&](uint32_t code, std::string message, std::vector<FileKey> missingFiles = {}) {
        mCore.store().unpinAll(pinned);
        res.mvsErr = taskError(code, std::move(message), std::move(missingFiles));
        return res;
    };
    MvsJob job;
    job.ksmKey = req.ksmFile;
    job.images = req.images;
    try {
        KestrixSparseModel model = ksm::loadKsm(mCore.store().pathOf(req.ksmFile));
        if (model.index() != 1) {
            return refuse(kUnreadableInput, "the sparse model is not a version-1 model");
        }
        job.model = std::move(std::get<1>(model));
    } catch (const std::exception& e) {
        return refuse(kUnreadableInput, std::string("the sparse model does not read: ") + e.what());
    }
    const auto& m = job.model;
    if (m.captures.size() != req.images.size()) {
        return refuse(kInconsistentInput, "the model has " + std::to_string(m.captures.size()) +
                                              " captures but " + std::to_string(req.images.size()) +
                                              " images were named");
    }
    if (const std::string fault = ksm::inconsistency(m); !fault.empty()) {
        return refuse(kInconsistentInput, fault);
    }
    if (!mCore.store().pinAll(req.images, missing)) {
        return refuse(kMissingFiles, std::to_string(missing.size()) + " images are not stored", missing);
    }
    pinned.insert(pinned.end(), req.images.begin(), req.images.end());
    res.hTask = mCore.tasks().launch(std::move(job), std::move(pinned), mId);
    return res;
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
        item.url = mUrlBase + "/download/" + mCore.grantDownload(r);
        res.items.push_back(std::move(item));
    }
    return res;
}

}  // namespace kxservice
