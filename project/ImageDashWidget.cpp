#include "project/ImageDashWidget.h"

#include <stdexcept>

#include <QMenu>

#include "gui/Gui.h"
#include "project/AddImagesDialog.h"
#include "project/Captions.h"
#include "project/ListItems.h"
#include "project/ProjectRules.h"
#include "project/SfmSettingsDialog.h"
#include "project/Thumbnail.h"
#include "vexkit/Paths.h"
#include "vexkit/ThreadPool.h"

namespace {
const char* const kImageFilter = "Images (*.jpg *.jpeg *.avif *.heif *.heic)";
const char* const kLoadingLabel = "Loading images";
}  // namespace

ImageDashWidget::ImageDashWidget(QWidget* parent) : QListWidget(parent) {
    // The progress signal may also cross threads through queued connections.
    qRegisterMetaType<int32_t>("int32_t");
    setViewMode(QListView::IconMode);
    setIconSize(kThumbnailSize);
    setResizeMode(QListView::Adjust);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QListWidget::itemDoubleClicked, this, &ImageDashWidget::onItemDoubleClicked);
    connect(this, &QWidget::customContextMenuRequested, this, &ImageDashWidget::showContextMenu);
    showItems(nullptr);
}

// Items point into the groups: they go first.
ImageDashWidget::~ImageDashWidget() {
    QListWidget::clear();
}

void ImageDashWidget::runCommand(const std::function<void()>& command) {
    gui::runGuarded(command,
                    [this](const QString& line) { emit reportProgress(QStringLiteral("Error"), 0, line); });
}

std::vector<std::string> ImageDashWidget::askImageFiles(const QString& filter) {
    const QStringList chosen =
        gui::getOpenFileNames(this, QStringLiteral("Select one or more images"), toQStr(workDir()), filter);
    std::vector<std::string> files;
    files.reserve(static_cast<size_t>(chosen.size()));
    for (const QString& path : chosen) {
        files.push_back(path.toLocal8Bit().toStdString());
    }
    return files;
}

std::vector<LoadOutcome> ImageDashWidget::loadEach(const std::vector<std::string>& files) {
    const auto progress = [this](unsigned i, unsigned long long n) {
        emit reportProgress(QLatin1String(kLoadingLabel), loadingPercent(i, n),
                            i == 0 ? QLatin1String(kLoadingLabel) : QString());
    };
    // The window keeps repainting while the workers load, but takes no input until the batch is in.
    emit loadingImages(true);
    struct Done {
        ImageDashWidget* dash;
        ~Done() { emit dash->loadingImages(false); }
    } done{this};
    return loadEachResponsive(threadPool, files, progress, [](const char* file) { return loadImage(file); });
}

Images ImageDashWidget::loadBatch(const std::vector<std::string>& files) {
    return requireAll(loadEach(files));
}

SortedBatch ImageDashWidget::loadSelection() {
    const std::vector<std::string> files = askImageFiles(QString::fromLatin1(kImageFilter));
    if (files.empty()) {
        return {};
    }
    return sortBatch(loadEach(files), contentIndex(mProject.groups()));
}

void ImageDashWidget::logLine(const QString& line) {
    emit reportProgress(QLatin1String(kLoadingLabel), 100, line);
}

void ImageDashWidget::logSkipped(const SortedBatch& batch) {
    for (const SkippedFile& skipped : batch.skipped) {
        logLine(skipLine(skipped));
    }
    if (batch.groups.empty() && !batch.skipped.empty()) {
        throw std::runtime_error("No photograph could be added: " + skipCounts(batch.skipped).toStdString());
    }
}

std::optional<OpticsInfo> ImageDashWidget::askOptics(const Images& images) {
    std::optional<OpticsInfo> info;
    AddImagesDialog dialog(info, images.front()->meta, nullptr);
    dialog.setWindowTitle(opticsTitle(images.front()->meta, images.size()));
    gui::execDialog(dialog);
    return info;
}

void ImageDashWidget::addImages() {
    runCommand([this] {
        SortedBatch batch = loadSelection();
        logSkipped(batch);
        // Every group is asked for before any is added.
        std::vector<std::pair<Images, OpticsInfo>> confirmed;
        for (Images& images : batch.groups) {
            if (std::optional<OpticsInfo> info = askOptics(images)) {
                confirmed.emplace_back(std::move(images), *info);
            }
        }
        if (confirmed.empty()) {
            return;
        }
        const size_t nbGroupsBefore = mProject.groups().size();
        size_t nbPhotos = 0;
        for (auto& [images, info] : confirmed) {
            nbPhotos += images.size();
            mProject.addGroups(std::move(images), info);
        }
        logLine(summaryLine(nbPhotos, mProject.groups().size() - nbGroupsBefore, batch.skipped));
        showItems(currentGroup);
    });
}

void ImageDashWidget::addImagesToGroup(ImgGrp* group) {
    runCommand([this, group] {
        SortedBatch batch = loadSelection();
        keepFitting(batch, *group);
        logSkipped(batch);
        if (batch.groups.empty()) {
            return;
        }
        const size_t nbPhotos = batch.groups.front().size();
        mProject.addImages(*group, std::move(batch.groups.front()));
        logLine(summaryLine(nbPhotos, 1, batch.skipped));
        showItems(currentGroup);
    });
}

void ImageDashWidget::removeItem(QListWidgetItem* item) {
    if (item->type() == ImageItem::kType) {
        if (currentGroup) {
            mProject.removeImage(*currentGroup, static_cast<ImageItem*>(item)->image);
        }
    } else if (item->type() == ImageGroupItem::kType) {
        mProject.removeGroup(static_cast<ImageGroupItem*>(item)->group);
    } else {
        throw std::runtime_error("unexpected item");
    }
    showItems(currentGroup);
}

void ImageDashWidget::showItems(ImgGrp* group) {
    QListWidget::clear();
    currentGroup = group;
    if (!group) {
        for (const auto& each : mProject.groups()) {
            new ImageGroupItem(each.get(), this);
        }
    } else {
        for (const auto& image : group->images) {
            new ImageItem(image.get(), this);
        }
    }
}

void ImageDashWidget::showImage(Image* image) {
    new ImageItem(image, this);
}

void ImageDashWidget::clearData() {
    QListWidget::clear();
    currentGroup = nullptr;
    mProject.clear();
    showItems(nullptr);
}

void ImageDashWidget::changeSfmSettings() {
    runCommand([this] {
        SfmSettingsDialog dialog(mProject.settings() ? *mProject.settings() : defaultSettings(), nullptr);
        connect(&dialog, &SfmSettingsDialog::done, this,
                [this](const SfmCfg::Settings& settings) { mProject.setSettings(settings); });
        gui::execDialog(dialog);
    });
}

void ImageDashWidget::onItemDoubleClicked(QListWidgetItem* item) {
    if (item && item->type() == ImageGroupItem::kType) {
        showItems(static_cast<ImageGroupItem*>(item)->group);
    }
}

std::unique_ptr<QMenu> ImageDashWidget::makeContextMenu(const QPoint& pos) {
    MenuTarget target = MenuTarget::kNothing;
    if (const QListWidgetItem* item = itemAt(pos)) {
        target = item->type() == ImageGroupItem::kType ? MenuTarget::kGroupItem : MenuTarget::kImageItem;
    }
    auto menu = std::make_unique<QMenu>(this);
    for (const MenuEntry& entry : contextMenuEntries(currentGroup != nullptr, target)) {
        QAction* action = menu->addAction(entry.text);
        action->setData(static_cast<int>(entry.command));
    }
    return menu;
}

void ImageDashWidget::runMenuCommand(MenuCommand command, QListWidgetItem* item) {
    switch (command) {
        case MenuCommand::kAddToGroup:
            if (item && item->type() == ImageGroupItem::kType) {
                addImagesToGroup(static_cast<ImageGroupItem*>(item)->group);
            } else if (currentGroup) {
                addImagesToGroup(currentGroup);
            }
            break;
        case MenuCommand::kAddNewGroups:
            addImages();
            break;
        case MenuCommand::kRemove:
            runCommand([this, item] { removeItem(item); });
            break;
        case MenuCommand::kGoUp:
            showItems(nullptr);
            break;
    }
}

void ImageDashWidget::showContextMenu(const QPoint& pos) {
    QListWidgetItem* item = itemAt(pos);
    const std::unique_ptr<QMenu> menu = makeContextMenu(pos);
    // The chosen entry acts after the menu has closed.
    if (QAction* chosen = menu->exec(viewport()->mapToGlobal(pos))) {
        runMenuCommand(static_cast<MenuCommand>(chosen->data().toInt()), item);
    }
}
