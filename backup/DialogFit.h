#pragma once
// Sizes that keep the small dialogs' texts whole, whatever font the desktop uses.
#include <QBoxLayout>
#include <QDialog>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>

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
