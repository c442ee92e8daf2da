#pragma once
// A main window of the backup program in a private folder: its program folder and settings
// folder below the test's own, a fixed clock, German texts and every folder it would open
// recorded instead of shown.
#include <QDateTime>
#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

#include "Clock.h"
#include "Dialogs.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "TestFolder.h"
#include "ZorvaneMain.h"
#include "lang.h"

class WindowTest : public ::testing::Test {
protected:
    explicit WindowTest(QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0)))
        : now_(now) {}

    void SetUp() override {
        ASSERT_TRUE(t.IsValid());
        Dialogs::ResetTestState();
        ShellFolders::SetProgramFolder(t.MakeDir(QStringLiteral("prog")));
        qputenv("XDG_CONFIG_HOME", t.MakeDir(QStringLiteral("config")).toUtf8());
        Clock::SetFixed(now_);
        Language = 0;
        Shell::SetOpenHandler([this](const QString& p) {
            opened << p;
            return true;
        });
    }
    void TearDown() override {
        m.reset();
        Shell::SetOpenHandler(nullptr);
        ShellFolders::SetProgramFolder(QString());
        Clock::UseSystem();
        Dialogs::ResetTestState();
        Language = 0;
    }

    Tmain& Start(const QStringList& args = {}) {
        m = std::make_unique<Tmain>(args);
        return *m;
    }
    // The texts of what was asked of the kind given ("message", "error", ...), in order.
    static QStringList Asked(const QString& what = QStringLiteral("message")) {
        QStringList out;
        for (const Dialogs::Asked& a : Dialogs::AskedLog())
            if (a.what == what) out << a.text;
        return out;
    }

    TestFolder t;
    std::unique_ptr<Tmain> m;
    QStringList opened; // the folders and pages the window opened

private:
    QDateTime now_;
};
