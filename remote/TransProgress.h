#pragma once
// The byte counts and finished transfers of one batch of uploads or downloads.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "remote/TransferItem.h"

class TransProgress {
public:
    // Appends a copy; an entry already present for the same reply stays as it is.
    void addItem(const TransferItem& item);
    // The item of `reply`; throws std::out_of_range for a reply of no running transfer.
    TransferItem& at(QNetworkReply* reply);
    // The item of `reply`, or null when the reply belongs to no running transfer of this batch.
    TransferItem* find(QNetworkReply* reply);
    // Sets the item's progress to its size and counts it finished.
    void updateFinished(QNetworkReply* reply);
    // Sets the item's progress, adjusting `transferred` (a value above the size counts as the size).
    void setProgress(TransferItem& item, uint64_t progress);
    // Forgets the reply once its transfer ended, so that a later reply at the same address is not
    // taken for it and a late signal of it is ignored.
    void release(QNetworkReply* reply);
    uint64_t getNbFinished() const { return nbFinished; }
    uint64_t getTotal() const { return total; }
    uint64_t getTransferred() const { return transferred; }
    const std::vector<TransferItem>& getItems() const { return items; }
    void clear();

private:
    std::vector<TransferItem> items;
    std::unordered_map<QNetworkReply*, size_t> byReply;
    uint64_t total = 0;
    uint64_t transferred = 0;
    uint64_t nbFinished = 0;
};

// The whole batch in percent, 0 to 100; a batch of only empty files is complete.
int32_t batchPercent(uint64_t transferred, uint64_t total);
