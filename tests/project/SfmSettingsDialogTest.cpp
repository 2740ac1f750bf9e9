#include <QComboBox>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "project/SfmSettingsDialog.h"
#include "tests/project/DashFixtures.h"
#include "tests/project/RecordBuilders.h"

using kxtest::child;

namespace {

// Presses a button of the dialog and returns what `done` reported, once per emission.
std::vector<SfmCfg::Settings> press(SfmSettingsDialog& dialog, QDialogButtonBox::StandardButton which) {
    std::vector<SfmCfg::Settings> reported;
    auto connection = QObject::connect(&dialog, &SfmSettingsDialog::done,
                                       [&](SfmCfg::Settings s) { reported.push_back(s); });
    kxtest::press(dialog, which);
    QObject::disconnect(connection);
    return reported;
}

}  // namespace

TEST(SfmSettingsDialog, OkReportsAllSevenFieldsAndCancelNothing) {
    SfmCfg::Settings settings;
    settings.nbKPoints = 500;
    settings.shutterType = "Rolling1DLoc";
    settings.useGps = true;
    SfmSettingsDialog dialog(settings, nullptr);
    EXPECT_EQ(press(dialog, QDialogButtonBox::Ok),
              std::vector<SfmCfg::Settings>({{"F1", false, "Rolling1DLoc", 1000u, false, true, false}}));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    child<QCheckBox>(dialog, "unorderedImagesCheckBox")->setChecked(true);
    child<QCheckBox>(dialog, "fixedOpticsCheckBox")->setChecked(true);
    child<QCheckBox>(dialog, "siftUpsamplingCheckBox")->setChecked(true);
    child<QCheckBox>(dialog, "useGPSCheckBox")->setChecked(false);
    child<QComboBox>(dialog, "optModelComboBox")->setCurrentText("F2C2");
    child<QComboBox>(dialog, "shutterComboBox")->setCurrentText("Global");
    child<QSpinBox>(dialog, "nbKPointsSpinBox")->setValue(7000);
    EXPECT_EQ(press(dialog, QDialogButtonBox::Ok),
              std::vector<SfmCfg::Settings>({{"F2C2", true, "Global", 7000u, true, false, true}}));

    SfmSettingsDialog cancelled(settings, nullptr);
    EXPECT_TRUE(press(cancelled, QDialogButtonBox::Cancel).empty());
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}
