#include "project/AddImagesDialog.h"

#include <QCheckBox>
#include <QDoubleValidator>
#include <QLineEdit>

#include "gui/Gui.h"

namespace {

void setValidator(QLineEdit* edit, double bottom, double top) {
    auto* validator = new QDoubleValidator(bottom, top, 8, edit);
    // What the validator lets through must be what the OK handler can read.
    validator->setLocale(QLocale::c());
    edit->setValidator(validator);
}

}  // namespace

AddImagesDialog::AddImagesDialog(std::optional<Info>& result, const ImgMetaData& meta, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AddImagesDialog>()), mResult(result) {
    ui->setupUi(this);
    const auto edits = getLineEdits();
    for (int i = 0; i < kNbOpticsFields; ++i) {
        if (i < 4) {
            setValidator(edits[i], 0, 1e30);
        } else {
            setValidator(edits[i], -10, 10);
        }
    }
    ui->tiedOptics->setChecked(true);
    const OpticsTexts texts = prefillOptics(meta);
    for (int i = 0; i < kNbOpticsFields; ++i) {
        edits[i]->setText(texts[i]);
    }
}

AddImagesDialog::~AddImagesDialog() = default;

std::array<QLineEdit*, kNbOpticsFields> AddImagesDialog::getLineEdits() const {
    return {ui->fx, ui->fy, ui->cx, ui->cy, ui->k1, ui->k2, ui->p1, ui->p2, ui->k3};
}

void AddImagesDialog::on_buttonBox_accepted() {
    OpticsTexts texts;
    const auto edits = getLineEdits();
    for (int i = 0; i < kNbOpticsFields; ++i) {
        texts[i] = edits[i]->text();
    }
    std::optional<Info> info = parseOptics(texts);
    if (!info) {
        showMsgBox(QStringLiteral("Error"), QStringLiteral("Invalid Optical Parameters"));
        return;
    }
    info->tiedOptics = ui->tiedOptics->isChecked();
    mResult = info;
    accept();
}

void AddImagesDialog::on_buttonBox_rejected() {
    reject();
}

void AddImagesDialog::on_fx_editingFinished() {
    if (ui->fy->text().isEmpty()) {
        ui->fy->setText(ui->fx->text());
    }
}

void AddImagesDialog::on_fy_editingFinished() {
    if (ui->fx->text().isEmpty()) {
        ui->fx->setText(ui->fy->text());
    }
}
