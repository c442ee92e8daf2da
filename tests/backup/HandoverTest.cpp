// Recording the program folder where the updater's configuration finds it.
#include <QFile>
#include <gtest/gtest.h>
#include <optional>

#include "Handover.h"
#include "TestFolder.h"
#include "TestRegistry.h"

namespace {

using Value = std::optional<QString>;

QString rootText(RegRoot root) {
    QFile f(Registry::RootFile(root));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(HandoverTest, ProgramFolderIsRecordedWhereItHolds) {
    const QString prog = QStringLiteral("/opt/Zorvane 2/");
    const QString failed = QStringLiteral("Fehler beim Setzen der Daten für 'path'");
    const QString v4 = QStringLiteral("Pfad nicht gefunden v4");
    const QString v5 = QStringLiteral("Pfad nicht gefunden v5, versuche schreiben 2");
    const struct {
        Value machine, user; // before
        bool machineWritable, userWritable, debug;
        Value machineAfter, userAfter;
        QStringList lines;
    } cases[] = {
        // clang-format off
        {{}, {}, true, true, true, prog, {}, {"Pfad gefunden v2"}},
        {"/old/", {}, true, true, true, prog, {}, {"Pfad gefunden v2"}},
        {"/opt/zorvane 2/", {}, true, true, false, prog, {}, {}},
        {prog, {}, true, true, true, prog, {}, {"Pfad gefunden v1"}},
        {"/old/", {}, false, true, true, "/old/", prog, {failed, v4, v5}},
        {{}, prog, false, true, true, {}, prog, {failed, v4}},
        {{}, "/old/", false, false, false, {}, "/old/", {failed, failed}},
        // clang-format on
    };
    const QString key = QStringLiteral("Software\\Zorvane2");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(++n);
        TestFolder folder;
        TestRegistry registry(folder.Path("reg"));
        for (auto [root, value, writable] :
             {std::tuple(RegRoot::LocalMachine, c.machine, c.machineWritable),
              std::tuple(RegRoot::CurrentUser, c.user, c.userWritable)}) {
            TestRegistry::Lay(root, key, value ? QStringList{"path=" + *value} : QStringList{});
            if (!writable) QFile::setPermissions(Registry::RootFile(root), QFile::ReadOwner);
        }
        const QString machineBefore = rootText(RegRoot::LocalMachine);
        QStringList lines;
        Handover::RegisterProgramFolder(prog, c.debug, [&](const QString& l) { lines << l; });
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, key, "path"), c.machineAfter);
        EXPECT_EQ(Registry::ReadString(RegRoot::CurrentUser, key, "path"), c.userAfter);
        if (c.machine == prog) {
            EXPECT_EQ(rootText(RegRoot::LocalMachine), machineBefore); // not even rewritten
        }
    }
}

} // namespace
