#pragma once
// Where the local service listens and keeps its data unless told otherwise. The service and the client
// both read these, so that a client started with no options finds a service started with none.
#include <cstdint>
#include <filesystem>
#include <string>

namespace service_defaults {

constexpr const char* kHost = "127.0.0.1";
constexpr uint16_t kPort = 47443;
// The WebSocket path of the client session.
constexpr const char* kClientPath = "/client";
// The CA certificate that a client must trust, inside the data directory.
constexpr const char* kCaFileName = "ca.pem";

// "127.0.0.1:47443"
std::string address();
// ${XDG_DATA_HOME:-$HOME/.local/share}/kestrix-service (an empty or relative XDG_DATA_HOME is ignored).
std::filesystem::path dataDir();
// dataDir() / "ca.pem"
std::filesystem::path caFile();

}  // namespace service_defaults
