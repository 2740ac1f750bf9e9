// The behaviour of the main window: status line and log pane, project directory, task gate, errors.
#include <filesystem>
#include <stdexcept>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTime>
#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "app/StatusLog.h"
#include "app/base/Gui.h"
#include "tests/support/DialogStub.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

namespace {
const char kNoDirectory[] = "Project directory is not set. Please set with File -> Set Project Directory.";

// Each test starts without a project directory and leaves the process where it found it.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        mSavedCwd = std::filesystem::current_path();
        workDirOpt.reset();
    }
    void TearDown() override {
        std::filesystem::current_path(mSavedCwd);
        workDirOpt.reset();
    }

    template <typename T>
    T* child(const char* name) {
        T* found = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QStringList logLines() {
        const QString text = child<QPlainTextEdit>("logWidget")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }

    std::filesystem::path mSavedCwd;
    MainWindow window;
};

const QRegularExpression kLogLine(QStringLiteral(R"(^\[(\d\d:\d\d:\d\d\.\d\d\d)\] (.*)$)"));
}  // namespace

TEST(StatusLog, FormatsTimeWithMillisecondsAndKeepsTheTextAsIs) {
    EXPECT_EQ(app::formatLogLine(QTime(9, 5, 7, 42), "Uploading"), "[09:05:07.042] Uploading");
    EXPECT_EQ(app::formatLogLine(QTime(23, 59, 59, 999), "100% of %1 done"),
              "[23:59:59.999] 100% of %1 done");
    EXPECT_EQ(app::formatLogLine(QTime(0, 0), ""), "[00:00:00.000] ");
}

TEST_F(MainWindowTest, StatusLineAndTimestampedLogLine) {
    const QTime before = QTime::currentTime();
    window.updateUiStatus("Uploading images", 42, "Uploaded 3 of 7 %1");
    const QTime after = QTime::currentTime();
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Uploading images");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 42);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    const QRegularExpressionMatch match = kLogLine.match(lines[0]);
    ASSERT_TRUE(match.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(match.captured(2), "Uploaded 3 of 7 %1");
    // The stamp is the local time of the call (a run across midnight is not worth handling here).
    const QTime stamp = QTime::fromString(match.captured(1), "hh:mm:ss.zzz");
    ASSERT_TRUE(stamp.isValid());
    if (before <= after) {
        EXPECT_LE(before, stamp);
        EXPECT_LE(stamp, after);
    }

    window.updateUiStatus("Done", 100, "second");
    EXPECT_EQ(logLines().size(), 2);
    EXPECT_TRUE(logLines()[1].endsWith("] second"));
}

TEST_F(MainWindowTest, EmptyLogChangesTheStatusLineOnly) {
    window.updateUiStatus("Loading", 10);
    window.updateUiStatus("Loading more", 20, QString());
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Loading more");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 20);
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(MainWindowTest, RepeatingTheShownStatusChangesNothing) {
    window.updateUiStatus("Loading", 30);
    QSignalSpy valueChanged(child<QProgressBar>("progressBar"), &QProgressBar::valueChanged);
    window.updateUiStatus("Loading", 30);
    EXPECT_EQ(valueChanged.count(), 0);
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Loading");
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(MainWindowTest, CheckWorkDirNeedsAnExistingProjectDirectory) {
    kxtest::DialogStub dialogs;
    EXPECT_FALSE(window.checkWorkDir());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_EQ(dialogs.messages[0].text, kNoDirectory);

    kxtest::TempDir dir;
    const std::filesystem::path project = dir / "project";
    std::filesystem::create_directory(project);
    workDirOpt = project;
    EXPECT_TRUE(window.checkWorkDir());
    EXPECT_EQ(dialogs.messages.size(), 1u);

    // Deleted behind the client's back.
    std::filesystem::remove(project);
    EXPECT_FALSE(window.checkWorkDir());
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, kNoDirectory);

    // A plain file in its place is no directory either.
    kxtest::writeFile(project, "x");
    EXPECT_FALSE(window.checkWorkDir());
    EXPECT_EQ(dialogs.messages.size(), 3u);
}

TEST_F(MainWindowTest, SetProjectDirectoryStoresItAndEntersIt) {
    kxtest::TempDir dir;
    const std::filesystem::path project = dir / u8"\u9879\u76ee project";
    std::filesystem::create_directory(project);
    kxtest::DialogStub dialogs;
    dialogs.directoryAnswer = toQStr(project);

    child<QAction>("actionSet_Project_Directory")->trigger();  // reaches the slot by its name

    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].caption, "Select project directory");
    EXPECT_EQ(dialogs.fileRequests[0].dir, QDir::homePath());  // no project yet
    ASSERT_TRUE(workDirOpt.has_value());
    EXPECT_EQ(*workDirOpt, project);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), project));
    EXPECT_TRUE(window.checkWorkDir());
    EXPECT_TRUE(dialogs.messages.empty());

    // The next dialog opens in the project directory.
    dialogs.directoryAnswer.clear();
    child<QAction>("actionSet_Project_Directory")->trigger();
    ASSERT_EQ(dialogs.fileRequests.size(), 2u);
    EXPECT_EQ(dialogs.fileRequests[1].dir, toQStr(project));
}

TEST_F(MainWindowTest, CancelledDirectoryDialogChangesNothing) {
    kxtest::DialogStub dialogs;  // answers with an empty directory: cancelled
    child<QAction>("actionSet_Project_Directory")->trigger();
    EXPECT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_FALSE(workDirOpt.has_value());
    EXPECT_EQ(std::filesystem::current_path(), mSavedCwd);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(MainWindowTest, DirectoryThatCannotBeEnteredIsReportedAndNotKept) {
    kxtest::TempDir dir;
    kxtest::DialogStub dialogs;
    dialogs.directoryAnswer = toQStr(dir / "vanished");

    child<QAction>("actionSet_Project_Directory")->trigger();

    EXPECT_FALSE(workDirOpt.has_value());
    EXPECT_EQ(std::filesystem::current_path(), mSavedCwd);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_TRUE(dialogs.messages[0].text.contains("vanished")) << dialogs.messages[0].text.toStdString();
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(kLogLine.match(lines[0]).hasMatch());
    EXPECT_TRUE(lines[0].contains("Error: ")) << lines[0].toStdString();
}

TEST_F(MainWindowTest, ThrowingCommandIsShownLoggedAndSurvived) {
    kxtest::DialogStub dialogs;
    window.runCommand([] { throw std::runtime_error("disk full"); });
    window.runCommand([] { throw 42; });
    bool ran = false;
    window.runCommand([&ran] { ran = true; });

    EXPECT_TRUE(ran);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_EQ(dialogs.messages[0].text, "disk full");
    EXPECT_EQ(dialogs.messages[1].title, "Error");
    EXPECT_FALSE(dialogs.messages[1].text.isEmpty());
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(kLogLine.match(lines[0]).captured(2), "Error: disk full");
}

TEST_F(MainWindowTest, TaskGateReenablesBothCommandsWhenItsTimerFires) {
    auto* sfm = child<QAction>("actionStart_SFM");
    auto* mvs = child<QAction>("actionStart_MVS");
    window.gateTaskCommands(std::chrono::milliseconds(20));
    EXPECT_FALSE(sfm->isEnabled());
    EXPECT_FALSE(mvs->isEnabled());
    EXPECT_TRUE(child<QAction>("actionAdd_Images")->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sfm->isEnabled() && mvs->isEnabled(); }, 10000));
}

TEST_F(MainWindowTest, FirstGateToEndReenablesEvenWhileALongerOneRuns) {
    auto* sfm = child<QAction>("actionStart_SFM");
    auto* mvs = child<QAction>("actionStart_MVS");
    window.gateTaskCommands(std::chrono::milliseconds(20));
    window.preventNewTaskFor(3600);
    EXPECT_FALSE(sfm->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sfm->isEnabled() && mvs->isEnabled(); }, 10000));
}

TEST_F(MainWindowTest, HugeGateDoesNotOverflowIntoAnImmediateTimer) {
    auto* sfm = child<QAction>("actionStart_SFM");
    window.preventNewTaskFor(4000000000u);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(sfm->isEnabled());
}
