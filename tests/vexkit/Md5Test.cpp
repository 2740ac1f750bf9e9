#include <random>
#include <string>

#include <QByteArray>
#include <QCryptographicHash>
#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"
#include "vexkit/FileKey.h"
#include "vexkit/Md5.h"

namespace {
template <size_t N>
std::string str(const std::array<char, N>& a) {
    return std::string(a.data(), a.size());
}

// Base64 of the bytes that `hex` spells, by an independent encoder.
std::string base64OfHex(const std::string& hex) {
    return QByteArray::fromHex(QByteArray::fromStdString(hex)).toBase64().toStdString();
}

// Checks every form of the digest of `path` against the expected lowercase hexadecimal.
void expectDigest(const std::string& path, const std::string& hex) {
    const vexkit::Md5Digest digest = vexkit::md5sum(path.c_str());
    EXPECT_EQ(str(md5sumHex(path.c_str())), hex);
    EXPECT_EQ(str(encodeHex(digest)), hex);
    EXPECT_EQ(str(encode64(digest)), base64OfHex(hex));
    EXPECT_EQ(str(FileKey(md5sumHex(path.c_str())).base64()), base64OfHex(hex));
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
    const std::string file = (dir / "input.txt").string();
    for (const auto& row : suite) {
        SCOPED_TRACE(row.text);
        kxtest::writeFile(file, row.text);
        expectDigest(file, row.digest);
    }
    // The words read big-endian from the digest bytes (the file holds the last text).
    const vexkit::Md5Digest words = vexkit::md5sum(file.c_str());
    EXPECT_EQ(words[0], 0x57edf4a2u);
    EXPECT_EQ(words[3], 0x2107b67au);
    // A file that cannot be opened, or a directory, reads as no bytes.
    EXPECT_EQ(str(md5sumHex((dir / "missing.jpg").string().c_str())), suite[0].digest);
    EXPECT_EQ(str(md5sumHex(dir.path().string().c_str())), suite[0].digest);
}

TEST(Md5, FilesAroundThePieceSizeHashLikeTheWholeContent) {
    constexpr size_t kPiece = 256 * 1024;
    kxtest::TempDir dir;
    const std::string file = (dir / "data.bin").string();
    for (size_t size : {size_t{63}, kPiece - 1, kPiece, kPiece + 1, 3 * kPiece + 17}) {
        SCOPED_TRACE(size);
        std::mt19937 gen(static_cast<unsigned>(size));
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(gen());
        }
        kxtest::writeFile(file, bytes);
        expectDigest(file, QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5)
                               .toHex()
                               .toStdString());
    }
}
