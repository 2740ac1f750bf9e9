// The dashboard's configuration commands: building, saving and importing.
#include "gui/Gui.h"
#include "project/ImageDashWidget.h"
#include "project/LoadImages.h"
#include "project/SfmCfgBuild.h"
#include "project/SfmCfgFile.h"
#include "vexkit/Paths.h"

std::unique_ptr<SfmCfg> ImageDashWidget::getSfmCfg(bool forService) {
    return buildSfmCfg({groups, tiePoints, origin, mSfmSettings}, forService);
}

void ImageDashWidget::saveInputConfig(const QString& path) {
    runCommand([this, &path] { writeSfmCfgFile(toPath(path), *getSfmCfg(false)); });
}

void ImageDashWidget::importSfmCfg(const QString& path) {
    runCommand([this, &path] {
        // Everything that can fail happens before the project is touched.
        ImportedProject imported =
            prepareImport(readSfmCfgFile(toPath(path)),
                          [this](const std::vector<std::string>& files) { return loadBatch(files); });
        clearData();
        tiePoints = std::move(imported.tiePoints);
        groups = std::move(imported.groups);
        mSfmSettings = std::move(imported.settings);
        showItems(currentGroup);
    });
}
