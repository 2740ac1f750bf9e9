#include "model/ByteSource.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace kxmodel {

ByteSource::ByteSource(std::istream& in, size_t bufferSize) : mBuf(in.rdbuf()) {
    mData.resize(64);
    if (!mBuf || !in.good()) {
        mBuf = nullptr;
        mEof = true;
        mUnbuffered = 0;
        return;
    }
    const auto cur = mBuf->pubseekoff(0, std::ios::cur, std::ios::in);
    if (cur != std::streampos(-1)) {
        const auto end = mBuf->pubseekoff(0, std::ios::end, std::ios::in);
        if (end != std::streampos(-1) && mBuf->pubseekpos(cur, std::ios::in) == cur && end >= cur) {
            mUnbuffered = static_cast<uint64_t>(end - cur);
        }
    }
    // A small stream needs no more buffer than its size.
    mData.resize(static_cast<size_t>(std::clamp<uint64_t>(mUnbuffered.value_or(bufferSize), 64, bufferSize)));
}

std::optional<uint64_t> ByteSource::remaining() const {
    if (!mUnbuffered) {
        return std::nullopt;
    }
    return *mUnbuffered + (mEnd - mPos);
}

size_t ByteSource::pull(char* dst, size_t n) {
    if (mEof || n == 0) {
        return 0;
    }
    size_t got = 0;
    while (got < n) {
        std::streamsize r = 0;
        try {
            r = mBuf->sgetn(dst + got, static_cast<std::streamsize>(n - got));
        } catch (const std::exception&) {
            // A read error (a directory opened as a file, a failing disk) ends the data here.
            r = 0;
        }
        if (r <= 0) {
            mEof = true;
            break;
        }
        got += static_cast<size_t>(r);
    }
    if (mUnbuffered) {
        // A stream that shrank under us simply ends early.
        *mUnbuffered -= std::min<uint64_t>(*mUnbuffered, got);
        if (mEof) {
            mUnbuffered = 0;
        }
    }
    return got;
}

bool ByteSource::fill() {
    if (mPos > 0) {
        std::memmove(mData.data(), mData.data() + mPos, mEnd - mPos);
        mEnd -= mPos;
        mPos = 0;
    }
    if (mEnd == mData.size()) {
        mData.resize(mData.size() * 2);
    }
    const size_t got = pull(mData.data() + mEnd, mData.size() - mEnd);
    mEnd += got;
    return got > 0;
}

size_t ByteSource::read(void* dst, size_t n) {
    char* out = static_cast<char*>(dst);
    const size_t fromBuffer = std::min(n, mEnd - mPos);
    std::memcpy(out, mData.data() + mPos, fromBuffer);
    mPos += fromBuffer;
    if (fromBuffer == n) {
        return n;
    }
    const size_t rest = n - fromBuffer;
    if (rest >= mData.size()) {
        // Large blocks go straight to their destination.
        return fromBuffer + pull(out + fromBuffer, rest);
    }
    mPos = mEnd = 0;
    mEnd = pull(mData.data(), mData.size());
    const size_t more = std::min(rest, mEnd);
    std::memcpy(out + fromBuffer, mData.data(), more);
    mPos = more;
    return fromBuffer + more;
}

uint64_t ByteSource::skip(uint64_t n) {
    uint64_t done = std::min<uint64_t>(n, mEnd - mPos);
    mPos += done;
    while (done < n) {
        mPos = mEnd = 0;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, mData.size()));
        mEnd = pull(mData.data(), mData.size());
        if (mEnd == 0) {
            break;
        }
        const size_t used = std::min(want, mEnd);
        mPos = used;
        done += used;
    }
    return done;
}

std::string_view ByteSource::peek(size_t want) {
    while (mEnd - mPos < want) {
        if (mData.size() < want) {
            mData.resize(want);
        }
        if (!fill()) {
            break;
        }
    }
    return buffered();
}

}  // namespace kxmodel
