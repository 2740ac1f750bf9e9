#include <sstream>

#include <QComboBox>
#include <QSignalSpy>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "project/SfmCfgFile.h"
#include "tests/project/DashFixtures.h"
#include "tests/project/RecordBuilders.h"

using namespace kxtest;

namespace {

// Everything the user can see of a project, to tell that a failed command changed nothing.
std::string snapshot(ImageDashWidget& dash) {
    std::ostringstream text;
    writeSfmCfg(text, *dash.getSfmCfg(false));
    for (size_t size : groupSizes(dash)) {
        text << ' ' << size;
    }
    text << " origin " << (dash.getOrigin() ? dash.getOrigin()->latitude : -1000);
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
    const SfmCfg saved = readSfmCfgFile(dir / "sfm.json");
    EXPECT_EQ(saved.cameras.size(), 2u) << "no camera for the emptied group";
    EXPECT_EQ(saved.settings, (SfmCfg::Settings{"F2C2", true, "Rolling1DLoc", 7000u, false, true, true}));
    EXPECT_FALSE(saved.poses || saved.origin);

    // Imported again, with progress, and saved: optics, files, digests and settings give the same text.
    ImageDashWidget other;
    QSignalSpy progress(&other, &ImageDashWidget::reportProgress);
    other.importSfmCfg(path("sfm.json"));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(progress.size(), 3);
    EXPECT_EQ(groupSizes(other), std::vector<size_t>({2, 1}));
    other.saveInputConfig(path("second.json"));
    EXPECT_EQ(readFile(dir / "second.json"), readFile(dir / "sfm.json"));
}

TEST_F(DashConfig, ImportedTiePointsAndMeasurementsSurviveASave) {
    addBatch(dash, dialogs, {photo(dir, "t1.jpg", 64, 48), photo(dir, "t2.jpg", 64, 48)}, true, "50");
    dash.saveInputConfig(path("plain.json"));
    SfmCfg cfg = readSfmCfgFile(dir / "plain.json");
    SfmCfg::Location tie;
    tie.cartesian = {1.5, -2.25, 3};
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{tie, std::nullopt};
    cfg.images[1].tiePointMeasurements = std::vector<SfmCfg::Image::TiePointMeasurement>{{0, 10.5f, 20.25f}};
    writeSfmCfgFile(dir / "ties.json", cfg);

    dash.importSfmCfg(path("ties.json"));
    ASSERT_EQ(groupSizes(dash), std::vector<size_t>({2}));
    EXPECT_FALSE(dash.getSfmSettings()) << "a file without settings leaves none";
    dash.saveInputConfig(path("ties-again.json"));
    EXPECT_EQ(readFile(dir / "ties-again.json"), readFile(dir / "ties.json"));
}

TEST_F(DashConfig, FailedImportLeavesTheProjectExactlyAsItWas) {
    makeProject();
    confirmSettings();
    dash.saveInputConfig(path("good.json"));
    const std::string good = readFile(dir / "good.json");
    writeFile(dir / "broken.jpg", "not a photograph");

    struct Row {
        const char* what;
        std::string text;
        const char* message;
    };
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string bPath = files[1].toStdString();
    const Row rows[] = {
        {"unreadable image", replaced(bPath, (dir / "broken.jpg").string()), "Cannot load image "},
        {"camera index out of range", replaced("\"idxCam\": 1", "\"idxCam\": 2"), "refers to camera 2"},
        {"not JSON", good.substr(0, good.size() / 2), ""},
        {"not a configuration", "{\"cameras\": 3}", ""},
    };
    dash.showItems(dash.getGroups()[0].get());
    const std::string before = snapshot(dash);
    for (const Row& row : rows) {
        writeFile(dir / "bad.json", row.text);
        dialogs.messages.clear();
        QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
        testing::internal::CaptureStdout();
        dash.importSfmCfg(path("bad.json"));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(snapshot(dash), before) << row.what;
        EXPECT_EQ(dash.getCurrentGroup(), dash.getGroups()[0].get()) << row.what;
        ASSERT_EQ(dialogs.messages.size(), 1u) << row.what;
        EXPECT_TRUE(dialogs.messages[0].text.contains(row.message))
            << row.what << ": " << dialogs.messages[0].text.toStdString();
        ASSERT_FALSE(log.isEmpty());
        EXPECT_TRUE(log.back()[2].toString().startsWith("Error: ")) << row.what;
    }

    dialogs.messages.clear();
    dash.importSfmCfg(path("no-such-file.json"));
    EXPECT_EQ(snapshot(dash), before);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Cannot open file " + path("no-such-file.json"));
}

TEST_F(DashConfig, SaveThatCannotCreateTheFileTellsTheUser) {
    makeProject();
    const QString target = path("no-such-dir/sfm.json");
    QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
    dash.saveInputConfig(target);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Cannot create file " + target);
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0][2].toString(), "Error: Cannot create file " + target);
}
