#pragma once
// File filter: a Filter text ("Nur:" or "Nicht:" and ";"-separated wildcard patterns) loaded
// into a pattern list, and the test of a file name against it.
#include <QString>
#include <QStringList>

struct FileFilter {
    QStringList Patterns; // lower-cased
    bool Include = false; // true: only matching files pass; false: matching files are left out
};

// Loads a Filter text with its prefix; raises std::runtime_error on an unknown prefix.
void LoadFilter(const QString& text, FileFilter& into);
// Whether a bare file name passes the filter.
bool FilterAccepts(const FileFilter& filter, const QString& name);
// Whether one lower-cased pattern matches one lower-cased name.
bool WildMatch(const QString& pattern, const QString& name);
