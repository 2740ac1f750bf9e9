#pragma once
// The modal dialog that edits the SfM settings; it reports them through `done` when the user presses OK.
#include <memory>

#include <QDialog>

#include "config/SfmCfg.h"
#include "project/Ui_SfmSettingsDialog.h"

class SfmSettingsDialog : public QDialog {
    Q_OBJECT

public:
    // Shows the fields of `settings` that are present; the others keep the form's initial state.
    SfmSettingsDialog(const SfmCfg::Settings& settings, QWidget* parent);
    ~SfmSettingsDialog() override;

signals:
    // Every field present: the state of the seven controls.
    void done(SfmCfg::Settings settings);

private:
    void onAccepted();

    std::unique_ptr<Ui::SfmSettingsDialog> ui;
};
