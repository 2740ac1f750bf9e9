#include <limits>
#include <sstream>
#include <variant>

#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "model/KsmArchive.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/StreamHelpers.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::string_literals;

// The archive's error text, or "" when the read succeeded.
template <typename F>
std::string errorOf(F&& read) {
    try {
        read();
    } catch (const cereal::Exception& e) {
        return e.what();
    }
    return {};
}

std::string ourError(const std::string& bytes, bool pipe) {
    std::istringstream whole(bytes);
    kxtest::PipeStream piped(bytes, 5);
    return errorOf([&] { ksm::loadKsm(pipe ? static_cast<std::istream&>(piped) : whole); });
}

// What cereal's own portable archive says about the payload after the 12-byte header.
std::string cerealError(const std::string& bytes) {
    std::istringstream in(bytes.substr(12));
    ksm::Model<1u> m;
    return errorOf([&] { cereal::PortableBinaryInputArchive{in}(m); });
}

ksm::Model<1u> modelOf(const KestrixSparseModel& result) {
    EXPECT_EQ(result.index(), 1u);
    return std::get<ksm::Model<1u>>(result);
}

void putLe64(std::string& bytes, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        bytes[at + i] = static_cast<char>(v >> (8 * i));
    }
}

TEST(KsmReader, ReadsEveryShapeInBothByteOrdersFromFileStreamAndPipe) {
    const struct {
        const char* name;
        kxtest::KsmShape shape;
    } shapes[] = {
        {"empty", {}},
        {"no captures", {3, 2, 40, 0, 0}},
        {"no points", {2, 1, 0, 3, 0}},
        {"no poses", {0, 2, 10, 2, 4}},
        {"full", {4, 3, 100, 6, 25}},
        // Kept byte for byte: UTF-8, bytes that are no UTF-8, an embedded NUL.
        {"non-ascii paths", {1, 1, 5, 3, 2, "Bilder/Flug ü 写真/\xff\xfe\0-"s}},
        // Over a megabyte of measurements: the pipe path grows the lists in several steps.
        {"large lists", {1, 1, 70000, 2, 60000}},
    };
    kxtest::TempDir dir;
    for (const auto& c : shapes) {
        SCOPED_TRACE(c.name);
        const ksm::Model<1u> model = kxtest::makeKsmModel(c.shape, 42);
        for (bool little : {true, false}) {
            SCOPED_TRACE(little ? "little-endian" : "big-endian");
            const std::string bytes = kxtest::ksmBytes(model, {ksm::kMagic, 1, little});
            std::istringstream in(bytes + std::string(100, '\xee'));  // bytes after the model are not read
            EXPECT_EQ(modelOf(ksm::loadKsm(in)), model);
            kxtest::PipeStream pipe(bytes);
            EXPECT_EQ(modelOf(ksm::loadKsm(pipe)), model);
            kxtest::writeFile(dir / "m.ksm", bytes);
            EXPECT_EQ(modelOf(ksm::loadKsm(dir / "m.ksm")), model);
        }
    }
}

TEST(KsmReader, UnknownHeadersGiveTheEmptyAlternative) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 3, 1, 1}, 3);
    const std::string good = kxtest::ksmBytes(model);
    EXPECT_EQ(good.substr(0, 12), std::string("\xdb\xdf\xe6\x86\xfe\x0a\x4c\x97\x01\x00\x00\x00", 12));
    std::string flipped = good;
    flipped[5] ^= 0x01;
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"seven bytes", good.substr(0, 7)},
        {"magic only", good.substr(0, 8)},
        {"eleven bytes", good.substr(0, 11)},
        {"other magic", flipped},
        {"version 0", kxtest::ksmBytes(model, {ksm::kMagic, 0, true})},
        {"version 2", kxtest::ksmBytes(model, {ksm::kMagic, 2, true})},
        {"version 1 big-endian", kxtest::ksmBytes(model, {ksm::kMagic, 0x01000000u, true})},
        {"magic big-endian", kxtest::ksmBytes(model, {__builtin_bswap64(ksm::kMagic), 1, true})},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.bytes);
        EXPECT_EQ(ksm::loadKsm(in).index(), 0u) << c.name;
    }
    kxtest::TempDir dir;
    EXPECT_EQ(ksm::loadKsm(dir / "missing.ksm").index(), 0u);
    EXPECT_EQ(ksm::loadKsm(dir.path()).index(), 0u);  // a directory cannot be read as a file
}

TEST(KsmReader, FileCutAfterTheHeaderFailsLikeCerealAtEveryByte) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 5, 3, 3, "Flüge/"}, 11);
    for (bool little : {true, false}) {
        const std::string bytes = kxtest::ksmBytes(model, {ksm::kMagic, 1, little});
        EXPECT_EQ(ourError(bytes.substr(0, 12), false), "Failed to read 1 bytes from input stream! Read 0");
        for (size_t cut = 12; cut < bytes.size(); ++cut) {
            const std::string part = bytes.substr(0, cut);
            const std::string expected = cerealError(part);
            ASSERT_NE(expected, "") << cut;
            ASSERT_EQ(ourError(part, false), expected) << "cut at " << cut;
            ASSERT_EQ(ourError(part, true), expected) << "cut at " << cut << " (pipe)";
        }
        EXPECT_EQ(ourError(bytes, false), "");
    }
}

TEST(KsmReader, EndiannessFlagIsReadAsCerealDoes) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 1, 3, 1, 2}, 9);
    std::string bytes = kxtest::ksmBytes(model, {ksm::kMagic, 1, false});
    bytes[12] = 2;  // not 1: the numbers are taken as big-endian
    std::istringstream in(bytes), payload(bytes.substr(12));
    ksm::Model<1u> viaCereal;
    cereal::PortableBinaryInputArchive archive(payload);
    archive(viaCereal);
    EXPECT_EQ(viaCereal, model);
    EXPECT_EQ(modelOf(ksm::loadKsm(in)), viaCereal);
}

TEST(KsmReader, CountsBeyondTheRemainingBytesFailAsShortReads) {
    const ksm::Model<1u> m = kxtest::makeKsmModel({2, 2, 6, 2, 3, "img/"}, 13);
    const std::string bytes = kxtest::ksmBytes(m);
    // Byte offsets of each count field of this little-endian file.
    const size_t poses = 13, cameras = poses + 8 + 40 * 2, sizes = cameras + 8 + 36 * 2,
                 points = sizes + 8 + 8 * 2, colors = points + 8 + 12 * 6, captures = colors + 8 + 3 * 6;
    const size_t firstPath = captures + 8 + 16 + 12 * 3;
    const size_t lastMeasurements = firstPath + 8 + m.captures[0].imagePath.size() + 16 + 8;
    const size_t lastPath = lastMeasurements + 8 + 12 * 3;
    const struct {
        const char* name;
        size_t offset;
        size_t elementSize;  // 0: a variable-size capture
    } lists[] = {{"poses", poses, 40},
                 {"cameras", cameras, 36},
                 {"sizes", sizes, 8},
                 {"points", points, 12},
                 {"colors", colors, 3},
                 {"captures", captures, 0},
                 {"measurements", lastMeasurements, 12}};
    for (const auto& l : lists) {
        SCOPED_TRACE(l.name);
        const size_t rest = bytes.size() - l.offset - 8;
        // A count just past the data: cereal reads on until the data ends, which gives the reference text.
        std::string near = bytes;
        putLe64(near, l.offset, l.elementSize ? rest / l.elementSize + 1 : m.captures.size() + 1);
        const std::string expected = cerealError(near);
        ASSERT_NE(expected, "");
        EXPECT_EQ(ourError(near, false), expected);
        for (uint64_t huge : {uint64_t(1) << 32, uint64_t(1) << 61, std::numeric_limits<uint64_t>::max()}) {
            std::string patched = bytes;
            putLe64(patched, l.offset, huge);
            EXPECT_EQ(ourError(patched, false), expected) << huge;
            EXPECT_EQ(ourError(patched, true), expected) << huge << " (pipe)";
        }
    }
    const size_t pathRest = bytes.size() - lastPath - 8;
    for (uint64_t huge : {uint64_t(pathRest) + 1, uint64_t(1) << 40, std::numeric_limits<uint64_t>::max()}) {
        std::string patched = bytes;
        putLe64(patched, lastPath, huge);
        const std::string expected = "Failed to read " + std::to_string(huge) +
                                     " bytes from input stream! Read " + std::to_string(pathRest);
        EXPECT_EQ(ourError(patched, false), expected);
        EXPECT_EQ(ourError(patched, true), expected);
    }
}

}  // namespace
