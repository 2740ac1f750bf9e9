#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "app/base/Gui.h"
#include "project/AddImagesDialog.h"
#include "tests/support/TestSupport.h"

namespace {

struct MessageLog {
    std::vector<std::pair<QString, QString>> shown;
    gui::DialogHooks hooks() {
        gui::DialogHooks h = gui::realDialogHooks();
        h.messageBox = [this](const QString& title, const QString& text) { shown.emplace_back(title, text); };
        return h;
    }
};

ImgMetaData plainImage() {
    ImgMetaData meta;
    meta.width = 4000;
    meta.height = 3000;
    return meta;
}

QLineEdit* edit(const QDialog& dialog, const char* name) {
    auto* e = dialog.findChild<QLineEdit*>(name);
    EXPECT_NE(e, nullptr) << name;
    return e;
}

void press(QDialog& dialog, QDialogButtonBox::StandardButton which) {
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
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
    EXPECT_EQ(dialog.findChild<QLabel*>("label_9")->text(), "k3");
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("tiedOptics")->isChecked());
}

TEST(AddImagesDialog, OkWithAnEmptyFocalLengthIsRefused) {
    MessageLog log;
    gui::ScopedDialogHooks hooks(log.hooks());
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    press(dialog, QDialogButtonBox::Ok);
    EXPECT_FALSE(result);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(log.shown[0], std::make_pair(QString("Error"), QString("Invalid Optical Parameters")));

    // The user corrects the field and confirms.
    edit(dialog, "fx")->setText("3000");
    edit(dialog, "fy")->setText("3000.5");
    dialog.findChild<QCheckBox*>("tiedOptics")->setChecked(false);
    press(dialog, QDialogButtonBox::Ok);
    EXPECT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->fx, 3000.f);
    EXPECT_EQ(result->fy, 3000.5f);
    EXPECT_EQ(result->cx, 2000.f);
    EXPECT_EQ(result->k3, 0.f);
    EXPECT_FALSE(result->tiedOptics);
}

TEST(AddImagesDialog, CancelLeavesTheResultEmpty) {
    std::optional<AddImagesDialog::Info> result;
    ImgMetaData meta = plainImage();
    meta.focal = std::array<float, 2>{2945.123456f, 2945.123456f};
    AddImagesDialog dialog(result, meta, nullptr);
    EXPECT_EQ(edit(dialog, "fx")->text(), "2945.12");
    press(dialog, QDialogButtonBox::Cancel);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(result);
}

TEST(AddImagesDialog, OneFocalLengthFillsTheOtherOnlyWhenEmpty) {
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    QLineEdit* fx = edit(dialog, "fx");
    QLineEdit* fy = edit(dialog, "fy");
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
    QLineEdit* fx = edit(dialog, "fx");
    QTest::keyClicks(fx, "12a3");
    EXPECT_EQ(fx->text(), "123");
    QLineEdit* k1 = edit(dialog, "k1");
    k1->clear();
    QTest::keyClicks(k1, "-0.5x");
    EXPECT_EQ(k1->text(), "-0.5");
    QLineEdit* cx = edit(dialog, "cx");
    cx->clear();
    QTest::keyClicks(cx, "-5");
    EXPECT_EQ(cx->text(), "5") << "the principal point is never negative";
}
