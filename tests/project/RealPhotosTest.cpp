#include <algorithm>
#include <cmath>
#include <set>

#include <QDir>

#include <gtest/gtest.h>

#include "tests/project/DashFixtures.h"

using namespace kxtest;

namespace {

QStringList imagesIn(const std::filesystem::path& folder) {
    QStringList files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && ext != ".md" && ext != ".ply") {
            files << QString::fromStdString(entry.path().string());
        }
    }
    files.sort();
    return files;
}

}  // namespace

TEST(RealPhotos, SurveyOfOneCameraBecomesOneGroup) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    DialogStub dialogs;
    ImageDashWidget dash;
    const QStringList lund = imagesIn(data / "sfm-set" / "lund");
    ASSERT_EQ(lund.size(), 29);
    addBatch(dash, dialogs, lund, true);
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
    ASSERT_EQ(groupSizes(dash), std::vector<size_t>({29}));
    const ImgGrp& group = *dash.getGroups()[0];
    EXPECT_EQ(group.width, 1024u);
    EXPECT_EQ(group.cx, 512.f);
    // The 35 mm equivalent focal length of 35 on a 1024 x 768 frame.
    EXPECT_NEAR(group.fx, 35 * std::sqrt((1024.0 * 1024 + 768 * 768) / 1872), 0.01);
    EXPECT_FALSE(dash.smallImages()) << "1024 x 768 on average is not small";
    // Their GPS blocks lack the altitude reference, so they carry no position and make no origin.
    EXPECT_FALSE(dash.getOrigin());
    const auto cfg = dash.getSfmCfg(true);
    EXPECT_EQ(cfg->cameras.size(), 1u);
    EXPECT_EQ(cfg->images.size(), 29u);
    EXPECT_FALSE(cfg->poses);
    ASSERT_TRUE(cfg->settings);
    EXPECT_EQ(cfg->settings->opticModel, "F1D5");
}

TEST(RealPhotos, EverySampleAddedSavedAndImportedAgain) {
    KX_REQUIRE_SHARED_TESTDATA(data);
    TempDir dir;
    DialogStub dialogs;
    ImageDashWidget dash;
    QStringList all;
    for (const char* folder : {"images-drone", "images-heif", "images-avif", "sfm-set"}) {
        all << imagesIn(data / folder);
    }
    // Each file its own batch, so that one that fails cannot take others with it.
    std::set<std::string> failed;
    testing::internal::CaptureStdout();
    for (const QString& file : all) {
        const size_t nbMessages = dialogs.messages.size();
        addBatch(dash, dialogs, {file}, false);
        if (dialogs.messages.size() != nbMessages) {
            EXPECT_TRUE(dialogs.messages.back().text.startsWith("Cannot load image " + file + ": "));
            failed.insert(std::filesystem::path(file.toStdString()).filename().string());
        }
    }
    testing::internal::GetCapturedStdout();
    // Only files with several top-level images are refused: the reader takes exactly one.
    EXPECT_EQ(failed, (std::set<std::string>{"grid-2x2_unhidden-tiles_800x600.avif",
                                             "two-top-level-images_example.heic"}));
    const size_t nbLoaded = static_cast<size_t>(all.size()) - failed.size();
    ASSERT_EQ(dash.getGroups().size(), nbLoaded);
    for (const auto& group : dash.getGroups()) {
        const Image& image = *group->images[0];
        const QSize icon = image.icon.availableSizes().value(0);
        EXPECT_EQ(std::max(icon.width(), icon.height()), 192) << image.file;
        EXPECT_EQ(group->width, image.meta.width) << image.file;
    }

    // Every setting confirmed through the dialog as the user would, with "Use GPS" checked.
    dialogs.execAnswer = [](QDialog& dialog) {
        child<QCheckBox>(dialog, "useGPSCheckBox")->setChecked(true);
        return press(dialog);
    };
    dash.changeSfmSettings();
    const QString first = QString::fromStdString((dir / "sfm.json").string());
    dash.saveInputConfig(first);
    ImageDashWidget again;
    again.importSfmCfg(first);
    EXPECT_EQ(groupSizes(again), groupSizes(dash));
    const QString second = QString::fromStdString((dir / "again.json").string());
    again.saveInputConfig(second);
    EXPECT_EQ(readFile(second.toStdString()), readFile(first.toStdString()));
    EXPECT_TRUE(dialogs.messages.size() == failed.size()) << "saving and importing raised nothing";

    // For the service every GPS-tagged photograph gets a location prior with a covariance of its source.
    const auto cfg = again.getSfmCfg(true);
    ASSERT_TRUE(cfg->poses);
    size_t nbLocated = 0;
    for (const auto& group : again.getGroups()) {
        nbLocated += group->images[0]->meta.gps ? 1 : 0;
    }
    EXPECT_EQ(cfg->poses->size(), nbLocated);
    EXPECT_GE(nbLocated, 10u);
    for (const auto& pose : *cfg->poses) {
        ASSERT_TRUE(pose.location);
        EXPECT_TRUE(std::isfinite(pose.location->cartesian[0]));
        EXPECT_GT((*pose.location->covariance)[0][0], 0.f);
    }
}
