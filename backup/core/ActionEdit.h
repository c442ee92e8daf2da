#pragma once
// Rules of the action editing commands and their small dialogs that need no window: the target
// name, the duplicate checks and the texts the dialogs are filled from and write back.
#include <QString>
#include <QStringList>
#include <QTime>

namespace ActionEdit {

// The target archive for a name chosen in the save dialog: the extension of its name part
// (from the last "." on) replaced by ".Zip", or ".Zip" appended when the name has no ".".
QString TargetName(const QString& chosen);

// Index of the first cell equal to value without regard to case, or -1.
int FindNoCase(const QStringList& cells, const QString& value);

// Index of the first target in the same folder as target whose archive files (generations,
// weekly and monthly copies) include target, or that is one of target's; -1 if none. Such two
// actions would delete or rename each other's archives: "Daten2.Zip" is the second generation
// of "Daten.Zip". Empty targets are skipped.
int FindArchiveClash(const QStringList& targets, const QString& target);

// Whether a typed character reaches the count edit: backspace and the digits only.
bool CountKeyAccepted(QChar c);
// The count edit's text for a stored count. A count above the up-down's range is shown as it
// stands, so confirming it unchanged keeps it; one below it shows 0; a cell that is no whole
// number shows 5.
QString CountPreset(const QString& cell);
// The count written back: the edit's text without blanks and control characters at its ends,
// without leading zeros, "0" when nothing is left.
QString CountResult(const QString& editText);

// The time picker's preset for a stored time; 04:00:00 when the cell is no time.
QTime TimePreset(const QString& cell);

// The weekly and monthly flags of a Hist cell ("J-N" and the like); any cell not three
// characters long clears both.
struct HistFlags {
    bool weekly = false;
    bool monthly = false;
};
HistFlags ReadHist(const QString& cell);
QString HistText(bool weekly, bool monthly);

// A Filter cell split into the dialog's mode and pattern text: "Nicht:" and "Nur:" select
// their mode; any other text, the empty one included, is a leave-out pattern as it stands.
struct FilterCell {
    bool include = false;
    QString patterns;
};
FilterCell SplitFilterCell(const QString& cell);
// The Filter cell for the dialog's mode and pattern text; empty patterns give an empty cell.
QString JoinFilterCell(bool include, const QString& patterns);

// The longest value the settings file reads back; a longer cell would come back cut.
inline constexpr int MaxCellLength = 2047;
// The longest pattern text of the filter dialog, which its cell holds behind "Nicht:".
inline constexpr int MaxFilterPatternLength = MaxCellLength - 6;

// A pasted text without its line breaks. The settings file holds one value a line, so a
// password or filter with a line break would come back cut at it (a password copied with its
// line's end would no longer open the archives made with it).
QString SingleLine(const QString& text);

} // namespace ActionEdit
