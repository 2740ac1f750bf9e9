// The pieces every widget shares: the guard around GUI commands and the dialog seam.
#include <stdexcept>

#include <gtest/gtest.h>

#include "gui/Gui.h"
#include "tests/support/DialogStub.h"
#include "vexkit/Assert.h"

TEST(Gui, RunGuardedTurnsEveryKindOfFailureIntoAnErrorMessage) {
    kxtest::DialogStub dialogs;
    QStringList logged;
    const auto log = [&logged](const QString& line) { logged << line; };
    testing::internal::CaptureStdout();  // the assertion prints its own line
    gui::runGuarded([] { throw std::runtime_error("unknown extension"); }, log);
    gui::runGuarded([] { VEXKIT_ASSERT(1 < 0); }, log);
    gui::runGuarded([] { VEXKIT_REQUIRE(false); }, log);
    gui::runGuarded([] { throw "a string"; }, log);
    gui::runGuarded([] { throw std::logic_error("without a log"); });
    testing::internal::GetCapturedStdout();
    gui::runGuarded([] {}, log);

    QStringList shown;
    for (const auto& message : dialogs.messages) {
        EXPECT_EQ(message.title, "Error");
        shown << message.text;
    }
    ASSERT_EQ(shown.size(), 5);
    EXPECT_FALSE(shown[3].isEmpty());  // whatever was thrown is named somehow
    EXPECT_EQ(shown, QStringList({"unknown extension", "1 < 0", "false", shown[3], "without a log"}));
    EXPECT_EQ(logged, QStringList({"Error: unknown extension", "Error: 1 < 0", "Error: false",
                                   "Error: " + shown[3]}));
}

TEST(Gui, ScopedHooksAreRestoredAfterTheScope) {
    kxtest::DialogStub outer;
    {
        kxtest::DialogStub inner;
        showMsgBox("Failure", "inner");
        EXPECT_EQ(inner.messages.size(), 1u);
    }
    showMsgBox("Failure", "outer");
    ASSERT_EQ(outer.messages.size(), 1u);
    EXPECT_EQ(outer.messages[0].text, "outer");
}
