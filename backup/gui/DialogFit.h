#pragma once
// The pieces the small dialogs share, with sizes that keep their texts whole whatever font the
// desktop uses.
#include <QAbstractSpinBox>
#include <QBoxLayout>
#include <QDateTimeEdit>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>
#include <functional>

#include "ActionEdit.h"
#include "DesignScale.h"

// Wide enough for the window caption beside the title bar's buttons.
inline void FitTitle(QWidget* dialog) {
    const QFontMetrics fm(dialog->font());
    dialog->setMinimumWidth(
        std::max(dialog->minimumWidth(),
                 fm.horizontalAdvance(dialog->windowTitle()) + DesignScale::Px(100)));
}

// A read-only memo that shows all of its lines without scrolling.
inline void FitMemo(QPlainTextEdit* memo) {
    const QFontMetrics fm(memo->font());
    const QStringList lines = memo->toPlainText().split(u'\n');
    int width = 0;
    for (const QString& l : lines)
        width = std::max(width, fm.horizontalAdvance(l));
    const int frame = 2 * memo->frameWidth() + int(memo->document()->documentMargin() * 2) + 4;
    memo->setMinimumWidth(width + frame);
    memo->setFixedHeight(fm.lineSpacing() * int(lines.size()) + frame);
}

// A read-only note at the top of a dialog: never focused, its lines unwrapped; FitMemo makes
// room for all of them.
inline QPlainTextEdit* AddNote(QWidget* dialog, QBoxLayout* top) {
    auto* memo = new QPlainTextEdit(dialog);
    memo->setObjectName(QStringLiteral("Memo1"));
    memo->setReadOnly(true);
    memo->setFocusPolicy(Qt::NoFocus);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    top->addWidget(memo);
    return memo;
}

// A caption and a one-line edit beside it that takes the rest of the row; the caption's
// accelerator goes to the edit. Line breaks pasted into the edit are dropped at once, as the
// settings file holds one value a line; changed sees each text that stays.
inline QLineEdit* AddEditRow(QWidget* dialog, QBoxLayout* top, QLabel*& caption,
                             const char* captionName, const char* editName, int maxLength,
                             std::function<void()> changed = {}) {
    auto* row = new QHBoxLayout();
    caption = new QLabel(dialog);
    caption->setObjectName(QString::fromLatin1(captionName));
    auto* edit = new QLineEdit(dialog);
    edit->setObjectName(QString::fromLatin1(editName));
    edit->setMaxLength(maxLength);
    caption->setBuddy(edit);
    row->addWidget(caption);
    row->addWidget(edit, 1);
    top->addLayout(row);
    QObject::connect(edit, &QLineEdit::textChanged, dialog,
                     [edit, changed = std::move(changed)](const QString& text) {
                         const QString one = ActionEdit::SingleLine(text);
                         if (one != text)
                             edit->setText(one); // comes back here with the single line
                         else if (changed)
                             changed();
                     });
    return edit;
}

// The OK and cancel buttons under a small dialog; OK is the default and accepts, the other
// rejects. With alignRight the pair sits at the right edge.
inline void AddOkCancel(QDialog* dialog, QBoxLayout* top, QPushButton*& ok, QPushButton*& cancel,
                        bool alignRight = false) {
    auto* buttons = new QHBoxLayout();
    if (alignRight) buttons->addStretch(1);
    ok = new QPushButton(dialog);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setDefault(true);
    cancel = new QPushButton(dialog);
    cancel->setObjectName(QStringLiteral("BitBtn2"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

// The dialog opens with the focus in its edit field, its text selected, at every show: what
// the user types at once replaces the value, and Enter confirms what was typed rather than
// the old value behind a focused button.
inline void FocusOnShow(QDialog* dialog, QWidget* edit) {
    class Focus : public QObject {
    public:
        Focus(QDialog* d, QWidget* e) : QObject(d), edit_(e) {}

    protected:
        bool eventFilter(QObject*, QEvent* ev) override {
            // Before the dialog picks a control for the focus itself; it keeps the one set.
            if (ev->type() == QEvent::Show && !ev->spontaneous()) {
                edit_->setFocus(Qt::TabFocusReason);
                if (auto* line = qobject_cast<QLineEdit*>(edit_))
                    line->selectAll();
                else if (auto* time = qobject_cast<QDateTimeEdit*>(edit_))
                    time->setSelectedSection(time->sectionAt(0)); // typed digits: the hours
                else if (auto* spin = qobject_cast<QAbstractSpinBox*>(edit_))
                    spin->selectAll();
            }
            return false;
        }

    private:
        QWidget* edit_;
    };
    dialog->installEventFilter(new Focus(dialog, edit));
}
