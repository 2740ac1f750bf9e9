#pragma once
// libheif's error as an exception every handler understands.
#include <libheif/heif_cxx.h>

#include "vexkit/Exception.h"

namespace vexkit {

// Carries libheif's error object and message. Catchable as heif::Error and as the client's Exception, so
// that a handler of std::exception shows libheif's own text instead of losing it.
class HeifError : public Exception, public heif::Error {
public:
    explicit HeifError(const heif::Error& error) : Exception(error.get_message()), heif::Error(error) {}
    explicit HeifError(const heif_error& error) : HeifError(heif::Error(error)) {}
};

// Throws HeifError unless `error` is heif_error_Ok.
inline void checkHeif(const heif_error& error) {
    if (error.code != heif_error_Ok) {
        throw HeifError(error);
    }
}

}  // namespace vexkit
