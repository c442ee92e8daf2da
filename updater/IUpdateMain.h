#pragma once
// The updater's one window. Its handlers carry the program: start-up, the workflow button that
// steps through fetch, transfer, install and close, the debug key, closing and clean-up. The
// rules they apply live in the core library (configuration, placeholders, versions).
#include <QByteArray>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

#include "IniFile.h"
#include "Placeholders.h"
#include "UpdaterConfig.h"
#include "WinVersion.h"

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

class TiupMain : public QWidget {
    Q_OBJECT
public:
    // args: the command line without the program name.
    explicit TiupMain(QStringList args, QWidget* parent = nullptr);
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
    QList<QPair<QString, int>> ArchiveList; // archive name, count of checked files naming it
    QByteArray DownloadBuffer;
    QTreeWidgetItem* CurrentModule = nullptr;
    QTreeWidgetItem* CurrentFileRow = nullptr;
    UpdaterConfig Config;
    std::unique_ptr<IniFile> SettingsIni; // crupdate.ini, open from start-up to exit
    std::optional<OsVersionRecord> OsVersion;
    DestinationDecoder Ziel{Placeholders()};

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

    void ReadUpdaterConfig();
    void TargetFromIni();
    void TargetFromRegistry();
    void AskInstallDir(const QString& message);

    // The workflow steps; each that succeeds moves the button on itself.
    bool FetchAndParse(); // true when at least one file is preselected
    void TransferFiles();
    void InstallFiles();

    // The workflow button's state 1 to 4 with its caption.
    void SetStartState(int tag);
    int StartTag() const;
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
    void setSystemListAttention(bool on);

    QStringList args_;
    bool shown_ = false;
    bool destroyed_ = false;
    bool downloadDirReady_ = false;
    int clickDepth_ = 0;
    const QEvent* lastKey_ = nullptr;
    QPointer<QWidget> lastReceiver_;
};
