#include "ZorvaneMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "About.h"
#include "Clock.h"
#include "Dialogs.h"
#include "IniFile.h"
#include "Registry.h"
#include "SessionEnd.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "Tray.h"
#include "WindowFit.h"
#include "ZipComponent.h"
#include "fCount.h"
#include "fTime.h"
#include "filterform.h"
#include "fzPw.h"
#include "histform.h"
#include "lang.h"
#include "uRestore.h"

namespace {
void setHintColour() {
    QPalette p = QToolTip::palette();
    p.setColor(QPalette::ToolTipBase, QColor(0, 255, 255));
    p.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(p);
}

// Hints stay up long enough to read the longer ones; Qt keeps the time per widget.
void setHintPause(QWidget* window) {
    window->setToolTipDuration(15000);
    const auto widgets = window->findChildren<QWidget*>();
    for (QWidget* w : widgets)
        w->setToolTipDuration(15000);
}
} // namespace

Tmain::Tmain(QStringList args, QWidget* parent) : QMainWindow(parent), Args(std::move(args)) {
    StartFolder = QDir::currentPath();
    zip = std::make_unique<TZipComponent>();
    buildWindow();
    buildTray();
    fRestore = new TfRestore(language_, this);
    CreateDialogs();
    connectControls();
    KeepWindowsOnScreen();
    // A failure skips the rest of the creation sequence; the user sees why.
    Guarded([this] { FormCreate(); });
    // The stored language from the start: a program started into the tray runs, logs and shows
    // balloons long before its window is first activated (which applies the language again).
    TakeListLanguage();
    ApplyLanguage();
}

Tmain::~Tmain() {
    SessionEnd::SetHandler(nullptr);
    FormDestroy();
}

Tmain::StateView Tmain::State() const {
    return {.ProgDir = ProgDir,
            .DataDir = DataDir,
            .Doing = activity_,
            .Kind = runKind_,
            .Busy = RunsUnderWay(),
            .Modified = Modified,
            .AutoStart = AutoStart,
            .ExitConfirmed = ExitConfirmed,
            .SessionEnding = SessionEnding,
            .AbortRequested = AbortRequested,
            .DebugMode = DebugMode,
            .ReloadPending = ReloadPending,
            .TotalBytes = TotalBytes,
            .DoneBytes = DoneBytes,
            .ProgressScale = ProgressScale,
            .SpinnerPosition = staTag,
            .LightColour = staColour,
            .LastBalloonTitle = LastBalloonTitle,
            .LastBalloonText = LastBalloonText,
            .BalloonsShown = balloonsShown_};
}

bool Tmain::RunsUnderWay() const {
    return activity_ == Activity::Series || activity_ == Activity::Run ||
           activity_ == Activity::Committed;
}

Tmain::ActivityScope::ActivityScope(Tmain& window, Activity activity, RunKind kind)
    : window_(window), previous_(window.activity_), previousKind_(window.runKind_) {
    // Anything starts from Idle; an action's run also as a step of the series of its kind.
    const bool step =
        activity == Activity::Run && previous_ == Activity::Series && previousKind_ == kind;
    if (previous_ != Activity::Idle && !step) return;
    // The tick's state is the tick's to end: a scheduled run hands the window back to it.
    if (activity == Activity::Run && kind == RunKind::Scheduled) {
        previous_ = Activity::Series;
        previousKind_ = RunKind::Scheduled;
    }
    window_.activity_ = activity;
    window_.runKind_ = kind;
    entered_ = true;
}

void Tmain::ActivityScope::Leave() {
    if (!entered_) return;
    entered_ = false;
    window_.activity_ = previous_;
    window_.runKind_ = previousKind_;
}

void Tmain::EnterCommitted() {
    if (activity_ == Activity::Run) activity_ = Activity::Committed;
}

QIcon Tmain::AppIcon() {
    return QIcon(QStringLiteral(":/icons/zorvane2.svg"));
}

void Tmain::KeepWindowsOnScreen() {
    using WindowFit::Placement;
    WindowFit::Keep(this, Placement::Keep);
    for (QWidget* d :
         std::initializer_list<QWidget*>{TimeWin, countWin, filterWin, fHist, fPw, fRestore})
        WindowFit::Keep(d, Placement::CentreOnParent);
    WindowFit::Keep(AboutBox, Placement::CentreOnScreen);
}

// ---------------------------------------------------------------- log memo

void Tmain::LogLine(const QString& line) {
    Memo1->appendPlainText(line);
    // A long line must not leave the view scrolled to the right for the lines that follow.
    Memo1->horizontalScrollBar()->setValue(0);
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

int Tmain::LogLineCount() const {
    if (Memo1->document()->isEmpty()) return 0;
    return Memo1->document()->blockCount();
}

QStringList Tmain::LogLines() const {
    if (Memo1->document()->isEmpty()) return {};
    return Memo1->toPlainText().split(u'\n');
}

// ---------------------------------------------------------------- life cycle

void Tmain::FormCreate() {
    FilterList.clear();
    SessionEnding = false;
    ExitConfirmed = false;
    sg->SetColWidth(colActionNumber, -1);

    ProgDir = ShellFolders::IncludeTrailingPathDelimiter(ShellFolders::ProgramFolder());
    HistDir = ShellFolders::WritableProgramFolder(QStringLiteral("Zorvane2"));
    DataDir = DataFolder();

    LoadSettings();
    setHintPause(this);
    setHintColour();
    ReadLayout();
    AutoStart = false;

    QFile hist(HistoryFileName());
    QString problem;
    if (hist.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = hist.readAll();
        if (hist.error() != QFileDevice::NoError) {
            problem = hist.errorString();
        } else {
            const QString text = HistoryText(bytes);
            if (!text.isEmpty()) Memo1->setPlainText(text);
        }
    } else {
        // Only a missing file starts an empty history; a link to nowhere counts as there.
        struct stat st {};
        if (::lstat(QFile::encodeName(HistoryFileName()).constData(), &st) == 0 ||
            (errno != ENOENT && errno != ENOTDIR))
            problem = hist.errorString();
    }
    historyRead_ = problem.isEmpty();
    if (!historyRead_)
        LogLine(QStringLiteral("History ") + HistoryFileName() +
                QStringLiteral(" kann nicht gelesen werden (") + problem +
                QStringLiteral("), sie bleibt unverändert"));

    SetStatus(Tx(txGestartet) + TextFormats::FormatDateTime(Clock::Now()));
    if (!Args.isEmpty() && Args.first() == QStringLiteral("auto")) AutoStart = true;
    btnTimer->setChecked(true);
    SaveHistory();
    btnIupdate->setEnabled(
        !ShellFolders::FindProgramFile(ProgDir, QStringLiteral("KelvoIUpdate.exe")).isEmpty());
}

QString Tmain::DataFolder() {
    const QString progDir =
        ShellFolders::IncludeTrailingPathDelimiter(ShellFolders::ProgramFolder());
    QString data;
    try {
        data = Registry::ReadString(RegRoot::CurrentUser,
                                    QStringLiteral("software\\microsoft\\windows\\currentversion\\"
                                                   "explorer\\shell folders"),
                                    QStringLiteral("appdata"))
                   .value_or(QString());
        if (data.isEmpty()) data = ShellFolders::Folder(QStringLiteral("appdata"));
        // The per-user folder always exists on the original platform; here it may not yet.
        if (!data.isEmpty() && !QDir().mkpath(data)) data.clear();
    } catch (const std::exception&) {
        data.clear();
    }
    return data.isEmpty() ? progDir : ShellFolders::IncludeTrailingPathDelimiter(data);
}

void Tmain::FormShow() {
    // The close shows a minimised window once more; the scheduler stays off from then on, as
    // it does once the hand-over has begun.
    if (!Leaving()) Timer2->start();
    setHintColour();
}

void Tmain::FormActivate() {
    QCoreApplication::processEvents();
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
    cbSperr->update();
    QCoreApplication::processEvents();
    Panel2->setAutoFillBackground(!Panel2->autoFillBackground());
    QCoreApplication::processEvents();
    // Here the window is also activated when the user switches between programs; clearing the
    // modified flag then would drop unsaved changes without the close question. So the
    // language is applied and the settings counted unchanged at the first activation only.
    if (activatedOnce_) return;
    activatedOnce_ = true;
    cbLangChange(nullptr);
    SetModified(false);
}

void Tmain::ZorvaneCloseClick() {
    if (Dialogs::MessageDlg(Tx(txWirklichBeenden), Dialogs::Kind::Warning,
                            Dialogs::Yes | Dialogs::No) == Dialogs::Yes) {
        ExitConfirmed = true;
        close();
    }
}

bool Tmain::FormCloseQuery() {
    if (SessionEnding) {
        try {
            saveIniExecute(saveIni);
        } catch (const std::exception& e) {
            SessionEndFailure(QString::fromUtf8(e.what()));
        }
        return true;
    }
    const bool canClose = ExitConfirmed;
    if (Modified) {
        const int answer = Dialogs::MessageDlg(DiscardChangesText(), Dialogs::Kind::Confirmation,
                                               Dialogs::Yes | Dialogs::No | Dialogs::Cancel);
        // The session ended while the question was open (it was closed for it): everything is
        // saved without asking, and the close goes ahead.
        if (SessionEnding) return FormCloseQuery();
        if (answer == Dialogs::Cancel) return canClose;
        if (answer == Dialogs::Yes) {
            if (!canClose) {
                SetModified(false);
                loadIniExecute(loadIni);
            }
        } else if (answer == Dialogs::No) {
            saveIniExecute(saveIni);
        }
    }
    if (!canClose) HideToTray();
    return canClose;
}

void Tmain::FormClose() {
    if (isMinimized()) showNormal();
    SetStatus(Tx(txWirdBeendet) + u' ' + TextFormats::FormatDateTime(Clock::Now()));
    try {
        saveIniExecute(nullptr);
    } catch (const std::exception& e) {
        CloseFailure(QString::fromUtf8(e.what()));
    }
    SaveHistory();
}

void Tmain::CloseFailure(const QString& text) {
    if (SessionEnding)
        SessionEndFailure(text);
    else
        Dialogs::ShowError(text);
}

void Tmain::SessionEndFailure(const QString& text) {
    // Nobody may be there to click a box, and a box would hold up the logoff.
    LogLine(text);
    std::fprintf(stderr, "Zorvane2: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Tmain::FormDestroy() {
    if (Timer2) Timer2->stop();
    zip.reset();
    FilterList.clear();
}

void Tmain::CommitDataRequest() {
    // A second request means the first did not get the program to its end: it ends now.
    const bool again = sessionEndAsked_;
    sessionEndAsked_ = true;
    SessionEnding = true;
    // Every question or dialog open now gives way, and none opens any more: nobody may be
    // there to answer, and the end must not wait for an answer.
    Dialogs::EndSession();
    // A run or restore under way is stopped as by its abort button, so the session is not
    // kept waiting; its old archive or files stay as they were.
    if (btnAbort->isVisible()) btnAbort->click();
    if (!again) {
        const QDateTime now = Clock::Now();
        // Date and time also at midnight.
        LogLine(Tx(txBenutzerAbmeldung) + TextFormats::FormatDate(now.date()) + u' ' +
                TextFormats::FormatTime(now.time()));
    }
    if (Closing()) {
        // Saved and closed already; only the message loops below are still to end.
        QCoreApplication::quit();
        return;
    }
    if (again) {
        FinishSessionEnd();
        return;
    }
    close();
    if (Closing()) return;
    // A close request of the user's is on the stack below (its question was closed just now,
    // and it finishes the session end as it returns), or something refused the close. The
    // close is tried once more from the message loop and, failing that, done without it.
    QTimer::singleShot(0, this, [this] {
        if (!Closing()) close();
    });
    QTimer::singleShot(SessionEndGraceMs, this, [this] { FinishSessionEnd(); });
}

void Tmain::FinishSessionEnd() {
    if (Closing()) {
        QCoreApplication::quit();
        return;
    }
    try {
        saveIniExecute(saveIni);
    } catch (const std::exception& e) {
        SessionEndFailure(QString::fromUtf8(e.what()));
    }
    CloseDown();
    hide();
}

void Tmain::TrayDblClick() {
    showNormal();
    setVisible(true);
    raise();
    activateWindow();
}

void Tmain::HideToTray() {
    if (Tray::Available())
        hide();
    else if (!isMinimized())
        showMinimized(); // no tray icon to come back through: the task bar keeps the window
}

bool Tmain::HiddenInTray() const {
    return !isVisible() || isMinimized();
}

void Tmain::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    if (key == Qt::Key_D && (shift & Qt::ShiftModifier) && (shift & Qt::ControlModifier))
        DebugMode = !DebugMode;
    const auto acts = ToolBar1->actions();
    for (QAction* a : acts)
        if (a->objectName() == QStringLiteral("cbDebugAction")) a->setVisible(DebugMode);
    cbDebug->setVisible(DebugMode);
}

// ---------------------------------------------------------------- Qt events

void Tmain::closeEvent(QCloseEvent* e) {
    if (Closing()) {
        e->accept();
        return;
    }
    bool canClose = false;
    try {
        canClose = FormCloseQuery();
    } catch (const std::exception& ex) {
        CloseFailure(QString::fromUtf8(ex.what()));
        // A failed save must not keep a logoff or a confirmed exit from ending the program.
        canClose = SessionEnding || ExitConfirmed;
    }
    if (!canClose) {
        e->ignore();
        return;
    }
    e->accept();
    // A session end that could not wait for this close has done it already.
    if (Closing()) return;
    CloseDown();
}

void Tmain::CloseDown() {
    ending_ = Ending::Closing;
    // No scheduled run may start inside the close, which pumps messages.
    Timer2->stop();
    // A run or restore under way (the close came from inside it) stops as by its abort button;
    // its old archive or files stay as they were.
    if (btnAbort->isVisible()) btnAbort->click();
    FormClose();
    tray->hide();
    // Without a running message loop (a logoff during start-up) this does nothing; the program
    // block then does not enter the loop at all.
    QCoreApplication::quit();
}

void Tmain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    FormShow();
}

void Tmain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) {
        FormActivate();
    } else if (e->type() == QEvent::WindowStateChange && isMinimized() && Tray::Available()) {
        // Minimise to tray: only the tray icon stays.
        QTimer::singleShot(0, this, [this] { HideToTray(); });
    }
}

bool Tmain::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1 &&
        qobject_cast<QWidget*>(watched)) {
        // Help from any of the program's windows; taken here, so it is asked for once.
        ShowHelp();
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        // An unhandled key travels up to the parents and passes this filter at each step;
        // it must count once.
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(e);
        if (w && w->window() == this && (e != lastKey_ || k->key() != lastKeyCode_)) {
            lastKey_ = e;
            lastKeyCode_ = k->key();
            FormKeyDown(k->key(), k->modifiers());
        }
    } else if (e->type() == QEvent::KeyRelease) {
        lastKey_ = nullptr;
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---------------------------------------------------------------- shared routines

void Tmain::SpinnerStep() {
    switch (staTag) {
    case 0:
        staTag = 1;
        sta->setText(QStringLiteral("\\"));
        break;
    case 1:
        staTag = 2;
        sta->setText(QStringLiteral("|"));
        break;
    case 2:
        staTag = 3;
        sta->setText(QStringLiteral("/"));
        break;
    case 3:
        staTag = 0;
        sta->setText(QStringLiteral("---"));
        break;
    default:
        break;
    }
}

void Tmain::SetStatus(const QString& Text) {
    SpinnerStep();
    if (!Text.startsWith(u' ')) LogLine(QStringLiteral("  - ") + Text);
    const QString ready = Tx(txBereit);
    Status->setText(Text.startsWith(ready) ? ready : Text);
    QCoreApplication::processEvents();
}

void Tmain::SetModified(bool Value) {
    Modified = Value;
    // A reload still waiting for a run to end must not throw away changes made after it was
    // asked for; the close question will ask about them.
    if (Value) ReloadPending = false;
    loadIni->setEnabled(Value);
    saveIni->setEnabled(Value);
}
