#pragma once
// The main window's form, built in code in the manner of a designer form class. Object names matter:
// slots named "on_<object>_<signal>" are bound to them by name.
#include <QtWidgets/QAction>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QMainWindow>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QSplitter>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include "project/ImageDashWidget.h"
#include "viewer/ModelViewer.h"

// The image dashboard and the 3D viewer hold these places. Changing a pane's class is this alias and the
// one line in setupUi that creates it.
using DashboardPane = ImageDashWidget;
using ViewerPane = ModelViewer;

class Ui_MainWindow {
public:
    QAction* actionAdd_Images;
    QAction* actionStart_SFM;
    QAction* actionStart_MVS;
    QAction* actionSet_Project_Directory;
    QAction* actionOpen_Sparse_Model;
    QAction* actionSave_SFM_Config;
    QAction* actionImport_SFM_Config;
    QAction* actionSFM_Settings;
    QAction* actionOpen_PLY;
    QWidget* centralwidget;
    QVBoxLayout* verticalLayout;
    QSplitter* splitter_2;
    QSplitter* splitter;
    DashboardPane* listWidget;
    ViewerPane* modelViewer;
    QPlainTextEdit* logWidget;
    QHBoxLayout* horizontalLayout;
    QLabel* statusLabel;
    QProgressBar* progressBar;
    QMenuBar* menubar;
    QMenu* menuFile;
    QMenu* menuRun;
    QStatusBar* statusbar;

    // Builds every object with `MainWindow` as the root, then binds its "on_" slots by name.
    void setupUi(QMainWindow* MainWindow);
    void retranslateUi(QMainWindow* MainWindow);
};

namespace Ui {
class MainWindow : public Ui_MainWindow {};
}  // namespace Ui
