// The whole flow in the real window against the service's test engine: photographs added as a group,
// Align Images through its menu action, the sparse model in the embedded viewer, Densify Point Cloud
// and the dense cloud in a window of its own; then a failing task and the window ready for the next.
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "app/Ui_MainWindow.h"
#include "gui/Gui.h"
#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "project/ImageDashWidget.h"
#include "tests/project/DashFixtures.h"
#include "tests/remote/ServicePeer.h"
#include "tests/support/DialogStub.h"
#include "vexkit/Paths.h"

namespace {

class WholeFlow : public ::testing::Test {
protected:
    void SetUp() override {
        mSavedCwd = std::filesystem::current_path();
        workDirOpt.reset();
    }
    void TearDown() override {
        std::filesystem::current_path(mSavedCwd);
        workDirOpt.reset();
    }

    // Sets the project directory and adds four generated photographs as one group, through the menus.
    void startProject(MainWindow& window) {
        dialogs.directoryAnswer = toQStr(project.path());
        window.findChild<QAction*>("actionSet_Project_Directory")->trigger();
        QStringList files;
        for (int i = 0; i < 4; ++i) {
            kxtest::ImageTags tags;
            tags.setExif("Exif.Image.ImageDescription", "view " + std::to_string(i));
            files << kxtest::photo(photos, "view" + std::to_string(i) + ".jpg", 96, 64, tags);
        }
        kxtest::addBatch(*window.findChild<ImageDashWidget*>("listWidget"), dialogs, files, true);
        ASSERT_EQ(window.findChild<ImageDashWidget*>("listWidget")->getGroups().size(), 1u);
    }
    QString log(const MainWindow& window) const {
        return window.findChild<QPlainTextEdit*>("logWidget")->toPlainText();
    }

    kxtest::TempDir project, photos;
    kxtest::DialogStub dialogs;

private:
    std::filesystem::path mSavedCwd;
};

TEST_F(WholeFlow, AlignThenDensifyShowBothModels) {
    kxtest::ServicePeer service;
    service.trust();
    MainWindow window;
    window.show();
    startProject(window);

    window.findChild<QAction*>("actionStart_SFM")->trigger();
    EXPECT_FALSE(window.findChild<QAction*>("actionStart_MVS")->isEnabled());  // the 10-second gate
    ASSERT_TRUE(kxtest::waitUntil([&] {
        return !window.sparseModel().isEmpty() || !dialogs.messages.empty();
    })) << log(window).toStdString();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(toPath(window.sparseModel()), project / "0.ksm");
    const auto model = std::get<ksm::Model<1u>>(ksm::loadKsm(project / "0.ksm"));
    ModelViewer* viewer = window.findChild<ModelViewer*>("modelViewer");
    EXPECT_EQ(viewer->getNbCaptures(), model.captures.size());
    EXPECT_EQ(model.captures.size(), 4u);
    EXPECT_TRUE(log(window).contains("Starting SFM. Results will be saved into " + toQStr(project.path())));

    window.findChild<QAction*>("actionStart_MVS")->setEnabled(true);  // not waiting out the gate
    window.findChild<QAction*>("actionStart_MVS")->trigger();
    EXPECT_TRUE(log(window).contains("Starting MVS with " + window.sparseModel() +
                                     ". Results will be saved as " + toQStr(project / "0_dense") + ".ply"));
    ASSERT_TRUE(kxtest::waitUntil([&] { return window.plyViewer() || !dialogs.messages.empty(); }));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
    ModelViewer* first = window.plyViewer();
    EXPECT_EQ(first->size(), QSize(1024, 768));
    EXPECT_TRUE(first->isVisible());
    const kxply::PLYData cloud((project / "0_dense.ply").string());
    EXPECT_GT(cloud.getVertexPositions().size(), 0u);

    // Opening a cloud again replaces the window.
    window.openPlyInNewWindow(toQStr(project / "0_dense.ply"));
    EXPECT_NE(window.plyViewer(), first);
    int nbViewerWindows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        nbViewerWindows += qobject_cast<ModelViewer*>(widget) != nullptr;
    }
    EXPECT_EQ(nbViewerWindows, 1);
}

TEST_F(WholeFlow, FailedTaskLeavesTheWindowReadyForTheNext) {
    kxtest::ServicePeer service({"task-fails"});
    service.trust();
    MainWindow window;
    startProject(window);
    window.findChild<QAction*>("actionStart_SFM")->trigger();
    ASSERT_TRUE(kxtest::waitUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(dialogs.messages[0].text, "The task failed.");
    EXPECT_TRUE(window.sparseModel().isEmpty());

    window.findChild<QAction*>("actionStart_SFM")->setEnabled(true);
    window.findChild<QAction*>("actionStart_SFM")->trigger();  // the fault fires once
    ASSERT_TRUE(
        kxtest::waitUntil([&] { return !window.sparseModel().isEmpty() || dialogs.messages.size() > 1; }));
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

}  // namespace
