#include "project/Project.h"

#include <algorithm>

#include "project/SfmCfgBuild.h"

namespace {
// Destroys the one owned object that `target` points to, if it is there.
template <typename T>
void eraseOwned(std::vector<std::unique_ptr<T>>& owners, const T* target) {
    owners.erase(std::remove_if(owners.begin(), owners.end(),
                                [target](const std::unique_ptr<T>& owned) { return owned.get() == target; }),
                 owners.end());
}
}  // namespace

void Project::addGroups(Images images, const OpticsInfo& info) {
    if (!mOrigin) {
        mOrigin = meanGpsPosition(images);
    }
    for (auto& group : makeGroups(std::move(images), info)) {
        mGroups.push_back(std::move(group));
    }
}

void Project::addImages(ImgGrp& group, Images images) {
    for (auto& image : images) {
        group.images.push_back(std::move(image));
    }
}

void Project::removeGroup(const ImgGrp* group) {
    eraseOwned(mGroups, group);
}

void Project::removeImage(ImgGrp& group, const Image* image) {
    eraseOwned(group.images, image);
}

void Project::clear() {
    mTiePoints.clear();
    mGroups.clear();
}

void Project::makeOrigin() {
    if (auto mean = meanGpsPosition(mGroups)) {
        mOrigin = mean;
    }
}

std::unique_ptr<SfmCfg> Project::sfmCfg(bool forService) {
    return buildSfmCfg({mGroups, mTiePoints, mOrigin, mSettings}, forService);
}

void Project::save(const std::filesystem::path& path) {
    writeSfmCfgFile(path, *sfmCfg(false));
}

void Project::import(const std::filesystem::path& path, const BatchLoader& load) {
    ImportedProject imported = prepareImport(readSfmCfgFile(path), load);
    mTiePoints = std::move(imported.tiePoints);
    mGroups = std::move(imported.groups);
    mSettings = std::move(imported.settings);
}
