#pragma once
// File filter: a Filter text ("Nur:" or "Nicht:" and ";"-separated wildcard patterns) loaded
// into a pattern list, and the test of a file name against it.
#include <QString>
#include <QStringList>

class TextLanguage;

struct FileFilter {
    QStringList Patterns; // lower-cased
    bool Include = false; // true: only matching files pass; false: matching files are left out
};

// Loads a Filter text with its prefix. An empty text empties the list and keeps Include.
// Raises std::runtime_error ("Filter " + text + " unbekannte Filterart", in the language) on an
// unknown prefix, leaving the list empty.
void LoadFilter(const QString& text, FileFilter& into, const TextLanguage& language);
// Lower-cases a prefix-less pattern text and splits it into patterns: ";" and every character
// from 1 to 32 separate; empty patterns are kept where the splitting rule makes them.
QStringList SplitFilterPatterns(const QString& patternText);
// The one lower-case mapping for patterns and names (covers every letter of Windows-1252).
QString FilterLower(const QString& s);
// Whether a bare file name passes the filter.
bool FilterAccepts(const FileFilter& filter, const QString& name);
// Whether one lower-cased pattern matches one lower-cased name. Deliberately not the usual
// file-mask matching: no backtracking, and a name shorter than the pattern never matches.
bool WildMatch(const QString& pattern, const QString& name);
