#pragma once
// The list items through which the dashboard shows groups and images: icons only, told apart by type.
#include <QListWidgetItem>

#include "project/Image.h"

class ImageItem : public QListWidgetItem {
public:
    static constexpr int kType = QListWidgetItem::UserType + 1;

    // Adds itself to `parent`, showing the image's thumbnail.
    ImageItem(const Image* image, QListWidget* parent);

    const Image* const image;
};

class ImageGroupItem : public QListWidgetItem {
public:
    static constexpr int kType = QListWidgetItem::UserType + 2;

    // Adds itself to `parent` and sets its icon with update(true).
    ImageGroupItem(ImgGrp* group, QListWidget* parent);

    // Shows the only image's thumbnail for a group of one, else the camera picture; without `force`
    // only when the group changed between one and another number of images. The tooltip names the
    // camera and the number of images.
    void update(bool force);

    ImgGrp* const group;
    bool isSingle = false;
};
