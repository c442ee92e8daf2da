#pragma once
// The restore dialog: lists the generations of one action's archive and the entries of the
// chosen one, and collects the entries and the folder to restore into. The extraction itself
// runs in the main window's restore command after the dialog has ended with OK.
#include <QDialog>
#include <QHeaderView>
#include <QStringList>
#include <QTableView>
#include <deque>
#include <memory>

#include "ZipReader.h"

class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QToolButton;
class TextLanguage;
class TEntryModel;

// The count in a text written by FormatInt64: every "." is dropped, the rest is read as a
// decimal integer. Raises std::runtime_error when that is no integer.
qint64 SizeTextToInt64(const QString& text);

// One cell of the entry grid as it is shown: its text and its alignment.
struct TEntryCell {
    QString Text;
    int Alignment = 0;
    QString text() const { return Text; }
    int textAlignment() const { return Alignment; }
};

// The entry grid: a view over the reader's entry list, sorted through a list of entry
// positions, so a long listing builds no object per cell. Rows and columns are counted as in
// the sort grid: row 0 is the title row, rows 1.. the entries. An archive without entries
// shows one blank row, which is no entry. Sorting follows the sort grid's rules on the
// shown texts (numbers, dates and times, else text without regard to case; equal cells keep
// their order).
class TEntryGrid : public QTableView {
    Q_OBJECT
public:
    explicit TEntryGrid(QWidget* parent = nullptr);
    ~TEntryGrid() override;

    // Shows these entries (none: the blank row).
    void SetEntries(const QList<ZipEntry>& entries);
    // Entry rows, the blank row of an empty listing included.
    int rowCount() const;
    QString Cell(int col, int row) const;
    // The stored name's exact text for columns 0 (file part) and 5 (folder part).
    QString ExactCell(int col, int row) const;
    void SetTitle(int col, const QString& text);

    // The cell at a 0-based data row, or the title; kept until the next listing or sort.
    const TEntryCell* item(int row, int col) const;
    const TEntryCell* horizontalHeaderItem(int col) const;

    void SetFocusCell(int col, int row);
    int ColWidth(int col) const;
    void SetColWidth(int col, int width); // -1 hides the column
    QList<int> SelectedRows() const;      // 1-based, ascending

    int SortColumn = 0;
    bool SortAscending = true;
    void SortByColumn(int col, bool ascending);
    // A plain click on a title: the same column reverses, another sorts ascending.
    void HeaderClick(int col);

    static Qt::Alignment ColumnAlignment(int col);

private:
    TEntryModel* model_;
    TEntryCell titles_[6];
    mutable std::deque<TEntryCell> looked_;
};

class TfRestore : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TfRestore(const TextLanguage& language, QWidget* parent = nullptr);
    ~TfRestore() override;

    // Fills the dialog for the generations of an action's target archive. Returns false, after
    // telling the user, when no generation exists: the dialog then ends at once and nothing is
    // restored.
    bool FormShow(const QString& archive);
    // The captions that follow the language.
    void SetCaptions();
    void sgClick();
    void SpeedButton1Click();
    void BitBtn1Click();
    Qt::Alignment stringgrid1GetCellFormat(int col, int row) const;

    // Cells of the entry grid, rows counted with the title row 0.
    QString EntryCell(int col, int row) const;
    int EntryRowCount() const; // title row included
    // Cells of the generation grid, likewise.
    QString GenerationCell(int col, int row) const;
    int GenerationRowCount() const;
    // The base name of the generations (the archive's file name without ".Zip").
    QString Base() const;

    // ---- controls ----
    QGroupBox* GroupBox1 = nullptr;
    QTableWidget* sg = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lDatei = nullptr;
    TEntryGrid* stringgrid1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* verzeichnis = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QRadioButton* allFiles = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

    // The restore's own reader: a backup run that starts while the dialog is open cannot
    // change the archive or password listed here.
    std::unique_ptr<TZipReader> zip;

    // What the restore button decided.
    int EntryCount = 0;
    qint64 TotalBytes = 0;
    QStringList FSpecArgs;
    QString TargetDir; // the target folder text, trimmed

private:
    const TextLanguage& language_;
    // The action's target archive, and its folder with a trailing separator.
    QString archive_;
    QString folder_;
    void setGenerationCell(int col, int row, const QString& text);
    void setTitles();
    // The dialog's parts, built in this order, and their bindings.
    QGroupBox* buildArchiveBox();
    QHBoxLayout* buildTargetRow();
    QHBoxLayout* buildButtonRow();
    void connectControls();
};
