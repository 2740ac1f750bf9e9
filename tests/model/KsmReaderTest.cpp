#include <sstream>
#include <variant>

#include <gtest/gtest.h>

#include "model/KsmModel.h"
#include "model/KsmArchive.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/StreamHelpers.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Exception.h"

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

// Reading from a file is the headless run's and the viewer's way.
TEST(KsmReader, ReadsEveryShapeInBothByteOrdersFromStreamAndPipe) {
    const struct {
        const char* name;
        kxtest::KsmShape shape;
    } shapes[] = {
        {"empty", {}},
        {"full", {4, 3, 100, 6, 25}},
        // Kept byte for byte: UTF-8, bytes that are no UTF-8, an embedded NUL.
        {"non-ascii paths", {1, 1, 5, 3, 2, "Bilder/Flug ü 写真/\xff\xfe\0-"s}},
        // Over a megabyte of measurements: the pipe path grows the lists in several steps.
        {"large lists", {1, 1, 70000, 2, 60000}},
    };
    for (const auto& c : shapes) {
        SCOPED_TRACE(c.name);
        const ksm::Model<1u> model = kxtest::makeKsmModel(c.shape, 42);
        for (bool little : {true, false}) {
            SCOPED_TRACE(little ? "little-endian" : "big-endian");
            const std::string bytes = kxtest::ksmBytes(model, little);
            std::istringstream in(bytes + std::string(100, '\xee'));  // bytes after the model are not read
            EXPECT_EQ(std::get<ksm::Model<1u>>(ksm::loadKsm(in)), model);
            kxtest::PipeStream pipe(bytes);
            EXPECT_EQ(std::get<ksm::Model<1u>>(ksm::loadKsm(pipe)), model);
        }
    }
}

TEST(KsmReader, UnknownHeadersGiveTheEmptyAlternative) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({1, 1, 3, 1, 1}, 3);
    const std::string good = kxtest::ksmBytes(model);
    EXPECT_EQ(good.substr(0, 12), std::string("\xdb\xdf\xe6\x86\xfe\x0a\x4c\x97\x01\x00\x00\x00", 12));
    // The good bytes with the header's bytes from `at` replaced.
    const auto patched = [&](size_t at, const std::string& bytes) {
        return good.substr(0, at) + bytes + good.substr(at + bytes.size());
    };
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"eleven bytes", good.substr(0, 11)},
        {"other magic", patched(5, "\x0b")},
        {"version 2", patched(8, "\x02")},
        {"magic big-endian", patched(0, "\x97\x4c\x0a\xfe\x86\xe6\xdf\xdb")},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.bytes);
        EXPECT_EQ(ksm::loadKsm(in).index(), 0u) << c.name;
    }
    kxtest::TempDir dir;
    EXPECT_EQ(ksm::loadKsm(dir / "missing.ksm").index(), 0u);
    EXPECT_EQ(ksm::loadKsm(dir.path()).index(), 0u);  // a directory cannot be read as a file
}

// Every count is checked against the bytes left before the list is read: a cut inside any list must give
// the text that cereal's own reading gives. Huge counts are checked for their memory by the allocation test.
TEST(KsmReader, FileCutAfterTheHeaderFailsLikeCerealAtEveryByte) {
    const ksm::Model<1u> model = kxtest::makeKsmModel({2, 2, 5, 3, 3, "Flüge/"}, 11);
    for (bool little : {true, false}) {
        const std::string bytes = kxtest::ksmBytes(model, little);
        for (size_t cut = 12; cut < bytes.size(); ++cut) {
            const std::string part = bytes.substr(0, cut);
            const std::string expected = cerealError(part);
            ASSERT_NE(expected, "") << cut;
            ASSERT_EQ(ourError(part, false), expected) << "cut at " << cut;
            ASSERT_EQ(ourError(part, true), expected) << "cut at " << cut << " (pipe)";
        }
    }
    // Read from a file, the same text follows the file's name.
    kxtest::TempDir dir;
    const std::string part = kxtest::ksmBytes(model).substr(0, 40);
    kxtest::writeFile(dir / "cut.ksm", part);
    try {
        ksm::loadKsm(dir / "cut.ksm");
        ADD_FAILURE() << "a cut file read";
    } catch (const vexkit::FileError& e) {
        EXPECT_EQ(e.what(), "Cannot read " + (dir / "cut.ksm").u8string() + ": " + cerealError(part));
    }
}

}  // namespace
