#include "project/SortBatch.h"

#include <algorithm>
#include <utility>

#include <QStringList>

#include "project/Captions.h"

namespace {

QString local(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

bool fits(const ImgGrp& group, const ImgMetaData& meta) {
    return group.images.empty() ? meta.width == group.width && meta.height == group.height
                                : sameOptics(group.images.front()->meta, meta);
}

}  // namespace

size_t SortedBatch::nbPhotos() const {
    size_t nb = 0;
    for (const Images& images : groups) {
        nb += images.size();
    }
    return nb;
}

ContentIndex contentIndex(const ImgGrps& groups) {
    ContentIndex index;
    for (const auto& group : groups) {
        for (const auto& image : group->images) {
            index.emplace(image->md5, image->file);
        }
    }
    return index;
}

SortedBatch sortBatch(std::vector<LoadOutcome> outcomes, ContentIndex known) {
    SortedBatch batch;
    for (LoadOutcome& outcome : outcomes) {
        if (!outcome.image) {
            batch.skipped.push_back({outcome.file, SkipReason::kUnreadable, outcome.failure});
            continue;
        }
        const auto [holder, isNew] = known.emplace(outcome.image->md5, outcome.file);
        if (!isNew) {
            batch.skipped.push_back({outcome.file, SkipReason::kAlreadyAdded, holder->second});
            continue;
        }
        const ImgMetaData& meta = outcome.image->meta;
        auto group = std::find_if(batch.groups.begin(), batch.groups.end(), [&meta](const Images& images) {
            return sameOptics(images.front()->meta, meta);
        });
        if (group == batch.groups.end()) {
            group = batch.groups.emplace(batch.groups.end());
        }
        group->push_back(std::move(outcome.image));
    }
    return batch;
}

void keepFitting(SortedBatch& batch, const ImgGrp& group) {
    Images fitting;
    for (Images& images : batch.groups) {
        for (auto& image : images) {
            if (fits(group, image->meta)) {
                fitting.push_back(std::move(image));
            } else {
                batch.skipped.push_back({image->file, SkipReason::kOtherOptics, {}});
            }
        }
    }
    batch.groups.clear();
    if (!fitting.empty()) {
        batch.groups.push_back(std::move(fitting));
    }
}

QString skipLine(const SkippedFile& skipped) {
    QString why;
    switch (skipped.reason) {
        case SkipReason::kUnreadable:
            // The failure's first line is its sentence; the rest is the failed check.
            why = QStringLiteral("cannot be read: ") + local(skipped.detail).section(QLatin1Char('\n'), 0, 0);
            break;
        case SkipReason::kAlreadyAdded:
            why = QStringLiteral("same content as ") + local(skipped.detail);
            break;
        case SkipReason::kOtherOptics:
            why = QStringLiteral("shot with another optical system than the group's");
            break;
    }
    return QStringLiteral("Skipped ") + local(skipped.file) + QStringLiteral(": ") + why;
}

QString skipCounts(const std::vector<SkippedFile>& skipped) {
    static const std::pair<SkipReason, const char*> kParts[] = {
        {SkipReason::kUnreadable, "unreadable"},
        {SkipReason::kAlreadyAdded, "already added"},
        {SkipReason::kOtherOptics, "of another optical system"},
    };
    QStringList parts;
    for (const auto& [reason, text] : kParts) {
        const auto nb =
            std::count_if(skipped.begin(), skipped.end(),
                          [reason = reason](const SkippedFile& each) { return each.reason == reason; });
        if (nb != 0) {
            parts << QString::number(nb) + QLatin1Char(' ') + QLatin1String(text);
        }
    }
    return parts.join(QStringLiteral(", "));
}

QString summaryLine(size_t nbPhotos, size_t nbGroups, const std::vector<SkippedFile>& skipped) {
    QString line = QStringLiteral("Added ") + countText(nbPhotos, "photograph") + QStringLiteral(" in ") +
                   countText(nbGroups, "group");
    if (!skipped.empty()) {
        line += QStringLiteral("; skipped ") + skipCounts(skipped);
    }
    return line;
}
