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
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "DesignScale.h"
#include "Dialogs.h"
#include "FileNames.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "lang.h"

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

// ---------------------------------------------------------------- entry grid

namespace {

// Each unit folded as QString's comparison without regard to case folds it (a low surrogate
// after a high one as the pair's character, giving the folded pair's low unit), so that
// comparing the results unit by unit orders as that comparison does.
void appendFolded(QStringView text, std::u16string& out) {
    char16_t last = 0;
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        char32_t c = unit;
        if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
            c = QChar::surrogateToUcs4(last, unit);
        last = unit;
        const char32_t f = QChar::toCaseFolded(c);
        out += QChar::requiresSurrogates(f) ? QChar::lowSurrogate(f) : char16_t(f);
    }
}

} // namespace

// The reader's entries in the grid's order; texts are made when a cell is shown.
class TEntryModel : public QAbstractTableModel {
public:
    TEntryModel(const TEntryCell* titles, QObject* parent)
        : QAbstractTableModel(parent), titles_(titles) {}

    void SetEntries(const QList<ZipEntry>& entries) {
        beginResetModel();
        entries_ = entries;
        order_.resize(size_t(entries_.size()));
        std::iota(order_.begin(), order_.end(), 0);
        endResetModel();
    }
    int Rows() const { return order_.empty() ? 1 : int(order_.size()); }
    bool IsEntry(int row) const { return row >= 0 && row < int(order_.size()); }

    // The shown text of a 0-based data row.
    QString Text(int col, int row) const {
        if (!IsEntry(row)) return {};
        const ZipEntry& e = entries_[order_[size_t(row)]];
        switch (col) {
        case 0:
        case 5:
            return ShownFileName(Exact(col, row));
        case 1:
            return FormatInt64(0, e.PackedSize);
        case 2:
            return FormatInt64(0, e.UnpackedSize);
        case 3: {
            const QDateTime when = e.DateTime();
            return when.isValid() ? TextFormats::FormatDate(when.date()) + QStringLiteral("  ") +
                                        TextFormats::FormatTime(when.time())
                                  : QString();
        }
        case 4: {
            if (e.UnpackedSize == 0) return QStringLiteral("0% ");
            const double r =
                std::nearbyint((1.0 - double(e.PackedSize) / double(e.UnpackedSize)) * 100.0);
            return QString::number(qint64(r)) + QStringLiteral("% ");
        }
        default:
            return {};
        }
    }
    // The shown text for a sort; a name's part is viewed in place where it holds no raw byte.
    QStringView SortText(int col, int row, QString& scratch) const {
        if (IsEntry(row) && (col == 0 || col == 5)) {
            const QString& name = entries_[order_[size_t(row)]].Name;
            if (!HasRawBytes(name)) {
                const qsizetype sep = lastEntrySeparator(name);
                return col == 0 ? QStringView(name).mid(sep + 1) : QStringView(name).left(sep + 1);
            }
        }
        scratch = Text(col, row);
        return scratch;
    }
    QString Exact(int col, int row) const {
        if (!IsEntry(row)) return {};
        const QString& name = entries_[order_[size_t(row)]].Name;
        const qsizetype sep = lastEntrySeparator(name);
        return col == 0 ? name.mid(sep + 1) : col == 5 ? name.left(sep + 1) : QString();
    }

    // Rows move as a whole; selection and focus keep their row numbers, as in the sort grid.
    void Reorder(const std::vector<int>& byRow) {
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> next(order_.size());
        for (size_t r = 0; r < next.size(); ++r)
            next[r] = order_[size_t(byRow[r])];
        order_.swap(next);
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : Rows(); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 6; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole) return Text(index.column(), index.row());
        if (role == Qt::TextAlignmentRole)
            return int(TEntryGrid::ColumnAlignment(index.column()) | Qt::AlignVCenter);
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= 6) return {};
        if (role == Qt::DisplayRole) return titles_[section].Text;
        if (role == Qt::TextAlignmentRole) return titles_[section].Alignment;
        return {};
    }
    void TitleChanged(int col) { Q_EMIT headerDataChanged(Qt::Horizontal, col, col); }

private:
    const TEntryCell* titles_;
    // A share of the reader's list: it stays as listed when the reader closes.
    QList<ZipEntry> entries_;
    std::vector<int> order_; // entry index of each row
};

TEntryGrid::TEntryGrid(QWidget* parent)
    : QTableView(parent), model_(new TEntryModel(titles_, this)) {
    for (int c = 0; c < 6; ++c)
        titles_[c].Alignment = int(ColumnAlignment(c) | Qt::AlignVCenter);
    setModel(model_);
    setHorizontalHeader(
        new TSortHeader(this, SortColumn, SortAscending, [this](int col) { HeaderClick(col); }));
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(DesignScale::Px(15));
    horizontalHeader()->setMinimumSectionSize(0);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setSortingEnabled(false);
    for (int c = 0; c < 6; ++c)
        setColumnWidth(c, DesignScale::Px(150));
    ShowCutCellTips(this);
}

TEntryGrid::~TEntryGrid() = default;

Qt::Alignment TEntryGrid::ColumnAlignment(int col) {
    return col == 0 || col == 5 ? Qt::AlignLeft : Qt::AlignRight;
}

void TEntryGrid::SetEntries(const QList<ZipEntry>& entries) {
    looked_.clear();
    model_->SetEntries(entries);
}

int TEntryGrid::rowCount() const {
    return model_->Rows();
}

QString TEntryGrid::Cell(int col, int row) const {
    if (col < 0 || col >= 6) return {};
    return row == 0 ? titles_[col].Text : model_->Text(col, row - 1);
}

QString TEntryGrid::ExactCell(int col, int row) const {
    return model_->Exact(col, row - 1);
}

void TEntryGrid::SetTitle(int col, const QString& text) {
    titles_[col].Text = text;
    model_->TitleChanged(col);
}

const TEntryCell* TEntryGrid::item(int row, int col) const {
    if (row < 0 || row >= rowCount() || col < 0 || col >= 6) return nullptr;
    looked_.push_back({model_->Text(col, row), int(ColumnAlignment(col) | Qt::AlignVCenter)});
    return &looked_.back();
}

const TEntryCell* TEntryGrid::horizontalHeaderItem(int col) const {
    return col >= 0 && col < 6 ? &titles_[col] : nullptr;
}

void TEntryGrid::SetFocusCell(int col, int row) {
    if (row >= 1 && row <= rowCount()) setCurrentIndex(model_->index(row - 1, col));
}

int TEntryGrid::ColWidth(int col) const {
    return isColumnHidden(col) ? -1 : columnWidth(col);
}

void TEntryGrid::SetColWidth(int col, int width) {
    if (width < 0) {
        setColumnHidden(col, true);
        return;
    }
    setColumnHidden(col, false);
    setColumnWidth(col, width);
}

QList<int> TEntryGrid::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& i : selectionModel()->selectedRows())
        rows << i.row() + 1;
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TEntryGrid::SortByColumn(int col, bool ascending) {
    const int rows = rowCount();
    if (col < 0 || col >= 6 || rows < 2) return;
    // The kind the sort grid would choose from all cells: the first text that is no number,
    // date or time settles it, so a column of names needs a look at one cell.
    bool numeric = true, dateTime = true, timeOnly = true;
    for (int r = 0; r < rows && (numeric || dateTime || timeOnly); ++r) {
        const QString text = model_->Text(col, r);
        numeric = numeric && TextFormats::ParseFloat(text).has_value();
        dateTime = dateTime && TextFormats::ParseDateTime(text).has_value();
        timeOnly = timeOnly && TextFormats::ParseTime(text).has_value();
    }
    std::vector<int> order(static_cast<size_t>(rows));
    std::iota(order.begin(), order.end(), 0);
    const auto sortBy = [&](const auto& less) {
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return ascending ? less(a, b) : less(b, a); });
    };
    if (numeric || dateTime || timeOnly) {
        // Each row's key, converted once, as the sort grid converts them.
        std::vector<double> number;
        std::vector<QDateTime> stamp;
        std::vector<QTime> time;
        for (int r = 0; r < rows; ++r) {
            const QString text = model_->Text(col, r);
            if (numeric)
                number.push_back(*TextFormats::ParseFloat(text));
            else if (dateTime)
                stamp.push_back(*TextFormats::ParseDateTime(text));
            else
                time.push_back(*TextFormats::ParseTime(text));
        }
        if (numeric)
            sortBy([&](int a, int b) { return number[size_t(a)] < number[size_t(b)]; });
        else if (dateTime)
            sortBy([&](int a, int b) { return stamp[size_t(a)] < stamp[size_t(b)]; });
        else
            sortBy([&](int a, int b) { return time[size_t(a)] < time[size_t(b)]; });
    } else {
        // Folded once into one buffer, the texts compare unit by unit as a comparison without
        // regard to case compares them, without folding both sides at every step.
        QString scratch;
        size_t length = 0;
        for (int r = 0; r < rows; ++r)
            length += size_t(model_->SortText(col, r, scratch).size());
        std::u16string folded;
        folded.reserve(length);
        struct Key {
            size_t begin, size;
            int row;
        };
        std::vector<Key> keys(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            const size_t begin = folded.size();
            appendFolded(model_->SortText(col, r, scratch), folded);
            keys[size_t(r)] = {begin, folded.size() - begin, r};
        }
        const std::u16string_view all(folded);
        // Equal texts keep their order, as in a stable sort.
        std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
            const int c = all.substr(a.begin, a.size).compare(all.substr(b.begin, b.size));
            return c != 0 ? (ascending ? c < 0 : c > 0) : a.row < b.row;
        });
        for (int r = 0; r < rows; ++r)
            order[size_t(r)] = keys[size_t(r)].row;
    }
    looked_.clear();
    model_->Reorder(order);
}

void TEntryGrid::HeaderClick(int col) {
    if (col < 0 || col >= 6) return;
    SortAscending = col == SortColumn ? !SortAscending : true;
    if (rowCount() >= 2) {
        SortByColumn(col, SortAscending);
        SortColumn = col;
    }
    horizontalHeader()->viewport()->update();
}

qint64 SizeTextToInt64(const QString& text) {
    QString digits = text;
    digits.remove(u'.');
    const auto v = TextFormats::ParseInt(digits);
    if (!v) throw std::runtime_error("'" + text.toStdString() + "' ist kein gültiger Integerwert");
    return *v;
}

TfRestore::TfRestore(const TextLanguage& language, QWidget* parent)
    : QDialog(parent), zip(std::make_unique<TZipReader>()), language_(language) {
    setObjectName(QStringLiteral("fRestore"));
    setWindowTitle(QStringLiteral("Sicherung Wiederherstellen"));
    setSizeGripEnabled(true);
    DesignScale::Resize(this, 900, 560);
    auto* top = new QVBoxLayout(this);
    top->addWidget(buildArchiveBox(), 1);
    top->addLayout(buildTargetRow());
    top->addLayout(buildButtonRow());
    connectControls();
    SetCaptions();
}

// The generations above the chosen one's name and its entries.
QGroupBox* TfRestore::buildArchiveBox() {
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
    stringgrid1 = new TEntryGrid(GroupBox1);
    stringgrid1->setObjectName(QStringLiteral("stringgrid1"));
    stringgrid1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    stringgrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    stringgrid1->SortColumn = 0;
    stringgrid1->SortAscending = true;
    // Column widths of the entry grid; the ratio column is hidden.
    const int widths[6] = {300, 91, 105, 108, -1, 150};
    for (int c = 0; c < 6; ++c)
        stringgrid1->SetColWidth(c, DesignScale::Px(widths[c]));
    gl->addWidget(stringgrid1, 1);
    return GroupBox1;
}

// The folder to restore into and its browse button.
QHBoxLayout* TfRestore::buildTargetRow() {
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
    return targetRow;
}

// All or the selected entries, and the two buttons.
QHBoxLayout* TfRestore::buildButtonRow() {
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
    return buttonRow;
}

void TfRestore::connectControls() {
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
}

void TfRestore::SetCaptions() {
    GroupBox1->setTitle(language_.ByLanguage("Wiederherzustellende Sicherung auswählen",
                                             "select Backup for Recovery"));
    Label2->setText(language_.ByLanguage("Datei:", "File:"));
    Label1->setText(language_.ByLanguage("Wiederherstellen nach", "Restore to"));
    allFiles->setText(language_.ByLanguage("Alle", "All"));
    RadioButton2->setText(language_.ByLanguage("Ausgewählte", "only Selected"));
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
    return stringgrid1->Cell(col, row);
}

int TfRestore::EntryRowCount() const {
    return stringgrid1->rowCount() + 1;
}

Qt::Alignment TfRestore::stringgrid1GetCellFormat(int col, int row) const {
    Q_UNUSED(row);
    return TEntryGrid::ColumnAlignment(col);
}

QString TfRestore::Base() const {
    const QString name = archive_.mid(archive_.lastIndexOf(u'/') + 1);
    return name.left(std::max<qsizetype>(0, name.size() - 4));
}

void TfRestore::setTitles() {
    setGenerationCell(0, 0, language_.Tx(txDatei));
    setGenerationCell(1, 0, language_.Tx(txGroesse));
    setGenerationCell(2, 0, language_.Tx(txDatumZeit));
    stringgrid1->SetTitle(0, language_.Tx(txDatei));
    stringgrid1->SetTitle(1, language_.Tx(txKomprGr));
    stringgrid1->SetTitle(2, language_.Tx(txUnKomprGr));
    stringgrid1->SetTitle(3, language_.Tx(txDatumZeit));
    stringgrid1->SetTitle(4, QStringLiteral("%"));
    stringgrid1->SetTitle(5, language_.Tx(txPfad));
}

// ---------------------------------------------------------------- opening

bool TfRestore::FormShow(const QString& archive) {
    archive_ = archive;
    setResult(QDialog::Rejected);
    const QSignalBlocker block(sg);
    sg->clearContents();
    sg->setRowCount(1);
    setTitles();
    sg->setColumnWidth(0, DesignScale::Px(370));

    const qsizetype slash = archive_.lastIndexOf(u'/');
    QString folder = slash < 0 ? QString() : archive_.left(slash == 0 ? 1 : slash);
    folder_ = folder.endsWith(u'/') || folder.isEmpty() ? folder : folder + u'/';
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
        QFile f(folder_ + names[i]);
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
    lDatei->setText(folder_ + GenerationCell(0, row));
    zip->Open(lDatei->text());

    // The grid shows the reader's list itself; an archive without entries leaves one blank row.
    stringgrid1->SetEntries({});
    EntryCount = zip->Count();
    if (EntryCount == 0) return;
    stringgrid1->SetEntries(zip->Entries());
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
            FSpecArgs << stringgrid1->ExactCell(5, r) + stringgrid1->ExactCell(0, r);
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
