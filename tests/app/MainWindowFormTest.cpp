// The form of the main window: object names, kinds, placement, settings, menus and texts.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include "app/MainWindow.h"
#include "tests/support/TestSupport.h"

namespace {
template <typename T>
T* child(const QObject& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QStringList actionNames(const QList<QAction*>& actions) {
    QStringList names;
    for (const QAction* action : actions) {
        names << action->objectName();
    }
    return names;
}
}  // namespace

TEST(MainWindowForm, WindowTitleSizeAndName) {
    MainWindow window;
    EXPECT_EQ(window.objectName(), "MainWindow");
    EXPECT_EQ(window.windowTitle(), "Kestrix Client 0.1.8");
    EXPECT_EQ(window.size(), QSize(1263, 862));
}

TEST(MainWindowForm, ActionsHaveTheirTextsAndNoShortcuts) {
    MainWindow window;
    const struct {
        const char* name;
        const char* text;
    } rows[] = {
        {"actionAdd_Images", "Add Images"},
        {"actionStart_SFM", "Align Images"},
        {"actionStart_MVS", "Densify Point Cloud"},
        {"actionSet_Project_Directory", "Set Project Directory"},
        {"actionOpen_Sparse_Model", "Open Sparse Model"},
        {"actionSave_SFM_Config", "Save SFM Config"},
        {"actionImport_SFM_Config", "Import SFM Config"},
        {"actionSFM_Settings", "SFM Settings"},
        {"actionOpen_PLY", "Open PLY"},
    };
    for (const auto& row : rows) {
        auto* action = child<QAction>(window, row.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->parent(), &window) << row.name;
        EXPECT_EQ(action->text(), row.text);
        EXPECT_TRUE(action->shortcut().isEmpty()) << row.name;
        EXPECT_TRUE(action->isEnabled()) << row.name;
    }
}

TEST(MainWindowForm, MenusListTheirCommandsInOrder) {
    MainWindow window;
    auto* menubar = child<QMenuBar>(window, "menubar");
    ASSERT_NE(menubar, nullptr);
    EXPECT_EQ(window.menuBar(), menubar);
    auto* menuFile = child<QMenu>(window, "menuFile");
    auto* menuRun = child<QMenu>(window, "menuRun");
    ASSERT_TRUE(menuFile && menuRun);
    EXPECT_EQ(menuFile->title(), "File");
    EXPECT_EQ(menuRun->title(), "Project");
    const QList<QAction*> top = menubar->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->menu(), menuFile);
    EXPECT_EQ(top[1]->menu(), menuRun);
    EXPECT_EQ(actionNames(menuFile->actions()),
              QStringList({"actionSet_Project_Directory", "actionAdd_Images", "actionOpen_Sparse_Model",
                           "actionOpen_PLY", "actionSave_SFM_Config", "actionImport_SFM_Config"}));
    EXPECT_EQ(actionNames(menuRun->actions()),
              QStringList({"actionSFM_Settings", "actionStart_SFM", "actionStart_MVS"}));
    auto* statusbar = child<QStatusBar>(window, "statusbar");
    EXPECT_EQ(window.statusBar(), statusbar);
    EXPECT_TRUE(statusbar->currentMessage().isEmpty());
}

TEST(MainWindowForm, PanesArePlacedAsTheLayoutSays) {
    MainWindow window;
    auto* central = child<QWidget>(window, "centralwidget");
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(window.centralWidget(), central);
    auto* vertical = child<QVBoxLayout>(window, "verticalLayout");
    ASSERT_NE(vertical, nullptr);
    EXPECT_EQ(central->layout(), vertical);

    auto* splitter2 = child<QSplitter>(window, "splitter_2");
    auto* splitter = child<QSplitter>(window, "splitter");
    auto* list = child<QListWidget>(window, "listWidget");
    auto* viewer = child<QWidget>(window, "modelViewer");
    auto* log = child<QPlainTextEdit>(window, "logWidget");
    auto* horizontal = child<QHBoxLayout>(window, "horizontalLayout");
    auto* label = child<QLabel>(window, "statusLabel");
    auto* progress = child<QProgressBar>(window, "progressBar");
    ASSERT_TRUE(splitter2 && splitter && list && viewer && log && horizontal && label && progress);

    ASSERT_EQ(vertical->count(), 2);
    EXPECT_EQ(vertical->itemAt(0)->widget(), splitter2);
    EXPECT_EQ(vertical->itemAt(1)->layout(), horizontal);
    EXPECT_EQ(splitter2->orientation(), Qt::Vertical);
    ASSERT_EQ(splitter2->count(), 2);
    EXPECT_EQ(splitter2->widget(0), splitter);
    EXPECT_EQ(splitter2->widget(1), log);
    EXPECT_EQ(splitter->orientation(), Qt::Horizontal);
    ASSERT_EQ(splitter->count(), 2);
    EXPECT_EQ(splitter->widget(0), list);
    EXPECT_EQ(splitter->widget(1), viewer);
    ASSERT_EQ(horizontal->count(), 2);
    EXPECT_EQ(horizontal->itemAt(0)->widget(), label);
    EXPECT_EQ(horizontal->itemAt(1)->widget(), progress);
}

TEST(MainWindowForm, WidgetSettings) {
    MainWindow window;
    auto* splitter = child<QSplitter>(window, "splitter");
    auto* list = child<QListWidget>(window, "listWidget");
    auto* viewer = child<QWidget>(window, "modelViewer");
    auto* log = child<QPlainTextEdit>(window, "logWidget");
    ASSERT_TRUE(splitter && list && viewer && log);

    const struct {
        QWidget* widget;
        QSizePolicy::Policy horizontal, vertical;
        int horizontalStretch, verticalStretch;
    } policies[] = {
        {splitter, QSizePolicy::Expanding, QSizePolicy::Preferred, 0, 4},
        {list, QSizePolicy::Expanding, QSizePolicy::Expanding, 0, 0},
        {viewer, QSizePolicy::Preferred, QSizePolicy::Preferred, 4, 0},
        {log, QSizePolicy::Expanding, QSizePolicy::Expanding, 0, 0},
    };
    for (const auto& row : policies) {
        SCOPED_TRACE(row.widget->objectName().toStdString());
        const QSizePolicy policy = row.widget->sizePolicy();
        EXPECT_EQ(policy.horizontalPolicy(), row.horizontal);
        EXPECT_EQ(policy.verticalPolicy(), row.vertical);
        EXPECT_EQ(policy.horizontalStretch(), row.horizontalStretch);
        EXPECT_EQ(policy.verticalStretch(), row.verticalStretch);
    }
    EXPECT_EQ(list->movement(), QListView::Static);
    EXPECT_EQ(list->itemAlignment(), Qt::AlignCenter);
    EXPECT_EQ(viewer->focusPolicy(), Qt::WheelFocus);
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_FALSE(log->isUndoRedoEnabled());
    EXPECT_EQ(child<QLabel>(window, "statusLabel")->text(), "Idle");
    EXPECT_EQ(child<QProgressBar>(window, "progressBar")->value(), 0);
}

TEST(MainWindowForm, EveryNamedSlotHasItsSenderInTheForm) {
    // A slot "on_<object>_<signal>" whose object or signal is misspelt silently never runs.
    MainWindow window;
    const QMetaObject* meta = window.metaObject();
    int nbBound = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QByteArray name = meta->method(i).name();
        if (!name.startsWith("on_")) {
            continue;
        }
        const int split = name.lastIndexOf('_');
        ASSERT_GT(split, 3) << name.constData();
        const QString objectName = QString::fromLatin1(name.mid(3, split - 3));
        const QByteArray signal = name.mid(split + 1);
        QObject* sender = window.findChild<QObject*>(objectName);
        ASSERT_NE(sender, nullptr) << name.constData();
        bool hasSignal = false;
        for (int s = 0; s < sender->metaObject()->methodCount(); ++s) {
            const QMetaMethod method = sender->metaObject()->method(s);
            hasSignal = hasSignal || (method.methodType() == QMetaMethod::Signal && method.name() == signal);
        }
        EXPECT_TRUE(hasSignal) << name.constData();
        ++nbBound;
    }
    EXPECT_GE(nbBound, 1);
}
