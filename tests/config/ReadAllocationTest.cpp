// The reader's memory must follow what it has actually read, not the element counts a text announces:
// a few megabytes of "[0,0,0,..." must not make it allocate a large record per element up front.
// This program replaces the global operator new to see the largest single request.
#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "config/SfmCfgJson.h"

namespace {
std::atomic<std::size_t> gLargest{0};
}  // namespace

void* operator new(std::size_t size) {
    std::size_t seen = gLargest.load(std::memory_order_relaxed);
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// The largest single allocation while reading text, which must fail.
std::size_t largestAllocationReading(const std::string& text) {
    std::istringstream is(text);
    gLargest = 0;
    EXPECT_THROW(readSfmCfg(is), cereal::Exception);
    return gLargest;
}

TEST(SfmCfgReadMemory, AnnouncedCountsDoNotAllocateAhead) {
    const std::size_t n = 1 << 20;
    std::string zeros = "0";
    for (std::size_t i = 1; i < n; ++i) {
        zeros += ",0";
    }
    const struct {
        std::string text;
        std::size_t elementSize;
    } rows[] = {
        {"{\"cameras\": [], \"images\": [" + zeros + "]}", sizeof(SfmCfg::Image)},
        {"{\"cameras\": [" + zeros + "], \"images\": []}", sizeof(SfmCfg::Camera)},
        {"{\"cameras\": [], \"tiePoints\": [" + zeros + "], \"images\": []}",
         sizeof(std::optional<SfmCfg::Location>)},
    };
    for (const auto& row : rows) {
        // Buffering the text itself may take up to twice its size; reading ahead would ask for
        // n * elementSize (20 to 100 times the text) at once.
        EXPECT_LE(largestAllocationReading(row.text), 2 * row.text.size());
        EXPECT_GT(n * row.elementSize, 8 * row.text.size());
    }
}

}  // namespace
