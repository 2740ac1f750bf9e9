#pragma once
// The addresses the service hands out for transfers: which ones the client follows, and how they appear
// in debug lines (their last path segment is a capability and stays out of logs).
#include <string>

#include <QUrl>

namespace remote {

// Only TLS addresses with a host: a plain address would send photographs and results in the clear, any
// other scheme could reach local resources. The host may differ from the service's own.
bool isTransferUrl(const QUrl& url);

// The address with its last path segment and any query replaced by "…".
std::string redactedUrl(const std::string& url);

}  // namespace remote
