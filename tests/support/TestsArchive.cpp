#include "TestsArchive.h"

#include <gtest/gtest.h>

#include "Archives.h"
#include "TestFolder.h"

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
