#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "tests/project/DashFixtures.h"
#include "vexkit/Paths.h"

using namespace kxtest;

// The slots are bound by name (checked by the window's own tests); here what they do beyond calling.
TEST(MainWindowDashboard, ProgressReachesTheWindowAndConfigurationCommandsUseTheProject) {
    TempDir dir;
    DialogStub dialogs;
    MainWindow window;
    auto* dash = child<ImageDashWidget>(window, "listWidget");
    ASSERT_NE(dash, nullptr);

    dialogs.openFilesAnswer = QStringList{photo(dir, "a.jpg", 400, 300), photo(dir, "b.jpg", 400, 300)};
    dialogs.execAnswer = confirmOptics("3000", true);
    child<QAction>(window, "actionAdd_Images")->trigger();
    EXPECT_EQ(groupSizes(*dash), std::vector<size_t>({2}));
    EXPECT_EQ(child<QLabel>(window, "statusLabel")->text(), "Loading images");
    EXPECT_EQ(child<QProgressBar>(window, "progressBar")->value(), 100);
    const QStringList lines = child<QPlainTextEdit>(window, "logWidget")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("] Loading images")) << lines[0].toStdString();

    dialogs.saveFileAnswer = QString::fromStdString((dir / "sfm.json").string());
    child<QAction>(window, "actionSave_SFM_Config")->trigger();
    ASSERT_FALSE(dialogs.fileRequests.empty());
    EXPECT_EQ(dialogs.fileRequests.back().dir, toQStr(workDir() / "sfm.json"));
    ASSERT_TRUE(std::filesystem::exists(dir / "sfm.json"));

    dash->clearData();
    dialogs.openFileAnswer = dialogs.saveFileAnswer;
    child<QAction>(window, "actionImport_SFM_Config")->trigger();
    EXPECT_EQ(groupSizes(*dash), std::vector<size_t>({2}));
    EXPECT_TRUE(dialogs.messages.empty());
}
