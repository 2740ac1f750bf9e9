// The main window: its form (object names, kinds, placement, settings, menus and texts) and its
// behaviour (status line and log pane, project directory, task gate, errors).
#include <filesystem>
#include <stdexcept>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTime>
#include <QVBoxLayout>
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

// The object names of the parts, in order.
QStringList names(const QLayout& layout) {
    QStringList list;
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        list << (item->widget() ? item->widget()->objectName() : item->layout()->objectName());
    }
    return list;
}
QStringList names(const QSplitter& splitter) {
    QStringList list;
    for (int i = 0; i < splitter.count(); ++i) {
        list << splitter.widget(i)->objectName();
    }
    return list;
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
    EXPECT_EQ(window.objectName(), "MainWindow");
    EXPECT_EQ(window.windowTitle(), "Kestrix Client 0.1.8");
    EXPECT_EQ(window.size(), QSize(1263, 862));

    auto* menuFile = child<QMenu>(window, "menuFile");
    auto* menuRun = child<QMenu>(window, "menuRun");
    ASSERT_TRUE(menuFile && menuRun);
    EXPECT_EQ(window.menuBar(), child<QMenuBar>(window, "menubar"));
    EXPECT_EQ(window.menuBar()->actions(), QList<QAction*>({menuFile->menuAction(), menuRun->menuAction()}));
    EXPECT_EQ(menuFile->title(), "File");
    EXPECT_EQ(menuRun->title(), "Project");
    // "<object name>: <text>" of a menu's actions in order; each belongs to the window, enabled, without
    // shortcut.
    const auto entries = [&window](const QMenu& menu) {
        QStringList list;
        for (const QAction* action : menu.actions()) {
            EXPECT_EQ(action->parent(), &window) << action->objectName().toStdString();
            EXPECT_TRUE(action->shortcut().isEmpty()) << action->objectName().toStdString();
            EXPECT_TRUE(action->isEnabled()) << action->objectName().toStdString();
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
    EXPECT_EQ(window.statusBar(), child<QStatusBar>(window, "statusbar"));
    EXPECT_TRUE(window.statusBar()->currentMessage().isEmpty());
}

TEST(MainWindowForm, PanesArePlacedAndSetAsTheLayoutSays) {
    MainWindow window;
    auto* splitter2 = child<QSplitter>(window, "splitter_2");
    auto* splitter = child<QSplitter>(window, "splitter");
    auto* list = child<QListWidget>(window, "listWidget");
    auto* viewer = child<QWidget>(window, "modelViewer");
    auto* log = child<QPlainTextEdit>(window, "logWidget");
    auto* horizontal = child<QHBoxLayout>(window, "horizontalLayout");
    ASSERT_TRUE(splitter2 && splitter && list && viewer && log && horizontal);
    ASSERT_EQ(window.centralWidget(), child<QWidget>(window, "centralwidget"));
    ASSERT_EQ(window.centralWidget()->layout(), child<QVBoxLayout>(window, "verticalLayout"));

    EXPECT_EQ(names(*window.centralWidget()->layout()), QStringList({"splitter_2", "horizontalLayout"}));
    EXPECT_EQ(names(*horizontal), QStringList({"statusLabel", "progressBar"}));
    EXPECT_EQ(names(*splitter2), QStringList({"splitter", "logWidget"}));
    EXPECT_EQ(names(*splitter), QStringList({"listWidget", "modelViewer"}));
    EXPECT_EQ(splitter2->orientation(), Qt::Vertical);
    EXPECT_EQ(splitter->orientation(), Qt::Horizontal);

    using P = QSizePolicy;
    const auto policy = [](P::Policy horizontal, P::Policy vertical, int horizontalStretch,
                           int verticalStretch) {
        P expected(horizontal, vertical);
        expected.setHorizontalStretch(horizontalStretch);
        expected.setVerticalStretch(verticalStretch);
        return expected;
    };
    EXPECT_EQ(splitter->sizePolicy(), policy(P::Expanding, P::Preferred, 0, 4));
    EXPECT_EQ(list->sizePolicy(), policy(P::Expanding, P::Expanding, 0, 0));
    EXPECT_EQ(viewer->sizePolicy(), policy(P::Preferred, P::Preferred, 4, 0));
    EXPECT_EQ(log->sizePolicy(), policy(P::Expanding, P::Expanding, 0, 0));
    EXPECT_EQ(list->movement(), QListView::Static);
    EXPECT_EQ(list->itemAlignment(), Qt::AlignCenter);
    EXPECT_EQ(viewer->focusPolicy(), Qt::WheelFocus);
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_FALSE(log->isUndoRedoEnabled());
    EXPECT_EQ(child<QLabel>(window, "statusLabel")->text(), "Idle");
    EXPECT_EQ(child<QProgressBar>(window, "progressBar")->value(), 0);
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
    EXPECT_EQ(app::formatLogLine(QTime(0, 0), ""), "[00:00:00.000] ");
}

TEST_F(MainWindowTest, StatusLineAndTimestampedLogLine) {
    const QTime before = QTime::currentTime();
    window.updateUiStatus("Uploading images", 42, "Uploaded 3 of 7 %1");
    const QTime after = QTime::currentTime();
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Uploading images");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 42);
    ASSERT_EQ(logLines().size(), 1);
    const QRegularExpressionMatch match = kLogLine.match(logLines()[0]);
    ASSERT_TRUE(match.hasMatch()) << logLines()[0].toStdString();
    EXPECT_EQ(match.captured(2), "Uploaded 3 of 7 %1");
    // The stamp is the local time of the call (a run across midnight is not worth handling here).
    const QTime stamp = QTime::fromString(match.captured(1), "hh:mm:ss.zzz");
    ASSERT_TRUE(stamp.isValid());
    if (before <= after) {
        EXPECT_LE(before, stamp);
        EXPECT_LE(stamp, after);
    }

    // An empty log changes the status line only; repeating the shown status changes nothing.
    window.updateUiStatus("Loading", 20, QString());
    QSignalSpy valueChanged(child<QProgressBar>("progressBar"), &QProgressBar::valueChanged);
    window.updateUiStatus("Loading", 20);
    EXPECT_EQ(valueChanged.count(), 0);
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Loading");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 20);
    EXPECT_EQ(logLines().size(), 1);

    window.updateUiStatus("Done", 100, "second");
    ASSERT_EQ(logLines().size(), 2);
    EXPECT_TRUE(logLines()[1].endsWith("] second"));
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
    EXPECT_TRUE(window.checkWorkDir());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(logLines().isEmpty());

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
