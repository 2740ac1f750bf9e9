#include "app/MainWindow.h"

#include <algorithm>
#include <climits>

#include <QFileInfo>
#include <QScreen>
#include <QTimer>

#include "app/ProjectDirectory.h"
#include "app/ResultFiles.h"
#include "app/StatusLog.h"
#include "app/TaskPresenter.h"
#include "app/Ui_MainWindow.h"
#include "app/WindowSize.h"
#include "config/SfmCfg.h"
#include "gui/Gui.h"
#include "remote/MvsBackend.h"
#include "remote/SfmBackend.h"
#include "vexkit/DebugLine.h"
#include "viewer/ModelViewer.h"
#include "vexkit/Paths.h"

#ifndef KX_VERSION
#error "KX_VERSION must be defined by the build"
#endif

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui_MainWindow>()) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Kestrix Client " KX_VERSION));
    const auto status = [this](const QString& label, int32_t percentage, const QString& log) {
        updateUiStatus(label, percentage, log);
    };
    const auto notice = [](const QString& title, const QString& text) { showMsgBox(title, text); };
    sfmBackend = new SfmBackend(this);
    app::presentTask(
        *sfmBackend, this, status, [this](const ResultPaths& r) { openSfmResults(r); }, notice);
    mvsBackend = new MvsBackend(this);
    app::presentTask(
        *mvsBackend, this, status, [this](const ResultPaths& r) { openMvsResults(r); }, notice);
    connect(ui->listWidget, &ImageDashWidget::reportProgress, this, &MainWindow::updateUiStatus,
            Qt::DirectConnection);
    connect(ui->listWidget, &ImageDashWidget::loadingImages, this, &MainWindow::setLoadingImages);
    connect(ui->modelViewer, &ModelViewer::modelLoaded, this,
            [this] { sparseModelFile = mLoadingSparseModel; });
    connect(ui->modelViewer, &ModelViewer::modelFailed, this, &MainWindow::reportError);
}

MainWindow::~MainWindow() = default;

void MainWindow::setServiceSettings(const remote::ServiceSettings& settings) {
    sfmBackend->setServiceSettings(settings);
    mvsBackend->setServiceSettings(settings);
}

void MainWindow::updateUiStatus(const QString& status, int32_t percentage, const QString& log) {
    if (ui->statusLabel->text() != status) {
        ui->statusLabel->setText(status);
    }
    if (ui->progressBar->value() != percentage) {
        ui->progressBar->setValue(percentage);
    }
    if (!log.isEmpty()) {
        appendLog(log);
    }
}

void MainWindow::on_actionSet_Project_Directory_triggered() {
    runCommand([this] {
        const QString dir =
            gui::getExistingDirectory(this, tr("Select project directory"), toQStr(workDir()));
        if (dir.isEmpty()) {
            return;
        }
        app::setProjectDirectory(toPath(dir));
    });
}

void MainWindow::on_actionAdd_Images_triggered() {
    ui->listWidget->addImages();
}

void MainWindow::on_actionOpen_Sparse_Model_triggered() {
    runCommand([this] { openSparseModel(); });
}

void MainWindow::openSparseModel() {
    const QString file = gui::getOpenFileName(this, QStringLiteral("Select point cloud file"),
                                              toQStr(workDir()), QStringLiteral("Point Cloud (*.ksm)"));
    openKSM(file);
}

void MainWindow::on_actionSave_SFM_Config_triggered() {
    runCommand([this] {
        const QString file =
            gui::getSaveFileName(this, QStringLiteral("Save SFM input config"),
                                 toQStr(workDir() / "sfm.json"), QStringLiteral("JSON (*.json)"));
        if (!file.isEmpty()) {
            ui->listWidget->saveInputConfig(file);
        }
    });
}

void MainWindow::on_actionImport_SFM_Config_triggered() {
    runCommand([this] {
        const QString file = gui::getOpenFileName(this, QStringLiteral("Import SFM input config"),
                                                  toQStr(workDir()), QStringLiteral("JSON (*.json)"));
        if (!file.isEmpty()) {
            ui->listWidget->importSfmCfg(file);
        }
    });
}

void MainWindow::on_actionStart_SFM_triggered() {
    runCommand([this] {
        if (!checkWorkDir()) {
            return;
        }
        ui->logWidget->appendPlainText(
            QStringLiteral("Starting SFM. Results will be saved into %1").arg(toQStr(workDir())));
        // A launch refused before anything was sent leaves the commands open.
        if (sfmBackend->launchSfmTask(ui->listWidget->getSfmCfg(true), workDir())) {
            preventNewTaskFor(10);
        }
    });
}

void MainWindow::on_actionStart_MVS_triggered() {
    runCommand([this] {
        if (!checkWorkDir()) {
            return;
        }
        if (sparseModelFile.isEmpty()) {
            openSparseModel();
            if (sparseModelFile.isEmpty()) {
                return;
            }
        }
        const std::filesystem::path sparse = toPath(sparseModelFile);
        const std::string name = app::denseNameOf(sparse);
        ui->logWidget->appendPlainText(QStringLiteral("Starting MVS with %1. Results will be saved as %2.ply")
                                           .arg(toQStr(sparse), toQStr(workDir() / name)));
        if (mvsBackend->launchMvsTask(sparse, name, workDir())) {
            preventNewTaskFor(10);
        }
    });
}

void MainWindow::on_actionSFM_Settings_triggered() {
    ui->listWidget->changeSfmSettings();
}

bool MainWindow::checkWorkDir() {
    if (app::hasProjectDirectory()) {
        return true;
    }
    showMsgBox(QStringLiteral("Error"), app::noProjectDirectoryMessage());
    return false;
}

void MainWindow::openKSM(const QString& file) {
    runCommand([this, &file] {
        if (!QFileInfo::exists(file)) {
            vexkit::debugLine("file " + file.toStdString() + " does not exist");
            return;
        }
        // The viewer keeps its model when loading fails, and so does sparseModelFile.
        mLoadingSparseModel = file;
        ui->modelViewer->loadKsmModel(file);
    });
}

void MainWindow::openPlyInNewWindow(const QString& file) {
    runCommand([this, &file] {
        if (!QFileInfo::exists(file)) {
            return;
        }
        // Loaded before it replaces the previous window, so that a cloud that fails keeps that window; a
        // window still loading is dropped for the later cloud.
        mLoadingPlyWindow = std::make_unique<ModelViewer>();
        const QScreen* shownOn = screen();
        mLoadingPlyWindow->resize(
            app::plyWindowSize(shownOn ? shownOn->availableGeometry().size() : QSize()));
        mLoadingPlyWindow->setWindowTitle(QFileInfo(file).fileName());
        connect(mLoadingPlyWindow.get(), &ModelViewer::modelLoaded, this, [this] {
            plyWindow = std::move(mLoadingPlyWindow);
            plyWindow->show();
        });
        connect(mLoadingPlyWindow.get(), &ModelViewer::modelFailed, this, [this](const QString& message) {
            mLoadingPlyWindow.release()->deleteLater();  // it is still emitting
            reportError(message);
        });
        mLoadingPlyWindow->loadPlyModel(file);
    });
}

void MainWindow::on_actionOpen_PLY_triggered() {
    runCommand([this] {
        const QString file = gui::getOpenFileName(this, QStringLiteral("Select PLY file"), toQStr(workDir()),
                                                  QStringLiteral("PLY Point Cloud (*.ply)"));
        openPlyInNewWindow(file);
    });
}

void MainWindow::openSfmResults(const std::vector<std::filesystem::path>& results) {
    openLargestResult(results, ".ksm", &MainWindow::openKSM);
}

void MainWindow::openMvsResults(const std::vector<std::filesystem::path>& results) {
    openLargestResult(results, ".ply", &MainWindow::openPlyInNewWindow);
}

void MainWindow::openLargestResult(const std::vector<std::filesystem::path>& results, const char* ext,
                                   void (MainWindow::*open)(const QString&)) {
    runCommand([&] {
        const std::filesystem::path best = getMaxFileWithExt(results, ext, [this](const auto& missing) {
            appendLog(QStringLiteral("Skipped %1: it no longer exists").arg(toQStr(missing)));
        });
        if (!best.empty()) {
            (this->*open)(toQStr(best));
        }
    });
}

void MainWindow::setLoadingImages(bool loading) {
    mLoadingImages = loading;
    ui->actionAdd_Images->setEnabled(!loading);
    ui->actionImport_SFM_Config->setEnabled(!loading);
    ui->actionStart_SFM->setEnabled(!loading && !mTaskGated);
    ui->actionStart_MVS->setEnabled(!loading && !mTaskGated);
}

void MainWindow::preventNewTaskFor(uint32_t seconds) {
    gateTaskCommands(std::chrono::seconds(seconds));
}

void MainWindow::gateTaskCommands(std::chrono::milliseconds interval) {
    ui->actionStart_SFM->setEnabled(false);
    ui->actionStart_MVS->setEnabled(false);
    mTaskGated = true;
    // Owned by the window; nothing cancels it, and the first gate to end re-enables both commands.
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(interval.count(), 0, INT_MAX)));
    connect(timer, &QTimer::timeout, this, [this, timer] {
        mTaskGated = false;
        ui->actionStart_SFM->setEnabled(!mLoadingImages);
        ui->actionStart_MVS->setEnabled(!mLoadingImages);
        timer->deleteLater();
    });
    timer->start();
}

void MainWindow::runCommand(const std::function<void()>& command) {
    gui::runGuarded(command, [this](const QString& line) { appendLog(line); });
}

void MainWindow::reportError(const QString& message) {
    gui::reportError(message, [this](const QString& line) { appendLog(line); });
}

void MainWindow::appendLog(const QString& text) {
    ui->logWidget->appendPlainText(app::formatLogLine(QTime::currentTime(), text));
}
