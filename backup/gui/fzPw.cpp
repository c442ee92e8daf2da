#include "fzPw.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ActionEdit.h"
#include "DialogFit.h"
#include "lang.h"

TfPw::TfPw(const TextLanguage& language, QWidget* parent)
    : QDialog(parent, Qt::Tool), language_(language) {
    setObjectName(QStringLiteral("fPw"));
    auto* top = new QVBoxLayout(this);
    Memo1 = AddNote(this, top);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, QColor(255, 255, 225));
    Memo1->setPalette(pal);
    cbShowPw = new QCheckBox(this);
    cbShowPw->setObjectName(QStringLiteral("cbShowPw"));
    top->addWidget(cbShowPw);
    ePw = AddEditRow(this, top, Label1, "Label1", "ePw", ActionEdit::MaxCellLength);
    // Masked with "*" as the program's other password fields, not the style's dot.
    ePw->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    FocusOnShow(this, ePw);
    AddOkCancel(this, top, BitBtn1, BitBtn2);
    connect(cbShowPw, &QCheckBox::clicked, this, [this] { cbShowPwClick(cbShowPw); });
    SetCaptions();
    cbShowPwClick(nullptr);
}

void TfPw::SetCaptions() {
    setWindowTitle(language_.ByLanguage("Kennwort für das Archiv", "Password for the archive"));
    Memo1->setPlainText(language_.ByLanguage("ACHTUNG:\n"
                                             "Verschlüsselte Zip Archive sind ziemlich sicher!\n"
                                             "Wenn sie ein Kennwort setzen und\n"
                                             "es vergessen ist das Archiv verloren.",
                                             "Danger:\n"
                                             "Zip Archives with Password are realy Secure!\n"
                                             "If you set a Password an forget it\n"
                                             "the Archive is lost."));
    FitMemo(Memo1);
    cbShowPw->setText(language_.ByLanguage("Kennwort anzeigen", "show Password"));
    Label1->setText(language_.ByLanguage("Kennwort", "Password"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("&Abbrechen"));
    FitTitle(this);
}

void TfPw::cbShowPwClick(QObject* Sender) {
    Q_UNUSED(Sender);
    ePw->setEchoMode(cbShowPw->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}
