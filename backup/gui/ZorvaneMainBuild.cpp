// The main window's construction: its controls, their layout and their bindings, and the tray.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "DesignScale.h"
#include "Dialogs.h"
#include "SessionEnd.h"
#include "SortGrid.h"
#include "ZorvaneMain.h"

namespace {
const char* const MakerAddress = "www.kelvo.de";

// Runs a handler on a double-click of the watched widget, in place of the widget's own: a text
// view would select the clicked word after the handler has set the caret.
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> handler)
        : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonDblClick) {
            handler_();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }

private:
    std::function<void()> handler_;
};

// A button of the tool bar: bound to an action, or with an icon and a hint of its own.
QToolButton* toolButton(QToolBar* bar, const char* name, QAction* action,
                        QStyle::StandardPixmap icon = {}, const QString& hint = {}) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(name));
    if (action) {
        b->setDefaultAction(action);
    } else {
        b->setIcon(bar->style()->standardIcon(icon));
        b->setToolTip(hint);
    }
    b->setAutoRaise(true);
    b->setFixedWidth(DesignScale::Px(30));
    bar->addWidget(b);
    return b;
}
} // namespace

void Tmain::buildWindow() {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("   KELVO - Zorvane2 - 17.11.2012"));
    // The dialogs show their parent's icon.
    setWindowIcon(AppIcon());
    DesignScale::Resize(this, 890, 460);
    buildActions();
    buildToolBar();
    buildClientArea();
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
}

void Tmain::buildActions() {
    QStyle* st = style();
    auto makeAction = [&](const char* name, const QString& caption, const QString& hint,
                          QStyle::StandardPixmap icon) {
        auto* a = new QAction(st->standardIcon(icon), caption, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setToolTip(hint);
        return a;
    };
    loadIni = makeAction("loadIni", QStringLiteral("Laden"), QStringLiteral("Einstellungen Laden"),
                         QStyle::SP_DialogOpenButton);
    saveIni = makeAction("saveIni", QStringLiteral("Speichern"),
                         QStringLiteral("Einstellungen Speichern"), QStyle::SP_DialogSaveButton);
    NewAktion = makeAction("NewAktion", QStringLiteral("Neuer Eintrag"),
                           QStringLiteral("Neue Backupaktion einfügen"), QStyle::SP_FileIcon);
    delAktion =
        makeAction("delAktion", QStringLiteral("Backupaktion löschen"),
                   QStringLiteral("Ausgewählte Backupaktion löschen"), QStyle::SP_TrashIcon);
    backupSelected =
        makeAction("backupSelected", QStringLiteral("Backup"),
                   QStringLiteral("Backupaktion für ausgewählten Eintrag jetzt ausführen"),
                   QStyle::SP_ArrowDown);
    backupAll = makeAction("backupAll", QStringLiteral("Gesamt Backup"),
                           QStringLiteral("Backupaktion für alle Einträge jetzt ausführen"),
                           QStyle::SP_DriveHDIcon);
    loadIni->setEnabled(false);
    saveIni->setEnabled(false);
    delAktion->setEnabled(false);
    backupSelected->setEnabled(false);
}

void Tmain::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(DesignScale::Px(26));
    ToolBar1->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    buildCommandButtons();
    buildBlockingPanel();
    buildProgramControls();
}

// The settings' load and save, new and delete action, the runs, the restore and the automatic.
void Tmain::buildCommandButtons() {
    btnLoadConf = toolButton(ToolBar1, "btnLoadConf", loadIni);
    btnSaveConf = toolButton(ToolBar1, "btnSaveConf", saveIni);
    ToolBar1->addSeparator();
    btnNew = toolButton(ToolBar1, "btnNew", NewAktion);
    btnDel = toolButton(ToolBar1, "btnDel", delAktion);
    ToolBar1->addSeparator();
    btnPackOne = toolButton(ToolBar1, "btnPackOne", backupSelected);
    btnPackAll = toolButton(ToolBar1, "btnPackAll", backupAll);
    btnRestore = toolButton(ToolBar1, "btnRestore", nullptr, QStyle::SP_ArrowUp,
                            QStringLiteral("Sicherungen anzeigen"));
    btnRestore->setEnabled(false);
    ToolBar1->addSeparator();
    btnTimer = toolButton(ToolBar1, "btnTimer", nullptr, QStyle::SP_BrowserReload,
                          QStringLiteral("Automatik Ein / Ausschalten"));
    btnTimer->setCheckable(true);
}

// The maker's link, the updater, the info box, the language list, the close button and the
// debug switch (hidden until asked for).
void Tmain::buildProgramControls() {
    pKelvo = new QToolButton(ToolBar1);
    pKelvo->setObjectName(QStringLiteral("pKelvo"));
    pKelvo->setText(QString::fromLatin1(MakerAddress));
    pKelvo->setAutoRaise(true);
    pKelvo->setStyleSheet(QStringLiteral("color: navy; text-decoration: underline;"));
    ToolBar1->addWidget(pKelvo);

    btnIupdate = toolButton(ToolBar1, "btnIupdate", nullptr, QStyle::SP_BrowserReload,
                            QStringLiteral("Internetupdate Starten"));
    btnIupdate->setEnabled(false);
    ToolButton13 = toolButton(ToolBar1, "ToolButton13", nullptr, QStyle::SP_MessageBoxInformation,
                              QStringLiteral("Info"));

    cbLang = new QComboBox(ToolBar1);
    cbLang->setObjectName(QStringLiteral("cbLang"));
    cbLang->addItems({QStringLiteral("Deutsch"), QStringLiteral("English")});
    cbLang->setCurrentIndex(0);
    ToolBar1->addWidget(cbLang);
    ToolBar1->addSeparator();
    btnClose = toolButton(ToolBar1, "btnClose", nullptr, QStyle::SP_DialogCloseButton,
                          QStringLiteral("Programm beenden"));
    cbDebug = new QCheckBox(QStringLiteral("Debug"), ToolBar1);
    cbDebug->setObjectName(QStringLiteral("cbDebug"));
    cbDebug->setChecked(true);
    QAction* debugAction = ToolBar1->addWidget(cbDebug);
    debugAction->setObjectName(QStringLiteral("cbDebugAction"));
    debugAction->setVisible(false);
    cbDebug->setVisible(false);
}

// The blocking window's switch and its two times.
void Tmain::buildBlockingPanel() {
    using DesignScale::Px;
    Panel2 = new QWidget(ToolBar1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setMinimumWidth(Px(242));
    auto* p2 = new QHBoxLayout(Panel2);
    p2->setContentsMargins(2, 0, 2, 0);
    cbSperr = new QCheckBox(QStringLiteral("Sperrzeit"), Panel2);
    cbSperr->setObjectName(QStringLiteral("cbSperr"));
    sperrVon = new QTimeEdit(Panel2);
    sperrVon->setObjectName(QStringLiteral("sperrVon"));
    sperrVon->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    Label1 = new QLabel(QStringLiteral("bis"), Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    sperrBis = new QTimeEdit(Panel2);
    sperrBis->setObjectName(QStringLiteral("sperrBis"));
    sperrBis->setDisplayFormat(QStringLiteral("hh:mm:ss"));
    p2->addWidget(cbSperr);
    p2->addWidget(sperrVon);
    p2->addWidget(Label1);
    p2->addWidget(sperrBis);
    ToolBar1->addWidget(Panel2);
}

void Tmain::buildClientArea() {
    // Client area: the grid above the log, the status bar below.
    auto* central = new QWidget(this);
    auto* cl = new QVBoxLayout(central);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(0);
    cl->addWidget(buildGridPanel(central), 1);
    cl->addWidget(buildStatusPanel(central));
    setCentralWidget(central);
}

// The action grid above the log.
QWidget* Tmain::buildGridPanel(QWidget* parent) {
    using DesignScale::Px;
    Panel4 = new QWidget(parent);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    auto* p4 = new QVBoxLayout(Panel4);
    p4->setContentsMargins(0, 0, 0, 0);
    p4->setSpacing(0);
    sg = new TSortGrid(ActionColumnCount, Panel4);
    sg->setObjectName(QStringLiteral("sg"));
    sg->setFrameShape(QFrame::NoFrame);
    actions_.resize(sg->RowCount() - 1);
    SetGridTitles();
    Memo1 = new QPlainTextEdit(Panel4);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    // A read-only log needs no undo record; it would only grow for as long as the program runs.
    Memo1->setUndoRedoEnabled(false);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFixedHeight(Px(156));
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The text area is the viewport; the memo's own background lies under it.
    Memo1->viewport()->setBackgroundRole(QPalette::Button);
    p4->addWidget(sg, 1);
    p4->addWidget(Memo1);
    return Panel4;
}

// The status line, the light, the progress bar and the abort button.
QWidget* Tmain::buildStatusPanel(QWidget* parent) {
    using DesignScale::Px;
    Panel1 = new QWidget(parent);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto* p1 = new QVBoxLayout(Panel1);
    p1->setContentsMargins(0, 0, 0, 0);
    p1->setSpacing(1);
    Status = new QLabel(QStringLiteral("Bereit"), Panel1);
    Status->setObjectName(QStringLiteral("Status"));
    Status->setStyleSheet(QStringLiteral("color: navy; font-weight: bold;"));
    Status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    p1->addWidget(Status);
    auto* row = new QHBoxLayout();
    row->setSpacing(2);
    sta = new QLabel(QStringLiteral("---"), Panel1);
    sta->setObjectName(QStringLiteral("sta"));
    sta->setFixedWidth(Px(19));
    sta->setAlignment(Qt::AlignCenter);
    sta->setAutoFillBackground(true);
    SetStaColour(Qt::black);
    pb = new QProgressBar(Panel1);
    pb->setObjectName(QStringLiteral("pb"));
    pb->setTextVisible(false);
    pb->setRange(0, 1000);
    pb->setValue(0);
    Panel3 = new QWidget(Panel1);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    auto* p3 = new QHBoxLayout(Panel3);
    p3->setContentsMargins(0, 0, 0, 0);
    btnAbort = new QPushButton(QStringLiteral("Abbrechen"), Panel3);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setVisible(false);
    p3->addWidget(btnAbort);
    row->addWidget(sta);
    row->addWidget(pb, 1);
    row->addWidget(Panel3);
    p1->addLayout(row);
    // The abort button is hidden most of the time; the line must have room for it all the same.
    const int rowHeight = std::max(
        {sta->sizeHint().height(), pb->sizeHint().height(), btnAbort->sizeHint().height()});
    Panel1->setFixedHeight(
        std::max(Px(39), Status->sizeHint().height() + p1->spacing() + rowHeight));
    return Panel1;
}

void Tmain::buildTray() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    ZorvaneClose = PopupMenu1->addAction(QStringLiteral("z&orvane Beenden"));
    ZorvaneClose->setObjectName(QStringLiteral("ZorvaneClose"));
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    zorvaneanzeigen1 = PopupMenu1->addAction(QStringLiteral("&zorvane Anzeigen"));
    zorvaneanzeigen1->setObjectName(QStringLiteral("zorvaneanzeigen1"));

    tray = new QSystemTrayIcon(AppIcon(), this);
    tray->setObjectName(QStringLiteral("tray"));
    tray->setToolTip(QStringLiteral("Zorvane2"));
    tray->setContextMenu(PopupMenu1);
    tray->show();
}

void Tmain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        Dialogs::ShowError(QString::fromUtf8(e.what()));
    }
}

void Tmain::connectControls() {
    // Every handler the user starts runs guarded: a failure reaches him as the error box.
    const auto on = [this](auto* sender, auto signal, auto handler) {
        connect(sender, signal, this, [this, handler] { Guarded(handler); });
    };
    on(loadIni, &QAction::triggered, [this] { loadIniExecute(loadIni); });
    on(saveIni, &QAction::triggered, [this] { saveIniExecute(saveIni); });
    on(backupSelected, &QAction::triggered, [this] { backupSelectedExecute(RunKind::Selected); });
    on(backupAll, &QAction::triggered, [this] { backupAllExecute(); });
    on(btnRestore, &QToolButton::clicked, [this] { btnRestoreClick(); });
    on(cbSperr, &QCheckBox::clicked, [this] { cbSperrClick(); });
    // Only the user's own changes count, not those a load makes.
    on(sperrVon, &QTimeEdit::userTimeChanged, [this] {
        if (sperrVon->hasFocus()) sperrVonChange();
    });
    on(sperrBis, &QTimeEdit::userTimeChanged, [this] {
        if (sperrBis->hasFocus()) sperrBisChange();
    });
    on(btnIupdate, &QToolButton::clicked, [this] { btnIupdateClick(btnIupdate); });
    on(cbLang, &QComboBox::activated, [this] { cbLangChange(cbLang); });
    // Settings loaded again set the list to the stored language; the texts follow it, or the
    // list and the window would show different languages until the program starts again.
    on(cbLang, &QComboBox::currentIndexChanged, [this] {
        TakeListLanguage();
        ApplyLanguage();
    });
    on(btnClose, &QToolButton::clicked, [this] { ZorvaneCloseClick(); });
    ConnectGrid();
    on(btnAbort, &QPushButton::clicked, [this] { btnAbortClick(); });
    on(Timer2, &QTimer::timeout, [this] { Timer2Timer(); });

    on(NewAktion, &QAction::triggered, [this] { NewAktionExecute(NewAktion); });
    on(delAktion, &QAction::triggered, [this] { delAktionExecute(delAktion); });
    on(sg, &QTableWidget::cellDoubleClicked, [this] { sgDblClick(sg); });
    Memo1->viewport()->installEventFilter(
        new DoubleClickFilter(Memo1, [this] { Guarded([this] { Memo1DblClick(Memo1); }); }));
    on(ToolButton13, &QToolButton::clicked, [this] { ToolButton13Click(ToolButton13); });
    on(pKelvo, &QToolButton::clicked, [this] { pKelvoClick(pKelvo); });

    on(ZorvaneClose, &QAction::triggered, [this] { ZorvaneCloseClick(); });
    on(zorvaneanzeigen1, &QAction::triggered, [this] { TrayDblClick(); });
    // The menu opens on the context click by itself; a left click opening it too would close it
    // again at the second click of a double click.
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) Guarded([this] { TrayDblClick(); });
    });

    // Key preview: every key reaches the window before the focused control.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { Guarded([this] { CommitDataRequest(); }); });
    SessionEnd::SetHandler([this] { Guarded([this] { CommitDataRequest(); }); });
}
