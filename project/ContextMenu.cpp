#include "project/ContextMenu.h"

std::vector<MenuEntry> contextMenuEntries(bool insideGroup, MenuTarget target) {
    const QString addToGroup = QStringLiteral("Add images into this group");
    std::vector<MenuEntry> entries;
    if (target != MenuTarget::kNothing) {
        if (!insideGroup && target == MenuTarget::kGroupItem) {
            entries.push_back({addToGroup, MenuCommand::kAddToGroup});
        }
        entries.push_back({QStringLiteral("Remove"), MenuCommand::kRemove});
    } else if (insideGroup) {
        entries.push_back({addToGroup, MenuCommand::kAddToGroup});
    } else {
        entries.push_back({QStringLiteral("Add images to new groups"), MenuCommand::kAddNewGroups});
    }
    if (insideGroup) {
        entries.push_back({QStringLiteral("Go up"), MenuCommand::kGoUp});
    }
    return entries;
}
