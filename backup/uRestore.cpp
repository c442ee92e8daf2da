#include "uRestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "DesignScale.h"
#include "Dialogs.h"
#include "FileNames.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "lang.h"

namespace uRestore {
QString RestoreArchive;
QString RestoreFolder;
} // namespace uRestore

using uRestore::RestoreArchive;
using uRestore::RestoreFolder;

namespace {

void showMessage(const QString& text) {
    Dialogs::MessageDlg(text, Dialogs::Kind::Information, Dialogs::Ok);
}

// Trim as the class library does: blanks and control characters at both ends.
QString trimControls(const QString& s) {
    qsizetype a = 0, b = s.size();
    while (a < b && s[a].unicode() <= 32)
        ++a;
    while (b > a && s[b - 1].unicode() <= 32)
        --b;
    return s.mid(a, b - a);
}

// Position of the last separator of a stored entry name ("/", "\" or ":").
qsizetype lastEntrySeparator(const QString& name) {
    return std::max({name.lastIndexOf(u'/'), name.lastIndexOf(u'\\'), name.lastIndexOf(u':')});
}

QTableWidget* makeGrid(int cols, QWidget* parent) {
    auto* g = new QTableWidget(1, cols, parent);
    g->verticalHeader()->hide();
    g->verticalHeader()->setDefaultSectionSize(DesignScale::Px(18));
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setWordWrap(false);
    g->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    g->horizontalHeader()->setDefaultSectionSize(DesignScale::Px(100));
    g->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < cols; ++c)
        g->setHorizontalHeaderItem(c, new QTableWidgetItem());
    ShowCutCellTips(g);
    return g;
}

// Widens the columns whose texts do not fit; never narrows one.
void growToContents(QTableView* grid, std::initializer_list<int> columns) {
    for (const int c : columns) {
        const int before = grid->columnWidth(c);
        grid->resizeColumnToContents(c);
        if (grid->columnWidth(c) < before) grid->setColumnWidth(c, before);
    }
}

} // namespace

qint64 SizeTextToInt64(const QString& text) {
    QString digits = text;
    digits.remove(u'.');
    const auto v = TextFormats::ParseInt(digits);
    if (!v) throw std::runtime_error("'" + text.toStdString() + "' ist kein gültiger Integerwert");
    return *v;
}

TfRestore::TfRestore(QWidget* parent) : QDialog(parent), zip(std::make_unique<TZipReader>()) {
    setObjectName(QStringLiteral("fRestore"));
    setWindowTitle(QStringLiteral("Sicherung Wiederherstellen"));
    setSizeGripEnabled(true);
    DesignScale::Resize(this, 900, 560);

    auto* top = new QVBoxLayout(this);
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* gl = new QVBoxLayout(GroupBox1);
    sg = makeGrid(3, GroupBox1);
    sg->setObjectName(QStringLiteral("sg"));
    sg->setSelectionMode(QAbstractItemView::SingleSelection);
    sg->setFixedHeight(DesignScale::Px(110));
    gl->addWidget(sg);
    auto* fileRow = new QHBoxLayout();
    Label2 = new QLabel(GroupBox1);
    Label2->setObjectName(QStringLiteral("Label2"));
    lDatei = new QLabel(QStringLiteral("---"), GroupBox1);
    lDatei->setObjectName(QStringLiteral("lDatei"));
    fileRow->addWidget(Label2);
    fileRow->addWidget(lDatei, 1);
    gl->addLayout(fileRow);
    stringgrid1 = new TSortGrid(6, GroupBox1);
    stringgrid1->setObjectName(QStringLiteral("stringgrid1"));
    stringgrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    stringgrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    stringgrid1->SortColumn = 0;
    stringgrid1->SortAscending = true;
    gl->addWidget(stringgrid1, 1);
    top->addWidget(GroupBox1, 1);

    auto* targetRow = new QHBoxLayout();
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    verzeichnis = new QLineEdit(this);
    verzeichnis->setObjectName(QStringLiteral("verzeichnis"));
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("..."));
    targetRow->addWidget(Label1);
    targetRow->addWidget(verzeichnis, 1);
    targetRow->addWidget(SpeedButton1);
    top->addLayout(targetRow);

    auto* buttonRow = new QHBoxLayout();
    allFiles = new QRadioButton(this);
    allFiles->setObjectName(QStringLiteral("allFiles"));
    allFiles->setChecked(true);
    RadioButton2 = new QRadioButton(this);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    BitBtn1 = new QPushButton(QStringLiteral("&Wiederherstellen"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn2 = new QPushButton(QStringLiteral("&Abbrechen"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    buttonRow->addWidget(allFiles);
    buttonRow->addWidget(RadioButton2);
    buttonRow->addStretch(1);
    buttonRow->addWidget(BitBtn1);
    buttonRow->addWidget(BitBtn2);
    top->addLayout(buttonRow);

    // Column widths of the entry grid; the ratio column is hidden.
    const int widths[6] = {300, 91, 105, 108, -1, 150};
    for (int c = 0; c < 6; ++c)
        stringgrid1->SetColWidth(c, DesignScale::Px(widths[c]));

    connect(sg, &QTableWidget::currentCellChanged, this, [this](int row, int, int oldRow, int) {
        if (row >= 0 && row != oldRow) sgClick();
    });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        try {
            BitBtn1Click();
        } catch (const std::exception& e) {
            Dialogs::ShowError(QString::fromUtf8(e.what()));
        }
    });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { reject(); });
    SetCaptions();
}

void TfRestore::SetCaptions() {
    GroupBox1->setTitle(
        ByLanguage("Wiederherzustellende Sicherung auswählen", "select Backup for Recovery"));
    Label2->setText(ByLanguage("Datei:", "File:"));
    Label1->setText(ByLanguage("Wiederherstellen nach", "Restore to"));
    allFiles->setText(ByLanguage("Alle", "All"));
    RadioButton2->setText(ByLanguage("Ausgewählte", "only Selected"));
}

TfRestore::~TfRestore() = default;

// ---------------------------------------------------------------- cells

QString TfRestore::GenerationCell(int col, int row) const {
    const QTableWidgetItem* it = row == 0 ? sg->horizontalHeaderItem(col) : sg->item(row - 1, col);
    return it ? it->text() : QString();
}

int TfRestore::GenerationRowCount() const {
    return sg->rowCount() + 1;
}

void TfRestore::setGenerationCell(int col, int row, const QString& text) {
    if (row == 0) {
        sg->horizontalHeaderItem(col)->setText(text);
        return;
    }
    if (row > sg->rowCount()) sg->setRowCount(row);
    QTableWidgetItem* it = sg->item(row - 1, col);
    if (!it) sg->setItem(row - 1, col, it = new QTableWidgetItem());
    it->setText(text);
}

QString TfRestore::EntryCell(int col, int row) const {
    const QTableWidgetItem* it =
        row == 0 ? stringgrid1->horizontalHeaderItem(col) : stringgrid1->item(row - 1, col);
    return it ? it->text() : QString();
}

int TfRestore::EntryRowCount() const {
    return stringgrid1->rowCount() + 1;
}

void TfRestore::setEntryCell(int col, int row, const QString& text) {
    QTableWidgetItem* it;
    if (row == 0) {
        it = stringgrid1->horizontalHeaderItem(col);
    } else {
        if (row > stringgrid1->rowCount()) stringgrid1->setRowCount(row);
        it = stringgrid1->item(row - 1, col);
        if (!it) stringgrid1->setItem(row - 1, col, it = new QTableWidgetItem());
    }
    it->setText(text);
    it->setTextAlignment(stringgrid1GetCellFormat(col, row) | Qt::AlignVCenter);
}

// A stored name's part is shown readable; the cell keeps its exact text for the selection.
void TfRestore::setEntryNameCell(int col, int row, const QString& name) {
    setEntryCell(col, row, ShownFileName(name));
    stringgrid1->item(row - 1, col)->setData(Qt::UserRole, name);
}

QString TfRestore::entryNamePart(int col, int row) const {
    const QTableWidgetItem* it = stringgrid1->item(row - 1, col);
    const QVariant exact = it ? it->data(Qt::UserRole) : QVariant();
    return exact.isValid() ? exact.toString() : EntryCell(col, row);
}

Qt::Alignment TfRestore::stringgrid1GetCellFormat(int col, int row) const {
    Q_UNUSED(row);
    return col == 0 || col == 5 ? Qt::AlignLeft : Qt::AlignRight;
}

QString TfRestore::Base() const {
    const QString name = RestoreArchive.mid(RestoreArchive.lastIndexOf(u'/') + 1);
    return name.left(std::max<qsizetype>(0, name.size() - 4));
}

void TfRestore::setTitles() {
    setGenerationCell(0, 0, Tx(txDatei));
    setGenerationCell(1, 0, Tx(txGroesse));
    setGenerationCell(2, 0, Tx(txDatumZeit));
    setEntryCell(0, 0, Tx(txDatei));
    setEntryCell(1, 0, Tx(txKomprGr));
    setEntryCell(2, 0, Tx(txUnKomprGr));
    setEntryCell(3, 0, Tx(txDatumZeit));
    setEntryCell(4, 0, QStringLiteral("%"));
    setEntryCell(5, 0, Tx(txPfad));
}

// ---------------------------------------------------------------- opening

bool TfRestore::FormShow() {
    setResult(QDialog::Rejected);
    const QSignalBlocker block(sg);
    sg->clearContents();
    sg->setRowCount(1);
    setTitles();
    sg->setColumnWidth(0, DesignScale::Px(370));

    const qsizetype slash = RestoreArchive.lastIndexOf(u'/');
    QString folder = slash < 0 ? QString() : RestoreArchive.left(slash == 0 ? 1 : slash);
    RestoreFolder = folder.endsWith(u'/') || folder.isEmpty() ? folder : folder + u'/';
    const QString base = Base();
    verzeichnis->setToolTip(base);

    // Every file named base + "*.Zip", compared without regard to case; a missing folder
    // lists nothing.
    QStringList names;
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        const QStringList all = QDir(folder).entryList(QDir::Files, QDir::NoSort);
        for (const QString& n : all)
            if (n.size() >= base.size() + 4 && n.startsWith(base, Qt::CaseInsensitive) &&
                n.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
                names.append(n);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    if (names.isEmpty()) {
        showMessage(QStringLiteral("Keine Sicherungen gefunden"));
        done(QDialog::Rejected);
        return false;
    }

    for (int i = 0; i < names.size(); ++i) {
        const int row = i + 1;
        setGenerationCell(0, row, names[i]);
        QFile f(RestoreFolder + names[i]);
        setGenerationCell(1, row,
                          f.open(QIODevice::ReadOnly) ? FormatInt64(0, f.size()) : QString());
        // Listed at two-second precision, the resolution of the archives' own entry times.
        QDateTime modified = QFileInfo(f).lastModified();
        if (modified.isValid()) {
            const QTime t = modified.time();
            modified.setTime(QTime(t.hour(), t.minute(), t.second() - t.second() % 2));
        }
        setGenerationCell(2, row,
                          modified.isValid()
                              ? modified.toString(QStringLiteral("dd.MM.yy hh:mm:ss"))
                              : QString());
    }
    growToContents(sg, {1, 2});
    sg->setCurrentCell(0, 0);
    sg->selectRow(0);
    sgClick();
    return true;
}

void TfRestore::sgClick() {
    const int row = sg->currentRow() < 0 ? 1 : sg->currentRow() + 1;
    lDatei->setText(RestoreFolder + GenerationCell(0, row));
    zip->Open(lDatei->text());

    stringgrid1->SetRowCount(1);
    stringgrid1->SetRowCount(2);
    EntryCount = zip->Count();
    if (EntryCount == 0) return;
    stringgrid1->SetRowCount(EntryCount + 1);
    for (int i = 1; i <= EntryCount; ++i) {
        const ZipEntry& e = zip->Entry(i - 1);
        const qsizetype sep = lastEntrySeparator(e.Name);
        setEntryNameCell(0, i, e.Name.mid(sep + 1));
        setEntryCell(1, i, FormatInt64(0, e.PackedSize));
        setEntryCell(2, i, FormatInt64(0, e.UnpackedSize));
        setEntryCell(3, i,
                     e.DateTime.isValid()
                         ? TextFormats::FormatDate(e.DateTime.date()) + QStringLiteral("  ") +
                               TextFormats::FormatTime(e.DateTime.time())
                         : QString());
        QString ratio = QStringLiteral("0% ");
        if (e.UnpackedSize != 0) {
            const double r =
                std::nearbyint((1.0 - double(e.PackedSize) / double(e.UnpackedSize)) * 100.0);
            ratio = QString::number(qint64(r)) + QStringLiteral("% ");
        }
        setEntryCell(4, i, ratio);
        setEntryNameCell(5, i, e.Name.left(sep + 1));
    }
    // Sizes and dates are of no use cut.
    growToContents(stringgrid1, {1, 2, 3});
    stringgrid1->SortAscending = true;
    stringgrid1->SortByColumn(stringgrid1->SortColumn, true);
    stringgrid1->SetFocusCell(0, 1);
}

// ---------------------------------------------------------------- folder and button

void TfRestore::SpeedButton1Click() {
    QString folder = Dialogs::BrowseForFolder(
        this, QStringLiteral("Wiederherstellen in Verzeichnis"), verzeichnis->text());
    if (folder.isEmpty()) return;
    // A folder written the Windows way keeps its backslashes.
    const QChar sep = folder.contains(u'\\') && !folder.contains(u'/') ? u'\\' : u'/';
    if (!folder.endsWith(u'/') && !folder.endsWith(u'\\')) folder += sep;
    verzeichnis->setText(folder + verzeichnis->toolTip() + QStringLiteral("Restore") + sep);
}

void TfRestore::BitBtn1Click() {
    const QString dir = trimControls(verzeichnis->text());
    if (dir.isEmpty()) {
        showMessage(QStringLiteral("Bitte ein Verzeichnis zum Wiederherstellen angeben"));
        verzeichnis->setFocus();
        return;
    }
    if (!QFileInfo(dir).isDir() && !QDir().mkpath(dir)) {
        showMessage(QStringLiteral("Verzeichnis ") + dir + QStringLiteral("\r\n") +
                    QStringLiteral("konnte nicht angelegt werden"));
        return;
    }
    TotalBytes = 0;
    FSpecArgs.clear();
    if (allFiles->isChecked()) {
        for (int r = 1; r <= EntryCount; ++r)
            TotalBytes += SizeTextToInt64(EntryCell(2, r));
    } else {
        for (int r : stringgrid1->SelectedRows()) {
            if (r < 1 || r > EntryCount) continue;
            FSpecArgs << entryNamePart(5, r) + entryNamePart(0, r);
            TotalBytes += SizeTextToInt64(EntryCell(2, r));
        }
        if (FSpecArgs.isEmpty()) {
            showMessage(QStringLiteral("Keine Dateien ausgewählt"));
            return;
        }
    }
    TargetDir = dir;
    done(QDialog::Accepted);
}
