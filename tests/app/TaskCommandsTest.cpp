// The task commands and result opening of the main window: which result opens, the dense name, the
// error boundary around model loading, and the PLY window.
#include <filesystem>
#include <fstream>

#include <QPlainTextEdit>
#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "app/ResultFiles.h"
#include "gui/Gui.h"
#include "tests/support/DialogStub.h"
#include "tests/support/TestSupport.h"
#include "viewer/ModelViewer.h"
#include "vexkit/Paths.h"

namespace {

void writeBytes(const std::filesystem::path& file, size_t size) {
    std::ofstream(file, std::ios::binary) << std::string(size, 'x');
}

TEST(ResultFiles, LargestMatchingFileWins) {
    kxtest::TempDir dir;
    const auto a = dir / "a.ksm", b = dir / "b.ksm", c = dir / "c.KSM", empty = dir / "e.ksm",
               other = dir / "big.ply", gone = dir / "gone.ksm";
    writeBytes(a, 10);
    writeBytes(b, 20);
    writeBytes(c, 20);  // as large as b but later: ties go to the first
    writeBytes(empty, 0);
    writeBytes(other, 100);
    std::vector<std::filesystem::path> skipped;
    const auto skip = [&](const std::filesystem::path& file) { skipped.push_back(file); };
    EXPECT_EQ(getMaxFileWithExt({empty, a, gone, b, c, other}, ".ksm", skip), b);
    EXPECT_EQ(skipped, std::vector<std::filesystem::path>{gone});
    EXPECT_EQ(getMaxFileWithExt({c, a}, ".ksm"), c);  // capitals match
    EXPECT_EQ(getMaxFileWithExt({empty, gone, other}, ".ksm"), std::filesystem::path());
    EXPECT_EQ(app::denseNameOf("/any/dir/site.north.ksm"), "site.north_dense");
}

class TaskCommands : public ::testing::Test {
protected:
    void SetUp() override {
        mSavedCwd = std::filesystem::current_path();
        workDirOpt = dir.path();
    }
    void TearDown() override {
        std::filesystem::current_path(mSavedCwd);
        workDirOpt.reset();
    }
    QString log() const { return window.findChild<QPlainTextEdit*>("logWidget")->toPlainText(); }

    kxtest::TempDir dir;
    kxtest::DialogStub dialogs;
    MainWindow window;

private:
    std::filesystem::path mSavedCwd;
};

TEST_F(TaskCommands, DensifyAsksForAModelAndCancellingStartsNothing) {
    window.on_actionStart_MVS_triggered();
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].caption, "Select point cloud file");
    EXPECT_EQ(dialogs.fileRequests[0].filter, "Point Cloud (*.ksm)");
    EXPECT_TRUE(window.sparseModel().isEmpty());
    EXPECT_FALSE(log().contains("Starting MVS"));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(TaskCommands, ModelsThatDoNotLoadShowAnErrorAndKeepTheState) {
    const auto badMagic = dir / "bad.ksm", noColours = dir / "grey.ply";
    writeBytes(badMagic, 64);
    std::ofstream(noColours) << "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                "property float y\nproperty float z\nend_header\n1 2 3\n";
    window.openKSM(toQStr(badMagic));
    window.openPlyInNewWindow(toQStr(noColours));
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_TRUE(dialogs.messages[1].text.contains("red")) << dialogs.messages[1].text.toStdString();
    EXPECT_TRUE(window.sparseModel().isEmpty());
    EXPECT_EQ(window.plyViewer(), nullptr);
    // Each failure is also a line of the log pane.
    EXPECT_EQ(log().count("\n") + 1, 2) << log().toStdString();
    // A file that does not exist changes nothing and shows nothing.
    window.openKSM(toQStr(dir / "missing.ksm"));
    window.openPlyInNewWindow(QString());
    EXPECT_EQ(dialogs.messages.size(), 2u);
}

}  // namespace
