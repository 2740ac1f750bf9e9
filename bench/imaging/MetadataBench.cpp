// parseExif per image beside exiv2 alone opening the same file and reading its metadata.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <exiv2/exiv2.hpp>

#include "bench/imaging/BenchUtil.h"
#include "metadata/parseExif.h"
#include "vexkit/ImageReader.h"

namespace {

// A 12 MP JPEG carrying the tags a drone camera writes.
std::filesystem::path makeTaggedJpeg() {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "kx-bench-tagged.jpg";
    const std::string bytes = kxbench::makeJpeg(4000, 3000);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    vexkit::initXmpParserOnce();
    auto image = Exiv2::ImageFactory::open(path.string());
    image->readMetadata();
    image->exifData()["Exif.Image.Make"] = "DJI";
    image->exifData()["Exif.Photo.FocalLengthIn35mmFilm"] = "24";
    image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    image->exifData()["Exif.GPSInfo.GPSLatitude"] = "47/1 30/1 360000/10000";
    std::istringstream xmp(
        "GpsLatitude +47.51 GpsLongitude +8.25 AbsoluteAltitude +412.5 RelativeAltitude +80.1 "
        "GimbalRollDegree "
        "+0.00 GimbalPitchDegree -90.00 GimbalYawDegree +12.30 FlightRollDegree +1.0 FlightPitchDegree -2.0 "
        "FlightYawDegree +12.0 CalibratedFocalLength 3666.666504 CalibratedOpticalCenterX 2000.000000 "
        "CalibratedOpticalCenterY 1500.000000");
    for (std::string name, value; xmp >> name >> value;) {
        image->xmpData()["Xmp.drone-dji." + name] = value;
    }
    image->writeMetadata();
    return path;
}

void compare(const std::string& label, const std::filesystem::path& path, int rounds) {
    const double ours = kxbench::bestSeconds(rounds, [&] { (void)parseExif(path.c_str()); });
    const double exiv2 = kxbench::bestSeconds(rounds, [&] {
        auto image = Exiv2::ImageFactory::open(path.string());
        image->readMetadata();
    });
    std::printf("  %-48s parseExif %8.1f us   exiv2 open+read %8.1f us   ratio %.2f\n", label.c_str(),
                ours * 1e6, exiv2 * 1e6, ours / exiv2);
}

}  // namespace

int main() {
    constexpr int kRounds = 50;
    // Without this exiv2 does not look into HEIF/AVIF at all, and its baseline would read nothing there.
    Exiv2::enableBMFF(true);
    std::printf("metadata per image, best of %d\n", kRounds);
    const std::filesystem::path tagged = makeTaggedJpeg();
    compare("generated 12 MP JPEG with drone tags", tagged, kRounds);
    std::filesystem::remove(tagged);
    // The real photographs, when the sample folder is given.
    if (const char* dir = std::getenv("KX_TESTDATA"); dir && std::filesystem::is_directory(dir)) {
        for (const char* sub : {"images-drone", "images-heif", "images-avif"}) {
            for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir) / sub)) {
                if (!entry.is_regular_file()) {
                    continue;
                }
                try {
                    compare(entry.path().filename().string(), entry.path(), kRounds);
                } catch (const std::exception& e) {
                    std::printf("  %-48s fails: %s\n", entry.path().filename().string().c_str(), e.what());
                }
            }
        }
    }
    return 0;
}
