// The settings file as the main window loads and saves it.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimeEdit>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "DesignScale.h"
#include "IniFile.h"
#include "SortGrid.h"
#include "WindowFixture.h"

namespace {

class SettingsTest : public WindowTest {
protected:
    SettingsTest() : WindowTest(QDateTime(QDate(2026, 12, 7), QTime(23, 15, 0))) {}
    TestFolder& tmp = t;
    const QString data = t.Path(QStringLiteral("config"));

    QString iniPath() const { return data + QStringLiteral("/Zorvane2.ini"); }
    void writeIni(const QByteArray& text) {
        tmp.Write(QStringLiteral("config/Zorvane2.ini"), text);
    }
    QByteArray iniBytes() const { return tmp.Read(QStringLiteral("config/Zorvane2.ini")); }
    QString read(const char* section, const QString& key) const {
        return IniFile(iniPath()).ReadString(QString::fromLatin1(section), key,
                                             QStringLiteral("<absent>"));
    }
    static std::unique_ptr<Tmain> start() { return std::make_unique<Tmain>(QStringList()); }

    static void trigger(QAction* action) {
        ASSERT_TRUE(action->isEnabled()) << action->objectName().toStdString();
        action->trigger();
    }
    static QStringList errors() { return Asked(QStringLiteral("error")); }
    static QStringList column(const Tmain& w, int col) {
        QStringList out;
        for (int r = 1; r < Grid(w)->RowCount(); ++r)
            out << Grid(w)->Cell(col, r);
        return out;
    }
};

const QByteArray ThreeActions = "[Global]\r\nIV=2\r\n\r\n[Actions]\r\n"
                                "Verz1=/src/b\r\nNach1=/dst/b.Zip\r\nCount1=3\r\n"
                                "Verz2=/src/C\r\nNach2=/dst/c.Zip\r\np2=geheim\r\n"
                                "Verz3=/src/a\r\nNach3=/dst/a.Zip\r\n";

TEST_F(SettingsTest, FirstStartCreatesTheFileWithDefaultsOwnerOnly) {
    auto w = start();
    EXPECT_TRUE(errors().isEmpty()) << errors().join(u'\n').toStdString();
    // The file's bytes are the store's first save (tested there).
    EXPECT_EQ(read("Actions", QStringLiteral("p1")), QString());
    EXPECT_EQ(read("Actions", QStringLiteral("Verz2")), QString());
    struct stat st {};

    EXPECT_EQ(Grid(*w)->RowCount(), 2);
    EXPECT_EQ(Grid(*w)->Cell(colVerz, 1), QString());
    EXPECT_EQ(Grid(*w)->Cell(colActionNumber, 1), u"1");
    EXPECT_FALSE(Find<QAction>(*w, "backupAll")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(*w, "btnTimer")->isEnabled());
    EXPECT_FALSE(Find<QAction>(*w, "loadIni")->isEnabled());
    EXPECT_FALSE(Find<QAction>(*w, "saveIni")->isEnabled());
    EXPECT_FALSE(Find<QAction>(*w, "delAktion")->isEnabled());
    EXPECT_EQ(Find<QTimeEdit>(*w, "sperrVon")->time(), QTime(6, 0));
    EXPECT_EQ(Find<QTimeEdit>(*w, "sperrBis")->time(), QTime(23, 0));
    EXPECT_TRUE(Find<QCheckBox>(*w, "cbSperr")->isChecked());
    EXPECT_EQ(Find<QComboBox>(*w, "cbLang")->currentIndex(), 0);
    EXPECT_EQ(w->size(), QSize(DesignScale::Px(890), DesignScale::Px(460)));

    // A file of another mode becomes owner-only again at the next save, also a layout save.
    ASSERT_TRUE(QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::ReadOther));
    w->saveIniExecute(nullptr);
    ASSERT_EQ(::stat(QFile::encodeName(iniPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The store converts the file (tested there); the load shows the result and saves it back.
TEST_F(SettingsTest, TheLoadShowsTheConvertedFileAndSavesItBack) {
    writeIni("[Global]\r\nSperrBis=02:00:00\r\nSperrVon=7:5\r\nSpeerzeit=0\r\n");
    auto w = start();
    EXPECT_EQ(Find<QTimeEdit>(*w, "sperrBis")->time(), QTime(23, 0));
    EXPECT_EQ(Find<QTimeEdit>(*w, "sperrVon")->time(), QTime(7, 5));
    EXPECT_FALSE(Find<QCheckBox>(*w, "cbSperr")->isChecked());
    EXPECT_EQ(read("Global", QStringLiteral("SperrBis")), u"23:00:00");
    EXPECT_EQ(read("Global", QStringLiteral("SperrVon")), u"07:05:00");
    EXPECT_EQ(read("Global", QStringLiteral("IV")), u"2");
}

TEST_F(SettingsTest, AGapEndsTheListAndLaterKeysStay) {
    writeIni("[Actions]\r\nVerz1=/a\r\nTime1=\r\nVerz2=/b\r\nLast2=07.12.2026 02:00:00\r\n"
             "Verz4=/d\r\nNach4=/d.Zip\r\n");
    auto w = start();
    ASSERT_EQ(Grid(*w)->RowCount(), 3);
    // The cells are the store's actions (their defaults are tested there).
    EXPECT_EQ(column(*w, colVerz), QStringList({"/a", "/b"}));
    EXPECT_EQ(column(*w, colTime), QStringList({"", "02:00:00"}));
    EXPECT_EQ(column(*w, colActionNumber), QStringList({"1", "2"}));
    EXPECT_TRUE(Find<QAction>(*w, "backupAll")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*w, "btnTimer")->isEnabled());
    EXPECT_EQ(read("Actions", QStringLiteral("Verz3")), QString()); // saved back
}

TEST_F(SettingsTest, AFullSaveWritesTheDisplayOrderNumberedFromOne) {
    writeIni(ThreeActions);
    auto w = start();
    Grid(*w)->HeaderClick(colVerz); // ascending, without regard to case: /src/a, /src/b, /src/C
    EXPECT_FALSE(w->State().Modified);
    EXPECT_EQ(column(*w, colActionNumber), QStringList({"3", "1", "2"}));

    w->SetModified(true);
    trigger(Find<QAction>(*w, "saveIni"));
    EXPECT_FALSE(w->State().Modified);
    EXPECT_EQ(column(*w, colActionNumber), QStringList({"1", "2", "3"}));
    EXPECT_EQ(read("Actions", QStringLiteral("Verz1")), u"/src/a");
    EXPECT_EQ(read("Actions", QStringLiteral("Count2")), u"3");
    EXPECT_EQ(read("Actions", QStringLiteral("p3")), u"geheim");
}

TEST_F(SettingsTest, ReloadAsksBeforeDiscardingAndRestoresTheFile) {
    writeIni(ThreeActions);
    auto w = start();

    // As the new-action command leaves it: a row without keys, the flag set.
    w->SetGridRowCount(5);
    w->SetActionField(colVerz, 4, QStringLiteral("/neu"));
    w->SetActionField(colNach, 4, QStringLiteral("/neu.Zip"));
    w->SetModified(true);

    Dialogs::SetNextAnswer(Dialogs::No);
    trigger(Find<QAction>(*w, "loadIni"));
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().at(0).text, w->Language().DiscardChangesText());
    EXPECT_EQ(Grid(*w)->RowCount(), 5);
    EXPECT_TRUE(w->State().Modified);

    Dialogs::SetNextAnswer(Dialogs::Yes);
    trigger(Find<QAction>(*w, "loadIni"));
    EXPECT_EQ(column(*w, colVerz), QStringList({"/src/b", "/src/C", "/src/a"}));
    EXPECT_FALSE(w->State().Modified);
    EXPECT_FALSE(Find<QAction>(*w, "loadIni")->isEnabled());
    EXPECT_EQ(read("Actions", QStringLiteral("Verz4")), QString());

    // A deleted action comes back the same way, and the per-row commands follow the focus.
    w->RemoveActionRow(1);
    w->SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Yes);
    trigger(Find<QAction>(*w, "loadIni"));
    EXPECT_EQ(column(*w, colVerz), QStringList({"/src/b", "/src/C", "/src/a"}));
    EXPECT_TRUE(Find<QAction>(*w, "delAktion")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*w, "btnRestore")->isEnabled());

    // A file that lost every action leaves one empty row.
    writeIni("[Actions]\r\nVerz1=\r\n");
    w->SetModified(true);
    Dialogs::SetNextAnswer(Dialogs::Yes);
    trigger(Find<QAction>(*w, "loadIni"));
    EXPECT_EQ(Grid(*w)->RowCount(), 2);
    EXPECT_EQ(column(*w, colNach), QStringList({""}));
    EXPECT_FALSE(Find<QAction>(*w, "backupAll")->isEnabled());
    EXPECT_FALSE(Find<QAction>(*w, "delAktion")->isEnabled());
}

// The defaults and the clamping are the store's (tested there); the window takes them.
TEST_F(SettingsTest, TheLayoutReadPlacesTheWindowAndTheColumns) {
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    writeIni(QStringLiteral("[Opt]\r\nlang=1\r\nLeft=-50\r\nTop=%1\r\nHeight=300\r\n"
                            "C0=222\r\nC3=-1\r\n")
                 .arg(screen.height() + 500)
                 .toUtf8());
    auto w = start();
    EXPECT_EQ(w->pos(), QPoint(0, screen.height() - 10));
    EXPECT_EQ(w->size(), QSize(DesignScale::Px(890), 300));
    EXPECT_EQ(Find<QComboBox>(*w, "cbLang")->currentIndex(), 1);
    // Column widths are stored in design units.
    EXPECT_EQ(Grid(*w)->ColWidth(colVerz), DesignScale::Px(222));
    EXPECT_EQ(Grid(*w)->ColWidth(colCount), -1);
    EXPECT_EQ(Grid(*w)->ColWidth(colNach), DesignScale::Px(100));
    EXPECT_EQ(Grid(*w)->ColWidth(colActionNumber), -1);
}

TEST_F(SettingsTest, AFailedWriteNamesTheFileAndKeepsTheChangesMarked) {
    auto w = start();
    // A regular file where the settings folder was: no user can write below it.
    ASSERT_TRUE(QDir(data).removeRecursively());
    tmp.Write(QStringLiteral("config"), "x");
    w->SetModified(true);
    trigger(Find<QAction>(*w, "saveIni"));
    EXPECT_EQ(errors(),
              QStringList({QStringLiteral("In %1Zorvane2.ini kann nicht geschrieben werden")
                               .arg(w->State().DataDir)}));
    EXPECT_EQ(w->State().DataDir, data + u'/');
    EXPECT_TRUE(w->State().Modified);
    EXPECT_TRUE(Find<QAction>(*w, "saveIni")->isEnabled());
}

// A file that is there but cannot be read: the start reports it, and neither the save-back
// nor a save the user asks for writes over it.
std::unique_ptr<Tmain> startWithUnreadableFile(const QString& path,
                                               const std::function<QByteArray()>& state) {
    Dialogs::ResetTestState();
    const QByteArray before = state();
    auto w = std::make_unique<Tmain>(QStringList());
    const QList<Dialogs::Asked> asked = Dialogs::AskedLog();
    EXPECT_EQ(asked.size(), 1);
    EXPECT_TRUE(!asked.isEmpty() && asked.at(0).what == u"error" &&
                asked.at(0).text.contains(path));
    EXPECT_EQ(state(), before);

    w->SetActionField(colVerz, 1, QStringLiteral("/neu"));
    w->SetModified(true);
    Find<QAction>(*w, "saveIni")->trigger();
    EXPECT_EQ(Dialogs::AskedLog().size(), 2);
    EXPECT_EQ(state(), before);
    EXPECT_TRUE(w->State().Modified);
    return w;
}

// Nor does the close, with the changes kept (a full save) and the layout save after it.
void closeKeepingChanges(Tmain& w) {
    const qsizetype asked = Dialogs::AskedLog().size();
    Dialogs::SetNextAnswer(Dialogs::Yes); // the exit command
    Dialogs::SetNextAnswer(Dialogs::No);  // keep the changes
    w.ZorvaneCloseClick();
    EXPECT_EQ(Dialogs::AskedLog().size(), asked + 4); // two questions and two failed saves
}

TEST_F(SettingsTest, AnUnreadableFileSurvivesAStartUnchanged) {
    // A link to itself cannot be opened, whoever runs the test.
    ASSERT_EQ(::symlink("Zorvane2.ini", QFile::encodeName(iniPath()).constData()), 0);
    const auto link = [&] { return QFile::encodeName(QFile::symLinkTarget(iniPath())); };
    const QByteArray before = link();
    {
        auto w = startWithUnreadableFile(iniPath(), link);
        closeKeepingChanges(*w);
        EXPECT_EQ(link(), before);
    }

    // Readable again, the file still holds what the window never loaded: saves wait for a
    // successful load.
    auto w = startWithUnreadableFile(iniPath(), link);
    ASSERT_TRUE(QFile::remove(iniPath()));
    writeIni(ThreeActions);
    Find<QAction>(*w, "saveIni")->trigger();
    EXPECT_EQ(iniBytes(), ThreeActions);
    Dialogs::SetNextAnswer(Dialogs::Yes);
    Find<QAction>(*w, "loadIni")->trigger();
    EXPECT_EQ(column(*w, colVerz), QStringList({"/src/b", "/src/C", "/src/a"}));
    EXPECT_EQ(read("Global", QStringLiteral("SperrVon")), u"06:00:00");
}

TEST_F(SettingsTest, AFileWithoutReadPermissionSurvivesAStartUnchanged) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root from reading";
    writeIni(ThreeActions);
    ASSERT_TRUE(QFile::setPermissions(iniPath(), QFile::WriteOwner));
    const auto bytes = [&] {
        QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray b = iniBytes();
        QFile::setPermissions(iniPath(), QFile::WriteOwner);
        return b;
    };
    auto w = startWithUnreadableFile(iniPath(), bytes);
    closeKeepingChanges(*w);
    EXPECT_EQ(bytes(), ThreeActions);
}

TEST_F(SettingsTest, ASecondStartShowsWhatTheFirstSaved) {
    {
        auto first = start();
        first->SetActionField(colVerz, 1, QStringLiteral("/home/u/Dokumente"));
        first->SetActionField(colNach, 1, QStringLiteral("/media/u/stick/doku.Zip"));
        first->SetActionField(colTime, 1, QStringLiteral("03:30:00"));
        first->SetActionField(colP, 1, QStringLiteral("pw"));
        first->SetActionField(colVerz, 2, QStringLiteral("/home/u/Bilder"));
        Find<QTimeEdit>(*first, "sperrVon")->setTime(QTime(7, 0));
        Find<QCheckBox>(*first, "cbSperr")->setChecked(false);
        first->SetModified(true);
        trigger(Find<QAction>(*first, "saveIni"));
        first->move(123, 77);
        first->resize(700, 400);
        Grid(*first)->SetColWidth(colVerz, 222);
        Grid(*first)->SetColWidth(colLE, 90);
        Find<QComboBox>(*first, "cbLang")->setCurrentIndex(1);
        Dialogs::SetNextAnswer(Dialogs::Yes);
        first->ZorvaneCloseClick(); // the layout save
    }
    EXPECT_TRUE(errors().isEmpty()) << errors().join(u'\n').toStdString();
    auto second = start();
    EXPECT_EQ(column(*second, colVerz), QStringList({"/home/u/Dokumente", "/home/u/Bilder"}));
    EXPECT_EQ(Grid(*second)->Cell(colNach, 1), u"/media/u/stick/doku.Zip");
    EXPECT_EQ(Grid(*second)->Cell(colTime, 1), u"03:30:00");
    EXPECT_EQ(Grid(*second)->Cell(colP, 1), u"pw");
    EXPECT_EQ(Grid(*second)->Cell(colHist, 2), QString()); // saved empty, read as saved
    EXPECT_EQ(Find<QTimeEdit>(*second, "sperrVon")->time(), QTime(7, 0));
    EXPECT_FALSE(Find<QCheckBox>(*second, "cbSperr")->isChecked());
    EXPECT_EQ(second->pos(), QPoint(123, 77));
    EXPECT_EQ(second->size(), QSize(700, 400));
    EXPECT_EQ(Grid(*second)->ColWidth(colVerz), 222);
    EXPECT_EQ(Grid(*second)->ColWidth(colLE), 90);
    EXPECT_EQ(Grid(*second)->ColWidth(colActionNumber), -1);
    EXPECT_EQ(Find<QComboBox>(*second, "cbLang")->currentIndex(), 1);
}

} // namespace
