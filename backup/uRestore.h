#pragma once
// The restore dialog: lists the generations of one action's archive and the entries of the
// chosen one, and collects the entries and the folder to restore into. The extraction itself
// runs in the main window's restore command after the dialog has ended with OK.
#include <QDialog>
#include <QStringList>
#include <memory>

#include "ZipReader.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QToolButton;
class TSortGrid;

namespace uRestore {
// The action's target archive, set by the restore command before the dialog opens.
extern QString RestoreArchive;
// The folder of RestoreArchive with a trailing separator, set when the dialog opens.
extern QString RestoreFolder;
} // namespace uRestore

// The count in a text written by FormatInt64: every "." is dropped, the rest is read as a
// decimal integer. Raises std::runtime_error when that is no integer.
qint64 SizeTextToInt64(const QString& text);

class TfRestore : public QDialog {
    Q_OBJECT
public:
    explicit TfRestore(QWidget* parent = nullptr);
    ~TfRestore() override;

    // Fills the dialog for uRestore::RestoreArchive. Returns false, after telling the user,
    // when no generation exists: the dialog then ends at once and nothing is restored.
    bool FormShow();
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
    TSortGrid* stringgrid1 = nullptr;
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
    void setGenerationCell(int col, int row, const QString& text);
    void setEntryCell(int col, int row, const QString& text);
    void setEntryNameCell(int col, int row, const QString& name);
    QString entryNamePart(int col, int row) const;
    void setTitles();
};
