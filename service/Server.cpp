// The listening side of the service: accepts TCP connections, requires TLS, and serves on each
// connection either the WebSocket session at the client path or HTTP PUT/GET of capability URLs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/strand.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/uuid/detail/md5.hpp>

#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "protocol/ServiceDefaults.h"
#include "service/Certificates.h"
#include "service/ConnectionLimits.h"
#include "service/Log.h"
#include "service/Service.h"
#include "service/ServerDetail.h"
#include "service/Runners.h"
#include "service/ServiceCore.h"

namespace fs = std::filesystem;

namespace kxservice {

namespace {

constexpr size_t kChunk = 1 << 20;  // bytes per read or write of a transfer
constexpr std::chrono::seconds kHeaderTimeout{30};
constexpr std::chrono::seconds kBodyTimeout{120};  // per chunk of a download
// What a refused request may still send, read and dropped so that its peer sees the status rather than
// a reset connection.
constexpr size_t kDrainBytes = 1 << 20;
constexpr std::chrono::seconds kDrainTime{2};
// How long the acceptor waits when the process has no descriptor left.
constexpr std::chrono::seconds kAcceptPause{1};

std::string bracketed(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A Host header fit to put into the URLs handed out: letters, digits and the punctuation of names,
// IPv4 and bracketed IPv6 authorities.
bool saneHost(beast::string_view host) {
    if (host.empty() || host.size() > 255) {
        return false;
    }
    for (char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != ':' && c != '[' &&
            c != ']') {
            return false;
        }
    }
    return true;
}

// One HTTP connection after the TLS handshake; requests are served one after the other.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(SslStream stream, beast::flat_buffer buffer, ServiceCore& core, std::string authority,
                ConnectionLimits::Ticket ticket)
        : mStream(std::move(stream)),
          mBuffer(std::move(buffer)),
          mCore(core),
          mAuthority(std::move(authority)),
          mTicket(std::move(ticket)) {}

    ~HttpSession() { dropUpload(); }

    void readHeader() {
        mHeader.emplace();
        // Limits are the service's own (--max-body); boost::none would refuse every body in this Beast.
        mHeader->body_limit(std::numeric_limits<std::uint64_t>::max());
        beast::get_lowest_layer(mStream).expires_after(kHeaderTimeout);
        http::async_read_header(
            mStream, mBuffer, *mHeader,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
    }

private:
    void onHeader(beast::error_code ec) {
        if (ec) {
            // The peer went away or sent no request: nothing to answer.
            if (ec != http::error::end_of_stream && ec != net::ssl::error::stream_truncated) {
                logLine("HTTP request not read: " + ec.message());
            }
            return;
        }
        auto& req = mHeader->get();
        const std::string target(req.target());
        if (beast::websocket::is_upgrade(req)) {
            if (target != service_defaults::kClientPath) {
                refuse(http::status::not_found, "no WebSocket at " + target);
                return;
            }
            const auto host = req[http::field::host];
            const std::string base = "https://" + (saneHost(host) ? std::string(host) : mAuthority);
            startWebSocket(std::move(mStream), mHeader->release(), mCore, base, std::move(mTicket));
            return;
        }
        if (req.method() == http::verb::put && target.rfind("/upload/", 0) == 0) {
            beginPut(target.substr(8));
        } else if (req.method() == http::verb::get && target.rfind("/download/", 0) == 0) {
            beginGet(target.substr(10));
        } else {
            refuse(http::status::not_found, "nothing at " + std::string(req.method_string()) + " " + target);
        }
    }

    // Answers with a short text and ends the connection, after reading and dropping what the peer still
    // sends of its body (up to kDrainBytes or kDrainTime).
    void refuse(http::status status, const std::string& why) {
        logLine("HTTP " + std::to_string(static_cast<int>(status)) + ": " + why);
        const bool bodyLeft = (mHeader && !mHeader->is_done()) || (mBody && !mBody->is_done());
        dropUpload();
        auto res = std::make_shared<http::response<http::string_body>>(status, 11);
        res->set(http::field::content_type, "text/plain");
        res->keep_alive(false);
        res->body() = why + "\n";
        res->prepare_payload();
        beast::get_lowest_layer(mStream).expires_after(kHeaderTimeout);
        http::async_write(mStream, *res,
                          [self = shared_from_this(), res, bodyLeft](beast::error_code ec, size_t) {
                              if (ec || !bodyLeft) {
                                  self->shutdown();
                                  return;
                              }
                              self->mDrained = 0;
                              self->mChunkBuf.resize(kChunk);
                              beast::get_lowest_layer(self->mStream).expires_after(kDrainTime);
                              self->drain();
                          });
    }

    void drain() {
        mStream.async_read_some(
            net::buffer(mChunkBuf.data(), std::min(mChunkBuf.size(), kDrainBytes - mDrained)),
            [self = shared_from_this()](beast::error_code ec, size_t n) {
                self->mDrained += n;
                if (ec || self->mDrained >= kDrainBytes) {
                    self->shutdown();
                    return;
                }
                self->drain();
            });
    }

    void shutdown() {
        beast::get_lowest_layer(mStream).expires_after(std::chrono::seconds(2));
        mStream.async_shutdown([self = shared_from_this()](beast::error_code) {
            beast::get_lowest_layer(self->mStream).close();
        });
    }

    // Cuts the connection without a word (the fault switches that drop transfers).
    void cut() {
        dropUpload();
        beast::get_lowest_layer(mStream).close();
    }

    // ---- PUT ----

    void beginPut(const std::string& token) {
        const auto& req = mHeader->get();
        const std::optional<UploadGrant> grant = mCore.takeUpload(token);
        if (!grant) {
            refuse(http::status::forbidden, "unknown, used or expired upload URL");
            return;
        }
        if (mCore.faults().fire(Fault::kPut500)) {
            refuse(http::status::internal_server_error, "upload failed on purpose (fault put-500)");
            return;
        }
        if (mHeader->chunked() || !mHeader->content_length()) {
            refuse(http::status::length_required, "a PUT needs a Content-Length");
            return;
        }
        const uint64_t length = *mHeader->content_length();
        if (length > mCore.options().maxBody) {
            refuse(http::status::payload_too_large,
                   "body of " + std::to_string(length) + " bytes is over --max-body");
            return;
        }
        if (length != grant->size) {
            refuse(http::status::bad_request, "Content-Length " + std::to_string(length) +
                                                  " differs from the announced size " +
                                                  std::to_string(grant->size));
            return;
        }
        const auto md5 = grant->key.base64();
        if (req[http::field::content_md5] != beast::string_view(md5.data(), md5.size())) {
            refuse(http::status::bad_request, "Content-MD5 does not name the key of this upload URL");
            return;
        }
        mUpload = mCore.store().beginUpload(length, grant->session);
        if (!mUpload) {
            refuse(http::status::payload_too_large, "the store has no room for " + std::to_string(length) +
                                                        " bytes (or the session's uploads hold their share)");
            return;
        }
        mFd = ::open(mUpload->tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (mFd < 0) {
            refuse(http::status::internal_server_error, "cannot write to the store");
            return;
        }
        logLine("receiving " + grant->key.str() + ": " + std::to_string(length) + " bytes of room reserved");
        mGrant = *grant;
        mKeepAlive = req.keep_alive();
        mReceived = 0;
        mDropAt = mCore.faults().fire(Fault::kDropMidUpload) ? length / 2 : UINT64_MAX;
        mMd5 = boost::uuids::detail::md5();
        mChunkBuf.resize(kChunk);
        mFilled = 0;
        mWindowStart = std::chrono::steady_clock::now();
        mWindowBytes = 0;
        mBody.emplace(std::move(*mHeader));
        mBody->body_limit(std::numeric_limits<std::uint64_t>::max());
        mHeader.reset();
        readBody();
    }

    // Reads what has come, so that a quiet peer is seen within uploadIdle; the chunk is written when
    // full or at the end.
    void readBody() {
        if (mBody->is_done()) {
            if (flushChunk()) {
                endPut();
            }
            return;
        }
        mBody->get().body().data = mChunkBuf.data() + mFilled;
        mBody->get().body().size = mChunkBuf.size() - mFilled;
        beast::get_lowest_layer(mStream).expires_after(mCore.options().uploadIdle);
        http::async_read_some(
            mStream, mBuffer, *mBody,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->onBody(ec); });
    }

    void onBody(beast::error_code ec) {
        if (ec == http::error::need_buffer) {
            ec = {};
        }
        // Logged once cut: the room is back by then.
        if (ec) {
            cut();
            logLine("upload of " + mGrant.key.str() + " cut after " + std::to_string(mReceived + mFilled) +
                    " bytes: " + ec.message());
            return;
        }
        const size_t got = mChunkBuf.size() - mFilled - mBody->get().body().size;
        mFilled += got;
        mWindowBytes += got;
        if (tooSlow()) {
            cut();
            logLine("upload of " + mGrant.key.str() + " too slow while others wait for room: ended after " +
                    std::to_string(mReceived + mFilled) + " bytes");
            return;
        }
        if (mFilled == mChunkBuf.size() && !flushChunk()) {
            return;
        }
        if (mReceived + mFilled >= mDropAt) {
            logLine("upload dropped on purpose (fault drop-mid-upload)");
            cut();
            return;
        }
        readBody();
    }

    // Over each rate window: whether the upload sent less than the least rate while the store refused
    // others for want of room.
    bool tooSlow() {
        const auto now = std::chrono::steady_clock::now();
        const auto window = mCore.options().uploadRateWindow;
        if (now - mWindowStart < window) {
            return false;
        }
        const double seconds = std::chrono::duration<double>(now - mWindowStart).count();
        const bool slow = double(mWindowBytes) < double(mCore.options().uploadMinRate) * seconds;
        const bool waited = slow && mCore.store().shortOfRoomSince(mWindowStart);
        mWindowStart = now;
        mWindowBytes = 0;
        return waited;
    }

    bool flushChunk() {
        mMd5.process_bytes(mChunkBuf.data(), mFilled);
        for (size_t done = 0; done < mFilled;) {
            const ssize_t n = ::write(mFd, mChunkBuf.data() + done, mFilled - done);
            if (n <= 0) {
                refuse(http::status::internal_server_error, "cannot write to the store");
                return false;
            }
            done += static_cast<size_t>(n);
        }
        mReceived += mFilled;
        mFilled = 0;
        return true;
    }

    void endPut() {
        boost::uuids::detail::md5::digest_type words;
        mMd5.get_digest(words);
        const FileKey got(encodeHex({words[0], words[1], words[2], words[3]}));
        const bool closed = ::close(mFd) == 0;
        mFd = -1;
        if (!closed || mReceived != mGrant.size) {
            refuse(http::status::internal_server_error, "cannot write to the store");
            return;
        }
        if (got != mGrant.key) {
            refuse(http::status::bad_request,
                   "the bytes received have MD5 " + got.str() + ", not " + mGrant.key.str());
            return;
        }
        const ContentStore::Upload upload = *mUpload;
        mUpload.reset();
        if (!mCore.store().commitUpload(upload, mGrant.key)) {
            refuse(http::status::internal_server_error, "cannot write to the store");
            return;
        }
        logLine("stored " + mGrant.key.str() + " (" + std::to_string(mReceived) + " bytes)");
        auto res = std::make_shared<http::response<http::empty_body>>(http::status::created, 11);
        res->keep_alive(mKeepAlive);
        res->content_length(0);
        mBody.reset();
        http::async_write(mStream, *res,
                          [self = shared_from_this(), res](beast::error_code ec, size_t) { self->next(ec); });
    }

    void dropUpload() {
        if (mFd >= 0) {
            ::close(mFd);
            mFd = -1;
        }
        if (mUpload) {
            mCore.store().abortUpload(*mUpload);
            mUpload.reset();
        }
    }

    // ---- GET ----

    void beginGet(const std::string& token) {
        const std::optional<TaskResult> item = mCore.download(token);
        if (!item) {
            refuse(http::status::not_found, "unknown download URL");
            return;
        }
        mFd = ::open(item->path.c_str(), O_RDONLY | O_CLOEXEC);
        if (mFd < 0) {
            refuse(http::status::not_found, "the result is no longer kept");
            return;
        }
        mKeepAlive = mHeader->get().keep_alive();
        mRemaining = item->size;
        mSent = 0;
        mCutAt = UINT64_MAX;
        mCorrupt = false;
        // The download faults hit models and clouds, not the small reports beside them, so that which file
        // fails does not depend on which request arrives first.
        Faults& faults = mCore.faults();
        const bool faultable = item->type != FileType::kJson;
        if (faultable && faults.fire(Fault::kDropMidDownload)) {
            mCutAt = item->size / 2;
        } else if (faultable && faults.fire(Fault::kShortDownload)) {
            mCutAt = item->size > 0 ? item->size - std::max<uint64_t>(1, item->size / 10) : 0;
        } else if (faultable && faults.fire(Fault::kBadDigestDownload)) {
            mCorrupt = true;
        }
        auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, 11);
        res->set(http::field::content_type, "application/octet-stream");
        res->content_length(item->size);
        res->keep_alive(mKeepAlive && mCutAt == UINT64_MAX);
        auto sr = std::make_shared<http::response_serializer<http::empty_body>>(*res);
        mChunkBuf.resize(kChunk);
        beast::get_lowest_layer(mStream).expires_after(kBodyTimeout);
        http::async_write_header(mStream, *sr,
                                 [self = shared_from_this(), res, sr](beast::error_code ec, size_t) {
                                     if (ec) {
                                         self->cut();
                                         return;
                                     }
                                     self->sendChunk();
                                 });
    }

    void sendChunk() {
        if (mRemaining == 0) {
            ::close(mFd);
            mFd = -1;
            next({});
            return;
        }
        size_t want = static_cast<size_t>(std::min<uint64_t>(mRemaining, kChunk));
        if (mSent + want > mCutAt) {
            want = static_cast<size_t>(mCutAt - mSent);
        }
        if (want == 0) {
            logLine("download cut on purpose after " + std::to_string(mSent) + " bytes");
            cut();
            return;
        }
        const ssize_t n = ::read(mFd, mChunkBuf.data(), want);
        if (n <= 0) {
            logLine("cannot read a result file");
            cut();
            return;
        }
        if (mCorrupt && mSent == 0) {
            mChunkBuf[0] = static_cast<char>(~mChunkBuf[0]);
        }
        mRemaining -= static_cast<uint64_t>(n);
        mSent += static_cast<uint64_t>(n);
        beast::get_lowest_layer(mStream).expires_after(kBodyTimeout);
        net::async_write(mStream, net::buffer(mChunkBuf.data(), static_cast<size_t>(n)),
                         [self = shared_from_this()](beast::error_code ec, size_t) {
                             if (ec) {
                                 self->cut();
                                 return;
                             }
                             self->sendChunk();
                         });
    }

    // After a complete exchange: the next request on the same connection, or the end.
    void next(beast::error_code ec) {
        if (ec) {
            cut();
            return;
        }
        if (!mKeepAlive) {
            shutdown();
            return;
        }
        readHeader();
    }

    SslStream mStream;
    beast::flat_buffer mBuffer;
    ServiceCore& mCore;
    std::string mAuthority;
    ConnectionLimits::Ticket mTicket;
    std::optional<http::request_parser<http::empty_body>> mHeader;
    std::optional<http::request_parser<http::buffer_body>> mBody;
    std::vector<char> mChunkBuf;
    bool mKeepAlive = false;
    int mFd = -1;
    // PUT
    UploadGrant mGrant;
    std::optional<ContentStore::Upload> mUpload;
    boost::uuids::detail::md5 mMd5;
    uint64_t mReceived = 0;  // written to the file
    size_t mFilled = 0;      // in mChunkBuf, not yet written
    std::chrono::steady_clock::time_point mWindowStart;
    uint64_t mWindowBytes = 0;
    uint64_t mDropAt = UINT64_MAX;
    size_t mDrained = 0;
    // GET
    uint64_t mRemaining = 0;
    uint64_t mSent = 0;
    uint64_t mCutAt = UINT64_MAX;
    bool mCorrupt = false;
};

// A fresh connection: TLS is required.
class DetectSession : public std::enable_shared_from_this<DetectSession> {
public:
    DetectSession(tcp::socket socket, net::ssl::context& tls, ServiceCore& core, std::string authority,
                  ConnectionLimits::Ticket ticket)
        : mStream(std::move(socket)),
          mTls(tls),
          mCore(core),
          mAuthority(std::move(authority)),
          mTicket(std::move(ticket)) {}

    void run() {
        mStream.expires_after(kHeaderTimeout);
        beast::async_detect_ssl(
            mStream, mBuffer,
            [self = shared_from_this()](beast::error_code ec, bool tls) { self->onDetect(ec, tls); });
    }

private:
    void onDetect(beast::error_code ec, bool tls) {
        if (ec || !tls) {
            if (!ec) {
                logLine("refused a connection without TLS");
            }
            return;
        }
        auto stream = std::make_shared<SslStream>(std::move(mStream), mTls);
        stream->async_handshake(net::ssl::stream_base::server, mBuffer.data(),
                                [self = shared_from_this(), stream](beast::error_code ec, size_t used) {
                                    if (ec) {
                                        logLine("TLS handshake failed: " + ec.message());
                                        return;
                                    }
                                    self->mBuffer.consume(used);
                                    std::make_shared<HttpSession>(std::move(*stream),
                                                                  std::move(self->mBuffer), self->mCore,
                                                                  self->mAuthority, std::move(self->mTicket))
                                        ->readHeader();
                                });
    }

    beast::tcp_stream mStream;
    net::ssl::context& mTls;
    ServiceCore& mCore;
    std::string mAuthority;
    ConnectionLimits::Ticket mTicket;
    beast::flat_buffer mBuffer;
};

}  // namespace

std::string Endpoint::authority() const {
    return bracketed(host) + ":" + std::to_string(port);
}

std::string Endpoint::clientUrl() const {
    return "wss://" + authority() + service_defaults::kClientPath;
}

struct Service::Impl {
    Options options;
    fs::path dataDir;
    fs::path caFile;
    Endpoint endpoint;
    // Destroyed in reverse: the I/O objects (and the sessions they own) before the shared state.
    std::unique_ptr<ServiceCore> core;
    std::unique_ptr<net::io_context> ioc;
    std::unique_ptr<net::ssl::context> tls;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::unique_ptr<net::steady_timer> cleanup;
    std::unique_ptr<net::steady_timer> acceptPause;
    std::shared_ptr<ConnectionLimits> connections;
    bool outOfDescriptors = false;  // logged once until an accept works again
    std::vector<std::thread> threads;
    bool started = false;
    bool stopped = false;

    void accept() {
        acceptor->async_accept(net::make_strand(*ioc), [this](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor->is_open()) {
                return;
            }
            if (ec == net::error::no_descriptors || ec.value() == ENFILE) {
                // Accepting again at once would spin: the connection waits in the backlog meanwhile.
                // A fixed text: even a message lookup may need a descriptor (sanitizer builds do).
                if (!outOfDescriptors) {
                    logLine(std::string("no descriptor left for a new connection (") +
                            (ec.value() == ENFILE ? "ENFILE" : "EMFILE") + "): waiting");
                    outOfDescriptors = true;
                }
                acceptPause->expires_after(kAcceptPause);
                acceptPause->async_wait([this](beast::error_code waitEc) {
                    if (!waitEc) {
                        accept();
                    }
                });
                return;
            }
            if (!ec) {
                outOfDescriptors = false;
                admit(std::move(socket));
            }
            accept();
        });
    }

    void admit(tcp::socket socket) {
        beast::error_code ec;
        const auto peer = socket.remote_endpoint(ec);
        ConnectionLimits::Ticket ticket = ec ? nullptr : connections->admit(peer.address().to_string());
        if (!ticket) {
            socket.close(ec);
            return;
        }
        std::make_shared<DetectSession>(std::move(socket), *tls, *core, endpoint.authority(),
                                        std::move(ticket))
            ->run();
    }

    void scheduleCleanup() {
        core->tasks().removeOlderThan(std::chrono::hours(24) * options.keepResultsDays);
        cleanup->expires_after(std::chrono::hours(1));
        cleanup->async_wait([this](beast::error_code ec) {
            if (!ec) {
                scheduleCleanup();
            }
        });
    }
};

Service::Service(Options options) : mImpl(std::make_unique<Impl>()) {
    mImpl->options = std::move(options);
    mImpl->dataDir = mImpl->options.dataDir.empty() ? service_defaults::dataDir() : mImpl->options.dataDir;
}

Service::~Service() {
    stop();
}

const fs::path& Service::dataDir() const {
    return mImpl->dataDir;
}
const fs::path& Service::caFile() const {
    return mImpl->caFile;
}
ServiceCore& Service::core() {
    return *mImpl->core;
}

std::string Service::startLine() const {
    return "kestrix-service listening on " + mImpl->endpoint.clientUrl() + " CA " + mImpl->caFile.string();
}

Endpoint Service::start() {
    Impl& d = *mImpl;
    if (d.started) {
        throw StartError("the service was started already");
    }
    d.started = true;
    const Options& o = d.options;
    if (!isLoopbackHost(o.host) && !o.allowRemote) {
        throw StartError("listening on " + o.host + " needs --allow-remote");
    }
    // Absolute: a cluster's worker finds the inputs by these paths.
    std::unique_ptr<TaskRunner> runner;
    try {
        runner = makeRunner(o, fs::weakly_canonical(fs::absolute(d.dataDir)));
    } catch (const std::exception& e) {
        throw StartError(e.what());  // an engine that cannot run here, say
    }
    TlsFiles files;
    try {
        // Everything the service writes is the user's alone; ca.pem and server.pem are made public on
        // purpose.
        umask(077);
        fs::create_directories(d.dataDir);
        d.dataDir = fs::canonical(d.dataDir);
        fs::permissions(d.dataDir, fs::perms::owner_all);
        if (o.certFile.empty()) {
            files = ensureCertificates(d.dataDir, serverNames(o.host));
        } else {
            checkKeyFile(o.keyFile);
            files = {fs::absolute(o.certFile), fs::absolute(o.keyFile),
                     fs::absolute(o.caFile.empty() ? o.certFile : o.caFile)};
        }
        d.core = std::make_unique<ServiceCore>(o, d.dataDir, std::move(runner));
        d.tls = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
        d.tls->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                           net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                           net::ssl::context::no_tlsv1_1);
        d.tls->use_certificate_chain_file(files.cert.string());
        d.tls->use_private_key_file(files.key.string(), net::ssl::context::pem);
    } catch (const std::exception& e) {
        throw StartError(std::string("cannot prepare ") + d.dataDir.string() + ": " + e.what());
    }
    d.caFile = files.ca;
    d.ioc = std::make_unique<net::io_context>(static_cast<int>(o.nbNetThreads));
    try {
        const std::string host = o.host == "localhost" ? "127.0.0.1" : o.host;
        const tcp::endpoint ep(net::ip::make_address(host), o.port);
        d.acceptor = std::make_unique<tcp::acceptor>(*d.ioc);
        d.acceptor->open(ep.protocol());
        d.acceptor->set_option(net::socket_base::reuse_address(true));
        d.acceptor->bind(ep);
        d.acceptor->listen(net::socket_base::max_listen_connections);
        d.endpoint = {host, d.acceptor->local_endpoint().port()};
    } catch (const std::exception& e) {
        d.acceptor.reset();
        d.ioc.reset();
        d.core.reset();
        throw StartError("cannot listen on " + o.host + ":" + std::to_string(o.port) + ": " + e.what());
    }
    if (!isLoopbackHost(o.host)) {
        logLine("listening beyond this machine: sessions are not authenticated (anyone who reaches " +
                d.endpoint.authority() + " may use the service)");
    }
    d.cleanup = std::make_unique<net::steady_timer>(*d.ioc);
    d.acceptPause = std::make_unique<net::steady_timer>(*d.ioc);
    d.connections = std::make_shared<ConnectionLimits>(o.maxConnections, o.maxConnectionsPerAddress);
    d.scheduleCleanup();
    d.accept();
    for (uint32_t i = 0; i < std::max<uint32_t>(1, o.nbNetThreads); ++i) {
        d.threads.emplace_back([&d] { d.ioc->run(); });
    }
    logLine("serving " + d.endpoint.clientUrl() + " with engine " + o.engine + " on the " +
            d.core->runner().name() + " runner, data in " + d.dataDir.string());
    return d.endpoint;
}

void Service::stop() {
    Impl& d = *mImpl;
    if (!d.started || d.stopped || !d.ioc || !d.core) {
        return;
    }
    d.stopped = true;
    net::post(*d.ioc, [&d] {
        beast::error_code ec;
        d.acceptor->close(ec);
        d.cleanup->cancel();
        d.acceptPause->cancel();
    });
    // Tasks first: their subprocesses end while the connections still answer.
    d.core->tasks().stop();
    d.ioc->stop();
    for (std::thread& t : d.threads) {
        t.join();
    }
    d.threads.clear();
    // Sessions still held by pending handlers go now: partial uploads are removed, tasks cancelled.
    d.cleanup.reset();
    d.acceptPause.reset();
    d.acceptor.reset();
    d.ioc.reset();
    d.tls.reset();
    d.core.reset();
    logLine("stopped");
}

}  // namespace kxservice
