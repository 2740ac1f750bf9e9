#include "remote/TransferUrl.h"

namespace remote {

bool isTransferUrl(const QUrl& url) {
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

std::string redactedUrl(const std::string& url) {
    const size_t authority = url.find("://");
    const size_t pathStart = url.find('/', authority == std::string::npos ? 0 : authority + 3);
    if (pathStart == std::string::npos) {
        return url;
    }
    const size_t query = url.find_first_of("?#", pathStart);
    const size_t lastSlash = url.rfind('/', query == std::string::npos ? std::string::npos : query - 1);
    return url.substr(0, lastSlash + 1) + "\u2026";
}

}  // namespace remote
