#pragma once
// Buffered reading of a stream for the binary and text readers of this folder: bulk copies straight
// into their destination, contiguous views for parsing, and the number of bytes that remain (where
// the stream can tell) so that declared counts can be checked before anything is allocated.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string_view>
#include <vector>

namespace kxmodel {

class ByteSource {
public:
    explicit ByteSource(std::istream& in, size_t bufferSize = size_t(1) << 18);
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Bytes left before the end of the stream, when the stream can be measured.
    std::optional<uint64_t> remaining() const;

    // Copies up to n bytes to dst; fewer only at the end of the stream. Returns the number copied.
    size_t read(void* dst, size_t n);
    // Skips up to n bytes; fewer only at the end of the stream. Returns the number skipped.
    uint64_t skip(uint64_t n);

    // A contiguous view of at least `want` bytes where that many remain (all that remain otherwise).
    // The view stays valid until the next call other than consume().
    std::string_view peek(size_t want);
    void consume(size_t n) { mPos += n; }
    // The view of buffered bytes without reading more (may be empty).
    std::string_view buffered() const { return {mData.data() + mPos, mEnd - mPos}; }
    // Makes more bytes available after the buffered ones; false at the end of the stream.
    bool fill();

private:
    std::streambuf* mBuf;
    std::vector<char> mData;
    size_t mPos = 0;
    size_t mEnd = 0;
    std::optional<uint64_t> mUnbuffered;  // bytes of the stream not yet in mData, where known
    bool mEof = false;

    size_t pull(char* dst, size_t n);
};

}  // namespace kxmodel
