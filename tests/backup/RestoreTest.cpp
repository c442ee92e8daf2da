// The restore command and its dialog, driven as a user would through the dialog seam.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

#include "Archives.h"
#include "DesignScale.h"
#include "SortGrid.h"
#include "WindowFixture.h"
#include "ZipComponent.h"
#include "uRestore.h"

namespace {

const QDateTime When(QDate(2012, 11, 17), QTime(14, 3, 22));

void setDate(const QString& path, const QDateTime& when) {
    QFile f(path);
    f.open(QIODevice::ReadWrite);
    f.setFileTime(when, QFileDevice::FileModificationTime);
}

class Restore : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Start();
        Dialogs::ResetTestState();
    }

    // One action whose target archive is given; the row is focused as after a click.
    void SetAction(const QString& target, const QString& password = {}) {
        m->SetGridRowCount(2);
        m->SetActionField(colVerz, 1, t.Path(QStringLiteral("src")));
        m->SetActionField(colNach, 1, target);
        m->SetActionField(colP, 1, password);
        Grid(*m)->SetFocusCell(0, 1);
        Find<QToolButton>(*m, "btnRestore")->setEnabled(true);
    }

    // The source tree the archives are made of, dated on an even second.
    QMap<QString, QByteArray> MakeSource() {
        const QMap<QString, QByteArray> files{
            {QStringLiteral("a.txt"), QByteArray(3000, 'a')},
            {QStringLiteral("sub/b.txt"), "bbb"},
            {QStringLiteral("sub/deep/c.txt"), "c"},
            {QStringLiteral("z.txt"), "last"},
        };
        for (auto it = files.begin(); it != files.end(); ++it)
            setDate(t.Write(QStringLiteral("src/") + it.key(), it.value()), When);
        return files;
    }
    QString Zip(const QString& rel, const QString& options = {}) {
        const QString archive = t.Path(rel);
        QString out;
        EXPECT_EQ(
            RunCommand(QStringLiteral("mkdir -p \"$(dirname %3)\" && cd %1 && zip -q -r %2 %3 .")
                           .arg(Quoted(t.Path(QStringLiteral("src"))), options, Quoted(archive)),
                       &out),
            0)
            << out.toStdString();
        return archive;
    }

    // Presses the restore command; the user then acts in the dialog.
    void RunRestore(std::function<int(TfRestore&)> user) {
        Dialogs::SetNextDialog([user](QDialog& d) { return user(static_cast<TfRestore&>(d)); });
        Find<QToolButton>(*m, "btnRestore")->click();
    }
    // Selects the entry rows given, through the selection model: selectRow would consult the
    // keyboard modifiers that an earlier test in this process may have left pressed.
    static void Select(TfRestore& f, std::initializer_list<int> rows) {
        auto* sel = f.stringgrid1->selectionModel();
        auto how = QItemSelectionModel::ClearAndSelect;
        for (int r : rows) {
            sel->select(f.stringgrid1->model()->index(r, 0), how | QItemSelectionModel::Rows);
            how = QItemSelectionModel::Select;
        }
    }
    static int Press(TfRestore& f) {
        f.BitBtn1->click();
        return f.result();
    }
    bool Logged(const QString& line) const { return m->LogLines().contains(line); }
};

} // namespace

TEST_F(Restore, ListsEveryGenerationSortedByName) {
    MakeSource();
    const QString newest = Zip(QStringLiteral("Sich/Daten.Zip"));
    for (const char* name : {"DatenMon11.Zip", "Daten1.Zip", "DatenXyz.Zip", "DatenKW45.Zip",
                             "daten2.ZIP", "Other.Zip", "Daten.txt", ".Daten3.Zip"})
        setDate(t.Write(QStringLiteral("Sich/") + QString::fromLatin1(name), QByteArray(1234, 'x')),
                When);
    setDate(newest, When);
    // Listed at two-second precision.
    setDate(t.Path(QStringLiteral("Sich/DatenXyz.Zip")), When.addMSecs(1900));
    SetAction(newest);
    QStringList names, sizes, dates;
    RunRestore([&](TfRestore& f) {
        for (int r = 1; r < f.GenerationRowCount(); ++r) {
            names << f.GenerationCell(0, r);
            sizes << f.GenerationCell(1, r);
            dates << f.GenerationCell(2, r);
        }
        EXPECT_EQ(f.GenerationCell(1, 0), QStringLiteral("Größe"));
        EXPECT_EQ(f.lDatei->text(), t.Path(QStringLiteral("Sich/Daten.Zip")));
        EXPECT_EQ(f.EntryCount, 6); // four files and two folders
        EXPECT_EQ(f.verzeichnis->toolTip(), QStringLiteral("Daten"));
        // Another generation lists its own entries (a file that is no archive: none).
        f.sg->setCurrentCell(1, 0);
        EXPECT_EQ(f.lDatei->text(), t.Path(QStringLiteral("Sich/Daten1.Zip")));
        EXPECT_EQ(f.EntryCount, 0);
        EXPECT_EQ(f.EntryRowCount(), 2);
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(names, QStringList({"Daten.Zip", "Daten1.Zip", "daten2.ZIP", "DatenKW45.Zip",
                                  "DatenMon11.Zip", "DatenXyz.Zip"}));
    EXPECT_EQ(sizes.mid(1), QStringList(5, QStringLiteral("1.234")));
    EXPECT_EQ(dates, QStringList(6, QStringLiteral("17.11.12 14:03:22")));
    // Closing the dialog restores nothing.
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_FALSE(Find<QPushButton>(*m, "btnAbort")->isVisible());
}

TEST_F(Restore, MissingFolderOrDriveRestoresNothing) {
    SetAction(t.Path(QStringLiteral("nirgends/Daten.Zip")));
    Find<QToolButton>(*m, "btnRestore")->click();
    EXPECT_EQ(Asked(), QStringList({QStringLiteral("Keine Sicherungen gefunden")}));

    Dialogs::ResetTestState();
    SetAction(QStringLiteral("Q:\\Sich\\Daten.Zip"));
    Find<QToolButton>(*m, "btnRestore")->click();
    EXPECT_EQ(Asked(), QStringList({QStringLiteral(" Laufwerk Q: nicht gefunden")}));
    for (const Dialogs::Asked& a : Dialogs::AskedLog())
        EXPECT_NE(a.what, QStringLiteral("dialog"));
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(Restore, AllEntriesRestoreByteForByteIntoTheProposedFolder) {
    const auto files = MakeSource();
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    QString dir;
    RunRestore([&](TfRestore& f) {
        Dialogs::SetNextDirectory(t.Path(QStringLiteral("out")));
        f.SpeedButton1->click();
        dir = f.verzeichnis->text();
        return Press(f);
    });
    EXPECT_EQ(dir, t.Path(QStringLiteral("out/DatenRestore/")));
    for (auto it = files.begin(); it != files.end(); ++it) {
        EXPECT_EQ(t.Read(QStringLiteral("out/DatenRestore/") + it.key()), it.value());
        EXPECT_EQ(QFileInfo(dir + it.key()).lastModified(), When);
    }
    EXPECT_EQ(m->State().TotalBytes, 3000 + 3 + 1 + 4);
    EXPECT_TRUE(Logged(QStringLiteral("  - Entpacke ") + t.Path(QStringLiteral("Sich/Daten.Zip")) +
                       QStringLiteral(" nach ") + dir));
    EXPECT_TRUE(Logged(QStringLiteral("  - 4 Dateie(n) entpackt")));
    EXPECT_EQ(opened, QStringList({dir}));
    EXPECT_EQ(Find<QLabel>(*m, "Status")->text(), QStringLiteral("Bereit"));
    EXPECT_EQ(Find<QProgressBar>(*m, "pb")->value(), 0);
    EXPECT_FALSE(Find<QPushButton>(*m, "btnAbort")->isVisible());
    EXPECT_TRUE(Grid(*m)->isEnabled());
    EXPECT_FALSE(Logged(QStringLiteral("Verzeichnis ") + dir +
                        QStringLiteral(" konnte nicht geöffnet werden (kein Programm zum "
                                       "Anzeigen von Ordnern?)")));

    // A desktop without a file manager opens nothing; the log says where the files went.
    Shell::SetOpenHandler([](const QString&) { return false; });
    RunRestore(Press);
    EXPECT_EQ(m->LogLines().last(), QStringLiteral("Verzeichnis ") + dir +
                                        QStringLiteral(" konnte nicht geöffnet werden (kein "
                                                       "Programm zum Anzeigen von Ordnern?)"));
}

TEST_F(Restore, SelectedEntriesIncludingTheLast) {
    MakeSource();
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("sel")));
        f.RadioButton2->setChecked(true);
        // Sorted by name: a.txt, b.txt, c.txt, z.txt; the folder entries have empty names.
        const int last = f.EntryRowCount() - 1;
        EXPECT_EQ(f.EntryCell(0, last), QStringLiteral("z.txt"));
        Select(f, {last - 1, last - 2});
        EXPECT_EQ(f.EntryCell(0, last - 1), QStringLiteral("c.txt"));
        return Press(f);
    });
    EXPECT_EQ(t.Files(QStringLiteral("sel")),
              QStringList({QStringLiteral("sub/deep/c.txt"), QStringLiteral("z.txt")}));
    EXPECT_EQ(m->State().TotalBytes, 1 + 4);
    EXPECT_TRUE(Logged(QStringLiteral("  - 2 Dateie(n) entpackt")));
}

// A name that is not UTF-8 is listed readable, and choosing it restores it with its bytes.
TEST_F(Restore, ASelectedNameThatIsNotUtf8IsRestoredWithItsBytes) {
    t.Write(QStringLiteral("src/a.txt"), "a");
    ASSERT_TRUE(t.WriteBytes("src/\xFF\xFE.txt", "raw"));
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("sel")));
        f.RadioButton2->setChecked(true);
        const int last = f.EntryRowCount() - 1;
        EXPECT_EQ(f.EntryCell(0, last),
                  QString(2, QChar::ReplacementCharacter) + QStringLiteral(".txt"));
        Select(f, {last - 1});
        return Press(f);
    });
    EXPECT_EQ(t.FileBytes(QStringLiteral("sel")),
              (QMap<QByteArray, QByteArray>{{"\xFF\xFE.txt", "raw"}}));
}

TEST_F(Restore, ValidationMessagesKeepTheDialogOpen) {
    MakeSource();
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    const QString blocker = t.Write(QStringLiteral("datei"), "a file, no folder");
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(QStringLiteral(" \t "));
        EXPECT_EQ(Press(f), int(QDialog::Rejected));
        f.verzeichnis->setText(blocker + QStringLiteral("/unter"));
        EXPECT_EQ(Press(f), int(QDialog::Rejected));
        f.verzeichnis->setText(t.Path(QStringLiteral("ziel")));
        f.RadioButton2->setChecked(true);
        f.stringgrid1->clearSelection();
        EXPECT_EQ(Press(f), int(QDialog::Rejected));
        return int(QDialog::Rejected); // the close box
    });
    EXPECT_EQ(Asked(),
              QStringList({QStringLiteral("Bitte ein Verzeichnis zum Wiederherstellen angeben"),
                           QStringLiteral("Verzeichnis ") + blocker +
                               QStringLiteral("/unter\r\nkonnte nicht angelegt werden"),
                           QStringLiteral("Keine Dateien ausgewählt")}));
    EXPECT_TRUE(t.Files(QStringLiteral("ziel")).isEmpty());
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(Restore, EmptyArchive) {
    t.MakeDir(QStringLiteral("Sich"));
    const QString archive = t.Path(QStringLiteral("Sich/Leer.Zip"));
    ASSERT_EQ(RunCommand(QStringLiteral(
                             "python3 -c \"import zipfile; zipfile.ZipFile('%1', 'w').close()\"")
                             .arg(archive)),
              0);
    SetAction(archive);
    RunRestore([&](TfRestore& f) {
        EXPECT_EQ(f.EntryCount, 0);
        EXPECT_EQ(f.EntryRowCount(), 2);
        f.verzeichnis->setText(t.Path(QStringLiteral("leer")));
        f.RadioButton2->setChecked(true);
        f.stringgrid1->selectRow(0); // the blank row is no entry
        EXPECT_EQ(Press(f), int(QDialog::Rejected));
        f.allFiles->setChecked(true);
        return Press(f);
    });
    EXPECT_EQ(Asked(), QStringList({QStringLiteral("Keine Dateien ausgewählt")}));
    EXPECT_EQ(m->State().TotalBytes, 0);
    EXPECT_EQ(m->State().ProgressScale, 1);
    EXPECT_EQ(Find<QProgressBar>(*m, "pb")->maximum(), 0);
    EXPECT_TRUE(Logged(QStringLiteral("  - 0 Dateie(n) entpackt")));
}

TEST_F(Restore, EntryColumnsAlignmentAndSorting) {
    t.MakeDir(QStringLiteral("Sich"));
    const QString archive = t.Path(QStringLiteral("Sich/Daten.Zip"));
    QString out;
    ASSERT_EQ(RunCommand(QStringLiteral(
                             "python3 -c \"import zipfile, os\n"
                             "z = zipfile.ZipFile('%1', 'w', zipfile.ZIP_DEFLATED)\n"
                             "d = (2012, 11, 17, 14, 3, 22)\n"
                             "for n, b in [('leer.dat', b''), ('sub/zufall.bin', os.urandom(100)),"
                             " ('aaa.txt', b'a' * 500), ('B.txt', b'b' * 90)]:\n"
                             "    z.writestr(zipfile.ZipInfo(n, d), b, zipfile.ZIP_DEFLATED)\n"
                             "z.close()\"")
                             .arg(archive),
                         &out),
              0)
        << out.toStdString();
    SetAction(archive);
    RunRestore([&](TfRestore& f) {
        EXPECT_EQ(f.EntryCount, 4);
        QStringList names;
        for (int r = 1; r <= 4; ++r)
            names << f.EntryCell(0, r);
        EXPECT_EQ(names, QStringList({"aaa.txt", "B.txt", "leer.dat", "zufall.bin"}));
        EXPECT_EQ(f.EntryCell(2, 1), QStringLiteral("500"));
        EXPECT_EQ(f.EntryCell(3, 1), QStringLiteral("17.11.2012  14:03:22"));
        EXPECT_EQ(f.EntryCell(4, 3), QStringLiteral("0% "));
        EXPECT_TRUE(f.EntryCell(4, 4).startsWith(u'-')) << f.EntryCell(4, 4).toStdString();
        EXPECT_TRUE(f.EntryCell(4, 4).endsWith(QStringLiteral("% ")));
        EXPECT_GT(f.EntryCell(4, 1).chopped(2).toInt(), 90);
        EXPECT_EQ(f.EntryCell(5, 4), QStringLiteral("sub/"));
        EXPECT_EQ(f.EntryCell(5, 1), QString());
        EXPECT_EQ(f.EntryCell(4, 0), QStringLiteral("%"));
        EXPECT_TRUE(f.stringgrid1->isColumnHidden(4));
        EXPECT_EQ(f.stringgrid1->columnWidth(0), DesignScale::Px(300));
        EXPECT_EQ(f.stringgrid1->columnWidth(5), DesignScale::Px(150));
        for (int c = 0; c < 6; ++c)
            for (int r : {0, 2}) {
                const auto* item =
                    r == 0 ? f.stringgrid1->horizontalHeaderItem(c) : f.stringgrid1->item(r - 1, c);
                const bool right = Qt::Alignment(item->textAlignment()) & Qt::AlignRight;
                EXPECT_EQ(right, c >= 1 && c <= 4) << c << "/" << r;
            }
        // A title click sorts the sizes as numbers, a second one reverses.
        f.stringgrid1->HeaderClick(2);
        QStringList sizes;
        for (int r = 1; r <= 4; ++r)
            sizes << f.EntryCell(2, r);
        EXPECT_EQ(sizes, QStringList({"0", "90", "100", "500"}));
        f.stringgrid1->HeaderClick(2);
        EXPECT_EQ(f.EntryCell(0, 1), QStringLiteral("aaa.txt"));
        EXPECT_FALSE(f.stringgrid1->SortAscending);
        EXPECT_EQ(f.stringgrid1->SortColumn, 2);
        return int(QDialog::Rejected);
    });
}

// The reader tests cover the password kinds; here: the action's password is the one used.
TEST_F(Restore, TheActionsPasswordIsUsed) {
    const auto files = MakeSource();
    const QString archive = Zip(QStringLiteral("Sich/Daten.Zip"), QStringLiteral("-P geheim"));
    for (const char* password : {"geheim", "falsch"}) {
        SetAction(archive, QString::fromLatin1(password));
        RunRestore([&](TfRestore& f) {
            f.verzeichnis->setText(t.Path(QString::fromLatin1(password)));
            return Press(f);
        });
    }
    for (auto it = files.begin(); it != files.end(); ++it)
        EXPECT_EQ(t.Read(QStringLiteral("geheim/") + it.key()), it.value());
    EXPECT_TRUE(t.Files(QStringLiteral("falsch")).isEmpty());
    const QStringList log = m->LogLines();
    // A wrong traditional password may pass its one-byte check; the data check fails then.
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const QString& l) {
        return l == QStringLiteral("Falsches Passwort für a.txt") ||
               (l.startsWith(QStringLiteral("Fehler beim Entpacken von a.txt: ")) &&
                l.endsWith(QStringLiteral("(falsches Passwort?)")));
    })) << log.join(u'\n').toStdString();
    EXPECT_EQ(log.last(), QStringLiteral("  - 0 Dateie(n) entpackt"));
}

TEST_F(Restore, ProgressScaleAndSizeTexts) {
    EXPECT_EQ(SizeTextToInt64(QStringLiteral("1.234.567")), 1234567);
    EXPECT_EQ(SizeTextToInt64(QStringLiteral("0")), 0);
    EXPECT_THROW(SizeTextToInt64(QStringLiteral("1,5")), std::runtime_error);
    EXPECT_EQ(ProgressScaleFor(999), 1);
    EXPECT_EQ(ProgressScaleFor(0), 1);
    EXPECT_EQ(ProgressScaleFor(1001), 2);

    setDate(t.Write(QStringLiteral("src/big.dat"), QByteArray(2500000, '\0')), When);
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("gross")));
        return Press(f);
    });
    EXPECT_EQ(m->State().ProgressScale, 2500);
    EXPECT_EQ(Find<QProgressBar>(*m, "pb")->maximum(), 1000);
    EXPECT_EQ(QFileInfo(t.Path(QStringLiteral("gross/big.dat"))).size(), 2500000);
}

TEST_F(Restore, FolderChoiceProposals) {
    MakeSource();
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    QStringList proposals;
    RunRestore([&](TfRestore& f) {
        for (const char* chosen : {"C:\\", "D:\\Temp", "/srv/ablage", "/", ""}) {
            Dialogs::SetNextDirectory(QString::fromLatin1(chosen));
            f.SpeedButton1->click();
            proposals << f.verzeichnis->text();
        }
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(proposals,
              QStringList({"C:\\DatenRestore\\", "D:\\Temp\\DatenRestore\\",
                           "/srv/ablage/DatenRestore/", "/DatenRestore/", "/DatenRestore/"}));
    EXPECT_EQ(Dialogs::AskedLog().last().text, QStringLiteral("Wiederherstellen in Verzeichnis"));
}

TEST_F(Restore, AbortStopsTheExtractionAndTheClosingStepsStillRun) {
    MakeSource();
    SetAction(Zip(QStringLiteral("Sich/Daten.Zip")));
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("abbruch")));
        // The click waits in the queue until the restore processes messages.
        QMetaObject::invokeMethod(Find<QPushButton>(*m, "btnAbort"), "click", Qt::QueuedConnection);
        return Press(f);
    });
    EXPECT_TRUE(t.Files(QStringLiteral("abbruch")).isEmpty());
    EXPECT_TRUE(Logged(QStringLiteral("  - 0 Dateie(n) entpackt")));
    EXPECT_EQ(opened, QStringList({t.Path(QStringLiteral("abbruch"))}));
    EXPECT_FALSE(Find<QPushButton>(*m, "btnAbort")->isVisible());

    // The next restore is not affected by the earlier abort.
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("danach")));
        return Press(f);
    });
    EXPECT_EQ(t.Files(QStringLiteral("danach")).size(), 4);
}

TEST_F(Restore, OwnArchivesWithAndWithoutPasswordRestoreByteForByte) {
    QMap<QString, QByteArray> files{
        {QStringLiteral("text.txt"), QByteArray(100000, 't')},
        {QStringLiteral("bild.jpg"), QByteArray(70000, 'j')}, // stored, not deflated
        {QStringLiteral("sub/leer.dat"), QByteArray()},
    };
    QByteArray noise(150000, Qt::Uninitialized);
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919) % 251 ^ (i >> 5));
    files[QStringLiteral("sub/tief/zufall.bin")] = noise;
    for (auto it = files.begin(); it != files.end(); ++it)
        setDate(t.Write(QStringLiteral("src/") + it.key(), it.value()), When);

    for (const QString& password : {QString(), QStringLiteral("geheim")}) {
        SCOPED_TRACE(password.toStdString());
        const QString folder = QStringLiteral("Sich") + password;
        const QString target = t.MakeDir(folder) + QStringLiteral("/Daten.Zip");
        SetAction(target, password);
        m->sgClick(Grid(*m));
        ASSERT_TRUE(Find<QAction>(*m, "backupSelected")->isEnabled());
        Find<QAction>(*m, "backupSelected")->trigger();
        ASSERT_TRUE(QFileInfo::exists(target)) << m->LogLines().join(u'\n').toStdString();

        const QString to = QStringLiteral("zurueck") + password;
        RunRestore([&](TfRestore& f) {
            for (int i = 0; i < f.zip->Count(); ++i) {
                const ZipEntry& e = f.zip->Entry(i);
                EXPECT_EQ(e.Encrypted, !password.isEmpty() && e.UnpackedSize > 0)
                    << e.Name.toStdString();
            }
            f.allFiles->setChecked(true);
            f.verzeichnis->setText(t.Path(to));
            return Press(f);
        });
        EXPECT_EQ(t.Files(to), QStringList(files.keys()));
        for (auto it = files.begin(); it != files.end(); ++it) {
            EXPECT_EQ(t.Read(to + u'/' + it.key()), it.value()) << it.key().toStdString();
            EXPECT_EQ(QFileInfo(t.Path(to + u'/' + it.key())).lastModified(), When);
        }
        EXPECT_EQ(m->LogLines().last(), QStringLiteral("  - 4 Dateie(n) entpackt"))
            << m->LogLines().join(u'\n').toStdString();
    }
}

// A backup that replaces the archive while the dialog is open changes nothing of the restore.
TEST_F(Restore, TheListedArchiveIsTheOneRestored) {
    const auto files = MakeSource();
    const QString archive = Zip(QStringLiteral("Sich/Daten.Zip"));
    t.Write(QStringLiteral("src/a.txt"), "replaced");
    const QString other = Zip(QStringLiteral("other.zip"));
    SetAction(archive);
    RunRestore([&](TfRestore& f) {
        EXPECT_TRUE(QFile::remove(archive));
        EXPECT_TRUE(QFile::rename(other, archive));
        m->Zip().Password = QStringLiteral("vom Backup");
        f.verzeichnis->setText(t.Path(QStringLiteral("ziel")));
        return Press(f);
    });
    for (auto it = files.begin(); it != files.end(); ++it)
        EXPECT_EQ(t.Read(QStringLiteral("ziel/") + it.key()), it.value());
}

TEST_F(Restore, NoRunCanBeStartedFromTheToolBarWhileARestoreIsUnderWay) {
    MakeSource();
    // A target in small letters lists itself and its generations.
    const QString archive = Zip(QStringLiteral("Sich/d.zip"));
    QFile::copy(archive, t.Path(QStringLiteral("Sich/d1.Zip")));
    SetAction(archive);
    Find<QAction>(*m, "backupSelected")->setEnabled(true);
    Find<QAction>(*m, "backupAll")->setEnabled(true);
    // Due now, so a scheduler tick during the restore would rotate and run it.
    m->SetActionField(colTime, 1, QStringLiteral("02:00:00"));
    m->SetActionField(colCount, 1, QStringLiteral("5"));
    Find<QToolButton>(*m, "btnTimer")->setChecked(true);
    Find<QCheckBox>(*m, "cbSperr")->setChecked(false);
    bool runCommandsOff = false;
    QStringList names;
    RunRestore([&](TfRestore& f) {
        runCommandsOff = !Find<QAction>(*m, "backupSelected")->isEnabled() &&
                         !Find<QAction>(*m, "backupAll")->isEnabled() &&
                         !Find<QToolButton>(*m, "btnRestore")->isEnabled();
        for (int r = 1; r < f.GenerationRowCount(); ++r)
            names << f.GenerationCell(0, r);
        m->Timer2Timer();
        f.verzeichnis->setText(t.Path(QStringLiteral("ziel")));
        return Press(f);
    });
    EXPECT_EQ(names, QStringList({"d.zip", "d1.Zip"}));
    EXPECT_FALSE(t.Exists(QStringLiteral("Sich/d2.Zip")));
    EXPECT_TRUE(Grid(*m)->Cell(colLast, 1).isEmpty());
    EXPECT_EQ(m->State().DoneBytes, 0);
    EXPECT_TRUE(runCommandsOff);
    EXPECT_TRUE(Find<QAction>(*m, "backupSelected")->isEnabled());
    EXPECT_TRUE(Find<QAction>(*m, "backupAll")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*m, "btnRestore")->isEnabled());
    EXPECT_EQ(t.Files(QStringLiteral("ziel")).size(), 4);
}

// An archive whose columns exercise every sort rule: names differing in case only and equal
// names (equal cells keep their order), sizes on both sides of the thousands separator (a
// column holding one is text), dates on both sides of a change of summer time.
class RestoreSorting : public Restore {
protected:
    QString MixedArchive() {
        t.MakeDir(QStringLiteral("Sich"));
        const QString archive = t.Path(QStringLiteral("Sich/Daten.Zip"));
        QString out;
        EXPECT_EQ(
            RunCommand(QStringLiteral(
                           "python3 -c \"import zipfile\n"
                           "z = zipfile.ZipFile('%1', 'w', zipfile.ZIP_DEFLATED)\n"
                           "for n, s, d in [('b.txt', 5, (2012, 11, 17, 14, 3, 22)),"
                           " ('B.txt', 1000, (2012, 7, 1, 2, 30, 0)),"
                           " ('x/a.txt', 999, (2012, 11, 17, 14, 3, 22)),"
                           " ('a.txt', 2000000, (2013, 3, 31, 1, 59, 58)),"
                           " ('y/a.txt', 0, (2013, 3, 31, 3, 0, 0)),"
                           " ('10', 123456, (2011, 1, 2, 23, 59, 58)),"
                           " ('\\u00e4.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\u00c4b.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\u00df.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('SS.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\U00010400.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\U00010428.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\U0001F600.txt', 3, (2012, 1, 1, 0, 0, 0)),"
                           " ('\\uffe0.txt', 3, (2012, 1, 1, 0, 0, 0))]:\n"
                           "    z.writestr(zipfile.ZipInfo(n, d), bytes(range(256)) * (s // 256)"
                           " + b'q' * (s % 256), zipfile.ZIP_DEFLATED)\n"
                           "z.close()\"")
                           .arg(archive),
                       &out),
            0)
            << out.toStdString();
        return archive;
    }
};

// Every column sorts, both ways and one after another, as the sort grid sorts the same texts.
TEST_F(RestoreSorting, EveryColumnSortsAsTheSortGridSortsItsTexts) {
    SetAction(MixedArchive());
    RunRestore([&](TfRestore& f) {
        const int n = f.EntryRowCount() - 1;
        EXPECT_EQ(n, 14);
        // The dates are the archive's own wall times.
        QStringList dates;
        for (int r = 1; r <= n; ++r)
            dates << f.EntryCell(3, r);
        EXPECT_TRUE(dates.contains(QStringLiteral("01.07.2012  02:30:00")))
            << dates.join(u'|').toStdString();
        EXPECT_TRUE(dates.contains(QStringLiteral("31.03.2013  01:59:58")));
        TSortGrid ref(6);
        ref.SetRowCount(n + 1);
        for (int r = 1; r <= n; ++r)
            for (int c = 0; c < 6; ++c)
                ref.SetCell(c, r, f.EntryCell(c, r));
        for (int c : {2, 0, 3, 1, 5, 4, 0})
            for (bool ascending : {true, false}) {
                f.stringgrid1->SortByColumn(c, ascending);
                ref.SortByColumn(c, ascending);
                for (int r = 1; r <= n; ++r)
                    for (int k = 0; k < 6; ++k)
                        EXPECT_EQ(f.EntryCell(k, r), ref.Cell(k, r))
                            << "column " << c << (ascending ? " up" : " down") << ", row " << r;
            }
        return int(QDialog::Rejected);
    });
}

// After a sort the selected rows are the entries they show, and the listing outlives the
// reader, which the restore closes.
TEST_F(RestoreSorting, SelectedRowsAfterASortRestoreTheirEntries) {
    SetAction(MixedArchive());
    RunRestore([&](TfRestore& f) {
        f.verzeichnis->setText(t.Path(QStringLiteral("sel")));
        f.RadioButton2->setChecked(true);
        f.stringgrid1->HeaderClick(5); // by folder: "", "", "", "", "x/", "y/"
        f.stringgrid1->HeaderClick(5); // reversed: "y/", "x/", then the top level
        EXPECT_EQ(f.EntryCell(5, 1), QStringLiteral("y/"));
        EXPECT_EQ(f.EntryCell(5, 2), QStringLiteral("x/"));
        Select(f, {0, 1});
        return Press(f);
    });
    EXPECT_EQ(t.Files(QStringLiteral("sel")),
              QStringList({QStringLiteral("x/a.txt"), QStringLiteral("y/a.txt")}));
    EXPECT_EQ(QFileInfo(t.Path(QStringLiteral("sel/x/a.txt"))).size(), 999);
    EXPECT_EQ(m->State().TotalBytes, 999);
    auto* f = m->findChild<TfRestore*>(QStringLiteral("fRestore"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->EntryRowCount(), 15);
    EXPECT_EQ(f->EntryCell(0, 1), QStringLiteral("a.txt"));
    EXPECT_EQ(f->EntryCell(5, 1), QStringLiteral("y/"));
}
