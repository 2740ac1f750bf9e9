#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "project/SfmSettingsDialog.h"
#include "tests/support/TestSupport.h"

namespace {

// Presses a button of the dialog and returns what `done` reported, once per emission.
std::vector<SfmCfg::Settings> press(SfmSettingsDialog& dialog, QDialogButtonBox::StandardButton which) {
    std::vector<SfmCfg::Settings> reported;
    auto connection = QObject::connect(&dialog, &SfmSettingsDialog::done,
                                       [&](SfmCfg::Settings s) { reported.push_back(s); });
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
    QObject::disconnect(connection);
    return reported;
}

template <typename T>
T* child(const QDialog& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

}  // namespace

TEST(SfmSettingsDialog, ControlsShowThePresentFields) {
    struct Row {
        std::optional<std::string> model;
        std::optional<uint32_t> nbKPoints;
        QString shownModel;
        int shownKPoints;
    };
    const Row rows[] = {
        {"F1D5", 20000, "F1D5", 20000},
        {"F2C2D5", 4000, "F2C2D5", 4000},
        {"XYZ", 500, "F1", 1000},
        {"f1d5", 31000, "F1", 30000},
        {std::nullopt, std::nullopt, "F1", 10000},
        {"F2", 4000000000u, "F2", 30000},
    };
    for (const Row& row : rows) {
        SfmCfg::Settings settings;
        settings.opticModel = row.model;
        settings.nbKPoints = row.nbKPoints;
        SfmSettingsDialog dialog(settings, nullptr);
        EXPECT_EQ(child<QComboBox>(dialog, "optModelComboBox")->currentText(), row.shownModel);
        EXPECT_EQ(child<QSpinBox>(dialog, "nbKPointsSpinBox")->value(), row.shownKPoints);
    }
}

TEST(SfmSettingsDialog, OkReportsAllSevenFieldsAndCancelNothing) {
    SfmCfg::Settings settings;
    settings.nbKPoints = 500;
    settings.shutterType = "Rolling1DLoc";
    settings.useGps = true;
    {
        SfmSettingsDialog dialog(settings, nullptr);
        const auto reported = press(dialog, QDialogButtonBox::Ok);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(reported.size(), 1u);
        const SfmCfg::Settings& s = reported[0];
        EXPECT_EQ(s.opticModel, "F1");
        EXPECT_EQ(s.fixedOptics, false);
        EXPECT_EQ(s.shutterType, "Rolling1DLoc");
        EXPECT_EQ(s.nbKPoints, 1000u);
        EXPECT_EQ(s.siftUpsample, false);
        EXPECT_EQ(s.useGps, true);
        EXPECT_EQ(s.unordered, false);
    }
    {
        SfmSettingsDialog dialog(settings, nullptr);
        child<QCheckBox>(dialog, "unorderedImagesCheckBox")->setChecked(true);
        child<QCheckBox>(dialog, "fixedOpticsCheckBox")->setChecked(true);
        child<QCheckBox>(dialog, "siftUpsamplingCheckBox")->setChecked(true);
        child<QComboBox>(dialog, "optModelComboBox")->setCurrentText("F2C2");
        child<QSpinBox>(dialog, "nbKPointsSpinBox")->setValue(7000);
        const auto reported = press(dialog, QDialogButtonBox::Ok);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].unordered, true);
        EXPECT_EQ(reported[0].fixedOptics, true);
        EXPECT_EQ(reported[0].siftUpsample, true);
        EXPECT_EQ(reported[0].opticModel, "F2C2");
        EXPECT_EQ(reported[0].nbKPoints, 7000u);
    }
    {
        SfmSettingsDialog dialog(settings, nullptr);
        EXPECT_TRUE(press(dialog, QDialogButtonBox::Cancel).empty());
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
}

TEST(SfmSettingsDialog, ChoicesAndRange) {
    SfmSettingsDialog dialog(SfmCfg::Settings{}, nullptr);
    auto items = [](QComboBox* combo) {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i) {
            list << combo->itemText(i);
        }
        return list;
    };
    EXPECT_EQ(items(child<QComboBox>(dialog, "optModelComboBox")),
              QStringList({"F1", "F1D2", "F1D5", "F1C2D5", "F2", "F2D5", "F2C2", "F2C2D5"}));
    EXPECT_EQ(items(child<QComboBox>(dialog, "shutterComboBox")), QStringList({"Global", "Rolling1DLoc"}));
    auto* spin = child<QSpinBox>(dialog, "nbKPointsSpinBox");
    EXPECT_EQ(std::make_tuple(spin->minimum(), spin->maximum(), spin->singleStep()),
              std::make_tuple(1000, 30000, 1000));
}
