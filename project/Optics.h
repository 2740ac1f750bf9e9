#pragma once
// The optical parameters a user confirms for a new batch of images, and their text form in the
// Add Images dialog.
#include <array>
#include <optional>

#include <QString>

#include "metadata/ImgMetaData.h"

struct OpticsInfo {
    float fx = 0, fy = 0, cx = 0, cy = 0;
    float k1 = 0, k2 = 0, p1 = 0, p2 = 0, k3 = 0;
    bool tiedOptics = false;
};

// The nine fields in the order fx, fy, cx, cy, k1, k2, p1, p2, k3.
constexpr int kNbOpticsFields = 9;
using OpticsTexts = std::array<QString, kNbOpticsFields>;

// Pointers to the nine float fields of `info`, in field order.
std::array<float*, kNbOpticsFields> opticsFields(OpticsInfo& info);

// A number as the dialog shows it: the shortest general form with 6 significant digits.
QString opticsText(float value);

// The dialog's initial texts: recorded focal lengths (else empty), recorded principal point (else the
// image centre), recorded distortion (else "0").
OpticsTexts prefillOptics(const ImgMetaData& meta);

// Parses the nine texts as C-locale floats; empty when any does not parse (an empty text included) or
// is not finite.
// `tiedOptics` of the result is false.
std::optional<OpticsInfo> parseOptics(const OpticsTexts& texts);
