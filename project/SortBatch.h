#pragma once
// A loaded selection of photographs made ready for the project: the ones to add, by optical system, and
// the files left out with the reason, for the log.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <QString>

#include "project/LoadImages.h"
#include "project/ProjectRules.h"

enum class SkipReason { kUnreadable, kAlreadyAdded, kOtherOptics };

struct SkippedFile {
    std::string file;  // as loaded, in the local 8-bit encoding
    SkipReason reason = SkipReason::kUnreadable;
    std::string detail;  // why it did not load, or the file that has the same content
};

struct SortedBatch {
    std::vector<Images> groups;  // one per optical system (sameOptics), in the order each first appears
    std::vector<SkippedFile> skipped;

    size_t nbPhotos() const;
};

// The file that holds each content digest among the project's photographs.
using ContentIndex = std::map<vexkit::Md5Digest, std::string>;
ContentIndex contentIndex(const ImgGrps& groups);

// Skips the files that did not load, and the photographs whose content is `known` or came earlier in
// the selection.
SortedBatch sortBatch(std::vector<LoadOutcome> outcomes, ContentIndex known);
// Leaves one group in `batch`, of the photographs that `group` can take (its optical system; its pixel
// size while it has no photograph), or none; the others are skipped.
void keepFitting(SortedBatch& batch, const ImgGrp& group);

// "Skipped <file>: <why>", on one line.
QString skipLine(const SkippedFile& skipped);
// "2 unreadable, 1 already added": how many files each reason left out, without the zero counts.
QString skipCounts(const std::vector<SkippedFile>& skipped);
// "Added 27 photographs in 2 groups; skipped 2 unreadable, 1 already added"; no "; skipped" part when
// nothing was.
QString summaryLine(size_t nbPhotos, size_t nbGroups, const std::vector<SkippedFile>& skipped);
