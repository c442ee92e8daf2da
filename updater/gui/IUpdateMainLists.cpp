// The module list and the file lists: thin views of the update plan. Every click, double click
// or key that may have changed a check mark hands the new mark to the plan and shows its state
// again; a second call for the same change finds nothing to do.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopedValueRollback>
#include <QStackedWidget>
#include <QTreeWidget>

#include "DesignScale.h"
#include "IUpdateMain.h"
#include "InfoFile.h"

namespace {

bool isChecked(const QTreeWidgetItem* item) {
    return item->checkState(0) == Qt::Checked;
}

void setChecked(QTreeWidgetItem* item, bool on) {
    const Qt::CheckState state = on ? Qt::Checked : Qt::Unchecked;
    if (item->checkState(0) != state) item->setCheckState(0, state);
}

QTreeWidgetItem* newRow(QTreeWidget* parent, const QStringList& texts, bool checked) {
    auto* row = new QTreeWidgetItem(parent, texts);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    row->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    return row;
}

// The columns of a file row.
enum FileColumn {
    colCaption,
    colZiel,
    colVersion,
    colDatum,
    colArchiv,
    colGroesse,
    colVersionHier,
    colDatumHier,
    colService,
};

} // namespace

QTreeWidget* TiupMain::CreateFileView(QTreeWidgetItem* moduleRow) {
    auto* view = new QTreeWidget(lvPanel);
    view->setObjectName(QStringLiteral("lvFile") + QString::number(FileViews.size()));
    view->setHeaderLabels(
        {QStringLiteral("Datei"), QStringLiteral("Ziel"), QStringLiteral("Version"),
         QStringLiteral("Datum"), QStringLiteral("Archiv"), QStringLiteral("Größe"),
         QStringLiteral("Version hier"), QStringLiteral("Datum hier"), QStringLiteral("Service")});
    const int widths[] = {100, 0, 100, 80, 100, 100, 100, 100, 40};
    for (int c = 0; c < 9; ++c)
        view->setColumnWidth(c, DesignScale::Px(widths[c]));
    view->setColumnHidden(1, true);
    view->headerItem()->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
    view->setRootIsDecorated(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvPanel->addWidget(view);
    FileViews.append(view);
    Q_UNUSED(moduleRow); // the views keep the module rows' order

    connect(view, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* row, QTreeWidgetItem*) { lvFileChange(row); });
    connect(view, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        if (refreshing_ || column != 0) return;
        CurrentFileRow = row;
        lvFileClick();
    });
    connect(view, &QTreeWidget::itemClicked, this, [this] { lvFileClick(); });
    connect(view, &QTreeWidget::itemDoubleClicked, this, [this] { lvFileClick(); });
    return view;
}

void TiupMain::showPlan() {
    const QScopedValueRollback filling(refreshing_, true);
    const QList<PlanModule>& modules = Plan.Modules();
    // Only what is not drawn yet: the parse draws each row as it reads it.
    for (qsizetype m = 0; m < modules.size(); ++m) {
        const PlanModule& module = modules[m];
        QTreeWidgetItem* row = lvMods->topLevelItem(int(m));
        if (!row) {
            row = newRow(lvMods,
                         {module.name, module.text, module.description, module.history, QString()},
                         false);
            row->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
            CreateFileView(row);
        }
        QTreeWidget* view = FileViews.value(m);
        for (qsizetype f = view->topLevelItemCount(); f < module.files.size(); ++f) {
            const PlanFile& file = module.files[f];
            QTreeWidgetItem* item =
                newRow(view,
                       {file.name, file.folder, file.version, file.date, file.archive,
                        file.sizeText, file.versionHere,
                        file.exists ? FormatInfoDate(file.dateHere) : QString(), file.service},
                       file.checked);
            item->setTextAlignment(colGroesse, Qt::AlignRight | Qt::AlignVCenter);
        }
        // The last module the parse chose is the one a later "Alles Neu" shows.
        if (module.checked) CurrentModule = row;
    }
}

void TiupMain::showFileRow(int module, int file) {
    if (QTreeWidget* view = FileViews.value(module))
        if (QTreeWidgetItem* row = view->topLevelItem(file)) view->setCurrentItem(row);
}

void TiupMain::lvModsChange(QTreeWidgetItem* row) {
    if (!row) return;
    const int m = moduleIndex(row);
    if (m >= 0 && m < FileViews.size()) lvPanel->setCurrentWidget(FileViews[m]);
    if (m < 0 || m >= Plan.Modules().size()) return;
    const PlanModule& module = Plan.Modules()[m];
    mBemerkung->setPlainText(module.description);
    if (DebugMode)
        mBemerkung->appendPlainText(module.history);
    else
        mHist->setPlainText(module.history);
    CurrentModule = row;
}

void TiupMain::lvModsClick() {
    const int m = moduleIndex(CurrentModule);
    if (m < 0 || m >= Plan.Modules().size()) return;
    Plan.SetModuleChecked(m, isChecked(CurrentModule));
    refreshLists();
}

void TiupMain::lvFileChange(QTreeWidgetItem* row) {
    CurrentFileRow = row;
}

void TiupMain::lvFileClick() {
    if (!CurrentFileRow) return;
    QTreeWidget* view = viewOf(CurrentFileRow);
    const int m = int(FileViews.indexOf(view));
    const int f = view ? view->indexOfTopLevelItem(CurrentFileRow) : -1;
    if (m < 0 || m >= Plan.Modules().size() || f < 0 || f >= Plan.Modules()[m].files.size()) return;
    Plan.SetFileChecked(m, f, isChecked(CurrentFileRow));
    refreshLists();
    showModule(m);
}

void TiupMain::cbAllesNeuClick() {
    if (Plan.Modules().isEmpty()) return; // nothing parsed yet: the parse preselects
    Plan.SetAllesNeu(cbAllesNeu->isChecked());
    refreshLists();
    if (const int m = moduleIndex(CurrentModule); m >= 0) showModule(m);
}

void TiupMain::showModule(int module) {
    QTreeWidgetItem* row = lvMods->topLevelItem(module);
    if (!row) return;
    if (lvMods->currentItem() == row)
        lvModsChange(row);
    else
        lvMods->setCurrentItem(row); // reported through lvModsChange
}

bool TiupMain::forCheckedFiles(const std::function<bool(int module, int file)>& visit) {
    return Plan.ForCheckedFiles([this](int m) { showModule(m); }, visit);
}

void TiupMain::refreshLists() {
    refreshing_ = true;
    const QList<PlanModule>& modules = Plan.Modules();
    for (int m = 0; m < modules.size() && m < lvMods->topLevelItemCount(); ++m) {
        QTreeWidgetItem* row = lvMods->topLevelItem(m);
        setChecked(row, modules[m].checked);
        row->setText(4, Plan.ModuleSizeText(m));
        QTreeWidget* view = FileViews.value(m);
        for (int f = 0; view && f < modules[m].files.size() && f < view->topLevelItemCount(); ++f)
            setChecked(view->topLevelItem(f), modules[m].files[f].checked);
    }
    lgesamt->setText(Plan.TotalText());
    refreshing_ = false;
}

void TiupMain::clearLists() {
    refreshing_ = true;
    CurrentModule = nullptr;
    CurrentFileRow = nullptr;
    lvMods->clear();
    for (QTreeWidget* view : std::as_const(FileViews))
        delete view;
    FileViews.clear();
    lvPanel->setCurrentWidget(done);
    Plan.Clear();
    lgesamt->setText(Plan.TotalText());
    refreshing_ = false;
}

int TiupMain::moduleIndex(QTreeWidgetItem* row) const {
    return row ? lvMods->indexOfTopLevelItem(row) : -1;
}

QTreeWidget* TiupMain::viewOf(QTreeWidgetItem* fileRow) const {
    return fileRow ? fileRow->treeWidget() : nullptr;
}
