#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/project/DashFixtures.h"

using namespace kxtest;

namespace {

ImgMetaData plainImage() {
    ImgMetaData meta;
    meta.width = 4000;
    meta.height = 3000;
    return meta;
}

}  // namespace

TEST(AddImagesDialog, OkWithAnEmptyFocalLengthIsRefused) {
    DialogStub dialogs;
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    EXPECT_EQ(press(dialog, QDialogButtonBox::Cancel), QDialog::Rejected);
    EXPECT_FALSE(result);
    EXPECT_NE(press(dialog), QDialog::Accepted);
    EXPECT_FALSE(result);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].title, "Error");
    EXPECT_EQ(dialogs.messages[0].text, "Invalid Optical Parameters");

    // The user corrects the field and confirms.
    child<QLineEdit>(dialog, "fx")->setText("3000");
    child<QLineEdit>(dialog, "fy")->setText("3000.5");
    child<QCheckBox>(dialog, "tiedOptics")->setChecked(false);
    EXPECT_EQ(press(dialog), QDialog::Accepted);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    ASSERT_TRUE(result);
    // The centre defaults to the image's.
    EXPECT_EQ(std::make_tuple(result->fx, result->fy, result->cx, result->cy, result->tiedOptics),
              std::make_tuple(3000.f, 3000.5f, 2000.f, 1500.f, false));
}

TEST(AddImagesDialog, OneFocalLengthFillsTheOtherOnlyWhenEmpty) {
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    QLineEdit* fx = child<QLineEdit>(dialog, "fx");
    QLineEdit* fy = child<QLineEdit>(dialog, "fy");
    QTest::keyClicks(fx, "3000");
    QTest::keyClick(fx, Qt::Key_Return);
    EXPECT_EQ(fy->text(), "3000");

    fy->setText("2990");
    fx->clear();
    QTest::keyClicks(fx, "3100");
    QTest::keyClick(fx, Qt::Key_Return);
    EXPECT_EQ(fy->text(), "2990") << "a filled fy keeps its value";

    fx->clear();
    QTest::keyClick(fy, Qt::Key_Return);
    EXPECT_EQ(fx->text(), "2990");
}
