#pragma once
// File names as the file system holds them: bytes, nearly always UTF-8, but a name from old
// media or another system may hold bytes that are not. Such a name is carried in a QString
// with each byte outside a valid UTF-8 sequence as a lone surrogate U+DC80..U+DCFF, so it goes
// back to exactly its bytes; a valid name is the plain decoded text. Qt's own file classes
// cannot carry these names, so paths of the walk and of a restore reach the system only
// through EncodeFileName.
#include <QByteArray>
#include <QString>

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(const QByteArray& bytes);

QString DecodeFileName(const QByteArray& bytes);
QByteArray EncodeFileName(const QString& name);
// Whether a decoded name holds bytes that are not UTF-8.
bool HasRawBytes(const QString& name);

// A name for a log line, unambiguous and on one line: each byte that is not UTF-8 and each
// control character as \xHH (upper-case hex digits), and a backslash doubled where it would
// otherwise read as the start of such an escape or of a doubled backslash. Other names are
// written as they are.
QString LogFileName(const QString& name);
// A name for lists and the status panel: each byte that is not UTF-8 as U+FFFD.
QString ShownFileName(const QString& name);

// The resolved form of an existing path (links followed), empty when it cannot be resolved.
QString CanonicalFilePath(const QString& path);
