#pragma once
// The local processing service as an object: start() binds the port and serves until stop(). Tests
// run it in-process (port 0 picks a free port); service/main.cpp wraps it in the command line.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "service/Options.h"

namespace kxservice {

class ServiceCore;

// The service cannot start: port in use, unusable data directory or certificate files.
struct StartError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Endpoint {
    std::string host;  // as listening, IPv6 without brackets
    uint16_t port = 0;
    // "wss://HOST:PORT/client" with IPv6 in brackets.
    std::string clientUrl() const;
    // "HOST:PORT" (brackets for IPv6) as in a URL.
    std::string authority() const;
};

class Service {
public:
    // An empty options.dataDir means the shared default data directory.
    explicit Service(Options options);
    ~Service();  // stop()
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Prepares the data directory (made 0700; the process's umask becomes 077, so every file the service
    // writes is private) and certificates, binds and starts serving on its own threads. Throws
    // StartError, also for a --key file that every user may read.
    Endpoint start();
    // Stops accepting, closes the connections (partial uploads are dropped), cancels the tasks (their
    // subprocesses are ended) and joins the threads. Idempotent.
    void stop();

    const std::filesystem::path& dataDir() const;
    // The certificate a client must trust (absolute).
    const std::filesystem::path& caFile() const;
    // "kestrix-service listening on wss://HOST:PORT/client CA /abs/ca.pem"
    std::string startLine() const;
    // For tests: the shared state (valid between start() and stop()).
    ServiceCore& core();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

}  // namespace kxservice
