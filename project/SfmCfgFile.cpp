#include "project/SfmCfgFile.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include <QString>

#include "config/SfmCfgJson.h"
#include "project/DashAssert.h"

void writeSfmCfgFile(const std::filesystem::path& path, const SfmCfg& cfg) {
    // The text is complete before the file is touched, so a failing file leaves no partial JSON.
    std::ostringstream text;
    writeSfmCfg(text, cfg);
    const std::string bytes = text.str();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("Cannot create file " + path.u8string());
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw std::runtime_error("Cannot write file " + path.u8string());
    }
}

SfmCfg readSfmCfgFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("Cannot open file " + path.u8string());
    }
    return readSfmCfg(in);
}

void checkCameraIndices(const SfmCfg& cfg) {
    for (size_t i = 0; i < cfg.images.size(); ++i) {
        const uint32_t idxCam = cfg.images[i].idxCam;
        if (idxCam >= cfg.cameras.size()) {
            throw std::out_of_range("image " + std::to_string(i) + " refers to camera " +
                                    std::to_string(idxCam) + " but the configuration has " +
                                    std::to_string(cfg.cameras.size()) + " cameras");
        }
    }
}

ImportedProject prepareImport(SfmCfg cfg, const BatchLoader& load) {
    checkCameraIndices(cfg);
    ImportedProject project;
    for (const SfmCfg::Camera& cam : cfg.cameras) {
        project.groups.push_back(groupOf(cam));
    }
    std::vector<std::string> files;
    files.reserve(cfg.images.size());
    for (const SfmCfg::Image& entry : cfg.images) {
        files.push_back(QString::fromStdString(entry.name).toLocal8Bit().toStdString());
    }
    Images images = load(files);
    DASH_ASSERT(files.size() == images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        SfmCfg::Image& entry = cfg.images[i];
        if (entry.tiePointMeasurements) {
            images[i]->tiePointMeasurements = std::move(*entry.tiePointMeasurements);
        }
        project.groups[entry.idxCam]->images.push_back(std::move(images[i]));
    }
    if (cfg.tiePoints) {
        project.tiePoints = std::move(*cfg.tiePoints);
    }
    project.settings = std::move(cfg.settings);
    return project;
}
