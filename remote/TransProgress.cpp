#include "remote/TransProgress.h"

#include <algorithm>
#include <cmath>

void TransProgress::addItem(const TransferItem& item) {
    items.push_back(item);
    total += item.size;
    transferred += item.progress;
    if (item.reply) {
        byReply.emplace(item.reply, items.size() - 1);
    }
}

TransferItem& TransProgress::at(QNetworkReply* reply) {
    return items[byReply.at(reply)];
}

TransferItem* TransProgress::find(QNetworkReply* reply) {
    const auto it = byReply.find(reply);
    return it == byReply.end() ? nullptr : &items[it->second];
}

void TransProgress::setProgress(TransferItem& item, uint64_t progress) {
    progress = std::min(progress, item.size);
    transferred = transferred - item.progress + progress;
    item.progress = progress;
}

void TransProgress::updateFinished(QNetworkReply* reply) {
    TransferItem& item = at(reply);
    setProgress(item, item.size);
    ++nbFinished;
}

void TransProgress::release(QNetworkReply* reply) {
    const auto it = byReply.find(reply);
    if (it != byReply.end()) {
        items[it->second].reply = nullptr;
        byReply.erase(it);
    }
}

void TransProgress::clear() {
    items.clear();
    byReply.clear();
    total = 0;
    transferred = 0;
    nbFinished = 0;
}

int32_t batchPercent(uint64_t transferred, uint64_t total) {
    if (total == 0) {
        return 100;
    }
    const double percent = std::floor(static_cast<double>(transferred) / static_cast<double>(total) * 100.0);
    return static_cast<int32_t>(std::clamp(percent, 0.0, 100.0));
}
