#pragma once
// The main window of the backup program: its controls, the state its handlers share, and the
// handlers themselves. The handlers are spread over ZorvaneMain*.cpp by area.
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <memory>

#include "Filter.h"

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
class TfRestore;
class IniFile;
// ---- dialogs of the editing commands ----
class TTimeWin;
class TcountWin;
class TAboutBox;
class TfilterWin;
class TfHist;
class TfPw;

// Grid columns of one backup action.
enum ActionColumn : int {
    colVerz = 0,
    colNach = 1,
    colTime = 2,
    colCount = 3,
    colLast = 4,
    colActionNumber = 5,
    colDateien = 6,
    colBytes = 7,
    colArc = 8,
    colDauer = 9,
    colFilter = 10,
    colHist = 11,
    colLE = 12,
    colP = 13,
    ActionColumnCount = 14,
};

class Tmain : public QMainWindow {
    Q_OBJECT
public:
    explicit Tmain(QStringList args, QWidget* parent = nullptr);
    ~Tmain() override;

    // ---- unit state ----
    QString ProgDir; // with trailing separator
    QString DataDir; // with trailing separator
    bool Modified = false;
    bool Busy = false;
    bool AutoStart = false;
    bool ExitConfirmed = false;
    bool SessionEnding = false;
    bool AbortRequested = false;
    bool DebugMode = false;
    // Patterns of the filter dialog; a run keeps its own in RunFilter.
    QStringList FilterList;
    bool FilterInclude = false;
    // Run variables.
    qint64 TotalBytes = 0;
    qint64 DoneBytes = 0;
    qint64 ProgressScale = 1;
    QString CurrentFile;
    QString LastFilesText;

    QStringList Args;
    // The current folder when the program started: relative paths in actions refer to it, not to
    // the source folder a run last worked in.
    QString StartFolder;

    // ---- controls ----
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
    std::unique_ptr<TZipComponent> zip;
    TfRestore* fRestore = nullptr;

    // The status light's spinner position (the light's tag).
    int staTag = 0;

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
    void HideToTray();        // "minimise the application"
    bool HiddenInTray() const;
    QString SettingsFileName() const { return DataDir + QStringLiteral("Zorvane2.ini"); }
    QString HistoryFileName() const { return ProgDir + QStringLiteral("Zorvane.hist"); }

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
    // False until a load has read the settings file: a file that exists but cannot be read
    // must not be replaced by saves of what the window shows instead.
    bool SettingsRead = false;
    // Throws when the settings file exists but cannot be read (a missing file is fine).
    void CheckSettingsReadable() const;
    // A reload asked for while a run or restore is under way waits for its end, as the run
    // writes its results into its grid row by number.
    bool ReloadPending = false;
    bool RunOrRestoreUnderWay() const;
    // Carries out a waiting reload once nothing is under way; reports a failure itself.
    void ReloadIfPending();

    // ---- filter and history ----
    bool FilterOK(const QString& name) const;
    void SaveHistory();

    // ---- backup run ----
    void backupSelectedExecute(QObject* Sender);
    void backupAllExecute(QObject* Sender);
    void BackupOne(const QString& Source, const QString& Target, const QString& FilterText,
                   const QString& Password);
    void btnAbortClick();
    // The run's own filter, loaded from the action's Filter text.
    FileFilter RunFilter;
    void zipProgress(const TZMProgressDetails& Details);
    void zipMessage(int ErrCode, const QString& ErrMsg);
    // Disables "Backup", "Gesamt Backup" and restore while a run or restore is under way;
    // calls nest, the last enable restores the states the first disable found.
    void RunCommandsEnabled(bool enable);
    bool RunCommandsLocked() const { return runCommandsDisabled_ > 0; }
    // While locked, the row commands' states are remembered here and applied at the end.
    void RememberRowCommands(bool qualifies) { savedPackOne_ = savedRestore_ = qualifies; }
    // "Gesamt Backup" on or off, or remembered for the end while locked.
    void SetPackAllEnabled(bool enable);
    // The run's archive has taken the target's place (or the target was removed for a run that
    // found nothing): from then on the run counts as completed and an abort is ignored.
    bool RunCommitted = false;
    // A backup run (one row or "Gesamt Backup") is under way; a second one is refused.
    bool RunActive = false;
    bool allActive_ = false;
    // Per-run values shared by BackupOne with its walks.
    QString RunSource; // with trailing separator
    QString RunTarget;
    qint64 FoundCount = 0;
    qint64 AddedCount = 0;
    QStringList RunSkipped; // files that broke off mid-entry; left out of this run
    void ScanSource(const QString& Folder);
    void AddTree(const QString& Folder);
    int runCommandsDisabled_ = 0;
    bool savedPackOne_ = false, savedPackAll_ = false, savedRestore_ = false;

    // ---- scheduler ----
    void Timer2Timer();
    void sperrVonChange();
    void sperrBisChange();
    void cbSperrClick();
    void SpinnerStep();
    // The status light's colour; the scheduler blinks it, so it must know the current one.
    QColor staColour = Qt::black;
    void SetStaColour(const QColor& colour);
    // A warning balloon of the tray icon, kept for a look afterwards.
    void ShowBalloon(const QString& title, const QString& text);
    QString LastBalloonTitle;
    QString LastBalloonText;
    // One row's turn in a tick and its parts.
    void ScheduleRow(int row, const QDate& today, const QDateTime& now, int week, int month);
    void RunScheduledRow(int row, int week, int month);
    void ReportRowError(int row, const QString& title, const QString& text);

    // ---- restore ----
    void btnRestoreClick();
    // A restore is extracting; keeps a second restore from starting inside it.
    bool RestoreRunning = false;

    // ---- editing commands and their dialogs (ZorvaneMainEdit.cpp) ----
    TTimeWin* TimeWin = nullptr;
    TcountWin* countWin = nullptr;
    TAboutBox* AboutBox = nullptr;
    TfilterWin* filterWin = nullptr;
    TfHist* fHist = nullptr;
    TfPw* fPw = nullptr;
    // The save dialog's last file name, offered again at its next use.
    QString SaveFileLast;
    // Creates the dialogs once (they keep their values between uses) and binds the editing
    // commands, the log's double-click, the About button and the link button.
    void CreateDialogs();
    void NewAktionExecute(QObject* Sender);
    void delAktionExecute(QObject* Sender);
    // Opens the editor of the focused cell's column.
    void sgDblClick(QObject* Sender);
    void Memo1DblClick(QObject* Sender);
    void ToolButton13Click(QObject* Sender);
    void pKelvoClick(QObject* Sender);
    void EditCell(int col, int row);
    // The cells of one column over all data rows.
    QStringList ColumnCells(int col) const;
    // Run-all and the automatic switch apply exactly when the first row holds an action.
    void UpdateRunAllSwitch();
    // ---- end of the editing commands ----

    // ---- language ----
    void cbLangChange(QObject* Sender);
    void SetGridTitles(); // column titles in the current language

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildWindow();
    void buildTray();
    bool closing_ = false;
    bool activatedOnce_ = false;
    const QEvent* lastKey_ = nullptr;
    int lastKeyCode_ = 0;
};

// The main window while it exists (the program's `main`).
namespace ZorvaneMain {
extern Tmain* main;
}

// Writes one event to the status line and the log, steps the spinner and keeps the window alive.
void SetStatus(const QString& Text);
// Sets the modified flag together with the enabled state of the load and save buttons.
void SetModified(bool Value);
