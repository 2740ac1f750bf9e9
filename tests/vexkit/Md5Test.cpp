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
}  // namespace

// Random bytes, high ones included, against an independent MD5: at the padding boundaries of a block (55,
// 56 and 64 bytes) and around the pieces the file is read in.
TEST(Md5, EveryFormOfTheDigestMatchesAnIndependentMd5) {
    constexpr size_t kPiece = 256 * 1024;
    kxtest::TempDir dir;
    const std::string file = (dir / "data.bin").string();
    for (size_t size : {size_t{0}, size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}, kPiece - 1,
                        kPiece, kPiece + 1, 3 * kPiece + 17}) {
        SCOPED_TRACE(size);
        std::mt19937 gen(static_cast<unsigned>(size));
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(gen());
        }
        kxtest::writeFile(file, bytes);
        const QByteArray expected =
            QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Md5);
        const vexkit::Md5Digest digest = vexkit::md5sum(file.c_str());
        EXPECT_EQ(str(md5sumHex(file.c_str())), expected.toHex().toStdString());
        EXPECT_EQ(str(encodeHex(digest)), expected.toHex().toStdString());
        EXPECT_EQ(str(encode64(digest)), expected.toBase64().toStdString());
        EXPECT_EQ(str(FileKey(md5sumHex(file.c_str())).base64()), expected.toBase64().toStdString());
    }
    // A file that cannot be opened, or a directory, reads as no bytes; the words read big-endian from the
    // digest bytes.
    const std::string empty = "d41d8cd98f00b204e9800998ecf8427e";
    EXPECT_EQ(str(md5sumHex((dir / "missing.jpg").string().c_str())), empty);
    EXPECT_EQ(str(md5sumHex(dir.path().string().c_str())), empty);
    const vexkit::Md5Digest words = vexkit::md5sum(dir.path().string().c_str());
    EXPECT_EQ(words[0], 0xd41d8cd9u);
    EXPECT_EQ(words[3], 0xecf8427eu);
}
