#pragma once
// Windows-1252, the code page update servers write their information files, archive names and
// batch files in.
#include <QByteArray>
#include <QString>

namespace Cp1252 {
QString Decode(const QByteArray& bytes);
// What the code page lacks becomes '?', as the Windows conversion does it.
QByteArray Encode(const QString& text);
// Whether Encode keeps every character of the text.
bool CanEncode(const QString& text);
} // namespace Cp1252
