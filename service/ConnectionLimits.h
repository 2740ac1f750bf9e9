#pragma once
// The connections the service holds at once, in all and per peer address: a connection is served only
// while it holds a ticket, and gives it back when it ends.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kxservice {

class ConnectionLimits : public std::enable_shared_from_this<ConnectionLimits> {
public:
    using Ticket = std::shared_ptr<void>;

    ConnectionLimits(uint32_t maxTotal, uint32_t maxPerAddress);

    // A ticket for one connection from that address; null when a cap is reached.
    Ticket admit(const std::string& address);
    uint32_t nbOpen() const;

private:
    void release(const std::string& address);

    const uint32_t mMaxTotal;
    const uint32_t mMaxPerAddress;
    mutable std::mutex mMutex;
    uint32_t mNbOpen = 0;
    std::unordered_map<std::string, uint32_t> mPerAddress;
};

}  // namespace kxservice
