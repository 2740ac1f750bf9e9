#pragma once
// The modal dialog that asks for the optics of a new batch of images and whether they share them.
#include <array>
#include <memory>
#include <optional>

#include <QDialog>

#include "metadata/ImgMetaData.h"
#include "project/Optics.h"
#include "project/Ui_AddImagesDialog.h"

class QLineEdit;

class AddImagesDialog : public QDialog {
    Q_OBJECT

public:
    using Info = OpticsInfo;

    // Pre-fills the form from `meta`. `result` is filled only when the user confirms valid numbers.
    AddImagesDialog(std::optional<Info>& result, const ImgMetaData& meta, QWidget* parent);
    ~AddImagesDialog() override;

    // The nine line edits in the order fx, fy, cx, cy, k1, k2, p1, p2, k3.
    std::array<QLineEdit*, kNbOpticsFields> getLineEdits() const;
    static std::array<float*, kNbOpticsFields> getInfoFields(Info& info) { return opticsFields(info); }

private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_fx_editingFinished();
    void on_fy_editingFinished();

private:
    std::unique_ptr<Ui::AddImagesDialog> ui;
    std::optional<Info>& mResult;
};
