#pragma once
// The updater's one window. Its handlers carry the program: start-up, the workflow button that
// steps through fetch, transfer, install and close, the module and file lists, the debug key,
// closing and clean-up. The rules they apply live in the core library (configuration,
// placeholders, versions, the update plan, the server, the information file, the install).
#include <QByteArray>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "IniFile.h"
#include "Placeholders.h"
#include "UpdatePlan.h"
#include "UpdaterConfig.h"
#include "WinVersion.h"

class BatchFile;
class HttpClient;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

// Ends a workflow step whose failure the user has been told about already.
class StepReported : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TiupMain : public QWidget {
    Q_OBJECT
public:
    // args: the command line without the program name; placeholders: this machine's folders.
    explicit TiupMain(QStringList args, PlaceholderTable placeholders = {},
                      QWidget* parent = nullptr);
    ~TiupMain() override;

    // ---- state shared by the handlers ----
    QString ExeDir; // the updater's own folder
    // Where the updater writes beside itself (crupdate.ini, t.iup, the two folders below):
    // ExeDir, or the user's data folder when ExeDir is write-protected.
    QString WorkDir;
    QString DownloadDir; // WorkDir + "iupTemp/": downloaded archives
    QString UnpackDir;   // WorkDir + "iupT/": files in use and the batch file
    QString ConfigPath;  // iup.ini
    int SystemIndex = -1;
    bool AutoRun = false;
    bool BatchStarted = false;
    bool CancelRequested = false;
    bool ConfigUpdated = false;
    bool SelfUpdating = false;
    bool DebugMode = false;
    // The user ended the program from the install-folder question: nothing more runs.
    bool EndRequested = false;
    // The window was closed while a step ran: the step ends at its next safe point, then the
    // window closes.
    bool CloseRequested = false;
    UpdatePlan Plan;           // what the lists show: files, check marks, sizes, archives
    int UpdateCount = 0;       // files preselected by the last parse
    QByteArray DownloadBuffer; // the information file as fetched
    QTreeWidgetItem* CurrentModule = nullptr;
    QTreeWidgetItem* CurrentFileRow = nullptr;
    UpdaterConfig Config; // with the placeholder table the destinations are decoded with
    std::unique_ptr<IniFile> SettingsIni; // crupdate.ini, open from start-up to exit
    std::optional<OsVersionRecord> OsVersion;
    std::unique_ptr<BatchFile> Batch; // Update.bat, begun by the first file in use of the run
    DestinationDecoder Ziel{Config.placeholders};

    // ---- controls ----
    QTreeWidget* lvMods;
    QPlainTextEdit* mBemerkung;
    QPlainTextEdit* mHist;
    QListWidget* FileListBox1; // hidden; lists the files of a folder
    QStackedWidget* lvPanel;
    QPlainTextEdit* done; // the log
    QLabel* lgesamt;
    QPushButton* startBtn;
    QPushButton* SpeedButton3;
    QPushButton* goBtn;
    QComboBox* cbSystem;
    QCheckBox* cbAllesNeu;
    QCheckBox* cbDebug;
    QCheckBox* cbUseFW;
    QFrame* pUseFW;
    QLineEdit* edFHost;
    QLineEdit* edFuser;
    QLineEdit* edFPort;
    QLineEdit* edFPW;
    QLineEdit* edAuth;
    QLabel* imgon;
    QLabel* imgoff;
    QLabel* Panel3; // the status line
    QProgressBar* progress;
    HttpClient* http;
    QList<QTreeWidget*> FileViews; // one per module row, in the rows' order

    // ---- handlers ----
    void FormCreate();
    void FormShow();
    void FormActivate();
    void startBtnClick();
    void goBtnClick();
    void FormClose();
    void FormDestroy();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void cbSystemChange(int index);
    void cbUseFWClick();
    void SpeedButton3Click();

    // The lists.
    void lvModsChange(QTreeWidgetItem* row);
    void lvModsClick();
    void lvFileChange(QTreeWidgetItem* row);
    void lvFileClick();
    void cbAllesNeuClick();
    QTreeWidget* CreateFileView(QTreeWidgetItem* moduleRow);

    // The HTTP client's events.
    void httpConnected();
    void httpDisconnected();
    void httpStatus(const QString& text);
    void httpWorkBegin(qint64 expected);
    void httpWork(qint64 received);
    void httpWorkEnd();
    // The status line, with pending events let through.
    void ShowStatus(const QString& text);

    void ReadUpdaterConfig();
    void TargetFromIni();
    void TargetFromRegistry();
    void AskInstallDir(const QString& message);

    // The workflow steps; each that succeeds moves the button on itself.
    bool FetchInfo();     // false after the fourth failed attempt, which is reported
    bool FetchAndParse(); // true when at least one file is preselected
    void TransferFiles();
    void InstallFiles();

    // The workflow step 1 to 4, shown as the button's caption.
    void SetStartState(int tag);
    int StartTag() const { return startStep_; }
    // Decodes a destination for the running system; the trace goes to the log in debug mode.
    void DecodeZiel(const QString& spec);
    // Points the hidden file list at a folder: its files, sorted by name.
    void PointFileList(const QString& folder);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void runStartStep();
    void deleteListedFiles(const QString& folder, bool lastFirst);
    void endProgram();
    void closeIfRequested();
    void setSystemListAttention(bool on);
    void clearLists();
    void refreshLists();
    int moduleIndex(QTreeWidgetItem* row) const;
    QTreeWidget* viewOf(QTreeWidgetItem* fileRow) const;
    void showModule(int module);
    // Rows for every module and file of the plan, with their check marks.
    void showPlan();
    void showFileRow(int module, int file);
    // The plan's walk over the checked files, showing each module's list first.
    bool forCheckedFiles(const std::function<bool(int module, int file)>& visit);
    // The decoder set up for the chosen system, tracing to the log in debug mode.
    void prepareZiel();
    void setProgress(qint64 maximum, qint64 value);
    void selfUpdate(const PlanFile& file);
    bool finishBatch();
    void copyBatchToDesktop();
    bool isConfigFile(const QString& path) const;
    bool stepRunning() const { return clickDepth_ > 0; }

    QStringList args_;
    bool shown_ = false;
    bool destroyed_ = false;
    bool closed_ = false;
    bool closeAfterClick_ = false;
    bool downloadDirReady_ = false;
    int clickDepth_ = 0;
    int startStep_ = 1;
    qint64 progressMaximum_ = 0;
    bool refreshing_ = false; // the lists are being filled or set from the selection
    const QEvent* lastKey_ = nullptr;
    QPointer<QWidget> lastReceiver_;
};
