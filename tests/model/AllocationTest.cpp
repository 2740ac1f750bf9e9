// Declared counts far beyond the data must fail before any large allocation. This test program
// replaces the global allocation functions to record the largest single request.
#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <sstream>

#include <cereal/details/helpers.hpp>
#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/KsmWriter.h"
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

// Reads the bytes from memory and through a pipe; returns the largest allocation and checks that the
// read failed with one of the reader's own errors.
template <typename Read>
size_t largestAllocation(const std::string& bytes, Read read) {
    size_t largest = 0;
    for (bool pipe : {false, true}) {
        std::istringstream whole(bytes);
        kxtest::PipeStream piped(bytes, 64);
        gLargest = 0;
        try {
            read(pipe ? static_cast<std::istream&>(piped) : whole);
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(std::string(e.what()).rfind("Failed to read ", 0) == 0 ||
                        std::string(e.what()).rfind("PLY parser: ", 0) == 0)
                << e.what();
        }
        largest = std::max(largest, gLargest.load());
    }
    return largest;
}

TEST(Allocation, HugeSparseModelCountsAllocateLittle) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 4, 2, 2, "a/"}, 21);
    const std::string bytes = kxtest::ksmBytes(model);
    // Every 8-byte window of the payload becomes a huge number in turn: each count field is among them.
    for (uint64_t huge : {uint64_t(1) << 36, uint64_t(1) << 62}) {
        for (size_t at = 13; at + 8 <= bytes.size(); ++at) {
            std::string patched = bytes;
            for (int i = 0; i < 8; ++i) {
                patched[at + i] = static_cast<char>(huge >> (8 * i));
            }
            std::istringstream in(patched);
            gLargest = 0;
            try {
                ksm::loadKsm(in);  // a window that is no count may still read
            } catch (const cereal::Exception&) {
            }
            ASSERT_LT(gLargest.load(), kBound) << "count at byte " << at;
        }
    }
    std::string patched = bytes;
    for (int i = 0; i < 8; ++i) {
        patched[13 + i] = '\xff';  // the pose count
    }
    EXPECT_LT(largestAllocation(patched, [](std::istream& in) { ksm::loadKsm(in); }), kBound);
}

TEST(Allocation, HugePlyCountsAllocateLittle) {
    const kxtest::Cloud cloud = kxtest::makeCloud(3, 5);
    for (kxtest::PlyOut format :
         {kxtest::PlyOut::kAscii, kxtest::PlyOut::kBinaryLittleEndian, kxtest::PlyOut::kBinaryBigEndian}) {
        for (bool extras : {false, true}) {
            kxtest::CloudLayout l;
            l.format = format;
            l.extras = extras;
            l.nbFaces = 2;
            std::string bytes = kxtest::cloudBytes(cloud, l);
            for (const char* element : {"element vertex 3\n", "element face 2\n"}) {
                std::string patched = bytes;
                const size_t at = patched.find(element);
                ASSERT_NE(at, std::string::npos);
                const std::string name =
                    std::string(element).substr(8, std::string(element).find(' ', 8) - 8);
                patched.replace(at, std::string(element).size(), "element " + name + " 40000000000000\n");
                EXPECT_LT(largestAllocation(patched, [](std::istream& in) { kxply::PLYData ply(in); }),
                          kBound)
                    << element;
            }
        }
    }
}

}  // namespace
