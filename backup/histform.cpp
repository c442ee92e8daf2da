#include "histform.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogFit.h"
#include "lang.h"

TfHist::TfHist(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("fHist"));
    auto* top = new QVBoxLayout(this);
    ws = new QCheckBox(this);
    ws->setObjectName(QStringLiteral("ws"));
    ms = new QCheckBox(this);
    ms->setObjectName(QStringLiteral("ms"));
    top->addWidget(ws);
    top->addWidget(ms);
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

void TfHist::SetCaptions() {
    setWindowTitle(QStringLiteral("Historie"));
    ws->setText(ByLanguage("Wochensicherung behalten", "save weekly backups"));
    ms->setText(ByLanguage("Monatssicherung behalten", "save monthly backup"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("Abbrechen"));
    FitTitle(this);
}
