#pragma once
// Shared pieces of the archive and backup-run tests: a sample source tree and a peer check.
#include <QString>

class TestFolder;

// Five files (3006 bytes) below folder: nested folders with blanks and umlauts, an empty file
// and a hidden one.
void WriteSampleTree(TestFolder& folder);

// The shell command line exits with 0; its output is shown when it does not.
void ExpectCommandPasses(const QString& command);
