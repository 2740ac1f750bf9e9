#include "service/ConnectionLimits.h"

namespace kxservice {

ConnectionLimits::ConnectionLimits(uint32_t maxTotal, uint32_t maxPerAddress)
    : mMaxTotal(maxTotal), mMaxPerAddress(maxPerAddress) {}

ConnectionLimits::Ticket ConnectionLimits::admit(const std::string& address) {
    {
        const std::lock_guard<std::mutex> lock(mMutex);
        uint32_t& mine = mPerAddress[address];
        if (mNbOpen >= mMaxTotal || mine >= mMaxPerAddress) {
            if (mine == 0) {
                mPerAddress.erase(address);
            }
            return nullptr;
        }
        ++mine;
        ++mNbOpen;
    }
    // The ticket keeps the limits alive, so a connection may outlast the server that accepted it.
    auto self = shared_from_this();
    return Ticket(static_cast<void*>(this), [self, address](void*) { self->release(address); });
}

void ConnectionLimits::release(const std::string& address) {
    const std::lock_guard<std::mutex> lock(mMutex);
    --mNbOpen;
    const auto it = mPerAddress.find(address);
    if (it != mPerAddress.end() && --it->second == 0) {
        mPerAddress.erase(it);
    }
}

uint32_t ConnectionLimits::nbOpen() const {
    const std::lock_guard<std::mutex> lock(mMutex);
    return mNbOpen;
}

}  // namespace kxservice
