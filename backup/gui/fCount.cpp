#include "fCount.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ActionEdit.h"
#include "DesignScale.h"
#include "DialogFit.h"
#include "TextFormats.h"
#include "lang.h"

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent), associate_(associate), min_(min), max_(max) {
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    Up = new QToolButton(this);
    Up->setObjectName(QStringLiteral("UDUp"));
    Up->setArrowType(Qt::UpArrow);
    Up->setAutoRepeat(true);
    Down = new QToolButton(this);
    Down->setObjectName(QStringLiteral("UDDown"));
    Down->setArrowType(Qt::DownArrow);
    Down->setAutoRepeat(true);
    for (QToolButton* b : {Up, Down}) {
        b->setFixedSize(DesignScale::Px(18), DesignScale::Px(12));
        l->addWidget(b);
    }
    connect(Up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
}

int TUpDown::Position() const {
    const auto n = TextFormats::ParseInt(associate_->text().trimmed());
    return int(std::clamp<qint64>(n.value_or(min_), min_, max_));
}

void TUpDown::SetPosition(int value) {
    associate_->setText(QString::number(std::clamp(value, min_, max_)));
}

void TUpDown::Step(int delta) {
    SetPosition(Position() + delta);
}

TcountWin::TcountWin(const TextLanguage& language, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      language_(language) {
    setObjectName(QStringLiteral("countWin"));
    auto* top = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    ec = new QLineEdit(QStringLiteral("0"), this);
    ec->setObjectName(QStringLiteral("ec"));
    ec->setAlignment(Qt::AlignRight);
    ec->installEventFilter(this);
    // A pasted text passes no key filter; one that is not all digits is not taken, or the
    // scheduler would meet a count it cannot read.
    ec->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), ec));
    UD = new TUpDown(ec, 0, 25, this);
    UD->setObjectName(QStringLiteral("UD"));
    row->addWidget(ec, 1);
    row->addWidget(UD);
    top->addLayout(row);
    AddOkCancel(this, top, BitBtn1, BitBtn2);
    FocusOnShow(this, ec);
    SetCaptions();
}

void TcountWin::SetCaptions() {
    setWindowTitle(language_.ByLanguage("Anzahl Sicherungen", "Backup Count"));
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("&Abbrechen"));
    FitTitle(this);
}

bool TcountWin::ecKeyPress(QObject* Sender, QChar Key) {
    Q_UNUSED(Sender);
    return !ActionEdit::CountKeyAccepted(Key);
}

bool TcountWin::eventFilter(QObject* watched, QEvent* e) {
    if (watched == ec && e->type() == QEvent::KeyPress) {
        // Only typed characters are filtered; arrows, Enter, Esc and shortcuts pass.
        const auto* k = static_cast<QKeyEvent*>(e);
        const QString text = k->text();
        if (k->key() == Qt::Key_Backspace) return false;
        if (text.size() == 1 && text[0].isPrint() &&
            !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return ecKeyPress(ec, text[0]);
    }
    return QDialog::eventFilter(watched, e);
}
