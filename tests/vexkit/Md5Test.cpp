#include <random>
#include <string>
#include <unordered_set>

#include <QByteArray>
#include <QCryptographicHash>
#include <boost/algorithm/hex.hpp>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/FileKey.h"
#include "vexkit/Md5.h"

namespace {
constexpr size_t kPiece = 256 * 1024;

std::string str(const std::array<char, 32>& a) {
    return std::string(a.data(), a.size());
}
std::string str(const std::array<char, 24>& a) {
    return std::string(a.data(), a.size());
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(gen());
    }
    return bytes;
}

// Digest of the whole content at once by an independent implementation.
QByteArray referenceMd5(const std::string& bytes) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5);
}

std::array<char, 32> toKeyText(const std::string& text) {
    std::array<char, 32> key{};
    std::copy_n(text.begin(), std::min<size_t>(32, text.size()), key.begin());
    return key;
}
}  // namespace

TEST(Md5, Rfc1321SuiteThroughFiles) {
    const struct {
        const char* text;
        const char* digest;
    } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    kxtest::TempDir dir;
    for (const auto& row : suite) {
        SCOPED_TRACE(row.text);
        const std::string file = (dir / "input.txt").string();
        kxtest::writeFile(file, row.text);
        EXPECT_EQ(str(md5sumHex(file.c_str())), row.digest);
        EXPECT_EQ(str(encodeHex(vexkit::md5sum(file.c_str()))), row.digest);
    }
}

TEST(Md5, DigestWordsReadBigEndianFromTheDigestBytes) {
    kxtest::TempDir dir;
    kxtest::writeFile(dir / "abc", "abc");
    const vexkit::Md5Digest words = vexkit::md5sum((dir / "abc").string().c_str());
    EXPECT_EQ(words[0], 0x90015098u);
    EXPECT_EQ(words[3], 0x28e17f72u);
}

TEST(Md5, FilesAroundThePieceSizeHashLikeTheWholeContent) {
    kxtest::TempDir dir;
    const size_t sizes[] = {1, 63, 64, kPiece - 1, kPiece, kPiece + 1, 2 * kPiece, 3 * kPiece + 17};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string bytes = randomBytes(size, static_cast<unsigned>(size));
        const std::string file = (dir / "data.bin").string();
        kxtest::writeFile(file, bytes);
        EXPECT_EQ(str(md5sumHex(file.c_str())), referenceMd5(bytes).toHex().toStdString());
    }
}

TEST(Md5, UnopenableFilesHashAsEmpty) {
    kxtest::TempDir dir;
    const std::string empty = referenceMd5("").toHex().toStdString();
    EXPECT_EQ(str(md5sumHex((dir / "missing.jpg").string().c_str())), empty);
    EXPECT_EQ(str(md5sumHex(dir.path().string().c_str())), empty);  // a directory reads no bytes
}

TEST(Md5, Base64MatchesAnIndependentEncoder) {
    kxtest::TempDir dir;
    for (unsigned seed = 0; seed < 64; ++seed) {
        const std::string bytes = randomBytes(seed * 37, seed);
        const std::string file = (dir / "data.bin").string();
        kxtest::writeFile(file, bytes);
        const QByteArray expected = referenceMd5(bytes).toBase64();
        const vexkit::Md5Digest digest = vexkit::md5sum(file.c_str());
        EXPECT_EQ(str(encode64(digest)), expected.toStdString()) << seed;
        EXPECT_EQ(str(hex2base64(encodeHex(digest))), expected.toStdString()) << seed;
        EXPECT_EQ(str(FileKey(md5sumHex(file.c_str())).base64()), expected.toStdString()) << seed;
    }
    // Content-MD5 of no bytes.
    EXPECT_EQ(str(hex2base64(toKeyText("d41d8cd98f00b204e9800998ecf8427e"))), "1B2M2Y8AsgTpgAmY7PhCfg==");
}

TEST(Md5, Base64CoversEveryDigitOfTheAlphabet) {
    // Digests made of chosen bytes reach the first and last letters and both symbols.
    const struct {
        const char* hex;
    } rows[] = {{"00000000000000000000000000000000"},
                {"ffffffffffffffffffffffffffffffff"},
                {"fbefbefbefbefbefbefbefbefbefbefb"},
                {"0123456789abcdef0123456789abcdef"}};
    for (const auto& row : rows) {
        const QByteArray expected = QByteArray::fromHex(row.hex).toBase64();
        EXPECT_EQ(str(hex2base64(toKeyText(row.hex))), expected.toStdString()) << row.hex;
    }
}

TEST(Md5, Hex2Base64AcceptsEitherCaseAndRejectsNonHex) {
    const std::string lower = "9e107d9d372bb6826bd81d3542a419d6";
    std::string upper = lower;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    std::string mixed = lower;
    for (size_t i = 0; i < mixed.size(); i += 2) {
        mixed[i] = upper[i];
    }
    EXPECT_EQ(str(hex2base64(toKeyText(upper))), str(hex2base64(toKeyText(lower))));
    EXPECT_EQ(str(hex2base64(toKeyText(mixed))), str(hex2base64(toKeyText(lower))));

    for (size_t pos : {0, 7, 31}) {
        for (char bad : {'g', 'G', ' ', '\0', '-'}) {
            std::string text = lower;
            text[pos] = bad;
            EXPECT_THROW(hex2base64(toKeyText(text)), boost::algorithm::non_hex_input)
                << "position " << pos << " char " << int(bad);
        }
    }
    // A key read short leaves zero characters, which are not digits.
    EXPECT_THROW(FileKey(toKeyText("9e107d9d")).base64(), boost::algorithm::non_hex_input);
}

TEST(FileKey, EqualityAndHashFollowAllCharacters) {
    const FileKey a(toKeyText("0123456789abcdef0123456789abcdef"));
    const FileKey same(toKeyText("0123456789abcdef0123456789abcdef"));
    const FileKey last(toKeyText("0123456789abcdef0123456789abcdee"));
    const FileKey first(toKeyText("1123456789abcdef0123456789abcdef"));
    EXPECT_TRUE(a == same);
    EXPECT_FALSE(a != same);
    EXPECT_FALSE(a == last);
    EXPECT_FALSE(a == first);
    EXPECT_EQ(std::hash<FileKey>{}(a), std::hash<std::string_view>{}("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(a.str(), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(FileKey().str(), std::string(32, '\0'));

    std::unordered_set<FileKey> keys{a, same, last, first};
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys.count(FileKey(toKeyText("0123456789abcdef0123456789abcdee"))), 1u);
}
