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

TEST(AddImagesDialog, FormNamesLabelsAndInitialState) {
    std::optional<AddImagesDialog::Info> result;
    AddImagesDialog dialog(result, plainImage(), nullptr);
    EXPECT_EQ(dialog.objectName(), "AddImagesDialog");
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
    const auto edits = dialog.getLineEdits();
    const char* names[] = {"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2", "k3"};
    const char* labels[] = {"label",   "label_2", "label_3", "label_4", "label_5",
                            "label_6", "label_7", "label_8", "label_9"};
    for (int i = 0; i < kNbOpticsFields; ++i) {
        EXPECT_EQ(edits[i]->objectName(), names[i]);
        auto* label = dialog.findChild<QLabel*>(labels[i]);
        ASSERT_NE(label, nullptr) << labels[i];
        EXPECT_EQ(label->text(), names[i]);
    }
    auto* tied = dialog.findChild<QCheckBox*>("tiedOptics");
    ASSERT_NE(tied, nullptr);
    EXPECT_TRUE(tied->isChecked());
    EXPECT_EQ(tied->text(), "Tied Optics");
    EXPECT_TRUE(tied->toolTip().contains("fixed focal length and locked focus."));
    EXPECT_EQ(edits[0]->text(), "");
    EXPECT_EQ(edits[2]->text(), "2000");
    EXPECT_EQ(edits[3]->text(), "1500");
    EXPECT_EQ(edits[8]->text(), "0");
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
