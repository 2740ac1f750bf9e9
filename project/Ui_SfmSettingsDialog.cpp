#include "project/Ui_SfmSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

namespace {

template <typename T>
T* make(QWidget* parent, const char* name) {
    T* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

void Ui_SfmSettingsDialog::setupUi(QDialog* dialog) {
    if (dialog->objectName().isEmpty()) {
        dialog->setObjectName(QStringLiteral("SfmSettingsDialog"));
    }
    dialog->resize(518, 381);
    buttonBox = make<QDialogButtonBox>(dialog, "buttonBox");
    buttonBox->setGeometry(QRect(150, 320, 341, 32));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    formLayoutWidget = make<QWidget>(dialog, "formLayoutWidget");
    formLayoutWidget->setGeometry(QRect(40, 50, 286, 241));
    formLayout = new QFormLayout(formLayoutWidget);
    formLayout->setObjectName(QStringLiteral("formLayout"));
    formLayout->setContentsMargins(0, 0, 0, 0);

    QWidget* p = formLayoutWidget;
    optModelLabel = make<QLabel>(p, "optModelLabel");
    optModelComboBox = make<QComboBox>(p, "optModelComboBox");
    fixedOpticsLabel = make<QLabel>(p, "fixedOpticsLabel");
    fixedOpticsCheckBox = make<QCheckBox>(p, "fixedOpticsCheckBox");
    shutterLabel = make<QLabel>(p, "shutterLabel");
    shutterComboBox = make<QComboBox>(p, "shutterComboBox");
    nbKPointsLabel = make<QLabel>(p, "nbKPointsLabel");
    nbKPointsSpinBox = make<QSpinBox>(p, "nbKPointsSpinBox");
    nbKPointsSpinBox->setMinimum(1000);
    nbKPointsSpinBox->setMaximum(30000);
    nbKPointsSpinBox->setSingleStep(1000);
    nbKPointsSpinBox->setValue(10000);
    siftUpsampleLabel = make<QLabel>(p, "siftUpsampleLabel");
    siftUpsamplingCheckBox = make<QCheckBox>(p, "siftUpsamplingCheckBox");
    useGPSLabel = make<QLabel>(p, "useGPSLabel");
    useGPSCheckBox = make<QCheckBox>(p, "useGPSCheckBox");
    unorderedImagesLabel = make<QLabel>(p, "unorderedImagesLabel");
    unorderedImagesCheckBox = make<QCheckBox>(p, "unorderedImagesCheckBox");

    const QWidget* rows[][2] = {
        {optModelLabel, optModelComboBox},
        {fixedOpticsLabel, fixedOpticsCheckBox},
        {shutterLabel, shutterComboBox},
        {nbKPointsLabel, nbKPointsSpinBox},
        {siftUpsampleLabel, siftUpsamplingCheckBox},
        {useGPSLabel, useGPSCheckBox},
        {unorderedImagesLabel, unorderedImagesCheckBox},
    };
    for (int row = 0; row < 7; ++row) {
        formLayout->setWidget(row, QFormLayout::LabelRole, const_cast<QWidget*>(rows[row][0]));
        formLayout->setWidget(row, QFormLayout::FieldRole, const_cast<QWidget*>(rows[row][1]));
    }

    retranslateUi(dialog);
    QObject::connect(buttonBox, SIGNAL(accepted()), dialog, SLOT(accept()));
    QObject::connect(buttonBox, SIGNAL(rejected()), dialog, SLOT(reject()));
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_SfmSettingsDialog::retranslateUi(QDialog* dialog) {
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    optModelComboBox->clear();
    optModelComboBox->addItems({"F1", "F1D2", "F1D5", "F1C2D5", "F2", "F2D5", "F2C2", "F2C2D5"});
    shutterComboBox->clear();
    shutterComboBox->addItems({"Global", "Rolling1DLoc"});

    optModelLabel->setText(QStringLiteral("Optical Model"));
    fixedOpticsLabel->setText(QStringLiteral("Fixed Optics"));
    shutterLabel->setText(QStringLiteral("Shutter Model"));
    nbKPointsLabel->setText(QStringLiteral("Key Points"));
    siftUpsampleLabel->setText(QStringLiteral("SIFT Upsample"));
    useGPSLabel->setText(QStringLiteral("Use GPS"));
    unorderedImagesLabel->setText(QStringLiteral("Unordered"));

#if QT_CONFIG(tooltip)
    optModelLabel->setToolTip(QStringLiteral("Optical parameters to be optimised."));
    shutterLabel->setToolTip(QStringLiteral("Option for rolling shutter correction"));
    nbKPointsLabel->setToolTip(QStringLiteral(
        "Number of key points per image. Max 20000 allowed. Note that our SFM sparse cloud is usually much "
        "denser than other softwares with the same number of key points per image. So 5,000 - 10,000 is "
        "usually enough."));
    const QString upsample = QStringLiteral(
        "The original SIFT algorithm upsamples the image to increase the number of key points. Disabled by "
        "default.");
    siftUpsampleLabel->setToolTip(upsample);
    siftUpsamplingCheckBox->setToolTip(upsample);
    const QString fixed = QStringLiteral("Keep optical parameters fixed if checked");
    fixedOpticsLabel->setToolTip(fixed);
    fixedOpticsCheckBox->setToolTip(fixed);
    useGPSLabel->setToolTip(QStringLiteral("Use GPS information from image metadata to align the model"));
    unorderedImagesLabel->setToolTip(
        QStringLiteral("Whether the images are unordered or sequantial. Default to sequantial."));
#endif
}
