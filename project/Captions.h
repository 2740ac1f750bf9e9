#pragma once
// How the dashboard names photographs to the user: counts, cameras, the optics dialog's title and the
// tooltip of a group.
#include <cstddef>

#include <QString>

#include "project/Image.h"

// "1 photograph", "27 photographs": `noun` takes an "s" for any other count.
QString countText(size_t count, const char* noun);
// The recorded make and model, else "unnamed camera".
QString cameraName(const ImgMetaData& meta);
// For `count` photographs shot like `meta`: "Optics: DJI FC6310, 5472 × 3648, 27 photographs".
QString opticsTitle(const ImgMetaData& meta, size_t count);
// "DJI FC6310, 27 photographs" after the group's first photograph; the count alone for an empty group.
QString groupToolTip(const ImgGrp& group);
