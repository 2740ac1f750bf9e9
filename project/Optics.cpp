#include "project/Optics.h"

#include <cmath>

std::array<float*, kNbOpticsFields> opticsFields(OpticsInfo& info) {
    return {&info.fx, &info.fy, &info.cx, &info.cy, &info.k1, &info.k2, &info.p1, &info.p2, &info.k3};
}

QString opticsText(float value) {
    return QString::number(static_cast<double>(value), 'g', 6);
}

OpticsTexts prefillOptics(const ImgMetaData& meta) {
    OpticsTexts texts;
    if (meta.focal) {
        texts[0] = opticsText((*meta.focal)[0]);
        texts[1] = opticsText((*meta.focal)[1]);
    }
    if (meta.center) {
        texts[2] = opticsText((*meta.center)[0]);
        texts[3] = opticsText((*meta.center)[1]);
    } else {
        texts[2] = opticsText(static_cast<float>(meta.width) * 0.5f);
        texts[3] = opticsText(static_cast<float>(meta.height) * 0.5f);
    }
    for (int i = 0; i < 5; ++i) {
        texts[4 + i] = meta.distortion ? opticsText((*meta.distortion)[i]) : QStringLiteral("0");
    }
    return texts;
}

std::optional<OpticsInfo> parseOptics(const OpticsTexts& texts) {
    OpticsInfo info;
    const auto fields = opticsFields(info);
    for (int i = 0; i < kNbOpticsFields; ++i) {
        bool ok = false;
        // QString::toFloat always reads the C locale's syntax, whatever the user's locale. A non-finite
        // value (a "nan" read from a camera's dewarp text) is no usable optical parameter either.
        const float value = texts[i].toFloat(&ok);
        if (!ok || !std::isfinite(value)) {
            return std::nullopt;
        }
        *fields[i] = value;
    }
    return info;
}
