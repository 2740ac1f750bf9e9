#include "app/Ui_MainWindow.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QVariant>

namespace {
QAction* makeAction(QMainWindow* window, const char* name) {
    auto* action = new QAction(window);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

void setSizePolicy(QWidget* widget, QSizePolicy::Policy horizontal, QSizePolicy::Policy vertical,
                   int horizontalStretch = 0, int verticalStretch = 0) {
    QSizePolicy policy(horizontal, vertical);
    policy.setHorizontalStretch(horizontalStretch);
    policy.setVerticalStretch(verticalStretch);
    policy.setHeightForWidth(widget->sizePolicy().hasHeightForWidth());
    widget->setSizePolicy(policy);
}
}  // namespace

void Ui_MainWindow::setupUi(QMainWindow* MainWindow) {
    if (MainWindow->objectName().isEmpty()) {
        MainWindow->setObjectName(QString::fromUtf8("MainWindow"));
    }
    MainWindow->resize(1263, 862);
    actionAdd_Images = makeAction(MainWindow, "actionAdd_Images");
    actionStart_SFM = makeAction(MainWindow, "actionStart_SFM");
    actionStart_MVS = makeAction(MainWindow, "actionStart_MVS");
    actionSet_Project_Directory = makeAction(MainWindow, "actionSet_Project_Directory");
    actionOpen_Sparse_Model = makeAction(MainWindow, "actionOpen_Sparse_Model");
    actionSave_SFM_Config = makeAction(MainWindow, "actionSave_SFM_Config");
    actionImport_SFM_Config = makeAction(MainWindow, "actionImport_SFM_Config");
    actionSFM_Settings = makeAction(MainWindow, "actionSFM_Settings");
    actionOpen_PLY = makeAction(MainWindow, "actionOpen_PLY");

    centralwidget = new QWidget(MainWindow);
    centralwidget->setObjectName(QString::fromUtf8("centralwidget"));
    verticalLayout = new QVBoxLayout(centralwidget);
    verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
    splitter_2 = new QSplitter(centralwidget);
    splitter_2->setObjectName(QString::fromUtf8("splitter_2"));
    splitter_2->setOrientation(Qt::Vertical);
    splitter = new QSplitter(splitter_2);
    splitter->setObjectName(QString::fromUtf8("splitter"));
    setSizePolicy(splitter, QSizePolicy::Expanding, QSizePolicy::Preferred, 0, 4);
    splitter->setOrientation(Qt::Horizontal);

    listWidget = new DashboardPane(splitter);
    listWidget->setObjectName(QString::fromUtf8("listWidget"));
    setSizePolicy(listWidget, QSizePolicy::Expanding, QSizePolicy::Expanding);
    listWidget->setMovement(QListView::Static);
    listWidget->setItemAlignment(Qt::AlignCenter);
    splitter->addWidget(listWidget);

    modelViewer = new ViewerPane(splitter);
    modelViewer->setObjectName(QString::fromUtf8("modelViewer"));
    setSizePolicy(modelViewer, QSizePolicy::Preferred, QSizePolicy::Preferred, 4, 0);
    modelViewer->setFocusPolicy(Qt::WheelFocus);
    splitter->addWidget(modelViewer);
    splitter_2->addWidget(splitter);

    logWidget = new QPlainTextEdit(splitter_2);
    logWidget->setObjectName(QString::fromUtf8("logWidget"));
    setSizePolicy(logWidget, QSizePolicy::Expanding, QSizePolicy::Expanding);
    logWidget->setUndoRedoEnabled(false);
    logWidget->setReadOnly(true);
    splitter_2->addWidget(logWidget);
    verticalLayout->addWidget(splitter_2);

    horizontalLayout = new QHBoxLayout();
    horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
    statusLabel = new QLabel(centralwidget);
    statusLabel->setObjectName(QString::fromUtf8("statusLabel"));
    horizontalLayout->addWidget(statusLabel);
    progressBar = new QProgressBar(centralwidget);
    progressBar->setObjectName(QString::fromUtf8("progressBar"));
    progressBar->setValue(0);
    horizontalLayout->addWidget(progressBar);
    verticalLayout->addLayout(horizontalLayout);
    MainWindow->setCentralWidget(centralwidget);

    menubar = new QMenuBar(MainWindow);
    menubar->setObjectName(QString::fromUtf8("menubar"));
    menubar->setGeometry(QRect(0, 0, 1263, 22));
    menuFile = new QMenu(menubar);
    menuFile->setObjectName(QString::fromUtf8("menuFile"));
    menuRun = new QMenu(menubar);
    menuRun->setObjectName(QString::fromUtf8("menuRun"));
    MainWindow->setMenuBar(menubar);
    statusbar = new QStatusBar(MainWindow);
    statusbar->setObjectName(QString::fromUtf8("statusbar"));
    MainWindow->setStatusBar(statusbar);

    menubar->addAction(menuFile->menuAction());
    menubar->addAction(menuRun->menuAction());
    menuFile->addAction(actionSet_Project_Directory);
    menuFile->addAction(actionAdd_Images);
    menuFile->addAction(actionOpen_Sparse_Model);
    menuFile->addAction(actionOpen_PLY);
    menuFile->addAction(actionSave_SFM_Config);
    menuFile->addAction(actionImport_SFM_Config);
    menuRun->addAction(actionSFM_Settings);
    menuRun->addAction(actionStart_SFM);
    menuRun->addAction(actionStart_MVS);

    retranslateUi(MainWindow);
    QMetaObject::connectSlotsByName(MainWindow);
}

void Ui_MainWindow::retranslateUi(QMainWindow* MainWindow) {
    MainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow", nullptr));
    actionAdd_Images->setText(QCoreApplication::translate("MainWindow", "Add Images", nullptr));
    actionStart_SFM->setText(QCoreApplication::translate("MainWindow", "Align Images", nullptr));
    actionStart_MVS->setText(QCoreApplication::translate("MainWindow", "Densify Point Cloud", nullptr));
    actionSet_Project_Directory->setText(
        QCoreApplication::translate("MainWindow", "Set Project Directory", nullptr));
    actionOpen_Sparse_Model->setText(QCoreApplication::translate("MainWindow", "Open Sparse Model", nullptr));
    actionSave_SFM_Config->setText(QCoreApplication::translate("MainWindow", "Save SFM Config", nullptr));
    actionImport_SFM_Config->setText(QCoreApplication::translate("MainWindow", "Import SFM Config", nullptr));
    actionSFM_Settings->setText(QCoreApplication::translate("MainWindow", "SFM Settings", nullptr));
    actionOpen_PLY->setText(QCoreApplication::translate("MainWindow", "Open PLY", nullptr));
    statusLabel->setText(QCoreApplication::translate("MainWindow", "Idle", nullptr));
    menuFile->setTitle(QCoreApplication::translate("MainWindow", "File", nullptr));
    menuRun->setTitle(QCoreApplication::translate("MainWindow", "Project", nullptr));
}
