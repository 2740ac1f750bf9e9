#pragma once
// The image project: photographs grouped by the optical system that shot them, the tie points an import
// brings, the origin of the local frame and the SfM settings, with the configuration built from them,
// saved and imported. The dashboard is a view of one; nothing here needs a display.
#include <filesystem>
#include <memory>
#include <optional>

#include "config/SfmCfg.h"
#include "project/Image.h"
#include "project/ProjectRules.h"
#include "project/SfmCfgFile.h"

class Project {
public:
    const ImgGrps& groups() const { return mGroups; }
    const TiePoints& tiePoints() const { return mTiePoints; }
    const std::optional<SfmCfg::GpsCoords>& origin() const { return mOrigin; }
    // As the user confirmed them; empty until then.
    const std::optional<SfmCfg::Settings>& settings() const { return mSettings; }
    void setSettings(const SfmCfg::Settings& settings) { mSettings = settings; }

    // Photographs of one optical system, as new groups (see makeGroups). The first batch with GPS
    // positions fixes the origin.
    void addGroups(Images images, const OpticsInfo& info);
    void addGroup(std::unique_ptr<ImgGrp> group) { mGroups.push_back(std::move(group)); }
    // Appends to one of the project's groups.
    void addImages(ImgGrp& group, Images images);
    // Each destroys what it names when the project holds it; the caller drops its pointers first.
    void removeGroup(const ImgGrp* group);
    void removeImage(ImgGrp& group, const Image* image);
    // Empties the project (tie points, groups and images); origin and settings stay.
    void clear();

    // The origin becomes the mean GPS position of every image, when any has one.
    void makeOrigin();
    bool smallImages() const { return ::smallImages(mGroups); }
    bool hasHighResGps() const { return ::hasHighResGps(mGroups); }
    bool isDiscrete() const { return ::isDiscrete(mGroups); }
    SfmCfg::Settings defaultSettings() const { return ::defaultSettings(mGroups); }

    // See buildSfmCfg: never null; for the service the origin may move to the images' mean position.
    std::unique_ptr<SfmCfg> sfmCfg(bool forService);
    // Writes what the user defined (no priors); throws naming the path when the file cannot be written.
    void save(const std::filesystem::path& path);
    // Replaces groups, tie points and settings by those of the file, whose images `load` loads. Any failure
    // leaves by exception with the project untouched.
    void import(const std::filesystem::path& path, const BatchLoader& load);

private:
    ImgGrps mGroups;
    TiePoints mTiePoints;
    std::optional<SfmCfg::GpsCoords> mOrigin;
    std::optional<SfmCfg::Settings> mSettings;
};
