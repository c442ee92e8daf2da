#include "fTime.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "DialogFit.h"
#include "lang.h"

TTimeWin::TTimeWin(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("TimeWin"));
    auto* top = new QVBoxLayout(this);
    dtp = new QTimeEdit(QTime(2, 0, 0), this);
    dtp->setObjectName(QStringLiteral("dtp"));
    dtp->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    QFont big = dtp->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    dtp->setFont(big);
    top->addWidget(dtp);
    auto* buttons = new QHBoxLayout();
    BitBtn1 = new QPushButton(this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    top->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    SetCaptions();
}

void TTimeWin::SetCaptions() {
    setWindowTitle(ByLanguage("Uhrzeit für Sicherung", "Time for Backup"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("&Abbrechen"));
    FitTitle(this);
}
