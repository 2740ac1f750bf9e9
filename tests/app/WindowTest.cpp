// The main window: its status line and log pane, project directory, task gate and error boundary; and
// the whole flow against the service's test engine: photographs added as a group, Align Images through
// its menu action, the sparse model in the embedded viewer, Densify Point Cloud and the dense cloud in a
// window of its own.
#include <algorithm>
#include <filesystem>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

#include "app/MainWindow.h"
#include "app/WindowSize.h"
#include "model/KsmModel.h"
#include "model/PlyData.h"
#include "project/ImageDashWidget.h"
#include "tests/project/DashFixtures.h"
#include "tests/remote/ServicePeer.h"
#include "tests/support/DialogStub.h"
#include "viewer/ModelViewer.h"
#include "vexkit/Paths.h"

namespace {

const char kNoDirectory[] = "Project directory is not set. Please set with File -> Set Project Directory.";

class Window : public ::testing::Test {
protected:
    void SetUp() override { workDirOpt.reset(); }
    void TearDown() override {
        std::filesystem::current_path(mSavedCwd);
        workDirOpt.reset();
    }

    template <typename T>
    T* child(const char* name) {
        return kxtest::child<T>(window, name);
    }
    // The texts of the message boxes shown, each of which must be titled "Error".
    QStringList errors() const {
        QStringList texts;
        for (const auto& message : dialogs.messages) {
            EXPECT_EQ(message.title, "Error") << message.text.toStdString();
            texts << message.text;
        }
        return texts;
    }
    QString log() { return child<QPlainTextEdit>("logWidget")->toPlainText(); }
    // The log pane's lines, without the "[hh:mm:ss.zzz] " time stamps of status and error lines.
    QStringList logLines() {
        QStringList lines = log().split('\n', Qt::SkipEmptyParts);
        return lines.replaceInStrings(QRegularExpression(QStringLiteral(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] )")),
                                      "");
    }

    kxtest::TempDir dir;
    kxtest::DialogStub dialogs;
    std::filesystem::path mSavedCwd = std::filesystem::current_path();
    MainWindow window;
};

TEST_F(Window, ProjectDirectoryIsStoredEnteredAndChecked) {
    EXPECT_FALSE(window.checkWorkDir());  // none yet
    const std::filesystem::path project = dir / u8"\u9879\u76ee project";
    std::filesystem::create_directory(project);

    // Cancelled (an empty answer): nothing changes.
    child<QAction>("actionSet_Project_Directory")->trigger();  // reaches the slot by its name
    ASSERT_EQ(dialogs.fileRequests.size(), 1u);
    EXPECT_EQ(dialogs.fileRequests[0].dir, QDir::homePath());  // no project yet
    EXPECT_FALSE(workDirOpt.has_value());
    EXPECT_EQ(std::filesystem::current_path(), mSavedCwd);

    dialogs.directoryAnswer = toQStr(project);
    child<QAction>("actionSet_Project_Directory")->trigger();
    EXPECT_EQ(workDirOpt, project);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), project));

    // The next dialog opens in the project directory; one that cannot be entered is reported, not kept.
    dialogs.directoryAnswer = toQStr(dir / "vanished");
    child<QAction>("actionSet_Project_Directory")->trigger();
    ASSERT_EQ(dialogs.fileRequests.size(), 3u);
    EXPECT_EQ(dialogs.fileRequests[2].dir, toQStr(project));
    EXPECT_EQ(*workDirOpt, project);
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), project));
    EXPECT_EQ(logLines(), QStringList{"Error: " + errors().value(1)});
    std::filesystem::remove(project);  // deleted behind the client's back
    EXPECT_FALSE(window.checkWorkDir());
    const QStringList shown = errors();
    EXPECT_EQ(shown, (QStringList{kNoDirectory, shown.value(1), kNoDirectory}));
    EXPECT_TRUE(shown.value(1).contains("vanished")) << shown.value(1).toStdString();
}

TEST_F(Window, FirstGateToEndReenablesBothCommandsAndHugeGatesDoNotOverflow) {
    auto* sfm = child<QAction>("actionStart_SFM");
    auto* mvs = child<QAction>("actionStart_MVS");
    window.gateTaskCommands(std::chrono::milliseconds(20));
    window.preventNewTaskFor(3600);
    EXPECT_FALSE(sfm->isEnabled() || mvs->isEnabled());
    EXPECT_TRUE(child<QAction>("actionAdd_Images")->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sfm->isEnabled() && mvs->isEnabled(); }, 10000));

    // A huge gate does not overflow into an immediate timer.
    window.preventNewTaskFor(4000000000u);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(sfm->isEnabled());
}

TEST_F(Window, AlignThenDensifyShowBothModels) {
    kxtest::ServicePeer service({"--fault", "incomplete-alignment"});
    window.setServiceSettings(service.trusted());
    window.show();
    dialogs.directoryAnswer = toQStr(dir.path());
    child<QAction>("actionSet_Project_Directory")->trigger();
    kxtest::TempDir photos;
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files << kxtest::photo(
            photos, "view" + std::to_string(i) + ".jpg", 96, 64,
            kxtest::ImageTags().setExif("Exif.Image.ImageDescription", "view " + std::to_string(i)));
    }
    dialogs.openFilesAnswer = files;
    dialogs.execAnswer = kxtest::confirmOptics("3000", true);
    // While the batch loads, the commands that would change the project or start a task are closed.
    std::vector<bool> openWhileLoading;
    QObject::connect(child<ImageDashWidget>("listWidget"), &ImageDashWidget::loadingImages, &window, [&] {
        for (const char* name :
             {"actionAdd_Images", "actionImport_SFM_Config", "actionStart_SFM", "actionStart_MVS"}) {
            openWhileLoading.push_back(child<QAction>(name)->isEnabled());
        }
    });
    child<QAction>("actionAdd_Images")->trigger();
    EXPECT_EQ(openWhileLoading, std::vector<bool>({false, false, false, false, true, true, true, true}));
    dialogs.execAnswer = nullptr;
    ASSERT_EQ(child<ImageDashWidget>("listWidget")->getGroups().size(), 1u);
    EXPECT_TRUE(log().contains("] Added 4 photographs in 1 group")) << log().toStdString();
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Loading images");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 100);

    child<QAction>("actionStart_SFM")->trigger();
    EXPECT_FALSE(child<QAction>("actionStart_MVS")->isEnabled());  // the 10-second gate
    ASSERT_TRUE(kxtest::waitUntil([&] {
        return !window.sparseModel().isEmpty() && log().contains("Disconnected from server.");
    })) << log().toStdString();
    // The model with what it left out: in the log, and a box that points there; the task's outcome stays.
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Alignment incomplete");
    EXPECT_EQ(dialogs.messages[0].text,
              "Only 3 of 4 photographs were aligned. The log lists the 1 left out.");
    dialogs.messages.clear();
    EXPECT_TRUE(logLines().contains("Not aligned: " + files[3]));
    EXPECT_EQ(child<QLabel>("statusLabel")->text(), "Done");
    EXPECT_EQ(child<QProgressBar>("progressBar")->value(), 100);
    EXPECT_EQ(toPath(window.sparseModel()), dir / "0.ksm");
    EXPECT_EQ(std::get<ksm::Model<1u>>(ksm::loadKsm(dir / "0.ksm")).captures.size(), 3u);
    EXPECT_EQ(child<ModelViewer>("modelViewer")->getNbCaptures(), 3u);
    EXPECT_TRUE(log().contains("Starting SFM. Results will be saved into " + toQStr(dir.path())));
    EXPECT_TRUE(log().contains(QRegularExpression(R"(^\[\d\d:\d\d:\d\d\.\d\d\d\] Loading images$)",
                                                  QRegularExpression::MultilineOption)))
        << log().toStdString();

    child<QAction>("actionStart_MVS")->setEnabled(true);  // not waiting out the gate
    child<QAction>("actionStart_MVS")->trigger();
    EXPECT_TRUE(log().contains("Starting MVS with " + window.sparseModel() + ". Results will be saved as " +
                               toQStr(dir / "0_dense") + ".ply"));
    ASSERT_TRUE(kxtest::waitUntil([&] { return window.plyViewer() || !dialogs.messages.empty(); }));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text.toStdString();
    ModelViewer* first = window.plyViewer();
    EXPECT_EQ(first->size(), QSize(1024, 768));
    EXPECT_EQ(app::plyWindowSize({1366, 700}), QSize(1024, 700));  // shrunk on a smaller screen
    EXPECT_EQ(first->windowTitle(), "0_dense.ply");
    EXPECT_TRUE(first->isVisible());
    EXPECT_GT(kxply::PLYData((dir / "0_dense.ply").string()).getVertexPositions().size(), 0u);

    // Opening a cloud again replaces the window once it is loaded.
    window.openPlyInNewWindow(toQStr(dir / "0_dense.ply"));
    EXPECT_TRUE(kxtest::waitUntil([&] { return window.plyViewer() != first; }));
    const QWidgetList tops = QApplication::topLevelWidgets();
    EXPECT_EQ(
        std::count_if(tops.begin(), tops.end(), [](QWidget* w) { return qobject_cast<ModelViewer*>(w); }), 1);

    // A launch the local checks refuse logs why after its start line and leaves both commands open.
    std::filesystem::remove(toPath(files[0]));
    child<QAction>("actionStart_SFM")->setEnabled(true);
    child<QAction>("actionStart_MVS")->setEnabled(true);
    child<QAction>("actionStart_SFM")->trigger();
    EXPECT_TRUE(child<QAction>("actionStart_SFM")->isEnabled() &&
                child<QAction>("actionStart_MVS")->isEnabled());
    const QStringList lines = logLines();
    const int started = lines.lastIndexOf(QRegularExpression("^Starting SFM\\. .*"));
    ASSERT_GE(started, 0);
    EXPECT_EQ(lines.value(started + 1), "Error: missing image");
    EXPECT_EQ(errors(), QStringList{"missing image\n" + files[0]});

    // A sparse model that does not load is told in the box and the log; the one shown stays.
    kxtest::writeFile(dir / "bad.ksm", "neither");
    window.openKSM(toQStr(dir / "bad.ksm"));
    ASSERT_TRUE(kxtest::waitUntil([&] { return dialogs.messages.size() > 1; }));
    EXPECT_EQ(errors().value(1), "not a sparse model of a known version");
    EXPECT_TRUE(logLines().contains("Error: not a sparse model of a known version"));
    EXPECT_EQ(toPath(window.sparseModel()), dir / "0.ksm");
    EXPECT_EQ(child<ModelViewer>("modelViewer")->getNbCaptures(), 3u);
}

}  // namespace
