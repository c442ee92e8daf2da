#pragma once
// The main window of the backup program: its controls, the state its handlers share, and the
// handlers themselves. The handlers are spread over ZorvaneMain*.cpp by area.
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "ActionStore.h"
#include "BackupJob.h"
#include "EventPacer.h"
#include "Filter.h"
#include "Schedule.h"
#include "lang.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimeEdit;
class QTimer;
class QToolBar;
class QToolButton;
class QWidget;
class TSortGrid;
struct TSortOptions;
class QPainter;
class QRect;
class TZipComponent;
struct TZMProgressDetails;
enum class TZMMessageKind;
class TfRestore;
class IniFile;
// ---- dialogs of the editing commands ----
class TTimeWin;
class TcountWin;
class TAboutBox;
class TfilterWin;
class TfHist;
class TfPw;

class Tmain : public QMainWindow {
    Q_OBJECT
public:
    explicit Tmain(QStringList args, QWidget* parent = nullptr);
    ~Tmain() override;

    // How a run came about: the log line names it; the scheduler's tick and "Gesamt Backup" run
    // their actions one after the other.
    enum class RunKind { Scheduled, Selected, All };
    // What the window is doing. Runs, restores and ticks process messages, so a handler reached
    // meanwhile asks this before it starts anything of its own.
    enum class Activity {
        Idle,
        Series,    // the tick or "Gesamt Backup", outside the run of one of its actions
        Run,       // one action's run, its archive not yet in place
        Committed, // the run's archive has taken the target's place (or it found nothing)
        Restore,   // the restore dialog is open or extracting
    };

    // Patterns of the filter dialog, shared with it; a run keeps its own.
    QStringList FilterList;
    bool FilterInclude = false;

    // The window's state as tests and the other windows see it.
    struct StateView {
        QString ProgDir; // with trailing separator
        QString DataDir; // with trailing separator
        Activity Doing;
        RunKind Kind; // of the run or series under way
        bool Busy;    // a run, the tick or "Gesamt Backup" is under way
        bool Modified, AutoStart, ExitConfirmed, SessionEnding, AbortRequested, DebugMode;
        bool ReloadPending;
        // The progress bar's base: bytes to do, bytes done before the item under way, bytes
        // per bar step.
        qint64 TotalBytes, DoneBytes, ProgressScale;
        int SpinnerPosition; // the status light's tag
        QColor LightColour;  // the status light
        QString LastBalloonTitle, LastBalloonText;
        int BalloonsShown;
    };
    StateView State() const;

    // The program's own picture, for its windows and the tray.
    static QIcon AppIcon();
    // The ZIP component the runs write through.
    TZipComponent& Zip() { return *zip; }

    // Writes one event to the status line and the log, steps the spinner and keeps the window
    // alive.
    void SetStatus(const QString& Text);
    // Sets the modified flag together with the enabled state of the load and save buttons.
    void SetModified(bool Value);

    // ---- log memo ----
    void LogLine(const QString& line); // appends one line to Memo1
    int LogLineCount() const;
    QStringList LogLines() const;

    // ---- start-up, window and shut-down ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    bool FormCloseQuery(); // returns CanClose
    void FormClose();
    void FormDestroy();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void ZorvaneCloseClick();
    void TrayDblClick();
    void CommitDataRequest(); // the logoff or shutdown query
    // How long a session end waits for a close request under way before it closes without.
    static constexpr int SessionEndGraceMs = 500;
    // A save that failed while the session ends: to the log and to standard error, no box.
    void SessionEndFailure(const QString& text);
    void HideToTray(); // "minimise the application"
    bool HiddenInTray() const;
    // The close has gone ahead; nothing may restart the scheduler from here on.
    bool Closing() const { return ending_ == Ending::Closing; }
    QString SettingsFileName() const { return DataDir + SettingsFileTitle(); }
    static QString SettingsFileTitle() { return QStringLiteral("Zorvane2.ini"); }
    // The settings folder (with trailing separator) as the creation finds it.
    static QString DataFolder();
    QString HistoryFileName() const { return HistDir + QStringLiteral("Zorvane.hist"); }

    // ---- settings and the action table ----
    void LoadSettings();
    void ReadLayout(); // the start-up layout read
    void saveIniExecute(QObject* Sender);
    void loadIniExecute(QObject* Sender);
    void sgClick(QObject* Sender);
    void sgClickSort(int Col, int Row, TSortOptions& SortOptions);
    void sgBeginSort(int Col, TSortOptions& SortOptions);
    void sgDrawCell(QPainter& Canvas, int ACol, int ARow, const QRect& Rect);
    // Binds the grid's click, painting and sort events to the handlers above.
    void ConnectGrid();
    bool RunOrRestoreUnderWay() const { return activity_ != Activity::Idle; }
    // Carries out a waiting reload once nothing is under way; reports a failure itself.
    void ReloadIfPending();
    // The window's actions, one per data row of the grid and in its order: row r shows
    // GridActions()[r - 1]. The grid is filled from them, and every change goes through the
    // routines below, which change the action and its row together.
    const QList<BackupAction>& GridActions() const { return actions_; }
    // Replaces the actions and fills the grid with them; no action leaves one empty row.
    void SetGridActions(QList<BackupAction> actions);
    // The action of a data row (from 1); an empty one for any other row.
    const BackupAction& ActionAt(int row) const;
    // One field of a row's action, shown in its cell; the rows grow to reach it.
    void SetActionField(int col, int row, const QString& text);
    // A row's action as a whole: each field that differs, as SetActionField writes it.
    void SetAction(int row, const BackupAction& action);
    // As many actions as the grid has data rows for this count (header row included); new ones
    // are empty.
    void SetGridRowCount(int rows);
    void RemoveActionRow(int row);

    // ---- filter and history ----
    bool FilterOK(const QString& name) const;
    void SaveHistory();
    // The log lines of a history file's bytes, a line beyond a sane length cut with a mark.
    static QString HistoryText(const QByteArray& bytes);

    // ---- backup run ----
    void backupSelectedExecute(RunKind kind);
    void backupAllExecute();
    // One run of an action through the backup job; its events go to the status line, the
    // progress bar and the log.
    BackupOutcome BackupOne(const QString& Source, const QString& Target, const QString& FilterText,
                            const QString& Password);
    // A completed run's count, bytes, archive size, duration and time into its row.
    void WriteRunResults(int row, const BackupOutcome& outcome, const QDateTime& start);
    // The run's scan; sets the progress bar's range.
    void ScanSource(BackupJob& job);
    // The run's add phase.
    void AddTree(BackupJob& job);
    void btnAbortClick();
    void zipProgress(const TZMProgressDetails& Details);
    // The status line and bar for one report, without a pass of the messages.
    void showProgress(const TZMProgressDetails& Details, qint64 done);
    // The run's reports, several per file. The bar paints itself at once whenever it moves by
    // a step and a new status line is laid out, so both are set only at the window's passes,
    // with the file and position of that moment; showRunProgress sets what is left.
    void runProgress(const TZMProgressDetails& d, qint64 done);
    void showRunProgress();
    // A component message: a problem goes to the log, the notes beside the progress do not.
    void zipMessage(TZMMessageKind Kind, const QString& ErrMsg);
    // Disables "Backup", "Gesamt Backup" and restore while a run or restore is under way;
    // calls nest, the last enable restores the states the first disable found.
    void RunCommandsEnabled(bool enable);
    bool RunCommandsLocked() const { return runCommandsDisabled_ > 0; }
    // While locked, the row commands' states are remembered here and applied at the end.
    void RememberRowCommands(bool qualifies) { savedPackOne_ = savedRestore_ = qualifies; }
    // "Gesamt Backup" on or off, or remembered for the end while locked.
    void SetPackAllEnabled(bool enable);

    // ---- scheduler ----
    void Timer2Timer();
    void sperrVonChange();
    void sperrBisChange();
    void cbSperrClick();
    void SpinnerStep();
    void SetStaColour(const QColor& colour);
    // A warning balloon of the tray icon, kept for a look afterwards.
    void ShowBalloon(const QString& title, const QString& text);
    // One row's turn in a tick and its parts.
    void ScheduleRow(int row, const ActionVerdict& verdict, int week, int month);
    void RunScheduledRow(int row, int week, int month);
    void ReportRowError(int row, const QString& title, const QString& text);

    // ---- restore ----
    void btnRestoreClick();

    // ---- editing commands and their dialogs (ZorvaneMainEdit.cpp) ----
    TTimeWin* TimeWin = nullptr;
    TcountWin* countWin = nullptr;
    TAboutBox* AboutBox = nullptr;
    TfilterWin* filterWin = nullptr;
    TfHist* fHist = nullptr;
    TfPw* fPw = nullptr;
    // The save dialog's last file name, offered again at its next use.
    QString SaveFileLast;
    // Creates the dialogs once; they keep their values between uses.
    void CreateDialogs();
    void NewAktionExecute(QObject* Sender);
    void delAktionExecute(QObject* Sender);
    // Opens the editor of the focused cell's column.
    void sgDblClick(QObject* Sender);
    void Memo1DblClick(QObject* Sender);
    void ToolButton13Click(QObject* Sender);
    void pKelvoClick(QObject* Sender);
    void EditCell(int col, int row);
    // The paths of one column over all data rows, made absolute for the duplicate checks.
    QStringList ColumnCells(int col) const;
    // Whether another action already backs up folder, or writes target or one of its archive
    // names (the archives of ownRow, when given, go with its new name); says so and puts the
    // focus on that action's cell.
    bool SourceTaken(const QString& folder);
    bool TargetTaken(const QString& target, int ownRow = 0);
    // Run-all and the automatic switch apply exactly when the first row holds an action.
    void UpdateRunAllSwitch();
    // ---- end of the editing commands ----

    // ---- language ----
    // The language the window, its dialogs and its runs produce their texts in.
    const TextLanguage& Language() const { return language_; }
    void cbLangChange(QObject* Sender);
    // Captions, hints and titles of the window and its dialogs, and the help file, in the
    // current language.
    void ApplyLanguage();
    // The language of the list's selection: anything but its first entry is English.
    void TakeListLanguage();
    void SetGridTitles();      // column titles in the current language
    void FitColumnsToTitles(); // widens the columns too narrow for their titles
    QString HelpFile() const { return helpFile_; }
    // F1: the help file of the language, opened with its program.
    void ShowHelp();

    // ---- hand-over to the updater ----
    void btnIupdateClick(QObject* Sender);
    // The hand-over's second half, once no run or restore is under way any more.
    void FinishHandover();
    // The updater's configuration is missing or unreadable: says so; the hand-over stops.
    bool HandoverRefused();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // ---- controls (tests find them by their object names) ----
    QToolBar* ToolBar1 = nullptr;
    QAction* loadIni = nullptr;
    QAction* saveIni = nullptr;
    QAction* NewAktion = nullptr;
    QAction* delAktion = nullptr;
    QAction* backupSelected = nullptr;
    QAction* backupAll = nullptr;
    QToolButton* btnLoadConf = nullptr;
    QToolButton* btnSaveConf = nullptr;
    QToolButton* btnNew = nullptr;
    QToolButton* btnDel = nullptr;
    QToolButton* btnPackOne = nullptr;
    QToolButton* btnPackAll = nullptr;
    QToolButton* btnRestore = nullptr;
    QToolButton* btnTimer = nullptr;
    QWidget* Panel2 = nullptr;
    QCheckBox* cbSperr = nullptr;
    QTimeEdit* sperrVon = nullptr;
    QLabel* Label1 = nullptr;
    QTimeEdit* sperrBis = nullptr;
    QToolButton* pKelvo = nullptr;
    QToolButton* btnIupdate = nullptr;
    QToolButton* ToolButton13 = nullptr;
    QComboBox* cbLang = nullptr;
    QToolButton* btnClose = nullptr;
    QCheckBox* cbDebug = nullptr;
    QWidget* Panel4 = nullptr;
    TSortGrid* sg = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Status = nullptr;
    QLabel* sta = nullptr;
    QProgressBar* pb = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* btnAbort = nullptr;
    QTimer* Timer2 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* ZorvaneClose = nullptr;
    QAction* zorvaneanzeigen1 = nullptr;
    QSystemTrayIcon* tray = nullptr;

    void buildWindow();
    // The window's parts, built in this order by buildWindow.
    void buildActions();
    void buildToolBar();
    void buildCommandButtons();
    void buildProgramControls();
    void buildBlockingPanel();
    void buildClientArea();
    QWidget* buildGridPanel(QWidget* parent);
    QWidget* buildStatusPanel(QWidget* parent);
    void buildTray();
    // Binds every control to its handler, in one place.
    void connectControls();
    // Runs a handler the user started: a failure reaches him through the error box.
    void Guarded(const std::function<void()>& handler);
    // A failure while the window closes: the error box, or the log while the session ends.
    void CloseFailure(const QString& text);
    // The close's own steps (closing line, layout and history save), once it goes ahead.
    void CloseDown();
    // The session end without the close request: full save, then the close's steps.
    void FinishSessionEnd();
    // The window and its dialogs stay inside the screen's free area whenever they are shown.
    void KeepWindowsOnScreen();
    // The focused row's run: its opening line, the run, its closing line and its results.
    void RunFocusedAction(RunKind kind);
    // The restore's steps: the dialog over the archive's generations, the extraction of what
    // it chose (with the abort button, the light and the grid showing it), the closing lines.
    void RestoreFrom(const QString& archive, const QString& password);
    void ExtractChosen();
    void ReportRestored(int count);
    // The first tick of a start with "auto" takes the window to the tray.
    void HideAtAutoStart();
    // The tick's rows from its first decision on: each judged row has its turn; after a run the
    // rows below it are judged again.
    void RunDueRows(ScheduleDecision decision, const BlockingWindow& window,
                    const QDateTime& present);
    // The folder and target editors: the cell's new text, or none when the choice was cancelled,
    // is the cell's own, or is taken by another action (said so).
    std::optional<QString> ChooseSource(const QString& cell);
    std::optional<QString> ChooseTarget(const QString& cell, int row);

    TextLanguage language_;
    // The window's own texts in its language.
    QString Tx(TextId index) const { return language_.Tx(index); }
    QString ByLanguage(const char* german, const char* english) const {
        return language_.ByLanguage(german, english);
    }
    QString DiscardChangesText() const { return language_.DiscardChangesText(); }

    // ---- what the window is doing ----
    Activity activity_ = Activity::Idle;
    RunKind runKind_ = RunKind::Selected;
    // The rows keep their places while a run, the tick or "Gesamt Backup" is under way: a run
    // writes its results into its row by number.
    bool RunsUnderWay() const;
    // Enters an activity for as long as it lives, if the window may start it now, and returns
    // to what it found when it ends, however that happens.
    class ActivityScope {
    public:
        ActivityScope(Tmain& window, Activity activity, RunKind kind = RunKind::Selected);
        ~ActivityScope() { Leave(); }
        ActivityScope(const ActivityScope&) = delete;
        ActivityScope& operator=(const ActivityScope&) = delete;
        bool Entered() const { return entered_; }
        void Leave();

    private:
        Tmain& window_;
        Activity previous_;
        RunKind previousKind_;
        bool entered_ = false;
    };
    // The run's archive is in place: an abort from now on comes too late.
    void EnterCommitted();
    // How far the window is on its way out. It is a state of its own beside the activity: the
    // close and the hand-over may begin while a run or restore is still under way beneath them.
    // The hand-over ends in the close, and nothing comes back from the close.
    enum class Ending { None, HandingOver, Closing };
    Ending ending_ = Ending::None;
    // The close or the hand-over has begun: the scheduler stays off, a series runs no further.
    bool Leaving() const { return ending_ != Ending::None; }

    // ---- unit state ----
    QList<BackupAction> actions_; // see GridActions
    QString ProgDir;              // with trailing separator
    QString DataDir;              // with trailing separator
    // Where the history file lives: ProgDir, or the user's data folder when ProgDir is
    // write-protected; chosen once at start-up, so the file read is the file written.
    QString HistDir;
    bool Modified = false;
    bool AutoStart = false;
    bool ExitConfirmed = false;
    bool SessionEnding = false;
    bool AbortRequested = false;
    bool DebugMode = false;
    // The progress bar's base, shared by the run and the restore.
    qint64 TotalBytes = 0;
    qint64 DoneBytes = 0;
    qint64 ProgressScale = 1;

    QStringList Args;
    // The current folder when the program started: relative paths in actions refer to it.
    QString StartFolder;
    std::unique_ptr<TZipComponent> zip;
    TfRestore* fRestore = nullptr;

    // The status light's spinner position (the light's tag) and colour; the scheduler blinks
    // the light, so it must know the current colour.
    int staTag = 0;
    QColor staColour = Qt::black;
    QString LastBalloonTitle;
    QString LastBalloonText;
    int balloonsShown_ = 0;

    // False until a load has read the settings file: a file that exists but cannot be read
    // must not be replaced by saves of what the window shows instead.
    bool SettingsRead = false;
    // True once the start has read the history file or found none. A file that could not be
    // read (or was not, as the start stopped before it) is kept rather than replaced by the
    // lines of this session.
    bool historyRead_ = false;
    // A reload asked for while a run or restore is under way waits for its end, as the run
    // writes its results into its grid row by number.
    bool ReloadPending = false;

    // The run under way, for the abort button.
    BackupJob* runJob_ = nullptr;
    // What a scheduled run does once its archive is complete, before it takes the target's
    // place: the rotation.
    std::function<void()> beforeCommit_;
    // The scheduler's memory of each action: retry waits and logged row-guard lines, kept under
    // the key each row is given when the scheduler first reads it.
    RetryState retry_;
    ActionKey lastActionKey_ = 0;
    // The key of a row's action, given now if it has none.
    ActionKey RowKey(int row);
    // Message processing of the component's events (run and restore).
    EventPacer zipPacer_;
    // The run's last file, its size and the bar position not yet shown (-1: none).
    QString runItem_;
    qint64 runItemSize_ = -1;
    qint64 runBarBytes_ = -1;
    int runCommandsDisabled_ = 0;
    bool savedPackOne_ = false, savedPackAll_ = false, savedRestore_ = false;

    // The column widths the layout read found (design units) and showed (pixels): a column the
    // user left alone is saved with the width it was read with.
    std::array<int, ActionColumnCount> readWidths_{}, shownWidths_{};
    bool sessionEndAsked_ = false;
    QString helpFile_;
    bool activatedOnce_ = false;
    const QEvent* lastKey_ = nullptr;
    int lastKeyCode_ = 0;
};
