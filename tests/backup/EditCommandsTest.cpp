// The editing commands of the main window and their dialogs, answered through the dialog seam
// as a user would answer them.
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <string>

#include "About.h"
#include "DesignScale.h"
#include "ProgramInfo.h"
#include "SortGrid.h"
#include "WindowFixture.h"
#include "ZipComponent.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"

namespace {

class EditCommands : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Start();
        Dialogs::ResetTestState();
    }

    void SetActions(int n) {
        m->SetGridRowCount(n + 1);
        for (int r = 1; r <= n; ++r) {
            m->SetActionField(colVerz, r, t.Path(QStringLiteral("src%1").arg(r)));
            m->SetActionField(colNach, r, t.Path(QStringLiteral("dst/b%1.Zip").arg(r)));
        }
        m->SetModified(false);
    }
    // Answers the next dialog of the given class.
    template <typename D> static void Answer(std::function<int(D&)> user) {
        Dialogs::SetNextDialog([user](QDialog& d) { return user(dynamic_cast<D&>(d)); });
    }
    void Edit(int col, int row = 1) {
        Grid(*m)->SetFocusCell(col, row);
        m->sgDblClick(Grid(*m));
    }
    // The new-action command offered a folder and, when given, a save name.
    void Offer(const QString& folder, const QString& saveName = {}) {
        Dialogs::SetNextDirectory(folder);
        if (!saveName.isEmpty()) Dialogs::SetNextFileName(saveName);
        Find<QAction>(*m, "NewAktion")->trigger();
    }
    // The user enters a new action: folder, save name, time.
    void NewAction(const QString& folder, const QString& saveName, QTime time = QTime(3, 0)) {
        Dialogs::SetNextDirectory(folder);
        Dialogs::SetNextFileName(saveName);
        Answer<TTimeWin>([time](TTimeWin& w) {
            w.dtp->setTime(time);
            return int(QDialog::Accepted);
        });
        ASSERT_TRUE(Find<QAction>(*m, "NewAktion")->isEnabled());
        Find<QAction>(*m, "NewAktion")->trigger();
    }
};

TEST_F(EditCommands, NewActionChoosesItsRowAndFillsIt) {
    const struct {
        int actions;
        int row, rows;
    } cases[] = {{0, 1, 2}, {1, 2, 3}, {3, 4, 5}};
    for (const auto& c : cases) {
        SetActions(c.actions);
        if (c.actions == 0) m->SetGridRowCount(2); // the one empty row of a first start
        NewAction(t.Path("new"), t.Path("dst/neu.old"), QTime(3, 4, 5));
        EXPECT_EQ(Grid(*m)->RowCount(), c.rows) << c.actions;
        EXPECT_EQ(Grid(*m)->Cell(colVerz, c.row), t.Path("new"));
        EXPECT_EQ(Grid(*m)->Cell(colNach, c.row), t.Path("dst/neu.Zip"));
        EXPECT_EQ(Grid(*m)->Cell(colTime, c.row), "03:04:05");
        EXPECT_EQ(Grid(*m)->Cell(colCount, c.row), "2");
        EXPECT_EQ(Grid(*m)->Cell(colHist, c.row), "J-J");
        EXPECT_EQ(Grid(*m)->Cell(colFilter, c.row), "");
        EXPECT_TRUE(m->State().Modified);
        EXPECT_TRUE(Find<QAction>(*m, "backupAll")->isEnabled());
        EXPECT_TRUE(Find<QToolButton>(*m, "btnTimer")->isEnabled());
        EXPECT_EQ(Dialogs::PendingAnswers(), 0);
    }
    // The time dialog shows the last time it showed.
    EXPECT_EQ(m->TimeWin->dtp->time(), QTime(3, 4, 5));
}

TEST_F(EditCommands, NewActionRefusesDuplicatesAndStopsAtEveryCancel) {
    SetActions(2);
    // The same folder in other case: refused, that row focused.
    m->SetActionField(colVerz, 2, Grid(*m)->Cell(colVerz, 2).toUpper());
    Offer(t.Path("src2"));
    EXPECT_EQ(Asked().value(0),
              "Ein Eintrag für das Verzeichnis\r\n" + t.Path("src2") + "\r\nexistsiert bereits!");
    EXPECT_EQ(Grid(*m)->Row(), 2);
    Dialogs::ResetTestState();

    // A target already in use, after the .Zip is put on.
    Offer(t.Path("other"), t.Path("dst/b1.old"));
    EXPECT_EQ(Asked().value(0),
              "Ein Sicherung mit dem Namen\r\n" + t.Path("dst/b1.Zip") + "\r\nexistsiert bereits!");
    EXPECT_EQ(Grid(*m)->Row(), 1);
    EXPECT_EQ(Grid(*m)->Col(), colNach);
    Dialogs::ResetTestState();

    // Written by hand relative to the start folder, or with a closing slash, a path is still
    // the one the dialogs return.
    const QDir start = QDir::current();
    m->SetActionField(colVerz, 1, start.relativeFilePath(t.Path("src1")) + u'/');
    m->SetActionField(colNach, 2, start.relativeFilePath(t.Path("dst/b2.Zip")));
    Offer(t.Path("src1"));
    Offer(t.Path("other"), t.Path("dst/b2"));
    // Nor may a target be another's generation: b22 would be removed by b2's rotation.
    Offer(t.Path("other"), t.Path("dst/b22.Zip"));
    EXPECT_EQ(Asked().size(), 3);
    EXPECT_EQ(Grid(*m)->Row(), 2);

    // Cancelled time dialog, save dialog, folder browser: no row, nothing changed.
    Answer<TTimeWin>([](TTimeWin&) { return int(QDialog::Rejected); });
    Offer(t.Path("other"), t.Path("dst/x"));
    Offer(t.Path("other"));                    // the save dialog is cancelled
    Find<QAction>(*m, "NewAktion")->trigger(); // the folder browser is cancelled
    EXPECT_EQ(Grid(*m)->RowCount(), 3);
    EXPECT_FALSE(m->State().Modified);
    EXPECT_EQ(Dialogs::PendingAnswers(), 0);
}

TEST_F(EditCommands, DeleteAsksAndTheLastDeletionDisablesRunAll) {
    SetActions(2);
    Grid(*m)->SetFocusCell(0, 1);
    m->sgClick(nullptr);
    Dialogs::SetNextAnswer(Dialogs::No);
    Find<QAction>(*m, "delAktion")->trigger();
    EXPECT_EQ(Grid(*m)->RowCount(), 3);
    EXPECT_EQ(Asked().value(0), "Soll die Sicherung von\r\n" + t.Path("src1") + "\r\nnach\r\n" +
                                    t.Path("dst/b1.Zip") + "\r\nwirklich gelöscht werden?");
    for (int i = 0; i < 2; ++i) {
        Dialogs::SetNextAnswer(Dialogs::Yes);
        Find<QAction>(*m, "delAktion")->trigger();
    }
    EXPECT_EQ(Grid(*m)->RowCount(), 1); // the header row alone
    EXPECT_TRUE(m->State().Modified);
    EXPECT_FALSE(Find<QAction>(*m, "backupAll")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(*m, "btnTimer")->isEnabled());
    EXPECT_FALSE(Find<QAction>(*m, "delAktion")->isEnabled());
    // And a new action goes into row 1 again.
    NewAction(t.Path("src9"), t.Path("dst/b9"));
    EXPECT_EQ(Grid(*m)->RowCount(), 2);
    EXPECT_EQ(Grid(*m)->Cell(colVerz, 1), t.Path("src9"));
}

TEST_F(EditCommands, DeleteAndEditorsAreRefusedWhileARunIsUnderWay) {
    SetActions(1);
    t.Write("src1/a.txt", "a");
    QDir().mkpath(t.Path("dst"));
    Grid(*m)->SetFocusCell(0, 1);
    m->sgClick(nullptr);
    int reads = 0;
    // The user tries to delete and edit the row while its run reads the file.
    m->Zip().ReadFault = [&](const QString&, qint64) {
        if (++reads == 1) {
            Find<QAction>(*m, "delAktion")->trigger();
            for (int col : {colVerz, colTime, colFilter, colP})
                Edit(col);
        }
        return false;
    };
    m->backupSelectedExecute(Tmain::RunKind::Selected);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(Grid(*m)->RowCount(), 2);
    EXPECT_EQ(Grid(*m)->Cell(colVerz, 1), t.Path("src1"));
    EXPECT_EQ(Asked().size(), 5);
    EXPECT_EQ(Dialogs::AskedLog().size(), 5); // no dialog was opened

    // A new action after a reload was asked for during the run: the reload at the run's end
    // would remove it unasked.
    reads = 0;
    Dialogs::ResetTestState();
    m->Zip().ReadFault = [&](const QString&, qint64) {
        if (++reads == 1) {
            Find<QAction>(*m, "loadIni")->setEnabled(true);
            Find<QAction>(*m, "loadIni")->trigger();
            Find<QAction>(*m, "NewAktion")->trigger();
        }
        return false;
    };
    m->backupSelectedExecute(Tmain::RunKind::Selected);
    EXPECT_EQ(Asked().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog().size(), 1);
}

TEST_F(EditCommands, CellEditorsPresetTheirDialogsAndWriteBack) {
    SetActions(1);
    Find<QTimer>(*m, "Timer2")->start();
    bool timerRanInEditor = true;
    const auto cell = [&](int col) { return Grid(*m)->Cell(col, 1); };

    // Time: an unreadable cell presets 04:00:00; confirming a changed time writes it.
    m->SetActionField(colTime, 1, "kaputt");
    Answer<TTimeWin>([&](TTimeWin& w) {
        timerRanInEditor = Find<QTimer>(*m, "Timer2")->isActive();
        EXPECT_EQ(w.dtp->time(), QTime(4, 0));
        return int(QDialog::Accepted);
    });
    Edit(colTime);
    EXPECT_FALSE(timerRanInEditor);
    EXPECT_TRUE(Find<QTimer>(*m, "Timer2")->isActive());
    EXPECT_EQ(cell(colTime), "04:00:00");
    EXPECT_TRUE(m->State().Modified);

    // Time and count confirmed unchanged leave the settings unchanged; 30 is kept as it is.
    m->SetModified(false);
    Answer<TTimeWin>([](TTimeWin&) { return int(QDialog::Accepted); });
    Edit(colTime);
    m->SetActionField(colCount, 1, "30");
    Answer<TcountWin>([](TcountWin& w) {
        EXPECT_EQ(w.ec->text(), "30");
        return int(QDialog::Accepted);
    });
    Edit(colCount);
    EXPECT_EQ(cell(colCount), "30");
    EXPECT_FALSE(m->State().Modified);
    // An empty count writes 0.
    Answer<TcountWin>([](TcountWin& w) {
        w.ec->clear();
        return int(QDialog::Accepted);
    });
    Edit(colCount);
    EXPECT_EQ(cell(colCount), "0");
    EXPECT_TRUE(m->State().Modified);

    // Flags, filter and password confirmed unchanged still mark the settings changed.
    const struct {
        int col;
        const char* before;
        const char* after;
    } unchanged[] = {
        {colHist, "JJ", "N-N"},
        {colHist, "J-N", "J-N"},
        {colFilter, "*.tmp", "Nicht:*.tmp"},
        {colFilter, "Nur:*.doc", "Nur:*.doc"},
        {colP, "geheim", "geheim"},
    };
    for (const auto& c : unchanged) {
        m->SetModified(false);
        m->SetActionField(c.col, 1, c.before);
        Dialogs::SetNextDialog([](QDialog&) { return int(QDialog::Accepted); });
        Edit(c.col);
        EXPECT_EQ(cell(c.col), c.after) << c.before;
        EXPECT_TRUE(m->State().Modified) << c.before;
    }
    EXPECT_TRUE(m->fHist->ws->isChecked());
    EXPECT_FALSE(m->fHist->ms->isChecked());
    EXPECT_TRUE(m->filterWin->nur->isChecked());
    EXPECT_EQ(m->filterWin->filter->text(), "*.doc");

    // An empty pattern text empties the cell whatever the mode; the password opens masked.
    Answer<TfilterWin>([](TfilterWin& w) {
        w.filter->clear();
        return int(QDialog::Accepted);
    });
    Edit(colFilter);
    EXPECT_EQ(cell(colFilter), "");
    m->fPw->cbShowPw->setChecked(true);
    m->fPw->cbShowPwClick(m->fPw->cbShowPw);
    Answer<TfPw>([](TfPw& w) {
        EXPECT_FALSE(w.cbShowPw->isChecked());
        EXPECT_EQ(w.ePw->echoMode(), QLineEdit::Password);
        w.ePw->clear();
        return int(QDialog::Accepted);
    });
    Edit(colP);
    EXPECT_EQ(cell(colP), "");

    // Cancel changes nothing, and the stats columns open nothing.
    m->SetModified(false);
    for (int col : {colTime, colCount, colFilter, colHist, colP}) {
        Dialogs::SetNextDialog([](QDialog&) { return int(QDialog::Rejected); });
        Edit(col);
    }
    Edit(colDateien);
    EXPECT_FALSE(m->State().Modified);
    EXPECT_EQ(Dialogs::PendingAnswers(), 0);
    EXPECT_TRUE(Find<QTimer>(*m, "Timer2")->isActive());
}

TEST_F(EditCommands, FolderAndTargetEditors) {
    // The empty first row given its folder in place is an action like a new one.
    m->SetGridRowCount(2);
    Dialogs::SetNextDirectory(t.Path("src1"));
    Edit(colVerz);
    EXPECT_TRUE(Find<QAction>(*m, "backupAll")->isEnabled());
    EXPECT_TRUE(Find<QToolButton>(*m, "btnTimer")->isEnabled());
    EXPECT_TRUE(Find<QAction>(*m, "delAktion")->isEnabled());

    SetActions(2);
    Dialogs::SetNextDirectory(t.Path("src2"));
    Edit(colVerz);
    EXPECT_EQ(Grid(*m)->Cell(colVerz, 1), t.Path("src1"));
    EXPECT_EQ(Grid(*m)->Row(), 2);
    Dialogs::SetNextDirectory(t.Path("neu"));
    Edit(colVerz, 2);
    EXPECT_EQ(Grid(*m)->Cell(colVerz, 2), t.Path("neu"));

    // A target on removed media warns, and a new one can still be chosen.
    m->SetActionField(colNach, 1, "/media/nobody/GONE/b.Zip");
    Dialogs::SetNextFileName(t.Path("dst/neu.bak"));
    Edit(colNach, 1);
    EXPECT_EQ(Dialogs::AskedLog().value(Dialogs::AskedLog().size() - 2).text,
              "Laufwerk /media/nobody/GONE nicht gefunden");
    EXPECT_EQ(Dialogs::AskedLog().value(Dialogs::AskedLog().size() - 2).what, "show");
    EXPECT_EQ(Grid(*m)->Cell(colNach, 1), t.Path("dst/neu.Zip"));
    EXPECT_EQ(m->SaveFileLast, t.Path("dst/neu.bak"));
}

TEST_F(EditCommands, FilterDialogTriesThePatternsOnTheSourceFolder) {
    for (int i = 0; i < 600; ++i)
        t.Write(QStringLiteral("src1/f%1.%2").arg(i).arg(i % 2 ? "doc" : "tmp"), "x");
    SetActions(1);
    m->SetActionField(colFilter, 1, "Nicht:*.tmp");
    Answer<TfilterWin>([&](TfilterWin& w) {
        w.FormActivate();
        EXPECT_EQ(w.AllFiles.size(), 498);
        EXPECT_EQ(w.lP->text().section(u' ', 0, 0).toInt() +
                      w.lN->text().section(u' ', 0, 0).toInt(),
                  498);
        w.cbCountItems->button(1)->click(); // 2000
        EXPECT_EQ(w.TestFileLimit, 2000);
        EXPECT_EQ(w.lP->text(), "300 Dateien, 0,0 MB");
        EXPECT_EQ(w.lvN->topLevelItemCount(), 300);
        QTest::keyClicks(w.filter, ";f1*");              // re-split at every key
        EXPECT_EQ(w.lvP->topLevelItemCount(), 300 - 56); // f1, f10-f19, f100-f199 of the .doc
        w.nur->click();
        EXPECT_EQ(w.lvP->topLevelItemCount(), 356);
        return int(QDialog::Accepted);
    });
    Edit(colFilter);
    EXPECT_EQ(Grid(*m)->Cell(colFilter, 1), "Nur:*.tmp;f1*");
    // The limit is kept for the next opening.
    EXPECT_EQ(m->filterWin->TestFileLimit, 2000);
}

TEST_F(EditCommands, CountEditTakesDigitsOnlyAndTheUpDownStaysInRange) {
    TcountWin& w = *m->countWin;
    w.ec->clear();
    QTest::keyClicks(w.ec, "1a-2 x");
    EXPECT_EQ(w.ec->text(), "12");
    QTest::keyClick(w.ec, Qt::Key_Backspace);
    EXPECT_EQ(w.ec->text(), "1");
    w.ec->setText("25");
    w.UD->Up->click();
    EXPECT_EQ(w.ec->text(), "25");
    w.ec->setText("0");
    w.UD->Down->click();
    EXPECT_EQ(w.ec->text(), "0");
    w.UD->Up->click();
    EXPECT_EQ(w.ec->text(), "1");
}

// Pastes into a line of a cell's dialog as a user would.
void Paste(QLineEdit* edit, const QString& text) {
    edit->clear();
    QApplication::clipboard()->setText(text);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
}

TEST_F(EditCommands, PastedTextsStayWhatTheSettingsFileCanHoldBack) {
    SetActions(1);
    const auto pasteAndConfirm = [&]<typename D>(QLineEdit* D::*edit, const QString& text,
                                                 int col) {
        Answer<D>([&](D& w) {
            Paste(w.*edit, text);
            return int(QDialog::Accepted);
        });
        Edit(col);
    };
    // A password copied with its line's end: the archives are made with what is stored.
    pasteAndConfirm(&TfPw::ePw, "geheim\n", colP);
    EXPECT_EQ(Grid(*m)->Cell(colP, 1), "geheim");
    pasteAndConfirm(&TfilterWin::filter, "*.tmp;\r\n*.bak\n", colFilter);
    EXPECT_EQ(Grid(*m)->Cell(colFilter, 1), "Nicht:*.tmp;*.bak");
    // No longer than the settings file reads back, prefix included.
    pasteAndConfirm(&TfilterWin::filter, QString(3000, u'x'), colFilter);
    EXPECT_EQ(Grid(*m)->Cell(colFilter, 1).size(), 2047);

    // A count the scheduler could not read is not taken; "00" is no action that runs.
    Answer<TcountWin>([&](TcountWin& w) {
        Paste(w.ec, "a-1");
        EXPECT_EQ(w.ec->text(), "");
        Paste(w.ec, "00");
        return int(QDialog::Accepted);
    });
    Edit(colCount);
    EXPECT_EQ(Grid(*m)->Cell(colCount, 1), "0");
}

TEST_F(EditCommands, AboutBoxVersionLinksAndBanner) {
    TAboutBox& a = *m->AboutBox;
    EXPECT_EQ(a.lVersion->text(), "Version: 2.1.0.9");
    EXPECT_EQ(a.Lsupport->toolTip(),
              "mailto:support@example.org?Subject=Support für KELVO-Zorvane2 Version 2.1.0.9");
    // Decoded from JPEG data.
    QImageReader banner(QStringLiteral(":/about/banner.jpg"));
    EXPECT_EQ(banner.format(), "jpeg");
    EXPECT_FALSE(banner.read().isNull());
    EXPECT_FALSE(a.ProgramIcon->pixmap().isNull());

    EXPECT_EQ(TAboutBox::LinkColour(a.Lsupport), QColor(Qt::blue));
    QTest::mouseClick(a.Image2, Qt::LeftButton);
    QTest::mouseClick(a.ProgramIcon, Qt::LeftButton);
    a.Label2Click(a.Label5);
    EXPECT_EQ(opened, (QStringList{a.Lsupport->toolTip(), ProgramInfo::MakerHomePage(),
                                   ProgramInfo::ReaderLibraryPage()}));
    EXPECT_EQ(TAboutBox::LinkColour(a.Lsupport), QColor(0, 0, 128));
    EXPECT_EQ(TAboutBox::LinkColour(a.Label2), QColor(0, 0, 128));

    Dialogs::ResetTestState();
    Find<QToolButton>(*m, "ToolButton13")->click();
    ASSERT_EQ(Dialogs::AskedLog().size(), 1);
    EXPECT_EQ(Dialogs::AskedLog()[0].text, "AboutBox");
}

TEST_F(EditCommands, LinkButtonAndLogDoubleClick) {
    Find<QToolButton>(*m, "pKelvo")->click();
    EXPECT_EQ(opened, QStringList{ProgramInfo::MakerHomePage()});
    EXPECT_TRUE(Find<QToolButton>(*m, "pKelvo")->styleSheet().contains("teal"));

    for (int i = 0; i < 30; ++i)
        m->LogLine(QStringLiteral("Zeile %1").arg(i));
    m->Memo1DblClick(Find<QPlainTextEdit>(*m, "Memo1"));
    EXPECT_TRUE(Grid(*m)->isHidden());
    EXPECT_EQ(Find<QPlainTextEdit>(*m, "Memo1")->textCursor().position(),
              Find<QPlainTextEdit>(*m, "Memo1")->document()->characterCount() - 1);
    m->Memo1DblClick(Find<QPlainTextEdit>(*m, "Memo1"));
    EXPECT_FALSE(Grid(*m)->isHidden());
    EXPECT_EQ(Find<QPlainTextEdit>(*m, "Memo1")->height(), DesignScale::Px(100));
}

} // namespace

namespace {

// What the user types at once goes into the editor's field, also when he left the focus on a
// button the time before; the old value is replaced.
TEST_F(EditCommands, EveryEditorOpensWithTheFocusInItsField) {
    SetActions(1);
    m->SetActionField(colTime, 1, QStringLiteral("04:00:00"));
    m->SetActionField(colCount, 1, QStringLiteral("2"));
    m->SetActionField(colFilter, 1, QStringLiteral("Nicht:*.tmp"));
    m->SetActionField(colP, 1, QStringLiteral("alt"));
    const struct {
        int col;
        const char* typed;
        std::function<QString()> field;
        QString expected;
    } cases[] = {
        {colP, "neu", [this] { return m->fPw->ePw->text(); }, "neu"},
        {colTime, "15",
         [this] { return m->TimeWin->dtp->time().toString(QStringLiteral("hh:mm:ss")); },
         "15:00:00"},
        {colCount, "7", [this] { return m->countWin->ec->text(); }, "7"},
        {colFilter, "*.doc", [this] { return m->filterWin->filter->text(); }, "*.doc"},
    };
    for (int round = 1; round <= 2; ++round) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "column " << c.col << ", opening " << round);
            QString seen;
            Dialogs::SetNextDialog([&](QDialog& d) {
                d.show();
                for (const char* k = c.typed; *k; ++k)
                    QTest::keyClick(d.windowHandle(), *k);
                seen = c.field();
                d.findChild<QWidget*>(QStringLiteral("BitBtn1"))->setFocus();
                d.hide();
                return int(QDialog::Rejected);
            });
            Edit(c.col);
            EXPECT_EQ(seen, c.expected);
        }
    }
}

TEST_F(EditCommands, APasswordTypedStraightIntoItsEditorAndConfirmedWithEnterIsTheActions) {
    SetActions(1);
    QString shown;
    Dialogs::SetNextDialog([&](QDialog& d) {
        d.show();
        for (char k : std::string("geheim7"))
            QTest::keyClick(d.windowHandle(), k);
        shown = m->fPw->ePw->displayText();
        QTest::keyClick(d.windowHandle(), Qt::Key_Return);
        return d.result();
    });
    Edit(colP);
    EXPECT_EQ(Grid(*m)->Cell(colP, 1), u"geheim7");
    EXPECT_TRUE(m->State().Modified);
    EXPECT_EQ(shown, u"*******"); // the program's mask, not the style's dot
}

TEST_F(EditCommands, ADoubleClickOnAWordOfTheLogLeavesNothingSelected) {
    m->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m.get()));
    for (int i = 0; i < 30; ++i)
        m->LogLine(QStringLiteral("Zeile Nummer %1").arg(i));
    QCoreApplication::processEvents();
    QTextCursor word(Find<QPlainTextEdit>(*m, "Memo1")->document()->lastBlock());
    word.movePosition(QTextCursor::NextWord);
    word.movePosition(QTextCursor::Right);
    QTest::mouseDClick(Find<QPlainTextEdit>(*m, "Memo1")->viewport(), Qt::LeftButton, {},
                       Find<QPlainTextEdit>(*m, "Memo1")->cursorRect(word).center());
    EXPECT_TRUE(Grid(*m)->isHidden());
    EXPECT_FALSE(Find<QPlainTextEdit>(*m, "Memo1")->textCursor().hasSelection());
    EXPECT_EQ(Find<QPlainTextEdit>(*m, "Memo1")->textCursor().position(),
              Find<QPlainTextEdit>(*m, "Memo1")->document()->characterCount() - 1);
}

TEST_F(EditCommands, TheFilterDialogsSizeColumnShowsAVeryLargeFileWhole) {
    SetActions(1);
    t.MakeDir(QStringLiteral("src1"));
    QFile big(t.Path(QStringLiteral("src1/platte.img")));
    // Sparse: 1.3 TB that take no room.
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(1331200LL * 1024 * 1024));
    big.close();
    QString size;
    int width = 0, needed = -1;
    Answer<TfilterWin>([&](TfilterWin& f) {
        f.show();
        f.RescanFolder();
        if (f.lvP->topLevelItemCount() == 1) size = f.lvP->topLevelItem(0)->text(1);
        width = f.lvP->columnWidth(1);
        // What the list's own painting needs for the cell, margins included.
        QStyleOptionViewItem option;
        option.initFrom(f.lvP);
        needed = f.lvP->itemDelegate()->sizeHint(option, f.lvP->model()->index(0, 1)).width();
        f.hide();
        return int(QDialog::Rejected);
    });
    Edit(colFilter);
    EXPECT_EQ(size, u"1.331.200,0");
    EXPECT_GE(width, needed);
}

} // namespace
