#pragma once
// Private to the Beast translation units of the service.
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <string>

#include "service/ConnectionLimits.h"

namespace kxservice {

class ServiceCore;

namespace beast = boost::beast;
namespace http = boost::beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using SslStream = beast::ssl_stream<beast::tcp_stream>;

// Takes over a TLS connection whose request asked for the WebSocket upgrade at the client path.
// urlBase is "https://HOST:PORT" for the capability URLs handed out in the session; the ticket is held
// while the connection lives.
void startWebSocket(SslStream stream, http::request<http::empty_body> upgrade, ServiceCore& core,
                    std::string urlBase, ConnectionLimits::Ticket ticket);

}  // namespace kxservice
