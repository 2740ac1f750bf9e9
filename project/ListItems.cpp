#include "project/ListItems.h"

#include <QDebug>

#include "project/Captions.h"
#include "project/Thumbnail.h"
#include "vexkit/Resources.h"

ImageItem::ImageItem(const Image* image, QListWidget* parent) : QListWidgetItem(parent, kType), image(image) {
    setIcon(image->icon);
}

ImageGroupItem::ImageGroupItem(ImgGrp* group, QListWidget* parent)
    : QListWidgetItem(parent, kType), group(group) {
    update(true);
}

void ImageGroupItem::update(bool force) {
    setToolTip(groupToolTip(*group));
    const bool single = group->images.size() == 1;
    if (!force && isSingle == single) {
        return;
    }
    isSingle = single;
    if (single) {
        const Image& only = *group->images.front();
        qDebug("Setting icon: %s", only.file.c_str());
        // The thumbnail made when the image was loaded is this very picture: decoding the file again
        // would stall the GUI thread for every such group on each refresh, and fail once the file has
        // moved.
        setIcon(only.icon);
    } else {
        const vexkit::ResourceEntry& camera = vexkit::openResource("resources/camera.png");
        setIcon(makeQIcon(camera.data, camera.size, "PNG", kThumbnailSize));
    }
}
