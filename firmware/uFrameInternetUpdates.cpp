#include "uFrameInternetUpdates.h"

#include <QLineEdit>
#include <QVBoxLayout>

TFrameInternetUpdates::TFrameInternetUpdates(QWidget *Parent) : QFrame(Parent) {
    setObjectName(QStringLiteral("FrameInternetUpdates"));
    auto *Layout = new QVBoxLayout(this);
    EditSelectDevice = new QLineEdit(this);
    EditSelectDevice->setObjectName(QStringLiteral("EditSelectDevice"));
    Layout->addWidget(EditSelectDevice);
    Layout->addStretch();
}

void TFrameInternetUpdates::ButtonCheckUpdatesGetDevicesClick() {
}

void TFrameInternetUpdates::DoEnglish() {
}
