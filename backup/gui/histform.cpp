#include "histform.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogFit.h"
#include "lang.h"

TfHist::TfHist(const TextLanguage& language, QWidget* parent)
    : QDialog(parent, Qt::Tool), language_(language) {
    setObjectName(QStringLiteral("fHist"));
    auto* top = new QVBoxLayout(this);
    ws = new QCheckBox(this);
    ws->setObjectName(QStringLiteral("ws"));
    ms = new QCheckBox(this);
    ms->setObjectName(QStringLiteral("ms"));
    top->addWidget(ws);
    top->addWidget(ms);
    AddOkCancel(this, top, BitBtn1, BitBtn2);
    SetCaptions();
}

void TfHist::SetCaptions() {
    setWindowTitle(QStringLiteral("Historie"));
    ws->setText(language_.ByLanguage("Wochensicherung behalten", "save weekly backups"));
    ms->setText(language_.ByLanguage("Monatssicherung behalten", "save monthly backup"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("Abbrechen"));
    FitTitle(this);
}
