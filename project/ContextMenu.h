#pragma once
// The entries of the dashboard's context menu, by what lies under the cursor and what the view shows.
#include <vector>

#include <QString>

enum class MenuTarget { kNothing, kGroupItem, kImageItem };

enum class MenuCommand {
    kAddToGroup,    // into the group under the cursor, or into the open group
    kAddNewGroups,  // the batch becomes new groups
    kRemove,        // the item under the cursor
    kGoUp,          // back to the group list
};

struct MenuEntry {
    QString text;
    MenuCommand command;
};

// `insideGroup`: the view shows the images of one group rather than the group list.
std::vector<MenuEntry> contextMenuEntries(bool insideGroup, MenuTarget target);
