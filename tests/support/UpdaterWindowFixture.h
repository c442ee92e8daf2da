#pragma once
// The updater window under test: its own program folder, a recognised system, the dialog seam
// reset, and the programs it starts and the sounds it makes recorded instead of happening.
#include <QFile>
#include <gtest/gtest.h>
#include <memory>

#include "Beep.h"
#include "Dialogs.h"
#include "IUpdateMain.h"
#include "Placeholders.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "TestFolder.h"
#include "TestRegistry.h"
#include "WinVersion.h"

class UpdaterWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.IsValid());
        prog = folder.MakeDir("prog") + "/";
        ShellFolders::SetProgramFolder(prog);
        LayWindows7();
        Dialogs::ResetTestState();
        Beep::SetBeepHandler([this](unsigned type) { beeps << type; });
        Shell::SetStartHandler([this](const QString& p, const QStringList& a, const QString& d) {
            started << p + "|" + a.join(',') + "|" + d;
            return true;
        });
    }
    void TearDown() override {
        win.reset();
        Shell::SetStartHandler({});
        Beep::SetBeepHandler({});
        ShellFolders::SetProgramFolder(QString());
    }

    // The version record of a Windows 7 workstation, as the only key of the machine's root.
    static void LayWindows7() {
        TestRegistry::Lay(RegRoot::LocalMachine, WinVersion::Key,
                          {"PlatformId=2", "MajorVersion=6", "MinorVersion=1", "ProductType=1"});
    }
    // The program "tool" beside the updater, for a configuration's "start=tool".
    void AddTool() {
        folder.Write("prog/tool", "#!/bin/sh\n");
        QFile::setPermissions(prog + "tool",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // An ini file naming dir as the install folder, for "ziel1=0" and "ziel2=<file>;P;prog".
    QString TargetIni(const QString& dir) {
        return folder.Write("t.ini", ("[P]\nprog=" + dir + "\n").toUtf8());
    }
    TiupMain& Open(const QStringList& args = {}) {
        win.reset();
        win = std::make_unique<TiupMain>(args, placeholders);
        win->show();
        return *win;
    }
    // The texts of the questions and notes of one kind the window brought up.
    static QStringList Asked(const QString& what = "message") {
        QStringList out;
        for (const Dialogs::Asked& a : Dialogs::AskedLog())
            if (a.what == what) out << a.text;
        return out;
    }

    TestFolder folder;
    TestRegistry reg{folder.Path("reg")};
    PlaceholderTable placeholders; // every window opened gets these
    QString prog;
    std::unique_ptr<TiupMain> win;
    QList<unsigned> beeps;
    QStringList started;
};
