#pragma once
// Every modal question of the programs goes through here: message boxes, the folder picker,
// the save dialog and the programs' own dialogs. A test queues the answers the user would give;
// with test mode on, a question nobody answered is recorded and answered with None, so a test
// can never hang on a hidden modal window.
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDialog;
class QLocale;
class QTranslator;
class QWidget;

namespace Dialogs {

enum class Kind { Warning, Error, Information, Confirmation };

// Buttons, combinable; also the answers (None: closed without a button, or nobody answered).
enum Button : int {
    None = 0,
    Yes = 1 << 0,
    No = 1 << 1,
    Ok = 1 << 2,
    Cancel = 1 << 3,
    Abort = 1 << 4,
    Retry = 1 << 5,
    Ignore = 1 << 6,
};

// A message box with the class library's German titles ("Warnung", "Fehler", "Informationen",
// "Bestätigung") and buttons ("&Ja", "&Nein", ...) in both languages. Returns the pressed button.
int MessageDlg(const QString& text, Kind kind, int buttons);
// A plain message without icon and with one OK button, captioned with the given text or, when
// that is empty, the application's name.
void ShowMessage(const QString& text, const QString& caption = QString());
// The application's standard error box for an error that reached the top of a handler.
void ShowError(const QString& text);
// Folder picker; returns the chosen folder or "" when cancelled.
QString BrowseForFolder(QWidget* parent, const QString& title, const QString& start);
// Save dialog; returns the chosen file or "" when cancelled.
QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                     const QString& start);
// Shows one of the programs' own dialogs modally; returns its result (QDialog::Accepted, ...).
int Exec(QDialog& dialog);
// The session ends (logoff, shutdown): every question and dialog open now is closed as if
// without a button (message boxes answer None, pickers "", dialogs Rejected), and from now on
// none is shown any more and each is answered so at once, so nothing holds up the end.
void EndSession();
bool SessionEnded();
// Installs Qt's own texts for the locale, so the pickers speak the desktop's language; they stay
// installed while the result lives. Nothing when Qt has no translation for that language.
std::unique_ptr<QTranslator> LoadPlatformTranslations(const QLocale& locale);

// ---- test seam ----
struct Asked {
    QString what; // "message", "show", "error", "folder", "save", "dialog"
    QString text; // the question, title or dialog's object name
    bool answered;
};
void SetTestMode(bool on);
void SetNextAnswer(int button);
void SetNextDirectory(const QString& folder);
void SetNextFileName(const QString& file);
// The next Exec runs this on the dialog (to fill its fields) and returns its result.
void SetNextDialog(std::function<int(QDialog&)> handler);
const QList<Asked>& AskedLog();
int PendingAnswers();
// Also forgets a session end.
void ResetTestState();

} // namespace Dialogs
