// Request texts of arbitrary bytes in a fresh session and in a logged-in one: each is answered with a
// response of its own type and number, or closes the session; nothing may escape or crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <unistd.h>

#include "service/ClientSession.h"
#include "service/LocalRunner.h"

namespace {

kxservice::ServiceCore& core() {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kx-fuzz-service-" + std::to_string(getpid()));
    static kxservice::ServiceCore instance = [] {
        kxservice::Options options;
        options.maxTasks = 1;
        return kxservice::ServiceCore(
            options, dir, std::make_unique<kxservice::LocalRunner>(kxservice::makeTestEngine({dir})));
    }();
    return instance;
}

void check(const kxservice::ClientSession::Outcome& out, std::string_view text) {
    if (out.close || out.retryAt) {
        return;
    }
    const user_proto::UserRequest req = user_proto::readRequest(text);
    const user_proto::UserResponse res = user_proto::readResponse(out.reply);
    const auto number = [](const auto& r) { return r.hRequest; };
    if (res.index() != req.index() || std::visit(number, res) != std::visit(number, req)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    {
        kxservice::ClientSession fresh(core(), "https://127.0.0.1:1");
        check(fresh.onMessage(text), text);
    }
    kxservice::ClientSession session(core(), "https://127.0.0.1:1");
    user_proto::Request<user_proto::kLogin> login;
    login.username = "guest";
    if (session.onMessage(user_proto::writeRequest(user_proto::Request<user_proto::kHandshake>{})).close ||
        session.onMessage(user_proto::writeRequest(login)).close) {
        std::abort();
    }
    check(session.onMessage(text), text);
    return 0;
}
