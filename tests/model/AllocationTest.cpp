// Declared counts far beyond the data must fail before any large allocation, in the model readers and in
// the configuration reader. This test program replaces the global allocation functions to record the
// largest single request.
#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/JsonIo.h"
#include "config/SfmCfgJson.h"
#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/PlySamples.h"
#include "tests/model/StreamHelpers.h"

namespace {
std::atomic<size_t> gLargest{0};
}

void* operator new(size_t n) {
    size_t seen = gLargest.load(std::memory_order_relaxed);
    while (n > seen && !gLargest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

// The reader's buffer and growth steps stay well below this; a trusted count would go far above.
constexpr size_t kBound = size_t(4) << 20;

// Reads the bytes from memory and through a pipe; returns the largest allocation and checks that only
// the reader's own errors escape (and that one does when the read must fail).
template <typename Read>
size_t largestAllocation(const std::string& bytes, Read read, bool mustFail) {
    size_t largest = 0;
    for (bool pipe : {false, true}) {
        std::istringstream whole(bytes);
        kxtest::PipeStream piped(bytes, 64);
        gLargest = 0;
        try {
            read(pipe ? static_cast<std::istream&>(piped) : whole);
            EXPECT_FALSE(mustFail) << "no error";
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.rfind("Failed to read ", 0) == 0 || what.rfind("PLY parser: ", 0) == 0) << what;
        }
        largest = std::max(largest, gLargest.load());
    }
    return largest;
}

TEST(Allocation, HugeSparseModelCountsAllocateLittle) {
    const std::string bytes = kxtest::ksmBytes(kxtest::makeKsmModel({2, 2, 4, 2, 2, "a/"}, 21));
    // Every 8-byte window of the payload becomes a huge number in turn: each count field is among them
    // (a window that is no count may still read).
    for (uint64_t huge : {uint64_t(1) << 36, uint64_t(1) << 62, ~uint64_t(0)}) {
        for (size_t at = 13; at + 8 <= bytes.size(); ++at) {
            std::string patched = bytes;
            for (int i = 0; i < 8; ++i) {
                patched[at + i] = static_cast<char>(huge >> (8 * i));
            }
            ASSERT_LT(largestAllocation(
                          patched, [](std::istream& in) { ksm::loadKsm(in); }, at == 13),
                      kBound)
                << "count at byte " << at;
        }
    }
}

TEST(Allocation, HugePlyCountsAllocateLittle) {
    const kxtest::Cloud cloud = kxtest::makeCloud(3, 5);
    for (kxtest::PlyOut format :
         {kxtest::PlyOut::kAscii, kxtest::PlyOut::kBinaryLittleEndian, kxtest::PlyOut::kBinaryBigEndian}) {
        const std::string bytes = kxtest::cloudBytes(cloud, {format, "float", "uchar", true, 2});
        for (const std::string element : {"vertex 3\n", "face 2\n"}) {
            std::string patched = bytes;
            const size_t at = patched.find("element " + element);
            ASSERT_NE(at, std::string::npos);
            patched.replace(at + 8, element.size(),
                            element.substr(0, element.find(' ')) + " 40000000000000\n");
            EXPECT_LT(largestAllocation(
                          patched, [](std::istream& in) { kxply::PLYData ply(in); }, true),
                      kBound)
                << element;
        }
    }
}

// A few megabytes of "[0,0,0,..." must not make the configuration reader allocate a record per element
// up front.
TEST(Allocation, AnnouncedConfigurationCountsDoNotAllocateAhead) {
    const size_t n = 1 << 20;
    std::string zeros = "0";
    for (size_t i = 1; i < n; ++i) {
        zeros += ",0";
    }
    const struct {
        std::string text;
        size_t elementSize;
    } rows[] = {
        {"{\"cameras\": [], \"images\": [" + zeros + "]}", sizeof(SfmCfg::Image)},
        {"{\"cameras\": [], \"tiePoints\": [" + zeros + "], \"images\": []}",
         sizeof(std::optional<SfmCfg::Location>)},
    };
    for (const auto& row : rows) {
        // Buffering the text itself may take up to twice its size; reading ahead would ask for
        // n * elementSize (20 to 100 times the text) at once.
        const auto read = [](std::istream& in) { EXPECT_THROW(readSfmCfg(in), cereal::Exception); };
        EXPECT_LE(largestAllocation(row.text, read, false), 2 * row.text.size());
        EXPECT_GT(n * row.elementSize, 8 * row.text.size());
    }
}

}  // namespace
