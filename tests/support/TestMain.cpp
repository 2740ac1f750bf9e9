// The one main of every test program: a QApplication (offscreen unless the test asks for another
// platform), a fixed locale and seed, and pending deletions processed before exit.
#include <clocale>
#include <cstdlib>

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    std::srand(12345);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
