#pragma once
// The protocol of one WebSocket session, without the socket: a request text in, the answer text out,
// in order. Before the handshake only kHandshake is accepted, before the login only kLogin; anything
// else, a text that is not a request, or a text above kMaxMessageBytes ends the session.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "protocol/UserProto.h"
#include "service/ServiceCore.h"

namespace kxservice {

// The largest request text a session reads (a kLaunchMvsTask of some 60 000 images).
constexpr size_t kMaxMessageBytes = 4u << 20;
// The least time between two progress answers of one task in one stage.
constexpr std::chrono::milliseconds kProgressPace{200};

// Error codes in ErrorInfo and TaskError.
enum ErrorCode : uint32_t {
    kOk = 0,
    kNotAllowed = 1,          // a request out of turn (a second handshake or login)
    kLoginFailed = 2,         // unknown user or wrong secret
    kBadKey = 3,              // not a content key
    kUnknownTask = 4,         // no such task (or of the other kind)
    kRefused = 10,            // refused on purpose (fault switch)
    kMissingFiles = 11,       // inputs not stored: see missingFiles
    kUnreadableInput = 12,    // the configuration or sparse model does not read
    kInconsistentInput = 13,  // indices out of range, image list not matching
    kCannotDensify = 14,      // the engine has no MVS
    kNotFinished = 15,        // results asked before the task finished
    kOverLimit = 16,          // a per-session cap is reached (service/Limits.h)
};

// How often a launch whose inputs are being read looks again for the outcome.
constexpr std::chrono::milliseconds kLaunchPollStep{20};

class ClientSession {
public:
    using Clock = std::chrono::steady_clock;

    struct Outcome {
        std::string reply;   // the text to send (when not waiting)
        bool close = false;  // end the session (reason says why)
        std::string reason;
        // A progress answer that must wait: call poll() again at this time (or sooner).
        std::optional<Clock::time_point> retryAt;
    };

    // urlBase: "https://HOST:PORT" as the client reached the service.
    ClientSession(ServiceCore& core, std::string urlBase);
    ~ClientSession();  // sessionEnded; a launch still being read gives its inputs back
    ClientSession(const ClientSession&) = delete;
    ClientSession& operator=(const ClientSession&) = delete;

    Outcome onMessage(std::string_view text, Clock::time_point now = Clock::now());
    // Retries the progress answer that had to wait, or looks for the outcome of a launch being read.
    Outcome poll(Clock::time_point now = Clock::now());
    uint64_t id() const { return mId; }

private:
    using UserRequest = user_proto::UserRequest;
    using UserResponse = user_proto::UserResponse;

    Outcome answer(UserResponse res);
    Outcome progress(const user_proto::Request<user_proto::kQueryProgress>& req, Clock::time_point now);
    UserResponse handle(const UserRequest& req);
    struct PendingLaunch;
    // Launches read their inputs on the core's input reader; the answer comes through poll().
    Outcome launch(const UserRequest& req, Clock::time_point now);
    Outcome launchOutcome(Clock::time_point now);
    template <user_proto::ReqType type>
    UserResponse results(const user_proto::Request<type>& req);

    struct Paced {
        user_proto::TaskStage stage;
        Clock::time_point at;
    };

    ServiceCore& mCore;
    std::string mUrlBase;
    uint64_t mId;
    bool mHandshaked = false;
    bool mLoggedIn = false;
    std::optional<user_proto::Request<user_proto::kQueryProgress>> mWaiting;
    std::shared_ptr<PendingLaunch> mLaunch;
    UserRequest mLaunchRequest;
    std::unordered_map<user_proto::TaskHandle, Paced> mPaced;
};

}  // namespace kxservice
