#pragma once
// Sizes that keep the small dialogs' texts whole, whatever font the desktop uses.
#include <QFontMetrics>
#include <QPlainTextEdit>
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
