// The main window: its menus and named slots, and its behaviour (status line and log pane, project
// directory, task gate, errors).
#include <filesystem>
#include <stdexcept>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>
#include <QTime>
#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "app/StatusLog.h"
#include "gui/Gui.h"
#include "tests/support/DialogStub.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Paths.h"

namespace {
template <typename T>
T* child(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

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
        return ::child<T>(window, name);
    }
    // The texts of the message boxes shown, each of which must be titled "Error".
    static QStringList errors(const kxtest::DialogStub& dialogs) {
        QStringList texts;
        for (const auto& message : dialogs.messages) {
            EXPECT_EQ(message.title, "Error") << message.text.toStdString();
            texts << message.text;
        }
        return texts;
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

TEST(MainWindowForm, WindowActionsAndMenus) {
    MainWindow window;
    EXPECT_EQ(window.windowTitle(), "Kestrix Client 0.1.8");
    auto* menuFile = child<QMenu>(window, "menuFile");
    auto* menuRun = child<QMenu>(window, "menuRun");
    ASSERT_TRUE(menuFile && menuRun);
    EXPECT_EQ(window.menuBar()->actions(), QList<QAction*>({menuFile->menuAction(), menuRun->menuAction()}));
    // "<object name>: <text>" of a menu's actions in order: the slots find their actions by these names.
    const auto entries = [](const QMenu& menu) {
        QStringList list;
        for (const QAction* action : menu.actions()) {
            list << action->objectName() + ": " + action->text();
        }
        return list;
    };
    EXPECT_EQ(entries(*menuFile),
              QStringList({"actionSet_Project_Directory: Set Project Directory",
                           "actionAdd_Images: Add Images", "actionOpen_Sparse_Model: Open Sparse Model",
                           "actionOpen_PLY: Open PLY", "actionSave_SFM_Config: Save SFM Config",
                           "actionImport_SFM_Config: Import SFM Config"}));
    EXPECT_EQ(entries(*menuRun),
              QStringList({"actionSFM_Settings: SFM Settings", "actionStart_SFM: Align Images",
                           "actionStart_MVS: Densify Point Cloud"}));
}

TEST(MainWindowForm, EveryNamedSlotHasItsSenderInTheForm) {
    // A slot "on_<object>_<signal>(<arguments>)" whose object or signal is misspelt silently never runs.
    MainWindow window;
    const QMetaObject* meta = window.metaObject();
    int nbBound = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QByteArray slot = meta->method(i).methodSignature();
        if (!slot.startsWith("on_")) {
            continue;
        }
        const int split = slot.lastIndexOf('_', slot.indexOf('('));
        QObject* sender = window.findChild<QObject*>(QString::fromLatin1(slot.mid(3, split - 3)));
        ASSERT_NE(sender, nullptr) << slot.constData();
        EXPECT_GE(sender->metaObject()->indexOfSignal(slot.mid(split + 1).constData()), 0)
            << slot.constData();
        ++nbBound;
    }
    EXPECT_GE(nbBound, 1);
}

TEST(StatusLog, FormatsTimeWithMillisecondsAndKeepsTheTextAsIs) {
    EXPECT_EQ(app::formatLogLine(QTime(9, 5, 7, 42), "Uploading"), "[09:05:07.042] Uploading");
    EXPECT_EQ(app::formatLogLine(QTime(23, 59, 59, 999), "100% of %1 done"),
              "[23:59:59.999] 100% of %1 done");
}

TEST_F(MainWindowTest, StatusLineAndTimestampedLogLine) {
    window.updateUiStatus("Uploading images", 42, "Uploaded 3 of 7 %1");
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Uploading images");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 42);
    ASSERT_EQ(logLines().size(), 1);
    const QRegularExpressionMatch match = kLogLine.match(logLines()[0]);
    ASSERT_TRUE(match.hasMatch()) << logLines()[0].toStdString();
    EXPECT_EQ(match.captured(2), "Uploaded 3 of 7 %1");

    // An empty log changes the status line only.
    window.updateUiStatus("Loading", 20, QString());
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Loading");
    EXPECT_EQ(logLines().size(), 1);
}

TEST_F(MainWindowTest, CheckWorkDirNeedsAnExistingProjectDirectory) {
    kxtest::DialogStub dialogs;
    EXPECT_FALSE(window.checkWorkDir());
    kxtest::TempDir dir;
    const std::filesystem::path project = dir / "project";
    std::filesystem::create_directory(project);
    workDirOpt = project;
    EXPECT_TRUE(window.checkWorkDir());
    std::filesystem::remove(project);  // deleted behind the client's back
    EXPECT_FALSE(window.checkWorkDir());
    kxtest::writeFile(project, "x");  // a plain file in its place is no directory either
    EXPECT_FALSE(window.checkWorkDir());
    EXPECT_EQ(errors(dialogs), QStringList({kNoDirectory, kNoDirectory, kNoDirectory}));
}

TEST_F(MainWindowTest, SetProjectDirectoryStoresItAndEntersIt) {
    kxtest::TempDir dir;
    const std::filesystem::path project = dir / u8"\u9879\u76ee project";
    std::filesystem::create_directory(project);
    kxtest::DialogStub dialogs;

    // Cancelled (an empty answer): nothing changes.
    child<QAction>("actionSet_Project_Directory")->trigger();  // reaches the slot by its name
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].caption, "Select project directory");
    EXPECT_EQ(dialogs.fileRequests[0].dir, QDir::homePath());  // no project yet
    EXPECT_FALSE(workDirOpt.has_value());
    EXPECT_EQ(std::filesystem::current_path(), mSavedCwd);

    dialogs.directoryAnswer = toQStr(project);
    child<QAction>("actionSet_Project_Directory")->trigger();
    ASSERT_TRUE(workDirOpt.has_value());
    EXPECT_EQ(*workDirOpt, project);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), project));
    EXPECT_TRUE(dialogs.messages.empty());

    // The next dialog opens in the project directory.
    child<QAction>("actionSet_Project_Directory")->trigger();
    ASSERT_EQ(dialogs.fileRequests.size(), 3u);
    EXPECT_EQ(dialogs.fileRequests[2].dir, toQStr(project));
}

TEST_F(MainWindowTest, DirectoryThatCannotBeEnteredIsReportedAndNotKept) {
    kxtest::TempDir dir;
    kxtest::DialogStub dialogs;
    dialogs.directoryAnswer = toQStr(dir / "vanished");

    child<QAction>("actionSet_Project_Directory")->trigger();

    EXPECT_FALSE(workDirOpt.has_value());
    EXPECT_EQ(std::filesystem::current_path(), mSavedCwd);
    const QStringList shown = errors(dialogs);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].contains("vanished")) << shown[0].toStdString();
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_EQ(kLogLine.match(logLines()[0]).captured(2), "Error: " + shown[0]);
}

TEST_F(MainWindowTest, ThrowingCommandIsShownLoggedAndSurvived) {
    kxtest::DialogStub dialogs;
    window.runCommand([] { throw std::runtime_error("disk full"); });
    bool ran = false;
    window.runCommand([&ran] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(errors(dialogs), QStringList({"disk full"}));
    ASSERT_EQ(logLines().size(), 1);
    EXPECT_EQ(kLogLine.match(logLines()[0]).captured(2), "Error: disk full");
}

TEST_F(MainWindowTest, FirstGateToEndReenablesBothCommandsAndHugeGatesDoNotOverflow) {
    auto* sfm = child<QAction>("actionStart_SFM");
    auto* mvs = child<QAction>("actionStart_MVS");
    window.gateTaskCommands(std::chrono::milliseconds(20));
    window.preventNewTaskFor(3600);
    EXPECT_FALSE(sfm->isEnabled());
    EXPECT_FALSE(mvs->isEnabled());
    EXPECT_TRUE(child<QAction>("actionAdd_Images")->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sfm->isEnabled() && mvs->isEnabled(); }, 10000));

    // A huge gate does not overflow into an immediate timer.
    window.preventNewTaskFor(4000000000u);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(sfm->isEnabled());
}
