// The WebSocket side of a connection: reads one request at a time and writes its answer before reading
// the next, so answers keep the order of requests.
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <memory>

#include "service/ClientSession.h"
#include "service/Log.h"
#include "service/ServerDetail.h"

namespace kxservice {

namespace websocket = beast::websocket;

namespace {

// How often a progress answer that waits looks again for a stage change.
constexpr std::chrono::milliseconds kPollStep{20};

class WsSession : public std::enable_shared_from_this<WsSession> {
public:
    WsSession(SslStream stream, ServiceCore& core, std::string urlBase, ConnectionLimits::Ticket ticket)
        : mWs(std::move(stream)),
          mTimer(mWs.get_executor()),
          mCore(core),
          mUrlBase(std::move(urlBase)),
          mTicket(std::move(ticket)) {}

    void run(http::request<http::empty_body> upgrade) {
        beast::get_lowest_layer(mWs).expires_never();
        auto timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
        // Pings keep a quiet session (the client uploading over HTTP meanwhile) alive and find dead peers.
        timeouts.idle_timeout = std::chrono::seconds(60);
        timeouts.keep_alive_pings = true;
        mWs.set_option(timeouts);
        mWs.read_message_max(kMaxMessageBytes);
        mWs.async_accept(upgrade, [self = shared_from_this()](beast::error_code ec) { self->onAccept(ec); });
    }

private:
    void onAccept(beast::error_code ec) {
        if (ec) {
            logLine("WebSocket upgrade failed: " + ec.message());
            return;
        }
        try {
            mLogic = std::make_unique<ClientSession>(mCore, mUrlBase);
        } catch (const std::exception& e) {
            logLine(std::string("cannot open a session: ") + e.what());
            return;
        }
        logLine("session " + std::to_string(mLogic->id()) + " opened");
        read();
    }

    void read() {
        mWs.async_read(mBuffer,
                       [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec) {
        if (ec) {
            end(ec == websocket::error::closed ? "closed by the client" : ec.message());
            return;
        }
        if (!mWs.got_text()) {
            closeWith("a binary message");
            return;
        }
        const std::string text = beast::buffers_to_string(mBuffer.data());
        mBuffer.consume(mBuffer.size());
        ClientSession::Outcome out;
        try {
            out = mLogic->onMessage(text);
        } catch (const std::exception& e) {
            out.close = true;
            out.reason = std::string("error handling a request: ") + e.what();
        }
        proceed(std::move(out));
    }

    void proceed(ClientSession::Outcome out) {
        if (out.close) {
            closeWith(out.reason);
            return;
        }
        if (out.retryAt) {
            mTimer.expires_at(std::min(*out.retryAt, std::chrono::steady_clock::now() + kPollStep));
            mTimer.async_wait([self = shared_from_this()](beast::error_code ec) {
                if (!ec) {
                    ClientSession::Outcome next;
                    try {
                        next = self->mLogic->poll();
                    } catch (const std::exception& e) {
                        next.close = true;
                        next.reason = e.what();
                    }
                    self->proceed(std::move(next));
                }
            });
            return;
        }
        mOut = std::move(out.reply);
        mWs.text(true);
        mWs.async_write(net::buffer(mOut), [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) {
                self->end(ec.message());
                return;
            }
            self->read();
        });
    }

    void closeWith(const std::string& reason) {
        logLine("session " + std::to_string(mLogic->id()) + " closed by the service: " + reason);
        mClosing = true;
        mWs.async_close(websocket::close_code::policy_error,
                        [self = shared_from_this()](beast::error_code) { self->end("closed"); });
    }

    void end(const std::string& why) {
        if (mLogic && !mEnded) {
            mEnded = true;
            if (!mClosing) {
                logLine("session " + std::to_string(mLogic->id()) + " ended: " + why);
            }
        }
        mTimer.cancel();
    }

    websocket::stream<SslStream> mWs;
    net::steady_timer mTimer;
    ServiceCore& mCore;
    std::string mUrlBase;
    ConnectionLimits::Ticket mTicket;
    beast::flat_buffer mBuffer;
    std::string mOut;
    std::unique_ptr<ClientSession> mLogic;
    bool mClosing = false;
    bool mEnded = false;
};

}  // namespace

void startWebSocket(SslStream stream, http::request<http::empty_body> upgrade, ServiceCore& core,
                    std::string urlBase, ConnectionLimits::Ticket ticket) {
    std::make_shared<WsSession>(std::move(stream), core, std::move(urlBase), std::move(ticket))
        ->run(std::move(upgrade));
}

}  // namespace kxservice
