#include "Archives.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include "TestFolder.h"

QString Quoted(const QString& s) {
    return u'\'' + s + u'\'';
}

void ExpectArchiveHolds(const QString& archive, const TestFolder& source, const QStringList& except,
                        const QString& password, bool compareDates) {
    const QString pw = password.isEmpty() ? QString() : QStringLiteral(" -p") + Quoted(password);
    QString log;
    ASSERT_EQ(RunCommand(QStringLiteral("7z t") + pw + u' ' + Quoted(archive), &log), 0)
        << log.toStdString();
    if (password.isEmpty()) {
        ASSERT_EQ(RunCommand(QStringLiteral("unzip -t ") + Quoted(archive), &log), 0)
            << log.toStdString();
    }
    TestFolder x;
    ASSERT_EQ(RunCommand(QStringLiteral("7z x -y") + pw + QStringLiteral(" -o") + Quoted(x.Path()) +
                             u' ' + Quoted(archive),
                         &log),
              0)
        << log.toStdString();
    QStringList expected = source.Files();
    for (const QString& e : except)
        expected.removeAll(e);
    EXPECT_EQ(x.Files(), expected);
    for (const QString& rel : expected) {
        EXPECT_EQ(x.Read(rel), source.Read(rel)) << rel.toStdString();
        if (compareDates) {
            EXPECT_EQ(QFileInfo(x.Path(rel)).lastModified().toSecsSinceEpoch(),
                      QFileInfo(source.Path(rel)).lastModified().toSecsSinceEpoch())
                << rel.toStdString();
        }
    }
}

QStringList ArchiveNames(const QString& archive) {
    QString out;
    if (RunCommand(QStringLiteral("unzip -Z1 ") + Quoted(archive), &out) != 0) return {};
    QStringList names = out.split(u'\n', Qt::SkipEmptyParts);
    names.sort();
    return names;
}

QByteArray PackableText(int n, int seed) {
    QByteArray b;
    for (int i = 0; b.size() < n; ++i)
        b += "Zeile " + QByteArray::number(i * 7 + seed) + " mit etwas Text zum Packen. ";
    b.truncate(n);
    return b;
}

QByteArray Noise(int n, quint32 seed) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        b[i] = char(seed >> 24);
    }
    return b;
}

void WriteSampleTree(TestFolder& folder) {
    folder.Write(QStringLiteral("brief.txt"), PackableText(1500));
    folder.Write(QStringLiteral("Ordner mit Blank/Übersicht äöü.doc"), PackableText(800, 'b'));
    folder.Write(QStringLiteral("Ordner mit Blank/leer.txt"), QByteArray());
    folder.Write(QStringLiteral("Ordner mit Blank/tief/foto.jpg"), PackableText(700, 'c'));
    folder.Write(QStringLiteral(".versteckt"), "hidden");
}

void ExpectCommandPasses(const QString& command) {
    QString log;
    EXPECT_EQ(RunCommand(command, &log), 0) << command.toStdString() << '\n' << log.toStdString();
}

void ExpectOnlyFile(const TestFolder& folder, const QString& name, const QByteArray& content) {
    EXPECT_EQ(folder.Files(), QStringList{name});
    EXPECT_EQ(folder.Read(name), content) << name.toStdString();
}
