#pragma once
// The left pane of the main window: a view of the image project that shows its groups, or the images of
// one group, as icons, and runs the user's commands on the project with their dialogs.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QListWidget>

#include "config/SfmCfg.h"
#include "project/ContextMenu.h"
#include "project/Image.h"
#include "project/LoadImages.h"
#include "project/Project.h"
#include "project/SortBatch.h"

class QMenu;

class ImageDashWidget : public QListWidget {
    Q_OBJECT

public:
    explicit ImageDashWidget(QWidget* parent = nullptr);
    ~ImageDashWidget() override;

    // Commands. Each catches its own errors: the user sees a message box, the log gets a line, and the
    // project stays as it was.
    // The chosen photographs become one group per optical system, each with the optics the user gives
    // it (a cancelled group stays out). Unreadable files and photographs whose content is in the project
    // or earlier in the selection are skipped, each with a log line; a summary line ends the command.
    void addImages();
    // The same skips, and of photographs of another optical system than the group's.
    void addImagesToGroup(ImgGrp* group);
    void removeItem(QListWidgetItem* item);
    void changeSfmSettings();
    void showContextMenu(const QPoint& pos);

    // The view: the group list for a null group, else the images of `group`.
    void showItems(ImgGrp* group);
    void showImage(Image* image);
    // Empties the project (tie points, groups and images); origin and settings stay.
    void clearData();

    void makeOrigin() { mProject.makeOrigin(); }
    bool smallImages() const { return mProject.smallImages(); }
    bool hasHighResGps() const { return mProject.hasHighResGps(); }
    bool isDiscrete() const { return mProject.isDiscrete(); }
    SfmCfg::Settings defaultSettings() const { return mProject.defaultSettings(); }

    // Never null. Throws std::runtime_error("unknown extension") for an image that has no file type.
    std::unique_ptr<SfmCfg> getSfmCfg(bool forService) { return mProject.sfmCfg(forService); }
    // Writes the project's configuration; a file that cannot be written is reported to the user.
    void saveInputConfig(const QString& path);
    // Replaces the project by the one the file describes, once every image of it has loaded.
    void importSfmCfg(const QString& path);

    // The context menu for a position in the viewport; each action's data is its MenuCommand.
    std::unique_ptr<QMenu> makeContextMenu(const QPoint& pos);
    // Carries out a menu command for the item that was under the cursor (may be null).
    void runMenuCommand(MenuCommand command, QListWidgetItem* item);

    const Project& project() const { return mProject; }
    const ImgGrps& getGroups() const { return mProject.groups(); }
    ImgGrp* getCurrentGroup() const { return currentGroup; }

signals:
    void reportProgress(const QString& label, int32_t percentage, const QString& log);
    // True when a batch of photographs starts loading, false when it ends (loaded or not).
    void loadingImages(bool loading);

private:
    void onItemDoubleClicked(QListWidgetItem* item);
    // Asks for image files; empty when the user cancelled.
    std::vector<std::string> askImageFiles(const QString& filter);
    // Loads each file with progress reports, going on past the files that fail.
    std::vector<LoadOutcome> loadEach(const std::vector<std::string>& files);
    // Loads a batch that must load whole; a failure names the file that failed.
    Images loadBatch(const std::vector<std::string>& files);
    // Asks for photographs and sorts them once loaded; empty when the user cancelled.
    SortedBatch loadSelection();
    // Logs a line per skipped file; throws when nothing else is left to add.
    void logSkipped(const SortedBatch& batch);
    // Empty when the user cancels.
    std::optional<OpticsInfo> askOptics(const Images& images);
    void logLine(const QString& line);
    void runCommand(const std::function<void()>& command);

    Project mProject;
    ImgGrp* currentGroup = nullptr;
};
