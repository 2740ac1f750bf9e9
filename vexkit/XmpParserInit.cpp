#include <cstdlib>
#include <mutex>

#include <exiv2/properties.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include "vexkit/ImageReader.h"

namespace vexkit {

namespace {

// The namespace URI that drone cameras write for the "drone-dji" prefix. Registered before any decode,
// a decoded packet finds it and never has to register it while other threads decode.
constexpr const char* kDroneXmpNamespace = "http://www.dji.com/drone-dji/1.0/";

void lockUnlockXmp(void* data, bool lock) {
    auto* mutex = static_cast<std::recursive_mutex*>(data);
    if (lock) {
        mutex->lock();
    } else {
        mutex->unlock();
    }
}

}  // namespace

std::recursive_mutex& xmpToolkitMutex() {
    // Recursive: a decode under this lock registers unknown namespaces through exiv2, which takes the
    // lock function's lock again on the same thread.
    static std::recursive_mutex mutex;
    return mutex;
}

void initXmpParserOnce() {
    // exiv2's namespace registry and the XMP toolkit are process-wide: set them up exactly once, with a
    // lock function, since the toolkit is thread-safe only when it has one.
    static std::once_flag once;
    std::call_once(once, [] {
        std::recursive_mutex& mutex = xmpToolkitMutex();
        Exiv2::XmpParser::initialize(&lockUnlockXmp, &mutex);
        Exiv2::XmpProperties::registerNs(kDroneXmpNamespace, "drone-dji");
        std::atexit([] { Exiv2::XmpParser::terminate(); });
    });
}

}  // namespace vexkit
