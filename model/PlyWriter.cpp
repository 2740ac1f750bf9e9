#include "model/PlyWriter.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace ply {

namespace {
void putFloatLe(std::string& out, float v) {
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(bits >> (8 * i)));
    }
}
}  // namespace

void writeColoredPly(const std::filesystem::path& path, const std::vector<kxsfm::Vec3<float>>& points,
                     const std::vector<kxsfm::Color>& colors) {
    if (points.size() != colors.size()) {
        throw std::invalid_argument("points and colours differ in number");
    }
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                        std::to_string(points.size()) +
                        "\nproperty float x\nproperty float y\nproperty float z\n"
                        "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    bytes.reserve(bytes.size() + points.size() * 15);
    for (size_t i = 0; i < points.size(); ++i) {
        putFloatLe(bytes, points[i].x);
        putFloatLe(bytes, points[i].y);
        putFloatLe(bytes, points[i].z);
        bytes.push_back(static_cast<char>(colors[i].r));
        bytes.push_back(static_cast<char>(colors[i].g));
        bytes.push_back(static_cast<char>(colors[i].b));
    }
    std::filesystem::path tmp = path;
    tmp += ".part";
    std::error_code ec;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::filesystem::remove(tmp, ec);
            throw std::runtime_error("cannot write " + path.string());
        }
    }
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace ply
