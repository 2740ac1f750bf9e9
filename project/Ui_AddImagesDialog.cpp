#include "project/Ui_AddImagesDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

void Ui_AddImagesDialog::setupUi(QDialog* dialog) {
    if (dialog->objectName().isEmpty()) {
        dialog->setObjectName(QStringLiteral("AddImagesDialog"));
    }
    dialog->resize(492, 419);
    buttonBox = new QDialogButtonBox(dialog);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setGeometry(QRect(130, 370, 341, 32));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    gridLayoutWidget = new QWidget(dialog);
    gridLayoutWidget->setObjectName(QStringLiteral("gridLayoutWidget"));
    gridLayoutWidget->setGeometry(QRect(30, 30, 160, 338));
    gridLayout = new QGridLayout(gridLayoutWidget);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setContentsMargins(0, 0, 0, 0);

    const std::array<QLabel**, 9> labels = {&label,   &label_2, &label_3, &label_4, &label_5,
                                            &label_6, &label_7, &label_8, &label_9};
    const std::array<QLineEdit**, 9> edits = {&fx, &fy, &cx, &cy, &k1, &k2, &p1, &p2, &k3};
    const std::array<const char*, 9> editNames = {"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2", "k3"};
    for (int row = 0; row < 9; ++row) {
        QLabel* rowLabel = new QLabel(gridLayoutWidget);
        rowLabel->setObjectName(row == 0 ? QStringLiteral("label") : QStringLiteral("label_%1").arg(row + 1));
        gridLayout->addWidget(rowLabel, row, 0, 1, 1);
        QLineEdit* edit = new QLineEdit(gridLayoutWidget);
        edit->setObjectName(QString::fromLatin1(editNames[row]));
        gridLayout->addWidget(edit, row, 1, 1, 1);
        *labels[row] = rowLabel;
        *edits[row] = edit;
    }

    verticalLayoutWidget = new QWidget(dialog);
    verticalLayoutWidget->setObjectName(QStringLiteral("verticalLayoutWidget"));
    verticalLayoutWidget->setGeometry(QRect(240, 60, 131, 31));
    verticalLayout = new QVBoxLayout(verticalLayoutWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setContentsMargins(0, 0, 0, 0);
    tiedOptics = new QCheckBox(verticalLayoutWidget);
    tiedOptics->setObjectName(QStringLiteral("tiedOptics"));
    verticalLayout->addWidget(tiedOptics);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_AddImagesDialog::retranslateUi(QDialog* dialog) {
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    const std::array<QLabel*, 9> labels = {label,   label_2, label_3, label_4, label_5,
                                           label_6, label_7, label_8, label_9};
    const std::array<QLineEdit*, 9> edits = {fx, fy, cx, cy, k1, k2, p1, p2, k3};
    for (int row = 0; row < 9; ++row) {
        labels[row]->setText(edits[row]->objectName());
    }
#if QT_CONFIG(tooltip)
    tiedOptics->setToolTip(QStringLiteral(
        "<html><head/><body><p>This group of images are shot with the same optical system, i.e. fixed focal "
        "length and locked focus.</p><p>Optical parameters for these images will be kept identical during "
        "reconstruction.</p></body></html>"));
#endif
    tiedOptics->setText(QStringLiteral("Tied Optics"));
}
