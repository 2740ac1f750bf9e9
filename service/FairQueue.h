#pragma once
// Items queued per owner and taken in turns: one item of each owner that has any, round and round. An
// owner that comes with its first item waits behind the owners already waiting, never behind a second
// item of the owner served last, so one owner's long queue delays another's first item by at most the
// one just taken. Not thread-safe: the owner of the queue locks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

namespace kxservice {

template <class Item>
class FairQueue {
public:
    void push(uint64_t owner, Item item) {
        auto [it, added] = mItems.try_emplace(owner);
        if (added) {
            mTurns.push_back(owner);
        }
        it->second.push_back(std::move(item));
        ++mNbItems;
    }

    std::optional<Item> pop() {
        if (mFrontServed) {
            // The owner served last goes behind everyone who waited meanwhile.
            mFrontServed = false;
            const uint64_t owner = mTurns.front();
            mTurns.pop_front();
            if (mItems[owner].empty()) {
                mItems.erase(owner);
            } else {
                mTurns.push_back(owner);
            }
        }
        if (mTurns.empty()) {
            return std::nullopt;
        }
        std::deque<Item>& queue = mItems[mTurns.front()];
        Item item = std::move(queue.front());
        queue.pop_front();
        --mNbItems;
        mFrontServed = true;
        return item;
    }

    // Takes the item out of its owner's queue; false when it was not queued.
    bool remove(uint64_t owner, const Item& item) {
        const auto it = mItems.find(owner);
        if (it == mItems.end()) {
            return false;
        }
        const auto pos = std::find(it->second.begin(), it->second.end(), item);
        if (pos == it->second.end()) {
            return false;
        }
        it->second.erase(pos);
        --mNbItems;
        const bool servedFront = mFrontServed && mTurns.front() == owner;
        if (it->second.empty() && !servedFront) {
            mItems.erase(it);
            mTurns.erase(std::find(mTurns.begin(), mTurns.end(), owner));
        }
        return true;
    }

    void clear() {
        mTurns.clear();
        mItems.clear();
        mNbItems = 0;
        mFrontServed = false;
    }
    bool empty() const { return mNbItems == 0; }

private:
    std::deque<uint64_t> mTurns;  // owners with items (and the one served last, at the front)
    std::unordered_map<uint64_t, std::deque<Item>> mItems;
    size_t mNbItems = 0;
    bool mFrontServed = false;
};

}  // namespace kxservice
