#include <gtest/gtest.h>

#include "project/ContextMenu.h"

TEST(ContextMenu, EntriesFollowTheViewAndTheItemUnderTheCursor) {
    using C = MenuCommand;
    struct Row {
        bool insideGroup;
        MenuTarget target;
        std::vector<std::pair<QString, MenuCommand>> entries;
    };
    const Row rows[] = {
        {false, MenuTarget::kNothing, {{"Add images to new groups", C::kAddNewGroups}}},
        {false,
         MenuTarget::kGroupItem,
         {{"Add images into this group", C::kAddToGroup}, {"Remove", C::kRemove}}},
        {true, MenuTarget::kNothing, {{"Add images into this group", C::kAddToGroup}, {"Go up", C::kGoUp}}},
        {true, MenuTarget::kImageItem, {{"Remove", C::kRemove}, {"Go up", C::kGoUp}}},
    };
    for (const Row& row : rows) {
        std::vector<std::pair<QString, MenuCommand>> got;
        for (const MenuEntry& entry : contextMenuEntries(row.insideGroup, row.target)) {
            got.emplace_back(entry.text, entry.command);
        }
        EXPECT_EQ(got, row.entries) << row.insideGroup << " " << static_cast<int>(row.target);
    }
}
