#include "project/Captions.h"

QString countText(size_t count, const char* noun) {
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(noun) +
           (count == 1 ? QString() : QStringLiteral("s"));
}

QString cameraName(const ImgMetaData& meta) {
    return meta.camera.empty() ? QStringLiteral("unnamed camera") : QString::fromStdString(meta.camera);
}

QString opticsTitle(const ImgMetaData& meta, size_t count) {
    // One pass: a camera name may itself hold "%2".
    return QStringLiteral("Optics: %1, %2 × %3, %4")
        .arg(cameraName(meta), QString::number(meta.width), QString::number(meta.height),
             countText(count, "photograph"));
}

QString groupToolTip(const ImgGrp& group) {
    const QString count = countText(group.images.size(), "photograph");
    return group.images.empty() ? count
                                : cameraName(group.images.front()->meta) + QStringLiteral(", ") + count;
}
