#include <QCryptographicHash>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "config/SfmCfgJson.h"
#include "tests/project/DashFixtures.h"

using namespace kxtest;

namespace {

std::string md5Hex(const QString& file) {
    const QByteArray bytes = QByteArray::fromStdString(kxtest::readFile(file.toStdString()));
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
}

// One camera and one image object as the file shows them (indented for their arrays).
std::string cameraText(uint32_t width, uint32_t height, const QString& f, const QString& cx,
                       const QString& cy) {
    return QString(R"(        {
            "width": %1,
            "height": %2,
            "fx": %3,
            "fy": %3,
            "cx": %4,
            "cy": %5,
            "k1": 0.0,
            "k2": 0.0,
            "p1": 0.0,
            "p2": 0.0,
            "k3": 0.0
        })")
        .arg(width)
        .arg(height)
        .arg(f, cx, cy)
        .toStdString();
}

std::string imageText(const QString& file, int idxCam) {
    return QString(R"(        {
            "key": "%1",
            "format": 0,
            "idxCam": %2,
            "name": "%3"
        })")
        .arg(QString::fromStdString(md5Hex(file)), QString::number(idxCam), file)
        .toStdString();
}

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
    kxtest::TempDir dir;
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
    void confirmSettings() {
        dialogs.execAnswer = [](QDialog& dialog) { return press(dialog); };
        dash.changeSfmSettings();
        dialogs.execAnswer = nullptr;
    }
    QString path(const std::string& name) const { return QString::fromStdString((dir / name).string()); }
};

}  // namespace

TEST_F(DashConfig, SavedTextSkipsEmptyGroupsAndReadsBackToTheSameText) {
    makeProject();
    dash.saveInputConfig(path("sfm.json"));
    const std::string expected = "{\n    \"cameras\": [\n" +
                                 cameraText(400, 300, "3000.5", "200.0", "150.0") + ",\n" +
                                 cameraText(640, 480, "2900.0", "320.0", "240.0") +
                                 "\n    ],\n    \"images\": [\n" + imageText(files[0], 0) + ",\n" +
                                 imageText(files[1], 0) + ",\n" + imageText(files[2], 1) + "\n    ]\n}";
    EXPECT_EQ(kxtest::readFile(dir / "sfm.json"), expected);

    // The settings the user confirmed are saved; the priors never are, whatever the settings.
    confirmSettings();
    dash.saveInputConfig(path("with-settings.json"));
    const std::string text = kxtest::readFile(dir / "with-settings.json");
    EXPECT_EQ(text.substr(0, expected.size() - 2), expected.substr(0, expected.size() - 2));
    EXPECT_NE(text.find("\n    \"settings\": {\n        \"opticModel\": \"F1D5\",\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("\"poses\""), std::string::npos);
    EXPECT_EQ(text.find("\"origin\""), std::string::npos);

    // Imported again, with progress, and saved: optics, files, digests and settings give the same text.
    ImageDashWidget other;
    QSignalSpy progress(&other, &ImageDashWidget::reportProgress);
    other.importSfmCfg(path("with-settings.json"));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(progress.size(), 3);
    EXPECT_EQ(groupSizes(other), std::vector<size_t>({2, 1}));
    other.saveInputConfig(path("second.json"));
    EXPECT_EQ(kxtest::readFile(dir / "second.json"), text);
}

TEST_F(DashConfig, ImportedTiePointsAndMeasurementsSurviveASave) {
    const QString a = photo(dir, "t1.jpg", 64, 48);
    const QString b = photo(dir, "t2.jpg", 64, 48);
    SfmCfg cfg;
    cfg.cameras.push_back({64, 48, 50, 50, 32, 24, 0, 0, 0, 0, 0});
    SfmCfg::Location tie;
    tie.cartesian = {1.5, -2.25, 3};
    cfg.tiePoints = std::vector<std::optional<SfmCfg::Location>>{tie, std::nullopt};
    for (const QString& file : {a, b}) {
        SfmCfg::Image image;
        image.key = FileKey(std::array<char, 32>{});
        std::copy_n(md5Hex(file).data(), 32, image.key.data.begin());
        image.name = file.toStdString();
        cfg.images.push_back(image);
    }
    cfg.images[1].tiePointMeasurements = std::vector<SfmCfg::Image::TiePointMeasurement>{{0, 10.5f, 20.25f}};
    std::ostringstream text;
    writeSfmCfg(text, cfg);
    kxtest::writeFile(dir / "ties.json", text.str());

    dash.importSfmCfg(path("ties.json"));
    ASSERT_EQ(groupSizes(dash), std::vector<size_t>({2}));
    EXPECT_FALSE(dash.getSfmSettings()) << "a file without settings leaves none";
    dash.saveInputConfig(path("ties-again.json"));
    EXPECT_EQ(kxtest::readFile(dir / "ties-again.json"), text.str());
}

TEST_F(DashConfig, FailedImportLeavesTheProjectExactlyAsItWas) {
    makeProject();
    confirmSettings();
    dash.saveInputConfig(path("good.json"));
    const std::string good = kxtest::readFile(dir / "good.json");
    kxtest::writeFile(dir / "broken.jpg", "not a photograph");

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
        {"missing image", replaced(bPath, (dir / "missing.jpg").string()), "Cannot load image "},
        {"unreadable image", replaced(bPath, (dir / "broken.jpg").string()), "Cannot load image "},
        {"camera index out of range", replaced("\"idxCam\": 1", "\"idxCam\": 2"), "refers to camera 2"},
        {"not JSON", good.substr(0, good.size() / 2), ""},
        {"not a configuration", "{\"cameras\": 3}", ""},
    };
    dash.showItems(dash.getGroups()[0].get());
    const std::string before = snapshot(dash);
    for (const Row& row : rows) {
        kxtest::writeFile(dir / "bad.json", row.text);
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
