#include <limits>
#include <sstream>
#include <variant>

#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "tests/model/KsmCereal.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/KsmWriter.h"
#include "tests/model/StreamHelpers.h"
#include "tests/support/TestSupport.h"

namespace {

using kxtest::KsmShape;

// The error text of a read, or "" when it succeeded.
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
    return errorOf([&] {
        if (pipe) {
            kxtest::PipeStream in(bytes, 5);
            ksm::loadKsm(in);
        } else {
            std::istringstream in(bytes);
            ksm::loadKsm(in);
        }
    });
}

// What cereal's own portable archive says about the payload after the 12-byte header.
std::string cerealError(const std::string& bytes) {
    return errorOf([&] {
        std::istringstream in(bytes.substr(12));
        cereal::PortableBinaryInputArchive ar(in);
        ksm::Model<1u> m;
        ar(m);
    });
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

struct ShapeCase {
    const char* name;
    KsmShape shape;
};

const ShapeCase kShapes[] = {
    {"empty", {}},
    {"no captures", {3, 2, 40, 0, 0}},
    {"no points", {2, 1, 0, 3, 0}},
    {"no poses", {0, 2, 10, 2, 4}},
    {"full", {4, 3, 100, 6, 25}},
    {"non-ascii paths", {1, 1, 5, 3, 2, "Bilder/Flug ü 写真/\xff\xfe-"}},
};

TEST(KsmReader, ReadsEveryShapeInBothByteOrdersFromFileStreamAndPipe) {
    kxtest::TempDir dir;
    for (const ShapeCase& c : kShapes) {
        SCOPED_TRACE(c.name);
        const ksm::Model<1u> model = kxtest::makeKsmModel(c.shape, 42);
        for (bool little : {true, false}) {
            SCOPED_TRACE(little ? "little-endian" : "big-endian");
            const std::string bytes = kxtest::ksmBytes(model, {ksm::kMagic, 1, little});
            std::istringstream in(bytes);
            EXPECT_EQ(modelOf(ksm::loadKsm(in)), model);
            kxtest::PipeStream pipe(bytes);
            EXPECT_EQ(modelOf(ksm::loadKsm(pipe)), model);
            kxtest::writeFile(dir / "m.ksm", bytes);
            EXPECT_EQ(modelOf(ksm::loadKsm(dir / "m.ksm")), model);
        }
    }
}

TEST(KsmReader, NonAsciiImagePathsKeepTheirBytes) {
    ksm::Model<1u> model;
    model.captures.resize(3);
    model.captures[0].imagePath = "C:/Vols/Été 2023/Île_001.JPG";
    model.captures[1].imagePath = std::string("raw\0zero\xc3\x28", 11);  // embedded NUL, invalid UTF-8
    model.captures[2].imagePath = "写真/ドローン.heic";
    for (bool little : {true, false}) {
        std::istringstream in(kxtest::ksmBytes(model, {ksm::kMagic, 1, little}));
        const ksm::Model<1u> read = modelOf(ksm::loadKsm(in));
        ASSERT_EQ(read.captures.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(read.captures[i].imagePath, model.captures[i].imagePath);
        }
        EXPECT_EQ(QString::fromStdString(read.captures[2].imagePath),
                  QString::fromUtf8("写真/ドローン.heic"));
    }
}

TEST(KsmReader, PayloadIsCerealsPortableBinaryArchive) {
    ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 7, 3, 4, "p/ß-"}, 7);
    for (bool little : {true, false}) {
        std::ostringstream os;
        {
            using Options = cereal::PortableBinaryOutputArchive::Options;
            cereal::PortableBinaryOutputArchive ar(
                os, Options(little ? Options::Endianness::little : Options::Endianness::big));
            ar(model);
        }
        const std::string ours = kxtest::ksmBytes(model, {ksm::kMagic, 1, little});
        EXPECT_EQ(ours.substr(12), os.str()) << (little ? "little" : "big");
        EXPECT_EQ(ours.substr(0, 12), std::string("\xdb\xdf\xe6\x86\xfe\x0a\x4c\x97\x01\x00\x00\x00", 12));
    }
}

TEST(KsmReader, UnknownHeadersGiveTheEmptyAlternative) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 3, 1, 1}, 3);
    const std::string good = kxtest::ksmBytes(model);
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
        const KestrixSparseModel result = ksm::loadKsm(in);
        EXPECT_EQ(result.index(), 0u) << c.name;
        EXPECT_THROW(std::get<ksm::Model<1u>>(result), std::bad_variant_access) << c.name;
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

TEST(KsmReader, BytesAfterTheModelAreNotRead) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 4, 2, 2}, 5);
    std::istringstream in(kxtest::ksmBytes(model) + std::string(100, '\xee'));
    EXPECT_EQ(modelOf(ksm::loadKsm(in)), model);
}

TEST(KsmReader, EndiannessFlagIsReadAsCerealDoes) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 1, 3, 1, 2}, 9);
    std::string bytes = kxtest::ksmBytes(model, {ksm::kMagic, 1, false});
    bytes[12] = 2;  // not 1: the numbers are taken as big-endian
    std::istringstream in(bytes);
    ksm::Model<1u> viaCereal;
    std::istringstream payload(bytes.substr(12));
    cereal::PortableBinaryInputArchive archive(payload);
    archive(viaCereal);
    EXPECT_EQ(modelOf(ksm::loadKsm(in)), viaCereal);
    EXPECT_EQ(viaCereal, model);
}

// Byte offsets of each count field of a little-endian file of this model.
struct CountOffsets {
    size_t poses, cameras, sizes, points, colors, captures, lastMeasurements, lastPath;
};
CountOffsets countOffsetsOf(const ksm::Model<1u>& m) {
    CountOffsets o{};
    o.poses = 13;
    o.cameras = o.poses + 8 + 40 * m.poses.size();
    o.sizes = o.cameras + 8 + 36 * m.cameras.size();
    o.points = o.sizes + 8 + 8 * m.cameraImageSizes.size();
    o.colors = o.points + 8 + 12 * m.points.size();
    o.captures = o.colors + 8 + 3 * m.colors.size();
    size_t at = o.captures + 8;
    for (const ksm::Capture& c : m.captures) {
        o.lastMeasurements = at + 8;
        o.lastPath = o.lastMeasurements + 8 + 12 * c.measurements.size();
        at = o.lastPath + 8 + c.imagePath.size() + 16;
    }
    return o;
}

TEST(KsmReader, CountsBeyondTheRemainingBytesFailAsShortReads) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 6, 2, 3, "img/"}, 13);
    const std::string bytes = kxtest::ksmBytes(model);
    const CountOffsets o = countOffsetsOf(model);
    const struct {
        const char* name;
        size_t offset;
        size_t elementSize;  // 0: a variable-size capture
    } lists[] = {{"poses", o.poses, 40},
                 {"cameras", o.cameras, 36},
                 {"sizes", o.sizes, 8},
                 {"points", o.points, 12},
                 {"colors", o.colors, 3},
                 {"captures", o.captures, 0},
                 {"measurements", o.lastMeasurements, 12}};
    for (const auto& l : lists) {
        SCOPED_TRACE(l.name);
        const size_t rest = bytes.size() - l.offset - 8;
        // A count just past the data: cereal reads on until the data ends, which gives the reference text.
        std::string near = bytes;
        putLe64(near, l.offset, l.elementSize ? rest / l.elementSize + 1 : model.captures.size() + 1);
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
    const size_t pathRest = bytes.size() - o.lastPath - 8;
    for (uint64_t huge : {uint64_t(pathRest) + 1, uint64_t(1) << 40, std::numeric_limits<uint64_t>::max()}) {
        std::string patched = bytes;
        putLe64(patched, o.lastPath, huge);
        const std::string expected = "Failed to read " + std::to_string(huge) +
                                     " bytes from input stream! Read " + std::to_string(pathRest);
        EXPECT_EQ(ourError(patched, false), expected);
        EXPECT_EQ(ourError(patched, true), expected);
    }
}

TEST(KsmReader, LargeListsThroughAPipeGrowInSteps) {
    // Over a megabyte of measurements: the pipe path reads them in several steps.
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 70000, 2, 60000}, 17);
    for (bool little : {true, false}) {
        kxtest::PipeStream pipe(kxtest::ksmBytes(model, {ksm::kMagic, 1, little}), 4096);
        EXPECT_EQ(modelOf(ksm::loadKsm(pipe)), model);
    }
}

}  // namespace
