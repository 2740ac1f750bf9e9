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

TEST(AddImagesDialog, WithoutRecordedOpticsFocalIsEmptyAndCentreDefaults) {
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    QStringList texts;
    for (const QLineEdit* e : dialog.getLineEdits()) {
        texts << e->objectName() + "=" + e->text();
    }
    EXPECT_EQ(texts,
              QStringList({"fx=", "fy=", "cx=2000", "cy=1500", "k1=0", "k2=0", "p1=0", "p2=0", "k3=0"}));
    EXPECT_EQ(child<QLabel>(dialog, "label_9")->text(), "k3");
    EXPECT_TRUE(child<QCheckBox>(dialog, "tiedOptics")->isChecked());
    EXPECT_EQ(press(dialog, QDialogButtonBox::Cancel), QDialog::Rejected);
    EXPECT_FALSE(result);
}

TEST(AddImagesDialog, OkWithAnEmptyFocalLengthIsRefused) {
    DialogStub dialogs;
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
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
    EXPECT_EQ(std::make_tuple(result->fx, result->fy, result->cx, result->k3, result->tiedOptics),
              std::make_tuple(3000.f, 3000.5f, 2000.f, 0.f, false));
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

TEST(AddImagesDialog, ValidatorsRejectWhatCannotBeANumber) {
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    // The principal point is never negative.
    for (const auto& [field, typed, kept] :
         {std::make_tuple("fx", "12a3", "123"), std::make_tuple("k1", "-0.5x", "-0.5"),
          std::make_tuple("cx", "-5", "5")}) {
        QLineEdit* edit = child<QLineEdit>(dialog, field);
        edit->clear();
        QTest::keyClicks(edit, typed);
        EXPECT_EQ(edit->text(), kept) << field;
    }
}
