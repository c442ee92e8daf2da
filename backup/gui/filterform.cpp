#include "filterform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "ActionEdit.h"
#include "DesignScale.h"
#include "DialogFit.h"
#include "lang.h"

namespace {

QTreeWidget* makeList(QWidget* parent, const char* name) {
    auto* l = new QTreeWidget(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setRootIsDecorated(false);
    l->setUniformRowHeights(true);
    l->setColumnCount(3);
    l->setSelectionMode(QAbstractItemView::SingleSelection);
    l->header()->setStretchLastSection(true);
    l->setColumnWidth(0, DesignScale::Px(170));
    l->setColumnWidth(1, DesignScale::Px(60));
    return l;
}

// The MB column at least as wide as its widest size, so a large file's size is never cut. Digits
// are about equally wide, so only the longest texts are measured.
void fitMbColumn(QTreeWidget* list, const QList<TrialFile>& files, const QList<int>& rows) {
    qsizetype longest = 0;
    for (int i : rows)
        longest = std::max(longest, files[i].MbText.size());
    const QFontMetrics fm(list->font());
    int text = 0;
    for (int i : rows)
        if (files[i].MbText.size() == longest)
            text = std::max(text, fm.horizontalAdvance(files[i].MbText));
    // The room an item view leaves on both sides of a cell's text.
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    const int needed = std::max(text + 2 * margin + 2, list->header()->sectionSizeHint(1));
    // Only ever wider: a width the user dragged stays.
    if (needed > list->columnWidth(1)) list->setColumnWidth(1, needed);
}

QLabel* boldLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

TfilterWin::TfilterWin(const TextLanguage& language, QWidget* parent)
    : QDialog(parent, Qt::Tool), language_(language) {
    setObjectName(QStringLiteral("filterWin"));
    DesignScale::Resize(this, 760, 560);
    auto* top = new QVBoxLayout(this);

    filter = AddEditRow(this, top, Label1, "Label1", "filter", ActionEdit::MaxFilterPatternLength,
                        [this] { filterChange(); });
    QFont big = filter->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    filter->setFont(big);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    top->addWidget(Label2);
    top->addLayout(buildModeRow());
    Memo1 = AddNote(this, top);
    top->addLayout(buildLists(), 1);

    AddOkCancel(this, top, BitBtn1, BitBtn2, true);
    FocusOnShow(this, filter);
    connect(nur, &QRadioButton::clicked, this, [this] { nurClick(); });
    connect(nicht, &QRadioButton::clicked, this, [this] { nichtClick(); });
    connect(cbCountItems, &QButtonGroup::idClicked, this, [this] { cbCountClick(); });
    SetCaptions();
}

// The filter's mode beside the trial's file count.
QHBoxLayout* TfilterWin::buildModeRow() {
    auto* middle = new QHBoxLayout();
    auto* modes = new QVBoxLayout();
    nur = new QRadioButton(this);
    nur->setObjectName(QStringLiteral("nur"));
    nur->setChecked(true);
    nicht = new QRadioButton(this);
    nicht->setObjectName(QStringLiteral("nicht"));
    modes->addWidget(nur);
    modes->addWidget(nicht);
    modes->addStretch(1);
    middle->addLayout(modes, 1);
    cbCount = new QGroupBox(this);
    cbCount->setObjectName(QStringLiteral("cbCount"));
    auto* counts = new QHBoxLayout(cbCount);
    cbCountItems = new QButtonGroup(this);
    const char* const limits[] = {"500", "2000", "10.000"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(limits[i]), cbCount);
        b->setObjectName(QStringLiteral("cbCount%1").arg(i));
        cbCountItems->addButton(b, i);
        counts->addWidget(b);
    }
    cbCountItems->button(0)->setChecked(true);
    middle->addWidget(cbCount);
    return middle;
}

// The trial's matching and left-out files, each list with its title and count.
QGridLayout* TfilterWin::buildLists() {
    auto* lists = new QGridLayout();
    Treffer = boldLabel(this, "Treffer");
    Label3 = boldLabel(this, "Label3");
    lvP = makeList(this, "lvP");
    lvN = makeList(this, "lvN");
    QPalette silver = lvN->palette();
    silver.setColor(QPalette::Base, QColor(192, 192, 192));
    lvN->setPalette(silver);
    lP = boldLabel(this, "lP");
    lN = boldLabel(this, "lN");
    lists->addWidget(Treffer, 0, 0);
    lists->addWidget(Label3, 0, 1);
    lists->addWidget(lvP, 1, 0);
    lists->addWidget(lvN, 1, 1);
    lists->addWidget(lP, 2, 0);
    lists->addWidget(lN, 2, 1);
    lists->setRowStretch(1, 1);
    return lists;
}

void TfilterWin::SetCaptions() {
    setWindowTitle(language_.ByLanguage("Filter für Sicherung", "Filter for Backup"));
    Label1->setText(QStringLiteral("Filter"));
    Memo1->setPlainText(language_.ByLanguage(
        "Achtung, dieser Filter arbeitet Linux like, der Punkt hat keine "
        "Sonderfunktion:\n"
        "*.* erfasst nur Dateien, die einen Punkt enthalten.\n"
        "Prüfen Sie unten das Resultat!",
        "Attention, this is a Linux like Filter, the dot has no extra condition:\n"
        "*.* shows only Files with a dot in the filename .\n"
        "Proof the Result below!"));
    FitMemo(Memo1);
    cbCount->setTitle(language_.ByLanguage("Anzahl Test Dateien", "Count of Testfiles"));
    Label2->setText(
        language_.ByLanguage("Beispiel: *.doc;*.exe;*.xls oder für nicht Sicherung: *.tmp;*.exe",
                             "Example: *.doc;*.exe;*.xls or for don't Backup: *.tmp;*.exe"));
    nur->setText(language_.ByLanguage("Nur Dateien nach diesem Filter Sichern",
                                      "Only Files matching this Filter"));
    nicht->setText(language_.ByLanguage("Dateien nach diesem Filter auslassen",
                                        "Drop Files matching this Filter"));
    Treffer->setText(language_.ByLanguage("Treffer", "Matches"));
    Label3->setText(language_.ByLanguage("Ausgelassen", "doesen't Match"));
    lP->setText(language_.ByLanguage("Zähle", "Counting"));
    lN->setText(language_.ByLanguage("Zähle", "Counting"));
    const QStringList titles{QStringLiteral("Name"), QStringLiteral("MB"),
                             language_.ByLanguage("Ordner", "Folder")};
    for (QTreeWidget* l : {lvP, lvN}) {
        l->setHeaderLabels(titles);
        l->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    BitBtn1->setText(QStringLiteral("OK"));
    BitBtn2->setText(QStringLiteral("Abbrechen"));
    FitTitle(this);
}

// ---------------------------------------------------------------- events

void TfilterWin::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TfilterWin::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Some window managers never activate a dialog; it is listed once all the same.
    scannedSinceShow_ = false;
    QTimer::singleShot(0, this, [this] {
        if (isVisible() && !scannedSinceShow_) FormActivate();
    });
}

void TfilterWin::done(int r) {
    ++scanGeneration_; // a scan still under way ends here
    QDialog::done(r);
}

void TfilterWin::FormActivate() {
    QCoreApplication::processEvents();
    RescanFolder();
}

void TfilterWin::filterChange() {
    ApplyFilter();
}

void TfilterWin::nurClick() {
    ApplyFilter();
}

void TfilterWin::nichtClick() {
    ApplyFilter();
}

// ---------------------------------------------------------------- trial scan

QIcon TfilterWin::iconFor(const QString& path) {
    // Files of one type share their icon; looking each one up would slow a large scan.
    const QFileInfo fi(path);
    const QString suffix = fi.suffix().toLower();
    if (suffix.isEmpty()) return iconProvider_.icon(QFileIconProvider::File);
    auto it = iconCache_.constFind(suffix);
    if (it != iconCache_.constEnd()) return *it;
    const QIcon icon = iconProvider_.icon(fi);
    iconCache_.insert(suffix, icon);
    return icon;
}

void TfilterWin::RescanFolder() {
    scannedSinceShow_ = true;
    const int generation = ++scanGeneration_;
    AllFiles.clear();
    icons_.clear();
    ScanCount = 0;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] {
        QCoreApplication::processEvents();
        QApplication::restoreOverrideCursor();
    });

    TrialScan scan;
    scan.Limit = TestFileLimit;
    // Key strokes split what is listed so far; a newer scan or the dialog's end stops this one.
    scan.OnFolder = [this, generation, &scan] {
        ScanCount = scan.Count;
        QCoreApplication::processEvents();
        return generation == scanGeneration_;
    };
    scan.OnFile = [this](const TrialFile& f) {
        AllFiles.append(f);
        icons_.append(iconFor(f.Path));
    };
    bool complete = true;
    if (!SourceFolder.isEmpty()) complete = scan.Run(SourceFolder);
    if (!complete) return; // the newer scan lists and splits itself
    ScanCount = scan.Count;
    ApplyFilter();
}

void TfilterWin::cbCountClick() {
    lvP->clear();
    lvN->clear();
    lP->setText(QStringLiteral("Zähle"));
    lN->setText(QStringLiteral("Zähle"));
    QCoreApplication::processEvents();
    static const int limits[] = {500, 2000, 10000};
    const int item = cbCountItems->checkedId();
    if (item >= 0 && item < 3) TestFileLimit = limits[item];
    RescanFolder();
}

// ---------------------------------------------------------------- split

void TfilterWin::fillList(QTreeWidget* list, const QList<int>& rows) {
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (int i : rows) {
        const TrialFile& f = AllFiles[i];
        auto* it = new QTreeWidgetItem(QStringList{f.Name, f.MbText, f.Folder});
        it->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        it->setIcon(0, icons_[i]);
        items.append(it);
    }
    list->clear();
    list->addTopLevelItems(items);
    fitMbColumn(list, AllFiles, rows);
}

void TfilterWin::ApplyFilter() {
    Filter.Include = nur->isChecked();
    Filter.Patterns = SplitFilterPatterns(filter->text());
    const TrialSplit split = SplitTrial(Filter, AllFiles);
    fillList(lvP, split.Kept);
    fillList(lvN, split.LeftOut);
    lP->setText(TrialSummary(split.Kept.size(), split.KeptTenths));
    lN->setText(TrialSummary(split.LeftOut.size(), split.LeftOutTenths));
}
