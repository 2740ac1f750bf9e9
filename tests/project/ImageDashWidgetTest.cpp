#include <cmath>
#include <cstring>
#include <sstream>

#include <QComboBox>
#include <QImage>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "project/ListItems.h"
#include "project/SfmCfgFile.h"
#include "project/Thumbnail.h"
#include "tests/project/DashFixtures.h"
#include "vexkit/Paths.h"

using namespace kxtest;

namespace {

class Dashboard : public ::testing::Test {
protected:
    TempDir dir;
    DialogStub dialogs;
    ImageDashWidget dash;

    QString path(const std::string& name) const { return QString::fromStdString((dir / name).string()); }
};

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

class DashConfig : public Dashboard {
protected:
    QStringList files;

    // Two images with tied optics, one image alone and a group emptied by the user; then the settings dialog
    // confirmed with every control away from this project's defaults {"F1D5", false, "Global", 10000, true,
    // false, false}.
    void SetUp() override {
        files = QStringList{photo(dir, "a.jpg", 400, 300), photo(dir, "b.jpg", 400, 300),
                            photo(dir, "c.jpg", 640, 480, ImageTags().exifGps(47, 8, 400))};
        addBatch(dash, dialogs, {files[0], files[1]}, true, "3000.5");
        addBatch(dash, dialogs, {photo(dir, "gone.jpg", 64, 64)}, true, "100");
        addBatch(dash, dialogs, {files[2]}, true, "2900");
        dash.showItems(dash.getGroups()[1].get());
        dash.removeItem(dash.item(0));
        dash.showItems(nullptr);
        ASSERT_EQ(groupSizes(dash), std::vector<size_t>({2, 0, 1}));
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
};

vexkit::Image8UC3 toRgb(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    vexkit::Image8UC3 out(static_cast<uint32_t>(rgb.width()), static_cast<uint32_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        std::memcpy(out.row(static_cast<uint32_t>(y)), rgb.constScanLine(y),
                    3 * static_cast<size_t>(rgb.width()));
    }
    return out;
}

}  // namespace

TEST_F(Dashboard, UntiedOpticsMakeOneGroupPerImageFromTheRecordedFocalLength) {
    // One group of tied optics is what the window's whole flow adds.
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files << photo(dir, "same" + std::to_string(i) + ".jpg", 400, 300, ImageTags().focal35(24));
    }
    addBatch(dash, dialogs, files, false);
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({1, 1, 1, 1}));
    EXPECT_EQ(dash.count(), 4) << "the group list shows every group";
    const ImgGrp& last = *dash.getGroups()[3];
    // The recorded 35 mm focal length filled fx and fy; the principal point is the image centre.
    EXPECT_NEAR(last.fx, 24 * std::sqrt((400.0 * 400 + 300 * 300) / 1872), 0.01);
    EXPECT_EQ(std::make_tuple(last.fy, last.cx, last.cy), std::make_tuple(last.fx, 200.f, 150.f));
    EXPECT_EQ(QString::fromStdString(last.images[0]->file), files[3]);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Dashboard, MixedOpticsBecomeOneGroupEachAskedInTurnAndACancelledOneStaysOut) {
    const auto tags = [](const char* model) {
        return ImageTags().exifMake("Acme").setExif("Exif.Image.Model", model);
    };
    dialogs.openFilesAnswer = QStringList{photo(dir, "a.jpg", 400, 300, tags("Acme X1")),
                                          photo(dir, "b.jpg", 300, 300, tags(" Y2 ")),
                                          photo(dir, "c.jpg", 400, 300), photo(dir, "d.jpg", 200, 200)};
    QStringList titles;
    dialogs.execAnswer = [&](QDialog& dialog) {
        titles << dialog.windowTitle();
        return titles.size() == 3 ? press(dialog, QDialogButtonBox::Cancel)
                                  : confirmOptics("3000", true)(dialog);
    };
    QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
    dash.addImages();
    EXPECT_EQ(titles, QStringList({"Optics: Acme X1, 400 × 300, 2 photographs",
                                   "Optics: Acme Y2, 300 × 300, 1 photograph",
                                   "Optics: unnamed camera, 200 × 200, 1 photograph"}));
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({2, 1}));
    EXPECT_EQ(dash.item(0)->toolTip(), "Acme X1, 2 photographs");
    EXPECT_EQ(log.last()[2].toString(), "Added 3 photographs in 2 groups");
}

TEST_F(Dashboard, UnreadableAndRepeatedPhotographsAreSkippedEachWithALogLine) {
    const QString a = photo(dir, "a.jpg", 400, 300);
    const QString b = photo(dir, "b.jpg", 400, 300);
    addBatch(dash, dialogs, {a}, true);
    const auto copy = [&](const QString& from, const char* name) {
        std::filesystem::copy_file(toPath(from), dir / name);
        return path(name);
    };
    writeFile(dir / "broken.jpg", "not a photograph");
    QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
    addBatch(dash, dialogs, {path("broken.jpg"), copy(a, "a2.jpg"), b, copy(b, "b2.jpg")}, true);
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({1, 1}));
    QStringList lines;
    for (const QList<QVariant>& each : log) {
        lines << each[2].toString();
    }
    lines.removeAll(QString());
    ASSERT_EQ(lines.size(), 5) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[1].startsWith("Skipped " + path("broken.jpg") + ": cannot be read: "))
        << lines[1].toStdString();
    EXPECT_EQ(lines.mid(2),
              QStringList({"Skipped " + path("a2.jpg") + ": same content as " + a,
                           "Skipped " + path("b2.jpg") + ": same content as " + b,
                           "Added 1 photograph in 1 group; skipped 1 unreadable, 2 already added"}));

    // Nothing left to add: the box says why and the project stays as it was.
    addBatch(dash, dialogs, {copy(b, "b3.jpg")}, true);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "No photograph could be added: 1 already added");
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({1, 1}));
}

TEST_F(Dashboard, MenuCommandsActOnTheirItem) {
    addBatch(dash, dialogs, {photo(dir, "a.jpg", 400, 300)}, true);

    // "Add images into this group" on a group item appends to that group without asking for optics, what
    // another optical system shot left out.
    dialogs.openFilesAnswer =
        QStringList{photo(dir, "other.jpg", 640, 480), photo(dir, "extra.jpg", 400, 300)};
    QSignalSpy log(&dash, &ImageDashWidget::reportProgress);
    dash.runMenuCommand(MenuCommand::kAddToGroup, dash.item(0));
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({2}));
    EXPECT_EQ(log.last()[2].toString(), "Added 1 photograph in 1 group; skipped 1 of another optical system");

    emit dash.itemDoubleClicked(dash.item(0));
    ASSERT_NE(dash.getCurrentGroup(), nullptr);

    dash.runMenuCommand(MenuCommand::kGoUp, nullptr);
    EXPECT_EQ(dash.getCurrentGroup(), nullptr);
    EXPECT_EQ(dash.count(), 1);
    EXPECT_EQ(dash.item(0)->type(), ImageGroupItem::kType);
}

TEST(AddImagesDialog, RefusesAnEmptyFocalLengthAndFillsAnEmptyFyFromFx) {
    // Accepting filled fields is what every batch added in the dashboard tests does.
    DialogStub dialogs;
    ImgMetaData meta;
    meta.width = 4000;
    meta.height = 3000;
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, meta, nullptr);
    EXPECT_NE(press(dialog), QDialog::Accepted);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_EQ(dialogs.messages[0].text, "Invalid Optical Parameters");

    QLineEdit* fx = child<QLineEdit>(dialog, "fx");
    QLineEdit* fy = child<QLineEdit>(dialog, "fy");
    QTest::keyClicks(fx, "3000");
    QTest::keyClick(fx, Qt::Key_Return);
    EXPECT_EQ(fy->text(), "3000");
    fy->setText("2990");
    fx->clear();
    QTest::keyClicks(fx, "3100");
    QTest::keyClick(fx, Qt::Key_Return);
    EXPECT_EQ(fy->text(), "2990") << "a filled fy keeps its value";
    EXPECT_EQ(press(dialog, QDialogButtonBox::Cancel), QDialog::Rejected);
    EXPECT_FALSE(result);
}

TEST_F(DashConfig, SavedFileSkipsEmptyGroupsAndImportsBackToTheSameText) {
    // The settings the user confirmed are saved; the priors never are, whatever the settings.
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

TEST(Thumbnail, RealPhotographsMatchTheFullDecode) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    // Real detail suffers from a too strong reduction where the smooth fixtures do not.
    for (const char* name : {"images-drone/phantom3_fc300s_DJI_0025.JPG",
                             "images-drone/inspire1_fc350_swapped-exif-dims_DJI_0061.JPG"}) {
        const auto file = data / name;
        const QImage fast = makeThumbnail(file.c_str(), kThumbnailSize);
        const QImage full = makeFullDecodeThumbnail(file.c_str(), kThumbnailSize);
        ASSERT_EQ(fast.size(), full.size()) << name;
        EXPECT_GE(psnr(toRgb(fast), toRgb(full)), 45.0) << name;
    }
}
