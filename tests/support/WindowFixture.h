#pragma once
// A main window of the backup program in a private folder: its program folder and settings
// folder below the test's own, a fixed clock, German texts and every folder it would open
// recorded instead of shown.
#include <QDateTime>
#include <QMenu>
#include <QObject>
#include <QStringList>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

#include "Clock.h"
#include "Dialogs.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TestFolder.h"
#include "ZorvaneMain.h"
#include "lang.h"

// A window's control found by its object name, as a user finds it by its place. Controls of
// the dialogs it owns do not count, so their names may repeat the window's. A missing or
// ambiguous name ends the test with that name (the framework reports the exception).
// Whether one of the window's dialogs (a window of its own other than a menu) holds c.
inline bool InDialog(const QObject* c, const QObject& window) {
    for (const QObject* p = c->parent(); p && p != &window; p = p->parent()) {
        const auto* w = qobject_cast<const QWidget*>(p);
        if (w && w->isWindow() && !qobject_cast<const QMenu*>(w)) return true;
    }
    return false;
}
template <class T> T* Find(const QObject& window, const char* name) {
    T* found = nullptr;
    int count = 0;
    for (T* c : window.findChildren<T*>(QString::fromLatin1(name))) {
        if (InDialog(c, window)) continue;
        found = c;
        ++count;
    }
    if (count != 1)
        throw std::logic_error(std::string(count ? "two controls named " : "no control named ") +
                               name);
    return found;
}
// The action table, the control most tests work with.
inline TSortGrid* Grid(const QObject& window) {
    return Find<TSortGrid>(window, "sg");
}

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
