#include "app/MainWindow.h"

#include <algorithm>
#include <climits>

#include <QTimer>

#include "app/ProjectDirectory.h"
#include "app/StatusLog.h"
#include "app/Ui_MainWindow.h"
#include "gui/Gui.h"
#include "vexkit/Paths.h"

#ifndef KX_VERSION
#error "KX_VERSION must be defined by the build"
#endif

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui_MainWindow>()) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Kestrix Client " KX_VERSION));
    connect(ui->listWidget, &ImageDashWidget::reportProgress, this, &MainWindow::updateUiStatus,
            Qt::DirectConnection);
}

MainWindow::~MainWindow() = default;

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

void MainWindow::preventNewTaskFor(uint32_t seconds) {
    gateTaskCommands(std::chrono::seconds(seconds));
}

void MainWindow::gateTaskCommands(std::chrono::milliseconds interval) {
    ui->actionStart_SFM->setEnabled(false);
    ui->actionStart_MVS->setEnabled(false);
    // Owned by the window; nothing cancels it, and the first gate to end re-enables both commands.
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(interval.count(), 0, INT_MAX)));
    connect(timer, &QTimer::timeout, this, [this, timer] {
        ui->actionStart_SFM->setEnabled(true);
        ui->actionStart_MVS->setEnabled(true);
        timer->deleteLater();
    });
    timer->start();
}

void MainWindow::runCommand(const std::function<void()>& command) {
    gui::runGuarded(command, [this](const QString& line) { appendLog(line); });
}

void MainWindow::appendLog(const QString& text) {
    ui->logWidget->appendPlainText(app::formatLogLine(QTime::currentTime(), text));
}
