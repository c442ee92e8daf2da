#include "Dialogs.h"

#include <QDir>
#include <QFileInfo>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include <deque>
#include <optional>

#include "FolderPicker.h"

namespace Dialogs {
namespace {

struct TestState {
    bool testMode = false;
    bool sessionEnded = false;
    std::deque<int> answers;
    std::deque<QString> directories;
    std::deque<QString> fileNames;
    std::deque<std::function<int(QDialog&)>> dialogHandlers;
    QList<Asked> log;
};

TestState& state() {
    static TestState s;
    return s;
}

// Takes the next queued answer if there is one. Questions are logged while testing and
// whenever a queued answer was used, so a scripted run can check what it answered.
template <typename T>
std::optional<T> takeAnswer(std::deque<T>& queue, const QString& what, const QString& text) {
    TestState& s = state();
    std::optional<T> answer;
    if (!queue.empty()) {
        answer = std::move(queue.front());
        queue.pop_front();
    }
    if (s.testMode || answer) s.log.append(Asked{what, text, answer.has_value()});
    return answer;
}

struct ButtonInfo {
    Button button;
    const char* text;
    QMessageBox::ButtonRole role;
};

// In the order the boxes show them.
constexpr ButtonInfo ButtonTable[] = {
    {Yes, "&Ja", QMessageBox::YesRole},
    {No, "&Nein", QMessageBox::NoRole},
    {Ok, "OK", QMessageBox::AcceptRole},
    {Cancel, "Abbrechen", QMessageBox::RejectRole},
    {Abort, "&Abbrechen", QMessageBox::RejectRole},
    {Retry, "&Wiederholen", QMessageBox::ActionRole},
    {Ignore, "&Ignorieren", QMessageBox::ActionRole},
};

QString titleOf(Kind kind) {
    switch (kind) {
    case Kind::Warning:
        return QStringLiteral("Warnung");
    case Kind::Error:
        return QStringLiteral("Fehler");
    case Kind::Information:
        return QStringLiteral("Informationen");
    case Kind::Confirmation:
        return QStringLiteral("Bestätigung");
    }
    return QString();
}

QMessageBox::Icon iconOf(Kind kind) {
    switch (kind) {
    case Kind::Warning:
        return QMessageBox::Warning;
    case Kind::Error:
        return QMessageBox::Critical;
    case Kind::Information:
        return QMessageBox::Information;
    case Kind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

int showBox(const QString& text, Kind kind, int buttons) {
    if ((buttons & 0x7F) == 0) buttons = Ok;
    QMessageBox box(iconOf(kind), titleOf(kind), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QList<std::pair<QAbstractButton*, Button>> shown;
    for (const ButtonInfo& info : ButtonTable) {
        if (buttons & info.button)
            shown.append({box.addButton(QString::fromUtf8(info.text), info.role), info.button});
    }
    const auto find = [&](Button b) -> QAbstractButton* {
        for (const auto& [widget, button] : shown) {
            if (button == b) return widget;
        }
        return nullptr;
    };
    // Enter takes OK (else Yes); Escape takes Cancel, else No, else OK.
    QAbstractButton* def = find(Ok) ? find(Ok) : find(Yes);
    if (auto* push = qobject_cast<QPushButton*>(def)) box.setDefaultButton(push);
    QAbstractButton* esc = find(Cancel) ? find(Cancel) : find(No) ? find(No) : find(Ok);
    if (esc) box.setEscapeButton(esc);
    box.exec();
    for (const auto& [widget, button] : shown) {
        if (widget == box.clickedButton()) return button;
    }
    return None;
}

// Accepts the Windows filter form "ZIP-Dateien|*.zip|Alle|*.*" as well as Qt's own.
QString qtFilter(const QString& filter) {
    if (!filter.contains(u'|') || filter.contains(QStringLiteral(";;"))) return filter;
    const QStringList pieces = filter.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        QString patterns = pieces[i + 1];
        patterns.replace(u';', u' ');
        out.append(pieces[i] + QStringLiteral(" (") + patterns + u')');
    }
    return out.join(QStringLiteral(";;"));
}

} // namespace

FolderPicker::FolderPicker(QWidget* parent, const QString& title, const QString& start)
    : QFileDialog(parent, title) {
    // The platform's own picker cannot be taught to take a new name.
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    // Open at the nearest folder that exists, the start itself being a new folder perhaps.
    QString at = start.isEmpty() ? QDir::currentPath() : QDir::cleanPath(start);
    while (!QFileInfo(at).isDir() && QFileInfo(at).absolutePath() != at)
        at = QFileInfo(at).absolutePath();
    setDirectory(at);
}

void FolderPicker::accept() {
    const QStringList chosen = selectedFiles();
    const QString first = chosen.value(0);
    if (chosen.size() == 1 && !first.isEmpty() && !QFileInfo::exists(first)) {
        // A new folder: no "Directory not found" for it.
        folder_ = QDir::cleanPath(first);
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
    if (result() == QDialog::Accepted) folder_ = selectedFiles().value(0);
}

int MessageDlg(const QString& text, Kind kind, int buttons) {
    if (state().sessionEnded) return None;
    if (const auto answer = takeAnswer(state().answers, QStringLiteral("message"), text))
        return *answer;
    if (state().testMode) return None;
    return showBox(text, kind, buttons);
}

// Needs no answer either, so it is only recorded while testing.
void ShowMessage(const QString& text, const QString& caption) {
    if (state().sessionEnded) return;
    if (state().testMode) {
        state().log.append(Asked{QStringLiteral("show"), text, true});
        return;
    }
    QMessageBox box(QMessageBox::NoIcon,
                    caption.isEmpty() ? QCoreApplication::applicationName() : caption, text,
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

// An error box needs no answer, so it is only recorded while testing.
void ShowError(const QString& text) {
    if (state().sessionEnded) return;
    if (state().testMode) {
        state().log.append(Asked{QStringLiteral("error"), text, true});
        return;
    }
    showBox(text, Kind::Error, Ok);
}

QString BrowseForFolder(QWidget* parent, const QString& title, const QString& start) {
    if (state().sessionEnded) return QString();
    if (const auto answer = takeAnswer(state().directories, QStringLiteral("folder"), title))
        return *answer;
    if (state().testMode) return QString();
    FolderPicker picker(parent, title, start);
    return picker.exec() == QDialog::Accepted ? picker.Folder() : QString();
}

QString SaveFileName(QWidget* parent, const QString& title, const QString& filter,
                     const QString& start) {
    if (state().sessionEnded) return QString();
    if (const auto answer = takeAnswer(state().fileNames, QStringLiteral("save"), title))
        return *answer;
    if (state().testMode) return QString();
    return QFileDialog::getSaveFileName(parent, title, start, qtFilter(filter));
}

int Exec(QDialog& dialog) {
    if (state().sessionEnded) return QDialog::Rejected;
    if (const auto handler =
            takeAnswer(state().dialogHandlers, QStringLiteral("dialog"), dialog.objectName()))
        return (*handler)(dialog);
    if (state().testMode) return QDialog::Rejected;
    return dialog.exec();
}

void EndSession() {
    state().sessionEnded = true;
    // Innermost first: each one closed lets the one below it come to the top.
    for (int i = 0; i < 64; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) break;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        if (modal->isVisible()) modal->hide();
    }
    // A menu open at the time (the tray's) would keep its own loop going.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
        if (QApplication::activePopupWidget() == popup) break;
    }
}

bool SessionEnded() {
    return state().sessionEnded;
}

std::unique_ptr<QTranslator> LoadPlatformTranslations(const QLocale& locale) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

void SetTestMode(bool on) {
    state().testMode = on;
}

void SetNextAnswer(int button) {
    state().answers.push_back(button);
}

void SetNextDirectory(const QString& folder) {
    state().directories.push_back(folder);
}

void SetNextFileName(const QString& file) {
    state().fileNames.push_back(file);
}

void SetNextDialog(std::function<int(QDialog&)> handler) {
    state().dialogHandlers.push_back(std::move(handler));
}

const QList<Asked>& AskedLog() {
    return state().log;
}

int PendingAnswers() {
    const TestState& s = state();
    return int(s.answers.size() + s.directories.size() + s.fileNames.size() +
               s.dialogHandlers.size());
}

void ResetTestState() {
    TestState& s = state();
    s.sessionEnded = false;
    s.answers.clear();
    s.directories.clear();
    s.fileNames.clear();
    s.dialogHandlers.clear();
    s.log.clear();
}

} // namespace Dialogs
