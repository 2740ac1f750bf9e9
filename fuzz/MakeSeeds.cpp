// Writes the seed corpora of the fuzz targets: small sparse models and PLY clouds of every layout.
// Usage: kx_fuzz_seeds <dir>; makes <dir>/ksm and <dir>/ply (and empty <dir>/*-new for new finds, also
// service-new for the service target, whose seeds are checked in).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/model/KsmSamples.h"
#include "tests/model/PlySamples.h"

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
            save(dir / ("model" + std::to_string(n++) + ".ksm"),
                 kxtest::ksmBytes(model, {ksm::kMagic, ksm::kVersion, little}));
        }
    }
}

void plySeeds(const fs::path& dir) {
    const kxtest::Cloud cloud = kxtest::makeCloud(4, 7);
    int n = 0;
    for (kxtest::PlyOut format :
         {kxtest::PlyOut::kAscii, kxtest::PlyOut::kBinaryLittleEndian, kxtest::PlyOut::kBinaryBigEndian}) {
        for (int variant = 0; variant < 4; ++variant) {
            kxtest::CloudLayout l;
            l.format = format;
            l.xyzType = variant % 2 ? "double" : "float";
            l.colorType = variant == 3 ? "" : "uchar";
            l.extras = variant == 2;
            l.nbFaces = variant == 1 ? 3 : 0;
            l.facesFirst = variant == 1;
            save(dir / ("cloud" + std::to_string(n++) + ".ply"), kxtest::cloudBytes(cloud, l));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <dir>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* sub : {"ksm", "ply", "ksm-new", "ply-new", "service-new"}) {
        fs::remove_all(root / sub);
        fs::create_directories(root / sub);
    }
    ksmSeeds(root / "ksm");
    plySeeds(root / "ply");
    std::printf("seeds written to %s\n", root.string().c_str());
    return 0;
}
