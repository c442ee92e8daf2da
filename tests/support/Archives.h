#pragma once
// Archive checks with the peers (7z and unzip test an archive, 7z extracts it and the result
// is compared with the folder it was made of) and the sample content the archive tests pack.
#include <QByteArray>
#include <QString>
#include <QStringList>

class TestFolder;

// A path or word for the shell, in single quotes.
QString Quoted(const QString& s);

// The archive passes `7z t` (and `unzip -t` without a password) and extracts to exactly the
// files of source but the listed ones, byte for byte; with compareDates, with their dates.
void ExpectArchiveHolds(const QString& archive, const TestFolder& source,
                        const QStringList& except = {}, const QString& password = {},
                        bool compareDates = false);

// The entry names of an archive, sorted; empty when it is no archive.
QStringList ArchiveNames(const QString& archive);

// n bytes of text that packs well; other seeds give other text.
QByteArray PackableText(int n, int seed = 0);

// n bytes that do not pack, the same for the same seed.
QByteArray Noise(int n, quint32 seed);

// Five files (3006 bytes) below folder: nested folders with blanks and umlauts, an empty file
// and a hidden one.
void WriteSampleTree(TestFolder& folder);

// The shell command line exits with 0; its output is shown when it does not.
void ExpectCommandPasses(const QString& command);

// The folder holds exactly the one file name, with these bytes: an old archive left in place.
void ExpectOnlyFile(const TestFolder& folder, const QString& name, const QByteArray& content);
