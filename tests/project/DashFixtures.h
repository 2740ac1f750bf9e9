#pragma once
// Driving the dashboard and its dialogs in tests: photographs on disk, named children, button presses, and
// answers for the file and optics dialogs.
#include <filesystem>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "project/AddImagesDialog.h"
#include "project/ImageDashWidget.h"
#include "tests/support/DialogStub.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

// A JPEG of the given size and tags in `dir`, its content told apart by its name; returns its path as the
// file dialog would.
inline QString photo(const TempDir& dir, const std::string& name, uint32_t width, uint32_t height,
                     ImageTags tags = {}) {
    writeJpeg(dir / name, width, height, tags.setExif("Exif.Image.ImageDescription", name));
    return QString::fromStdString((dir / name).string());
}

template <typename T>
T* child(const QObject& parent, const char* name) {
    T* object = parent.findChild<T*>(name);
    EXPECT_NE(object, nullptr) << name;
    return object;
}

// Clicks one of the dialog's standard buttons; returns the dialog's result, as exec would.
inline int press(QDialog& dialog, QDialogButtonBox::StandardButton which = QDialogButtonBox::Ok) {
    child<QDialogButtonBox>(dialog, "buttonBox")->button(which)->click();
    return dialog.result();
}

// Answers the Add Images dialog: fills the focal lengths when empty, sets "Tied Optics" and presses OK.
inline std::function<int(QDialog&)> confirmOptics(const QString& focal, bool tied) {
    return [focal, tied](QDialog& dialog) {
        for (const char* name : {"fx", "fy"}) {
            QLineEdit* edit = child<QLineEdit>(dialog, name);
            if (edit->text().isEmpty()) {
                edit->setText(focal);
            }
        }
        child<QCheckBox>(dialog, "tiedOptics")->setChecked(tied);
        return press(dialog);
    };
}

// Adds `files` as new groups through the dashboard's own command.
inline void addBatch(ImageDashWidget& dash, DialogStub& dialogs, const QStringList& files, bool tied,
                     const QString& focal = "3000") {
    dialogs.openFilesAnswer = files;
    dialogs.execAnswer = confirmOptics(focal, tied);
    dash.addImages();
    dialogs.execAnswer = nullptr;
}

inline std::vector<size_t> groupSizes(const ImageDashWidget& dash) {
    std::vector<size_t> sizes;
    for (const auto& group : dash.getGroups()) {
        sizes.push_back(group->images.size());
    }
    return sizes;
}

}  // namespace kxtest
