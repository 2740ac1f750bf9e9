#pragma once
// The form of the SfM settings dialog, built in code in the manner of a designer form class.
class QCheckBox;
class QComboBox;
class QDialog;
class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QSpinBox;
class QWidget;

class Ui_SfmSettingsDialog {
public:
    QDialogButtonBox* buttonBox;
    QWidget* formLayoutWidget;
    QFormLayout* formLayout;
    QLabel* optModelLabel;
    QComboBox* optModelComboBox;
    QLabel* fixedOpticsLabel;
    QCheckBox* fixedOpticsCheckBox;
    QLabel* shutterLabel;
    QComboBox* shutterComboBox;
    QLabel* nbKPointsLabel;
    QSpinBox* nbKPointsSpinBox;
    QLabel* siftUpsampleLabel;
    QCheckBox* siftUpsamplingCheckBox;
    QLabel* useGPSLabel;
    QCheckBox* useGPSCheckBox;
    QLabel* unorderedImagesLabel;
    QCheckBox* unorderedImagesCheckBox;

    // Builds the widgets as children of `dialog`, connects OK and Cancel to accept and reject, and binds
    // the dialog's "on_<object>_<signal>" slots by name.
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

namespace Ui {
class SfmSettingsDialog : public Ui_SfmSettingsDialog {};
}  // namespace Ui
