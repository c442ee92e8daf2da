#pragma once
// The filter dialog: edits an action's Filter text and tries it on the action's source folder,
// listing the files it keeps and those it leaves out, updated at every key stroke.
#include <QDialog>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QList>

#include "Filter.h"
#include "TrialScan.h"

class QButtonGroup;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class TextLanguage;

class TfilterWin : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TfilterWin(const TextLanguage& language, QWidget* parent = nullptr);
    void SetCaptions();

    // The folder the trial scan lists, set by the main window before it shows the dialog.
    QString SourceFolder;

    // Every activation lists the folder anew, so the lists show it as it is now.
    void FormActivate();
    void RescanFolder();
    // Splits the listed files by the pattern text and mode as they stand.
    void ApplyFilter();
    void filterChange();
    void nurClick();
    void nichtClick();
    void cbCountClick();

    // The dialog's own filter: trying patterns here never touches the filter of a run.
    FileFilter Filter;
    // The most directory entries a trial scan visits; kept between openings like its choice.
    int TestFileLimit = 500;
    int ScanCount = 0;
    // The files of the last trial scan in the order found, with their icons.
    QList<TrialFile> AllFiles;

    // ---- controls ----
    QLabel* Label1 = nullptr;
    QLineEdit* filter = nullptr;
    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QRadioButton* nur = nullptr;
    QRadioButton* nicht = nullptr;
    QGroupBox* cbCount = nullptr;
    QButtonGroup* cbCountItems = nullptr;
    QLabel* Treffer = nullptr;
    QLabel* Label3 = nullptr;
    QTreeWidget* lvP = nullptr;
    QTreeWidget* lvN = nullptr;
    QLabel* lP = nullptr;
    QLabel* lN = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // Cancel

    void done(int r) override;

protected:
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // The dialog's middle parts.
    QHBoxLayout* buildModeRow();
    QGridLayout* buildLists();
    QIcon iconFor(const QString& path);
    void fillList(QTreeWidget* list, const QList<int>& rows);
    QList<QIcon> icons_; // beside AllFiles
    QFileIconProvider iconProvider_;
    QHash<QString, QIcon> iconCache_;
    // A newer scan, or the end of the dialog, stops a scan still under way.
    int scanGeneration_ = 0;
    bool scannedSinceShow_ = false;
    const TextLanguage& language_;
};
