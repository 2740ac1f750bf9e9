// The guard around every GUI command; the window's tests run it with a log on commands that throw or not.
#include <stdexcept>

#include <gtest/gtest.h>

#include "gui/Gui.h"
#include "tests/support/DialogStub.h"

TEST(Gui, RunGuardedNamesWhatIsNotAStdExceptionAndNeedsNoLog) {
    kxtest::DialogStub dialogs;
    QStringList logged;
    gui::runGuarded([] { throw "a string"; }, [&logged](const QString& line) { logged << line; });
    gui::runGuarded([] { throw std::logic_error("without a log"); });

    QStringList shown;
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.title, "Error");
        shown << message.text;
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_FALSE(shown[0].isEmpty());  // whatever was thrown is named somehow
    EXPECT_EQ(shown[1], "without a log");
    EXPECT_EQ(logged, QStringList{"Error: " + shown[0]});
}
