#include <cmath>

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "project/ListItems.h"
#include "tests/project/DashFixtures.h"

using namespace kxtest;

namespace {

class Dashboard : public ::testing::Test {
protected:
    kxtest::TempDir dir;
    DialogStub dialogs;
    ImageDashWidget dash;

    // Four photographs of one camera: 35 mm focal length 24, same size.
    QStringList fourOfOneCamera() {
        QStringList files;
        for (int i = 0; i < 4; ++i) {
            files << photo(dir, "same" + std::to_string(i) + ".jpg", 400, 300, ImageTags().focal35(24));
        }
        return files;
    }
};

}  // namespace

TEST_F(Dashboard, TiedOpticsMakeOneGroupElseOneGroupPerImage) {
    const QStringList files = fourOfOneCamera();
    QSignalSpy spy(&dash, &ImageDashWidget::reportProgress);
    addBatch(dash, dialogs, files, true);
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].filter, "Images (*.jpg *.jpeg *.avif *.heif *.heic)");
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({4}));
    const ImgGrp& tied = *dash.getGroups()[0];
    // The recorded 35 mm focal length filled fx and fy; the principal point is the image centre.
    EXPECT_NEAR(tied.fx, 24 * std::sqrt((400.0 * 400 + 300 * 300) / 1872), 0.01);
    EXPECT_EQ(std::make_tuple(tied.fy, tied.cx, tied.cy), std::make_tuple(tied.fx, 200.f, 150.f));
    EXPECT_EQ(QString::fromStdString(tied.images[3]->file), files[3]);
    // Progress for each file, and one log line.
    ASSERT_EQ(spy.size(), 4);
    EXPECT_EQ(spy[1][1].toInt(), 50);
    EXPECT_EQ(spy[0][2].toString(), "Loading images");
    EXPECT_EQ(spy[3][2].toString(), "");

    addBatch(dash, dialogs, files, false);
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({4, 1, 1, 1, 1}));
    EXPECT_EQ(dash.count(), 5) << "the group list shows every group";
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Dashboard, MixedOpticsAreRefusedWithoutAskingForThem) {
    const QString first = photo(dir, "a.jpg", 400, 300, ImageTags().focal35(24));
    // Another size, and no focal length.
    for (const QString& second :
         {photo(dir, "b.jpg", 300, 300, ImageTags().focal35(24)), photo(dir, "c.jpg", 400, 300)}) {
        dialogs.messages.clear();
        dialogs.openFilesAnswer = QStringList{first, second};
        dialogs.execAnswer = [](QDialog&) {
            ADD_FAILURE() << "optics asked for mixed images";
            return int(QDialog::Rejected);
        };
        dash.addImages();
        ASSERT_EQ(dialogs.messages.size(), 1u) << second.toStdString();
        EXPECT_EQ(dialogs.messages[0].title, "Error:");
        EXPECT_EQ(dialogs.messages[0].text, "Selected images are not shot with the same optical system.");
        EXPECT_TRUE(dash.getGroups().empty());
    }
}

TEST_F(Dashboard, LoadingErrorIsShownAndLoggedAndChangesNothing) {
    addBatch(dash, dialogs, fourOfOneCamera(), true);
    const QString good = photo(dir, "good.jpg", 400, 300);
    const QString bad = QString::fromStdString((dir / "broken.jpg").string());
    kxtest::writeFile(dir / "broken.jpg", "not a photograph");
    QSignalSpy spy(&dash, &ImageDashWidget::reportProgress);
    dialogs.openFilesAnswer = QStringList{good, bad, good};
    testing::internal::CaptureStdout();
    dash.addImages();
    dash.addImagesToGroup(dash.getGroups()[0].get());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.title, "Error");
        EXPECT_TRUE(message.text.startsWith("Cannot load image " + bad + ": ")) << message.text.toStdString();
    }
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({4}));
    ASSERT_GE(spy.size(), 2);
    EXPECT_TRUE(spy.back()[2].toString().startsWith("Error: Cannot load image ")) << "a log line";
}

TEST_F(Dashboard, OriginComesFromTheFirstBatchWithGps) {
    addBatch(
        dash, dialogs,
        {photo(dir, "g1.jpg", 400, 300, ImageTags().exifGps(47.0, 8.0, 400)),
         photo(dir, "g2.jpg", 400, 300, ImageTags().exifGps(47.2, 8.4, 500)), photo(dir, "g3.jpg", 400, 300)},
        true);
    ASSERT_TRUE(dash.getOrigin());
    const SfmCfg::GpsCoords first = *dash.getOrigin();
    EXPECT_NEAR(first.latitude, 47.1, 1e-4);
    EXPECT_NEAR(first.longitude, 8.2, 1e-4);
    EXPECT_NEAR(first.altitude, 450, 1e-3);

    addBatch(dash, dialogs, {photo(dir, "g4.jpg", 400, 300, ImageTags().exifGps(10, 10, 10))}, true);
    EXPECT_EQ(dash.getOrigin()->latitude, first.latitude) << "a later batch leaves the origin";
    dash.makeOrigin();
    EXPECT_NEAR(dash.getOrigin()->latitude, (47.0 + 47.2 + 10) / 3, 1e-4) << "makeOrigin averages everything";
    dash.clearData();
    dash.makeOrigin();
    ASSERT_TRUE(dash.getOrigin());
    EXPECT_NEAR(dash.getOrigin()->latitude, (47.0 + 47.2 + 10) / 3, 1e-4) << "clearing keeps the origin";
}

TEST_F(Dashboard, MenuCommandsActOnTheItemUnderTheCursor) {
    dash.resize(800, 600);
    dash.show();
    addBatch(dash, dialogs, fourOfOneCamera(), true);

    // "Add images into this group" on a group item appends to that group without asking for optics.
    dialogs.openFilesAnswer = QStringList{photo(dir, "extra.jpg", 640, 480)};
    dash.runMenuCommand(MenuCommand::kAddToGroup, dash.item(0));
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({5}));

    emit dash.itemDoubleClicked(dash.item(0));
    ASSERT_NE(dash.getCurrentGroup(), nullptr);
    dash.runMenuCommand(MenuCommand::kRemove, dash.item(4));
    EXPECT_EQ(groupSizes(dash), std::vector<size_t>({4}));

    // The real menu: choosing "Go up" acts once the menu has closed.
    const QPoint empty(790, 590);
    ASSERT_EQ(dash.itemAt(empty), nullptr);
    QTimer::singleShot(0, [] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        ASSERT_EQ(popup->actions().back()->text(), "Go up");
        popup->setActiveAction(popup->actions().back());
        QTest::keyClick(popup, Qt::Key_Return);
    });
    dash.showContextMenu(empty);
    EXPECT_EQ(dash.getCurrentGroup(), nullptr);
    EXPECT_EQ(dash.count(), 1);
    EXPECT_EQ(dash.item(0)->type(), ImageGroupItem::kType);
}
