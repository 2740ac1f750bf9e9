// The guard around every GUI command.
#include <stdexcept>

#include <gtest/gtest.h>

#include "gui/Gui.h"
#include "tests/support/DialogStub.h"

TEST(Gui, RunGuardedTurnsEveryKindOfFailureIntoAnErrorMessage) {
    kxtest::DialogStub dialogs;
    QStringList logged;
    const auto log = [&logged](const QString& line) { logged << line; };
    gui::runGuarded([] { throw std::runtime_error("unknown extension"); }, log);
    gui::runGuarded([] { throw "a string"; }, log);
    gui::runGuarded([] { throw std::logic_error("without a log"); });
    gui::runGuarded([] {}, log);

    QStringList shown;
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.title, "Error");
        shown << message.text;
    }
    ASSERT_EQ(shown.size(), 3);
    EXPECT_FALSE(shown[1].isEmpty());  // whatever was thrown is named somehow
    EXPECT_EQ(shown, QStringList({"unknown extension", shown[1], "without a log"}));
    EXPECT_EQ(logged, QStringList({"Error: unknown extension", "Error: " + shown[1]}));
}
