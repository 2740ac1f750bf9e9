#include <cmath>

#include <QTest>

#include <gtest/gtest.h>

#include "project/ListItems.h"
#include "tests/project/DashFixtures.h"

using namespace kxtest;

namespace {

class Dashboard : public ::testing::Test {
protected:
    TempDir dir;
    DialogStub dialogs;
    ImageDashWidget dash;
};

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

TEST_F(Dashboard, MixedOpticsAreRefusedWithoutAskingForThem) {
    dialogs.openFilesAnswer = QStringList{photo(dir, "a.jpg", 400, 300, ImageTags().focal35(24)),
                                          photo(dir, "b.jpg", 300, 300, ImageTags().focal35(24))};
    dialogs.execAnswer = [](QDialog&) {
        ADD_FAILURE() << "optics asked for mixed images";
        return int(QDialog::Rejected);
    };
    dash.addImages();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Error:");
    EXPECT_EQ(dialogs.messages[0].text, "Selected images are not shot with the same optical system.");
    EXPECT_TRUE(dash.getGroups().empty());
}

TEST_F(Dashboard, OriginComesFromTheFirstBatchWithGps) {
    addBatch(
        dash, dialogs,
        {photo(dir, "g1.jpg", 400, 300, ImageTags().exifGps(47.0, 8.0, 400)),
         photo(dir, "g2.jpg", 400, 300, ImageTags().exifGps(47.2, 8.4, 500)), photo(dir, "g3.jpg", 400, 300)},
        true);
    ASSERT_TRUE(dash.project().origin());
    const SfmCfg::GpsCoords first = *dash.project().origin();
    EXPECT_NEAR(first.latitude, 47.1, 1e-4) << "the mean of the located images";

    addBatch(dash, dialogs, {photo(dir, "g4.jpg", 400, 300, ImageTags().exifGps(10, 10, 10))}, true);
    EXPECT_EQ(dash.project().origin()->latitude, first.latitude) << "a later batch leaves the origin";
}

TEST_F(Dashboard, MenuCommandsActOnTheirItem) {
    addBatch(dash, dialogs, {photo(dir, "a.jpg", 400, 300)}, true);

    // "Add images into this group" on a group item appends to that group without asking for optics.
    dialogs.openFilesAnswer = QStringList{photo(dir, "extra.jpg", 640, 480)};
    dash.runMenuCommand(MenuCommand::kAddToGroup, dash.item(0));
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({2}));

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
