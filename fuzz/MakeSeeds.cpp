// Writes the seed corpora of the fuzz targets from the tests' samples and image writers.
// Usage: kx_fuzz_seeds <dir>; makes <dir>/<target> (and an empty <dir>/<target>-new for new finds).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/config/CfgSamples.h"
#include "tests/model/KsmSamples.h"
#include "tests/model/PlySamples.h"
#include "tests/protocol/ProtoSamples.h"
#include "tests/support/ImageFixtures.h"

namespace fs = std::filesystem;

namespace {

void save(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
        std::exit(1);
    }
}

void ksmSeeds(const fs::path& dir) {
    const kxtest::KsmShape shapes[] = {
        {}, {1, 1, 2, 1, 1}, {2, 2, 5, 3, 2, "Bilder/ü/"}, {0, 1, 0, 2, 0}, {3, 1, 8, 1, 6}};
    int n = 0;
    for (const kxtest::KsmShape& shape : shapes) {
        const ksm::Model<1u> model = kxtest::makeKsmModel(shape, 100 + n);
        for (bool little : {true, false}) {
            save(dir / ("model" + std::to_string(n++) + ".ksm"), kxtest::ksmBytes(model, little));
        }
    }
}

void plySeeds(const fs::path& dir) {
    const kxtest::Cloud cloud = kxtest::makeCloud(4, 7);
    int n = 0;
    for (kxtest::PlyOut format :
         {kxtest::PlyOut::kAscii, kxtest::PlyOut::kBinaryLittleEndian, kxtest::PlyOut::kBinaryBigEndian}) {
        for (int variant = 0; variant < 6; ++variant) {
            kxtest::CloudLayout l;
            l.format = format;
            l.xyzType = variant % 2 ? "double" : "float";
            l.colorType = variant == 3 ? "" : variant == 4 ? "float" : variant == 5 ? "ushort" : "uchar";
            l.extras = variant == 2;
            l.nbFaces = variant == 1 ? 3 : 0;
            l.facesFirst = variant == 1;
            save(dir / ("cloud" + std::to_string(n++) + ".ply"), kxtest::cloudBytes(cloud, l));
        }
    }
}

// The protocol messages and the configurations share the JSON target.
void jsonSeeds(const fs::path& dir, const fs::path& serviceDir) {
    save(dir / "cfg-full.json", kxtest::kFullCfgText);
    save(dir / "cfg-minimal.json", kxtest::kMinimalCfgText);
    int n = 0;
    for (const kxtest::RequestText& r : kxtest::requestTexts()) {
        save(dir / ("request" + std::to_string(n) + ".json"), r.text);
        save(serviceDir / ("request" + std::to_string(n++) + ".json"), r.text);
    }
    n = 0;
    for (const kxtest::ResponseText& r : kxtest::responseTexts()) {
        save(dir / ("response" + std::to_string(n++) + ".json"), r.text);
    }
}

// Every EXIF and XMP key that the metadata extraction reads, with values of the forms it accepts.
kxtest::ImageTags everyKey() {
    kxtest::ImageTags tags = kxtest::ImageTags()
                                 .exifMake("DJI")
                                 .focal35(24)
                                 .exifGps(47.51, -8.25, 12.5)
                                 .xmpMake("DJI")
                                 .droneGps(47.1, 8.2, 400.5);
    const char* const drone[][2] = {
        {"Latitude", "+47.1"},
        {"Longitude", "+8.2"},
        {"RelativeAltitude", "+80.1"},
        {"CalibratedFocalLength", "3666.67"},
        {"CalibratedOpticalCenterX", "2736"},
        {"CalibratedOpticalCenterY", "1824"},
        {"DewarpData", "2020-01-02;3700.1,3698.5,12.3,-8.2,-0.11,0.02,0.0003,-0.0001,-0.01"},
        {"FlightRollDegree", "+1.5"},
        {"FlightPitchDegree", "-2.5"},
        {"FlightYawDegree", "+90.0"},
        {"GimbalRollDegree", "+0.0"},
        {"GimbalPitchDegree", "-90.0"},
        {"GimbalYawDegree", "+90.5"},
        {"GimbalReverse", "0"},
        {"FlightXSpeed", "+1.0"},
        {"FlightYSpeed", "-0.5"},
        {"FlightZSpeed", "+0.1"},
        {"RtkFlag", "50"},
        {"RtkStdHgt", "0.02"},
        {"RtkStdLat", "0.01"},
        {"RtkStdLon", "0.01"},
    };
    for (const auto& [key, value] : drone) {
        tags.setXmp(std::string("Xmp.drone-dji.") + key, value);
    }
    return tags;
}

void imageSeeds(const fs::path& root) {
    const kxtest::ImageTags tags = everyKey();
    kxtest::writeJpeg(root / "jpeg" / "plain.jpg", 40, 24);
    kxtest::writeJpeg(root / "jpeg" / "tagged.jpg", 64, 48, tags);
    kxtest::writeHeif(root / "heif" / "tagged.heic", 64, 64, tags);
    kxtest::writeHeif(root / "heif" / "six-images.heic", 64, 64, {}, {6});  // refused: one image only
    kxtest::writeHeif(root / "heif" / "tagged.avif", 64, 64, tags);
    // The EXIF target's input: a 16-bit big-endian length, the EXIF block, then the XMP packet.
    const std::string exif = kxtest::encodeExifTiff(tags);
    save(root / "exif" / "every-key.bin", std::string{char(exif.size() >> 8), char(exif.size() & 0xFF)} +
                                              exif + kxtest::encodeXmpPacket(tags));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <dir>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"model", "proto", "jpeg", "heif", "exif", "service", "launch"}) {
        for (const std::string& sub : {std::string(target), std::string(target) + "-new"}) {
            fs::remove_all(root / sub);
            fs::create_directories(root / sub);
        }
    }
    ksmSeeds(root / "model");
    ksmSeeds(root / "launch");
    save(root / "launch" / "cfg-full.json", kxtest::kFullCfgText);
    plySeeds(root / "model");
    jsonSeeds(root / "proto", root / "service");
    imageSeeds(root);
    std::printf("seeds written to %s\n", root.string().c_str());
    return 0;
}
