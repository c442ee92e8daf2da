#include "Dialogs.h"
#include "FolderPicker.h"
#include "TestFolder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { Dialogs::ResetTestState(); }
    void TearDown() override {
        Dialogs::SetTestMode(true);
        Dialogs::ResetTestState();
    }
    static QStringList log() {
        QStringList lines;
        for (const Dialogs::Asked& a : Dialogs::AskedLog())
            lines.append(a.what + u' ' + a.text + (a.answered ? u""_s : u" (unanswered)"_s));
        return lines;
    }
};

TEST_F(DialogsTest, QueuedAnswersComeInOrderAndEveryQuestionIsLogged) {
    using namespace Dialogs;
    SetNextAnswer(No);
    SetNextAnswer(Retry);
    SetNextDirectory(u"/ziel"_s);
    SetNextFileName(u"/ziel/a.zip"_s);
    EXPECT_EQ(PendingAnswers(), 4);

    EXPECT_EQ(MessageDlg(u"Eins?"_s, Kind::Confirmation, Yes | No), No);
    EXPECT_EQ(SaveFileName(nullptr, u"Speichern"_s, u"ZIP|*.zip"_s, {}), u"/ziel/a.zip");
    EXPECT_EQ(MessageDlg(u"Zwei?"_s, Kind::Error, Abort | Retry | Ignore), Retry);
    EXPECT_EQ(BrowseForFolder(nullptr, u"Ordner"_s, {}), u"/ziel");
    EXPECT_EQ(PendingAnswers(), 0);

    // Nobody answers these: no window, None or empty, and the log says so.
    EXPECT_EQ(MessageDlg(u"Drei?"_s, Kind::Warning, Ok), None);
    EXPECT_EQ(BrowseForFolder(nullptr, u"Ordner"_s, {}), QString());
    EXPECT_EQ(SaveFileName(nullptr, u"Speichern"_s, {}, {}), QString());
    ShowError(u"Kaputt"_s);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());

    EXPECT_EQ(log(), (QStringList{u"message Eins?"_s, u"save Speichern"_s, u"message Zwei?"_s,
                                  u"folder Ordner"_s, u"message Drei? (unanswered)"_s,
                                  u"folder Ordner (unanswered)"_s, u"save Speichern (unanswered)"_s,
                                  u"error Kaputt"_s}));
}

TEST_F(DialogsTest, ExecRunsTheQueuedHandlerOnTheDialog) {
    QDialog dialog;
    dialog.setObjectName(u"TfPassword"_s);
    auto* edit = new QLineEdit(&dialog);
    Dialogs::SetNextDialog([](QDialog& d) {
        d.findChild<QLineEdit*>()->setText(u"geheim"_s);
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(Dialogs::Exec(dialog), QDialog::Accepted);
    EXPECT_EQ(edit->text(), u"geheim");
    EXPECT_EQ(Dialogs::Exec(dialog), QDialog::Rejected);
    EXPECT_EQ(log(), (QStringList{u"dialog TfPassword"_s, u"dialog TfPassword (unanswered)"_s}));
}

// Outside test mode the real box appears; a timer plays the user.
TEST_F(DialogsTest, RealBoxHasGermanTitleAndButtonsWhateverTheDesktopLanguage) {
    EXPECT_EQ(Dialogs::LoadPlatformTranslations(QLocale::c()), nullptr);
    // Qt's own texts, the pickers' among them, follow the desktop; the boxes do not.
    const auto french = Dialogs::LoadPlatformTranslations(QLocale(QLocale::French));
    ASSERT_NE(french, nullptr);
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), u"Look in:"_s);
    Dialogs::SetTestMode(false);
    QString seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        QStringList texts;
        QAbstractButton* no = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            texts.append(b->text());
            if (b->text() == u"&Nein") no = b;
        }
        texts.sort(); // the platform's style decides the order on screen
        seen = box->windowTitle() + u'/' + QString::number(box->icon()) + u'/' + texts.join(u'/');
        no ? no->click() : box->reject(); // never leave the test hanging
    });
    timer.start(10);
    EXPECT_EQ(Dialogs::MessageDlg(u"Wirklich?"_s, Dialogs::Kind::Confirmation,
                                  Dialogs::Yes | Dialogs::No | Dialogs::Cancel),
              Dialogs::No);
    EXPECT_EQ(seen, u"Bestätigung/%1/&Ja/&Nein/Abbrechen"_s.arg(int(QMessageBox::Question)));
}

// The picker takes a folder that does not exist yet as well as an existing one, and opens at
// the nearest existing folder of a start that is itself new.
TEST_F(DialogsTest, FolderPickerAcceptsNewAndExistingFolders) {
    TestFolder t;
    t.MakeDir(u"da"_s);
    // Qt's "Directory not found" box would wait for a click; answer it so the test fails
    // instead of hanging.
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    guard.start(200);
    const struct {
        QString typed, expected;
    } cases[] = {
        {u"neu"_s, t.Path(u"neu"_s)},
        {u"da"_s, t.Path(u"da"_s)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        Dialogs::FolderPicker picker(nullptr, u"Wählen"_s, t.Path(u"neu/tiefer"_s));
        EXPECT_EQ(QDir(picker.directory()).absolutePath(), t.Path());
        picker.show();
        picker.selectFile(c.typed);
        picker.accept();
        EXPECT_EQ(picker.result(), QDialog::Accepted);
        EXPECT_EQ(picker.Folder(), c.expected);
    }
}

// A session end closes the questions open at the time, innermost first, and every question
// after it is answered at once without a window, whatever a test queued.
TEST_F(DialogsTest, ASessionEndClosesTheOpenQuestionsAndAnswersEveryLaterOneAtOnce) {
    Dialogs::SetTestMode(false);
    QDialog outer;
    outer.setObjectName(u"outer"_s);
    int inner = -1, later = -1;
    QTimer::singleShot(0, &outer, [&] {
        inner = Dialogs::MessageDlg(u"Wirklich?"_s, Dialogs::Kind::Confirmation,
                                    Dialogs::Yes | Dialogs::No);
        later = Dialogs::MessageDlg(u"Und?"_s, Dialogs::Kind::Warning, Dialogs::Ok);
    });
    QTimer ending;
    QObject::connect(&ending, &QTimer::timeout, [] {
        if (qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) Dialogs::EndSession();
    });
    ending.start(10);
    EXPECT_EQ(Dialogs::Exec(outer), QDialog::Rejected);
    EXPECT_EQ(inner, Dialogs::None);
    EXPECT_EQ(later, Dialogs::None);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    Dialogs::SetTestMode(true);
    Dialogs::SetNextAnswer(Dialogs::Yes);
    Dialogs::SetNextDirectory(u"/ziel"_s);
    EXPECT_EQ(Dialogs::MessageDlg(u"Drei?"_s, Dialogs::Kind::Confirmation, Dialogs::Yes),
              Dialogs::None);
    EXPECT_EQ(Dialogs::BrowseForFolder(nullptr, u"Ordner"_s, {}), QString());
    EXPECT_EQ(Dialogs::Exec(outer), QDialog::Rejected);
    EXPECT_EQ(Dialogs::PendingAnswers(), 2);
    EXPECT_TRUE(Dialogs::AskedLog().isEmpty());
}

// The pickers open with the focus in their name field: a name typed at once lands there.
TEST_F(DialogsTest, PickersOpenWithTheFocusInTheirNameField) {
    TestFolder t;
    Dialogs::SetTestMode(false);
    QString typed;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!picker) return;
        QTest::keyClick(picker->windowHandle(), 'x');
        auto* name = picker->findChild<QLineEdit*>(u"fileNameEdit"_s);
        typed = name ? name->text() : u"(no name field)"_s;
        picker->reject();
    });
    user.start(10);
    const struct {
        const char* what;
        std::function<void()> open;
    } cases[] = {
        {"folder", [&] { Dialogs::BrowseForFolder(nullptr, u"Ordner"_s, t.Path()); }},
        {"save", [&] { Dialogs::SaveFileName(nullptr, u"Datei"_s, u"*.Zip"_s, t.Path()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        typed.clear();
        c.open();
        EXPECT_EQ(typed, u"x");
    }
}

} // namespace
