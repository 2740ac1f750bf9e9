#pragma once
// The client's single main window: the image dashboard and the 3D viewer side by side above the log
// pane, a status line, and the commands of the "File" and "Project" menus.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <QMainWindow>
#include <QString>

namespace remote {
struct ServiceSettings;
}
class ModelViewer;
class MvsBackend;
class SfmBackend;
class Ui_MainWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where both task clients find the service.
    void setServiceSettings(const remote::ServiceSettings& settings);

    // The task gate with any interval; preventNewTaskFor(seconds) is the one the commands use.
    void gateTaskCommands(std::chrono::milliseconds interval);

    // Runs a command at the GUI boundary: an exception becomes an "Error" message box and a log line,
    // and the program goes on.
    void runCommand(const std::function<void()>& command);
    // The way runCommand tells of an error, for failures that arrive later.
    void reportError(const QString& message);

public slots:
    // Shows `status` and `percentage` in the status line and, when `log` is not empty, appends
    // "[hh:mm:ss.zzz] log" to the log pane.
    void updateUiStatus(const QString& status, int32_t percentage, const QString& log = QString());
    void on_actionSet_Project_Directory_triggered();
    void on_actionAdd_Images_triggered();
    void on_actionOpen_Sparse_Model_triggered();
    void on_actionSave_SFM_Config_triggered();
    void on_actionImport_SFM_Config_triggered();
    // Align Images: builds the configuration of the project and hands it to the SfM task client.
    void on_actionStart_SFM_triggered();
    // Densify Point Cloud: densifies the sparse model shown (asking for one when none is), under the name
    // of that model followed by "_dense".
    void on_actionStart_MVS_triggered();
    void on_actionSFM_Settings_triggered();
    // True when a project directory is set and exists; otherwise shows the "Error" message box.
    bool checkWorkDir();
    // Starts loading a sparse model into the embedded viewer; once loaded it is the input of the next
    // densification. A file that does not exist changes nothing; one that does not load shows the
    // "Error" box and keeps the model shown.
    void openKSM(const QString& file);
    // Starts loading a PLY cloud into a viewer window of its own, titled with the file's name, that
    // replaces the previous one once loaded; a cloud that does not load shows the "Error" box and keeps
    // the previous window.
    void openPlyInNewWindow(const QString& file);
    void on_actionOpen_PLY_triggered();
    // Disables Align Images and Densify Point Cloud until `seconds` have passed.
    void preventNewTaskFor(uint32_t seconds);
    // While photographs load, Add Images, Import SFM Config, Align Images and Densify Point Cloud are
    // disabled; afterwards each is enabled again unless a task gate still holds it.
    void setLoadingImages(bool loading);

public:
    SfmBackend* sfmTaskClient() const { return sfmBackend; }
    MvsBackend* mvsTaskClient() const { return mvsBackend; }
    const QString& sparseModel() const { return sparseModelFile; }
    ModelViewer* plyViewer() const { return plyWindow.get(); }

private:
    void appendLog(const QString& text);
    void openSparseModel();
    void openSfmResults(const std::vector<std::filesystem::path>& results);
    void openMvsResults(const std::vector<std::filesystem::path>& results);
    // Opens the largest of the results with extension `ext`; results that vanished are logged and skipped.
    void openLargestResult(const std::vector<std::filesystem::path>& results, const char* ext,
                           void (MainWindow::*open)(const QString&));

    std::unique_ptr<Ui_MainWindow> ui;
    SfmBackend* sfmBackend = nullptr;  // child of the window
    MvsBackend* mvsBackend = nullptr;  // child of the window
    QString sparseModelFile;
    QString mLoadingSparseModel;  // the file the embedded viewer is loading, or loaded last
    std::unique_ptr<ModelViewer> plyWindow;
    std::unique_ptr<ModelViewer> mLoadingPlyWindow;  // hidden until its cloud is loaded
    bool mLoadingImages = false;
    bool mTaskGated = false;  // until the first gate to end
};
