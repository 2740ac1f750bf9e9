#include "project/SfmSettingsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QSpinBox>

namespace {

void selectText(QComboBox* combo, const std::optional<std::string>& text) {
    if (!text) {
        return;
    }
    // An unknown code leaves the combo box as it was.
    const int index =
        combo->findText(QString::fromStdString(*text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        combo->setCurrentIndex(index);
    }
}

void setChecked(QCheckBox* box, const std::optional<bool>& value) {
    if (value) {
        box->setChecked(*value);
    }
}

}  // namespace

SfmSettingsDialog::SfmSettingsDialog(const SfmCfg::Settings& settings, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SfmSettingsDialog>()) {
    ui->setupUi(this);
    selectText(ui->optModelComboBox, settings.opticModel);
    setChecked(ui->fixedOpticsCheckBox, settings.fixedOptics);
    selectText(ui->shutterComboBox, settings.shutterType);
    if (settings.nbKPoints) {
        // Clamped in 64 bits: a uint32 count above INT_MAX must not wrap to a negative spin box value.
        const auto clamped = std::clamp<int64_t>(*settings.nbKPoints, ui->nbKPointsSpinBox->minimum(),
                                                 ui->nbKPointsSpinBox->maximum());
        ui->nbKPointsSpinBox->setValue(static_cast<int>(clamped));
    }
    setChecked(ui->siftUpsamplingCheckBox, settings.siftUpsample);
    setChecked(ui->useGPSCheckBox, settings.useGps);
    setChecked(ui->unorderedImagesCheckBox, settings.unordered);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &SfmSettingsDialog::onAccepted);
}

SfmSettingsDialog::~SfmSettingsDialog() = default;

void SfmSettingsDialog::onAccepted() {
    SfmCfg::Settings settings;
    settings.opticModel = ui->optModelComboBox->currentText().toStdString();
    settings.fixedOptics = ui->fixedOpticsCheckBox->isChecked();
    settings.shutterType = ui->shutterComboBox->currentText().toStdString();
    settings.nbKPoints = static_cast<uint32_t>(ui->nbKPointsSpinBox->value());
    settings.siftUpsample = ui->siftUpsamplingCheckBox->isChecked();
    settings.useGps = ui->useGPSCheckBox->isChecked();
    settings.unordered = ui->unorderedImagesCheckBox->isChecked();
    emit done(settings);
}
