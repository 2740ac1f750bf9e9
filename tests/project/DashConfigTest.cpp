#include <sstream>

#include <QComboBox>
#include <QSignalSpy>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "project/SfmCfgFile.h"
#include "tests/project/DashFixtures.h"
#include "vexkit/Paths.h"

using namespace kxtest;

namespace {

// Everything the user can see of a project, to tell that a failed command changed nothing.
std::string snapshot(ImageDashWidget& dash) {
    std::ostringstream text;
    writeSfmCfg(text, *dash.getSfmCfg(false));
    for (size_t size : groupSizes(dash)) {
        text << ' ' << size;
    }
    text << " origin " << (dash.project().origin() ? dash.project().origin()->latitude : -1000);
    return text.str();
}

class DashConfig : public ::testing::Test {
protected:
    TempDir dir;
    DialogStub dialogs;
    ImageDashWidget dash;
    QStringList files;

    // Two images with tied optics, one image alone, and a group emptied by the user.
    void makeProject() {
        files = QStringList{photo(dir, "a.jpg", 400, 300), photo(dir, "b.jpg", 400, 300),
                            photo(dir, "c.jpg", 640, 480, ImageTags().exifGps(47, 8, 400))};
        addBatch(dash, dialogs, {files[0], files[1]}, true, "3000.5");
        addBatch(dash, dialogs, {photo(dir, "gone.jpg", 64, 64)}, true, "100");
        addBatch(dash, dialogs, {files[2]}, true, "2900");
        dash.showItems(dash.getGroups()[1].get());
        dash.removeItem(dash.item(0));
        dash.showItems(nullptr);
        ASSERT_EQ(groupSizes(dash), std::vector<size_t>({2, 0, 1}));
    }
    // Confirms the settings dialog with every control away from this project's defaults
    // {"F1D5", false, "Global", 10000, true, false, false}.
    void confirmSettings() {
        dialogs.execAnswer = [](QDialog& dialog) {
            child<QComboBox>(dialog, "optModelComboBox")->setCurrentText("F2C2");
            child<QCheckBox>(dialog, "fixedOpticsCheckBox")->setChecked(true);
            child<QComboBox>(dialog, "shutterComboBox")->setCurrentText("Rolling1DLoc");
            child<QSpinBox>(dialog, "nbKPointsSpinBox")->setValue(7000);
            child<QCheckBox>(dialog, "siftUpsamplingCheckBox")->setChecked(false);
            child<QCheckBox>(dialog, "useGPSCheckBox")->setChecked(true);
            child<QCheckBox>(dialog, "unorderedImagesCheckBox")->setChecked(true);
            return press(dialog);
        };
        dash.changeSfmSettings();
        dialogs.execAnswer = nullptr;
    }
    QString path(const std::string& name) const { return QString::fromStdString((dir / name).string()); }
};

}  // namespace

TEST_F(DashConfig, SavedFileSkipsEmptyGroupsAndImportsBackToTheSameText) {
    makeProject();
    // The settings the user confirmed are saved; the priors never are, whatever the settings.
    confirmSettings();
    dash.saveInputConfig(path("sfm.json"));
    SfmCfg saved = readSfmCfgFile(dir / "sfm.json");
    EXPECT_EQ(saved.cameras.size(), 2u) << "no camera for the emptied group";
    EXPECT_EQ(saved.settings, (SfmCfg::Settings{"F2C2", true, "Rolling1DLoc", 7000u, false, true, true}));
    EXPECT_FALSE(saved.poses || saved.origin);

    // With tie points and a measurement added, imported and saved again: optics, files,
    // digests, settings and tie points give the same text.
    SfmCfg::Location tie;
    tie.cartesian = {1.5, -2.25, 3};
    saved.tiePoints = std::vector<std::optional<SfmCfg::Location>>{tie, std::nullopt};
    saved.images[1].tiePointMeasurements =
        std::vector<SfmCfg::Image::TiePointMeasurement>{{0, 10.5f, 20.25f}};
    writeSfmCfgFile(dir / "ties.json", saved);
    ImageDashWidget other;
    other.importSfmCfg(path("ties.json"));
    other.saveInputConfig(path("second.json"));
    EXPECT_EQ(readFile(dir / "second.json"), readFile(dir / "ties.json"));
}

TEST_F(DashConfig, FailedImportOrSaveLeavesTheProjectExactlyAsItWas) {
    makeProject();
    confirmSettings();
    dash.saveInputConfig(path("good.json"));
    const std::string good = readFile(dir / "good.json");
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    // An image that no longer loads (found while the others load), and a camera index the file lacks.
    writeFile(dir / "broken.jpg", "not a photograph");
    writeFile(dir / "unreadable.json", replaced(files[1].toStdString(), (dir / "broken.jpg").string()));
    writeFile(dir / "camera.json", replaced("\"idxCam\": 1", "\"idxCam\": 2"));
    // A photograph cut short: the box says so in words before the check that failed.
    const std::filesystem::path cut = toPath(photo(dir, "cut.jpg", 400, 300));
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    writeFile(dir / "cut.json", replaced(files[1].toStdString(), cut.string()));
    const std::pair<const char*, QString> rows[] = {
        {"unreadable.json", "Cannot load image " + path("broken.jpg") + ": "},
        {"cut.json", "Cannot load image " + toQStr(cut) +
                         ": the JPEG data is truncated or corrupt.\n0 == tjDecompress2("},
        {"camera.json", "image 2 refers to camera 2 "},
        {"no-such-file.json", "Cannot open file " + path("no-such-file.json")},
    };
    dash.showItems(dash.getGroups()[0].get());
    const std::string before = snapshot(dash);
    for (const auto& [file, message] : rows) {
        dialogs.messages.clear();
        testing::internal::CaptureStdout();
        dash.importSfmCfg(path(file));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(snapshot(dash), before) << file;
        EXPECT_EQ(dash.getCurrentGroup(), dash.getGroups()[0].get()) << file;
        ASSERT_EQ(dialogs.messages.size(), 1u) << file;
        EXPECT_TRUE(dialogs.messages[0].text.startsWith(message)) << dialogs.messages[0].text.toStdString();
    }

    // A save that cannot create its file tells the user in the log (and in a box, like every failed command).
    const QString target = path("no-such-dir/sfm.json");
    QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
    dash.saveInputConfig(target);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0][2].toString(), "Error: Cannot create file " + target);
}
