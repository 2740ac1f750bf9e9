#pragma once
// The client's single main window: the image dashboard and the 3D viewer side by side above the log
// pane, a status line, and the commands of the "File" and "Project" menus.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <QMainWindow>
#include <QString>

class Ui_MainWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The task gate with any interval; preventNewTaskFor(seconds) is the one the commands use.
    void gateTaskCommands(std::chrono::milliseconds interval);

    // Runs a command at the GUI boundary: an exception becomes an "Error" message box and a log line,
    // and the program goes on.
    void runCommand(const std::function<void()>& command);

public slots:
    // Shows `status` and `percentage` in the status line and, when `log` is not empty, appends
    // "[hh:mm:ss.zzz] log" to the log pane.
    void updateUiStatus(const QString& status, int32_t percentage, const QString& log = QString());
    void on_actionSet_Project_Directory_triggered();
    // True when a project directory is set and exists; otherwise shows the "Error" message box.
    bool checkWorkDir();
    // Disables Align Images and Densify Point Cloud until `seconds` have passed.
    void preventNewTaskFor(uint32_t seconds);

private:
    void appendLog(const QString& text);

    std::unique_ptr<Ui_MainWindow> ui;
};
