#pragma once
// A small client of the service for the tests, written with Beast: a WebSocket session that verifies
// the service's certificate against its CA, and HTTPS PUT/GET.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "remote/UserProto.h"

namespace kxtest {

class WsClient {
public:
    WsClient(uint16_t port, const std::filesystem::path& caFile);
    ~WsClient();
    // Errors show on the next read (the service may close before a long text is sent).
    void sendText(const std::string& text);
    // The next text, or empty when the service closed the session.
    std::optional<std::string> readText();
    // Sends the request (numbered in order) and reads the answer; throws when the session closed.
    user_proto::UserResponse call(user_proto::UserRequest req);
    template <user_proto::ReqType type>
    user_proto::Response<type> call(user_proto::Request<type> req) {
        return std::get<user_proto::Response<type>>(call(user_proto::UserRequest(std::move(req))));
    }
    // Handshake and login as "guest".
    void login();
    void close();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    uint32_t mNext = 0;
};

struct HttpReply {
    int status = 0;
    std::string body;
    bool complete = false;  // the whole body as its Content-Length announced
};

// PUT of body to url ("https://host:port/upload/..."); headers are added as given. chunked sends the
// body in chunked encoding (no Content-Length).
HttpReply httpsPut(const std::string& url, const std::filesystem::path& caFile, const std::string& body,
                   const std::map<std::string, std::string>& headers, bool chunked = false);
HttpReply httpsGet(const std::string& url, const std::filesystem::path& caFile);

// A PUT that announces size bytes and sends only the first `sent` of them, then waits.
class OpenUpload {
public:
    OpenUpload(const std::string& url, const std::filesystem::path& caFile, const std::string& sent,
               uint64_t size);
    ~OpenUpload();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// The content key of bytes, and the Content-MD5 header of them.
FileKey keyOf(const std::string& bytes);
std::string contentMd5(const std::string& bytes);

}  // namespace kxtest
