#include <cstdlib>
#include <mutex>

#include <exiv2/properties.hpp>
#include <exiv2/xmp_exiv2.hpp>

#include "vexkit/ImageReader.h"

namespace vexkit {

void initXmpParserOnce() {
    // exiv2's namespace registry and the XMP toolkit are process-wide: set them up exactly once.
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::XmpParser::initialize();
        // Makes "Xmp.drone-dji.*" keys valid; a decoded packet then brings its own namespace URI.
        Exiv2::XmpProperties::registerNs("drong-dji", "drone-dji");
        std::atexit([] { Exiv2::XmpParser::terminate(); });
    });
}

}  // namespace vexkit
