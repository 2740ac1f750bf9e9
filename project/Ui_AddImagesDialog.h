#pragma once
// The form of the Add Images dialog, built in code in the manner of a designer form class.
#include <array>

class QCheckBox;
class QDialog;
class QDialogButtonBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QVBoxLayout;
class QWidget;

class Ui_AddImagesDialog {
public:
    QDialogButtonBox* buttonBox;
    QWidget* gridLayoutWidget;
    QGridLayout* gridLayout;
    QLabel* label;
    QLineEdit* fx;
    QLabel* label_2;
    QLineEdit* fy;
    QLabel* label_3;
    QLineEdit* cx;
    QLabel* label_4;
    QLineEdit* cy;
    QLabel* label_5;
    QLineEdit* k1;
    QLabel* label_6;
    QLineEdit* k2;
    QLabel* label_7;
    QLineEdit* p1;
    QLabel* label_8;
    QLineEdit* p2;
    QLabel* label_9;
    QLineEdit* k3;
    QWidget* verticalLayoutWidget;
    QVBoxLayout* verticalLayout;
    QCheckBox* tiedOptics;

    // Builds the widgets as children of `dialog` and binds its "on_<object>_<signal>" slots by name.
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

namespace Ui {
class AddImagesDialog : public Ui_AddImagesDialog {};
}  // namespace Ui
