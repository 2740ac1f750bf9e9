// The pieces every widget shares: the project directory and the guard around GUI commands.
#include <stdexcept>

#include <QDir>
#include <gtest/gtest.h>

#include "app/base/Gui.h"
#include "tests/support/DialogStub.h"
#include "tests/support/TestSupport.h"
#include "vexkit/Assert.h"
#include "vexkit/Paths.h"

TEST(Gui, WorkDirIsTheHomeDirectoryUntilAProjectIsSet) {
    workDirOpt.reset();
    EXPECT_EQ(workDir(), toPath(QDir::homePath()));
    workDirOpt = std::filesystem::path("/some/project");
    EXPECT_EQ(workDir(), std::filesystem::path("/some/project"));
    workDirOpt.reset();
}

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

    const QStringList expected = {"unknown extension", "1 < 0", "false"};
    ASSERT_EQ(dialogs.messages.size(), 5u);
    for (size_t i = 0; i < dialogs.messages.size(); ++i) {
        EXPECT_EQ(dialogs.messages[i].title, "Error");
        EXPECT_FALSE(dialogs.messages[i].text.isEmpty());
    }
    for (int i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(dialogs.messages[i].text, expected[i]);
        EXPECT_EQ(logged[i], "Error: " + expected[i]);
    }
    EXPECT_EQ(dialogs.messages[4].text, "without a log");
    EXPECT_EQ(logged.size(), 4);
}

TEST(Gui, ScopedHooksAreRestoredAfterTheScope) {
    {
        kxtest::DialogStub outer;
        {
            kxtest::DialogStub inner;
            showMsgBox("Failure", "inner");
            EXPECT_EQ(inner.messages.size(), 1u);
        }
        showMsgBox("Failure", "outer");
        ASSERT_EQ(outer.messages.size(), 1u);
        EXPECT_EQ(outer.messages[0].title, "Failure");
        EXPECT_EQ(outer.messages[0].text, "outer");
    }
}
