#pragma once
// Streams for reader tests: one that cannot seek (so its length is unknown) and hands out its bytes in
// small pieces, as a pipe would.
#include <algorithm>
#include <istream>
#include <streambuf>
#include <string>

namespace kxtest {

class PipeBuf : public std::streambuf {
public:
    explicit PipeBuf(std::string bytes, size_t piece = 7) : mBytes(std::move(bytes)), mPiece(piece) {}

protected:
    int_type underflow() override {
        if (mNext >= mBytes.size()) {
            return traits_type::eof();
        }
        char* p = mBytes.data() + mNext;
        const size_t n = std::min(mPiece, mBytes.size() - mNext);
        setg(p, p, p + n);
        mNext += n;
        return traits_type::to_int_type(*p);
    }

private:
    std::string mBytes;
    size_t mPiece;
    size_t mNext = 0;
};

// An input stream over PipeBuf.
class PipeStream : public std::istream {
public:
    explicit PipeStream(std::string bytes, size_t piece = 7)
        : std::istream(nullptr), mBuf(std::move(bytes), piece) {
        rdbuf(&mBuf);
    }

private:
    PipeBuf mBuf;
};

}  // namespace kxtest
