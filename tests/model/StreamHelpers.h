#pragma once
// A stream for reader tests that cannot seek (so its length is unknown) and hands out its bytes in small
// pieces, as a pipe would.
#include <algorithm>
#include <istream>
#include <streambuf>
#include <string>

namespace kxtest {

class PipeStream : public std::istream {
public:
    explicit PipeStream(std::string bytes, size_t piece = 7)
        : std::istream(nullptr), mBuf(std::move(bytes), piece) {
        rdbuf(&mBuf);
    }

private:
    struct Buf : std::streambuf {
        Buf(std::string b, size_t n) : bytes(std::move(b)), piece(n) {}
        int_type underflow() override {
            if (next >= bytes.size()) {
                return traits_type::eof();
            }
            char* p = bytes.data() + next;
            const size_t n = std::min(piece, bytes.size() - next);
            setg(p, p, p + n);
            next += n;
            return traits_type::to_int_type(*p);
        }
        std::string bytes;
        size_t piece, next = 0;
    } mBuf;
};

}  // namespace kxtest
