// The file filter of the main window and the history file.
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <stdexcept>

#include "ActionStore.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"

namespace {
constexpr int HistoryLines = 100;
// A single huge line would cost seconds and megabytes at every start and outlive every trim.
constexpr qsizetype MaxHistoryLine = 64 * 1024;
const QString CutMark = QStringLiteral(" [... gekürzt]");

// Keeps the log's last lines and gives them as the history file holds them.
QByteArray trimLog(QTextDocument& doc, int lineCount) {
    const int surplus = lineCount - HistoryLines;
    if (surplus > 0) {
        QTextCursor cut(&doc);
        cut.movePosition(QTextCursor::Start);
        cut.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, surplus);
        cut.removeSelectedText();
    }
    // The log is read-only, so its undo record only grows; trimming must bound it too.
    doc.clearUndoRedoStacks();
    QByteArray bytes;
    if (!doc.isEmpty()) {
        for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
            bytes += b.text().toUtf8();
            bytes += "\r\n";
        }
    }
    return bytes;
}

// Written beside the old file and renamed over it, so a crash never leaves a cut log.
void writeHistory(const QString& fileName, const QByteArray& bytes) {
    QSaveFile hist(fileName);
    if (!hist.open(QIODevice::WriteOnly) || hist.write(bytes) != bytes.size() || !hist.commit())
        throw std::runtime_error("history file not written");
}

// The runs' results into the settings file; a failure is no reason for a log line.
void storeStatistics(const QString& settingsFile, const QList<BackupAction>& actions) {
    try {
        ActionStore store(settingsFile);
        store.Open();
        store.PutStatistics(actions);
        store.Commit();
    } catch (const std::exception&) {
    }
}

// The caret goes to the start of the last line: at its end, a long line would scroll the log to
// the right.
void caretToLastLine(QPlainTextEdit& log) {
    QTextCursor caret = log.textCursor();
    caret.movePosition(QTextCursor::End);
    caret.movePosition(QTextCursor::StartOfBlock);
    log.setTextCursor(caret);
    QCoreApplication::processEvents();
    caret = log.textCursor();
    caret.clearSelection();
    log.setTextCursor(caret);
    log.ensureCursorVisible();
    log.horizontalScrollBar()->setValue(0);
}
} // namespace

QString Tmain::HistoryText(const QByteArray& bytes) {
    QString text = DecodeOwnText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(u'\n')) text.chop(1);
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype nl = text.indexOf(u'\n', from);
        const qsizetype end = nl < 0 ? text.size() : nl;
        if (end - from > MaxHistoryLine) {
            if (out.isEmpty()) out.reserve(text.size());
            qsizetype keep = MaxHistoryLine - CutMark.size();
            if (text[from + keep - 1].isHighSurrogate()) --keep;
            out += QStringView(text).sliced(from, keep);
            out += CutMark;
        } else {
            out += QStringView(text).sliced(from, end - from);
        }
        if (nl < 0) break;
        out += u'\n';
        from = nl + 1;
    }
    return out;
}

bool Tmain::FilterOK(const QString& name) const {
    return FilterAccepts(FileFilter{FilterList, FilterInclude}, name);
}

void Tmain::SaveHistory() {
    try {
        const QByteArray bytes = trimLog(*Memo1->document(), LogLineCount());
        // A file that was not read at the start keeps its records.
        if (historyRead_) writeHistory(HistoryFileName(), bytes);
        // A settings file that could not be read is not rewritten (the store refuses it); one
        // the window never loaded is not touched either. Both are no reason for a log line.
        if (SettingsRead) storeStatistics(SettingsFileName(), GridActions());
        caretToLastLine(*Memo1);
    } catch (const std::exception&) {
        if (SessionEnding)
            SessionEndFailure(QStringLiteral("Kann History nicht speichern"));
        else
            LogLine(QStringLiteral("Kann History nicht speichern"));
    }
}
