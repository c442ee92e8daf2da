#pragma once
// Archive checks with the peers: 7z and unzip test an archive, 7z extracts it, and the result
// is compared with the folder it was made of.
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
