// The dashboard's configuration commands: saving and importing.
#include "project/ImageDashWidget.h"
#include "project/LoadImages.h"
#include "vexkit/Paths.h"

void ImageDashWidget::saveInputConfig(const QString& path) {
    runCommand([this, &path] { mProject.save(toPath(path)); });
}

void ImageDashWidget::importSfmCfg(const QString& path) {
    runCommand([this, &path] {
        // The project stays as it was until every image of the file has loaded.
        mProject.import(toPath(path),
                        [this](const std::vector<std::string>& files) { return loadBatch(files); });
        currentGroup = nullptr;
        showItems(nullptr);
    });
}
