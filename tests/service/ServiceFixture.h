#pragma once
// Runs the service in-process on 127.0.0.1, port 0, with its data (and the certificates it makes) in
// the test's temporary directory. Tests speak the protocol through the service's own session logic (the
// WebSocket around it is exercised by the client's flows against the binary) and send HTTPS requests
// to its URLs, verifying its certificate against its CA.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "remote/UserProto.h"
#include "service/ClientSession.h"
#include "service/Service.h"
#include "service/ServiceCore.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

using namespace user_proto;

// A protocol session on the running service.
struct Session {
    Session(kxservice::ServiceCore& core, uint16_t port);
    // Sends the request (numbered in order) and reads the answer, waiting out the progress pace.
    template <ReqType type>
    Response<type> call(Request<type> req) {
        req.hRequest = next++;
        auto out = logic.onMessage(writeRequest(req));
        while (out.retryAt) {
            std::this_thread::sleep_until(*out.retryAt);
            out = logic.poll();
        }
        EXPECT_FALSE(out.close) << out.reason;
        return std::get<Response<type>>(readResponse(out.reply));
    }
    void login();  // handshake and login as "guest"

    kxservice::ClientSession logic;
    uint32_t next = 0;
};

// An HTTPS connection that has sent text, a request whole or in part, to url's host.
class Https {
public:
    Https(const std::string& url, const std::filesystem::path& caFile, const std::string& text);
    ~Https();
    int status();  // of the reply, 0 when there was none

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// The text of a PUT of body to url, with a Content-MD5 header unless md5 is empty, announcing length
// bytes (default: the body's), or in chunked encoding when chunked.
std::string putText(const std::string& url, const std::string& body, const std::string& md5,
                    std::optional<uint64_t> length = {}, bool chunked = false);
inline int httpsPut(const std::string& url, const std::filesystem::path& caFile, const std::string& body,
                    const std::string& md5, bool chunked = false) {
    return Https(url, caFile, putText(url, body, md5, {}, chunked)).status();
}

// The content key of bytes, and the Content-MD5 header of them.
FileKey keyOf(const std::string& bytes);
std::string contentMd5(const std::string& bytes);

class ServiceFixture : public ::testing::Test {
protected:
    void startService(kxservice::Options options = {});
    void TearDown() override { mService.reset(); }

    std::unique_ptr<Session> connect();  // logged in
    const std::filesystem::path& ca() const { return mService->caFile(); }
    kxservice::ServiceCore& core() { return mService->core(); }

    // The upload URL of those bytes as announced with size (default: theirs), empty when already stored.
    std::string urlFor(Session& s, const std::string& bytes, std::optional<uint64_t> size = {});
    // Uploads the bytes; returns their key. Expects the service not to have them.
    FileKey upload(Session& s, const std::string& bytes);
    // A configuration of one camera and the given images (stored under those keys) as JSON text.
    static std::string configText(const std::vector<FileKey>& images, uint32_t idxCam = 0);

    TempDir mDir;
    std::unique_ptr<kxservice::Service> mService;
    uint16_t mPort = 0;
};

}  // namespace kxtest
