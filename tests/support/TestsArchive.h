#pragma once
// Shared pieces of the archive and backup-run tests: a sample source tree and a peer check.
#include <QByteArray>
#include <QString>

class TestFolder;

// Five files (3006 bytes) below folder: nested folders with blanks and umlauts, an empty file
// and a hidden one.
void WriteSampleTree(TestFolder& folder);

// The shell command line exits with 0; its output is shown when it does not.
void ExpectCommandPasses(const QString& command);

// The folder holds exactly the one file name, with these bytes: an old archive left in place.
void ExpectOnlyFile(const TestFolder& folder, const QString& name, const QByteArray& content);
