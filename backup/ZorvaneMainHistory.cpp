// The file filter of the main window and the history file.
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <stdexcept>

#include "IniFile.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"

namespace {
constexpr int HistoryLines = 100;
} // namespace

bool Tmain::FilterOK(const QString& name) const {
    return FilterAccepts(FileFilter{FilterList, FilterInclude}, name);
}

void Tmain::SaveHistory() {
    try {
        QTextDocument* doc = Memo1->document();
        const int surplus = LogLineCount() - HistoryLines;
        if (surplus > 0) {
            QTextCursor cut(doc);
            cut.movePosition(QTextCursor::Start);
            cut.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, surplus);
            cut.removeSelectedText();
        }
        // The log is read-only, so its undo record only grows; trimming must bound it too.
        doc->clearUndoRedoStacks();

        QByteArray bytes;
        if (!doc->isEmpty()) {
            for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
                bytes += b.text().toUtf8();
                bytes += "\r\n";
            }
        }
        // Written beside the old file and renamed over it, so a crash never leaves a cut log.
        QSaveFile hist(HistoryFileName());
        if (!hist.open(QIODevice::WriteOnly) || hist.write(bytes) != bytes.size() || !hist.commit())
            throw std::runtime_error("history file not written");

        // A settings file that could not be read must not be rewritten with only these keys.
        bool settingsUsable = SettingsRead;
        if (settingsUsable) {
            try {
                CheckSettingsReadable();
            } catch (const std::exception&) {
                settingsUsable = false;
            }
        }
        if (settingsUsable) {
            IniFile ini(SettingsFileName());
            ini.SetOwnerOnly(true); // the file also holds the archive passwords
            const QString section = QStringLiteral("Actions");
            for (int row = 1; row < sg->RowCount(); ++row) {
                try {
                    const QString number = sg->Cell(colActionNumber, row);
                    if (number.isEmpty()) continue;
                    bool ok = false;
                    const int k = number.toInt(&ok);
                    if (!ok) continue;
                    const QString n = QString::number(k);
                    ini.WriteString(section, QStringLiteral("Last") + n, sg->Cell(colLast, row));
                    ini.WriteString(section, QStringLiteral("Dateien") + n,
                                    sg->Cell(colDateien, row));
                    ini.WriteString(section, QStringLiteral("Bytes") + n, sg->Cell(colBytes, row));
                    ini.WriteString(section, QStringLiteral("Arc") + n, sg->Cell(colArc, row));
                    ini.WriteString(section, QStringLiteral("Dauer") + n, sg->Cell(colDauer, row));
                } catch (...) {
                    // A row that cannot be written must not cost the other rows theirs.
                }
            }
        }

        QTextCursor caret = Memo1->textCursor();
        caret.movePosition(QTextCursor::End);
        Memo1->setTextCursor(caret);
        QCoreApplication::processEvents();
        caret = Memo1->textCursor();
        caret.clearSelection();
        Memo1->setTextCursor(caret);
        Memo1->ensureCursorVisible();
    } catch (...) {
        LogLine(QStringLiteral("Kann History nicht speichern"));
    }
}
