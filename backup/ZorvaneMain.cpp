#include "ZorvaneMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStringDecoder>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include "Clock.h"
#include "Dialogs.h"
#include "Registry.h"
#include "SessionEnd.h"
#include "ShellFolders.h"
#include "SortGrid.h"
#include "TextFormats.h"
#include "ZipComponent.h"
#include "lang.h"
#include "uRestore.h"

namespace ZorvaneMain {
Tmain* main = nullptr;
}

using ZorvaneMain::main;

namespace {
const char* const MakerAddress = "www.kelvo.de";

void setHintColour() {
    QPalette p = QToolTip::palette();
    p.setColor(QPalette::ToolTipBase, QColor(0, 255, 255));
    p.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(p);
}
} // namespace

Tmain::Tmain(QStringList args, QWidget* parent) : QMainWindow(parent), Args(std::move(args)) {
    main = this;
    StartFolder = QDir::currentPath();
    zip = std::make_unique<TZipComponent>();
    buildWindow();
    buildTray();
    fRestore = new TfRestore(this);
    CreateDialogs();
    try {
        FormCreate();
    } catch (const std::exception& e) {
        // The rest of the creation sequence is skipped; the user sees why.
        Dialogs::ShowError(QString::fromUtf8(e.what()));
    }
}

Tmain::~Tmain() {
    SessionEnd::SetHandler(nullptr);
    FormDestroy();
    if (main == this) main = nullptr;
}

// ---------------------------------------------------------------- layout

void Tmain::buildWindow() {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("   KELVO - Zorvane2 - 17.11.2012"));
    resize(890, 460);
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
    // A failed load or save reaches the user through the standard error box.
    connect(loadIni, &QAction::triggered, this, [this] {
        try {
            loadIniExecute(loadIni);
        } catch (const std::exception& e) {
            Dialogs::ShowError(QString::fromUtf8(e.what()));
        }
    });
    connect(saveIni, &QAction::triggered, this, [this] {
        try {
            saveIniExecute(saveIni);
        } catch (const std::exception& e) {
            Dialogs::ShowError(QString::fromUtf8(e.what()));
        }
    });
    connect(backupSelected, &QAction::triggered, this,
            [this] { backupSelectedExecute(backupSelected); });
    connect(backupAll, &QAction::triggered, this, [this] { backupAllExecute(backupAll); });
    loadIni->setEnabled(false);
    saveIni->setEnabled(false);
    delAktion->setEnabled(false);
    backupSelected->setEnabled(false);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFixedHeight(26);
    ToolBar1->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, ToolBar1);

    auto toolButton = [&](const char* name, QAction* action, QStyle::StandardPixmap icon,
                          const QString& hint) {
        auto* b = new QToolButton(ToolBar1);
        b->setObjectName(QString::fromLatin1(name));
        if (action)
            b->setDefaultAction(action);
        else {
            b->setIcon(st->standardIcon(icon));
            b->setToolTip(hint);
        }
        b->setAutoRaise(true);
        b->setFixedWidth(30);
        ToolBar1->addWidget(b);
        return b;
    };
    btnLoadConf = toolButton("btnLoadConf", loadIni, {}, {});
    btnSaveConf = toolButton("btnSaveConf", saveIni, {}, {});
    ToolBar1->addSeparator();
    btnNew = toolButton("btnNew", NewAktion, {}, {});
    btnDel = toolButton("btnDel", delAktion, {}, {});
    ToolBar1->addSeparator();
    btnPackOne = toolButton("btnPackOne", backupSelected, {}, {});
    btnPackAll = toolButton("btnPackAll", backupAll, {}, {});
    btnRestore = toolButton("btnRestore", nullptr, QStyle::SP_ArrowUp,
                            QStringLiteral("Sicherung Wiederherstellen"));
    btnRestore->setEnabled(false);
    connect(btnRestore, &QToolButton::clicked, this, [this] { btnRestoreClick(); });
    ToolBar1->addSeparator();
    btnTimer =
        toolButton("btnTimer", nullptr, QStyle::SP_BrowserReload, QStringLiteral("Automatik"));
    btnTimer->setCheckable(true);

    Panel2 = new QWidget(ToolBar1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setMinimumWidth(242);
    Panel2->setToolTip(QStringLiteral("Sperrzeit: in dieser Zeit wird keine Sicherung gestartet"));
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
    connect(cbSperr, &QCheckBox::clicked, this, [this] { cbSperrClick(); });
    connect(sperrVon, &QTimeEdit::userTimeChanged, this, [this] {
        if (sperrVon->hasFocus()) sperrVonChange();
    });
    connect(sperrBis, &QTimeEdit::userTimeChanged, this, [this] {
        if (sperrBis->hasFocus()) sperrBisChange();
    });

    pKelvo = new QToolButton(ToolBar1);
    pKelvo->setObjectName(QStringLiteral("pKelvo"));
    pKelvo->setText(QString::fromLatin1(MakerAddress));
    pKelvo->setAutoRaise(true);
    pKelvo->setStyleSheet(QStringLiteral("color: navy; text-decoration: underline;"));
    ToolBar1->addWidget(pKelvo);

    btnIupdate = toolButton("btnIupdate", nullptr, QStyle::SP_BrowserReload,
                            QStringLiteral("Internet Update"));
    btnIupdate->setEnabled(false);
    ToolButton13 = toolButton("ToolButton13", nullptr, QStyle::SP_MessageBoxInformation,
                              QStringLiteral("Info"));

    cbLang = new QComboBox(ToolBar1);
    cbLang->setObjectName(QStringLiteral("cbLang"));
    cbLang->addItems({QStringLiteral("Deutsch"), QStringLiteral("English")});
    cbLang->setCurrentIndex(0);
    ToolBar1->addWidget(cbLang);
    connect(cbLang, &QComboBox::activated, this, [this] { cbLangChange(cbLang); });
    ToolBar1->addSeparator();
    btnClose = toolButton("btnClose", nullptr, QStyle::SP_DialogCloseButton,
                          QStringLiteral("Zorvane Beenden"));
    connect(btnClose, &QToolButton::clicked, this, [this] { ZorvaneCloseClick(); });
    cbDebug = new QCheckBox(QStringLiteral("Debug"), ToolBar1);
    cbDebug->setObjectName(QStringLiteral("cbDebug"));
    cbDebug->setChecked(true);
    QAction* debugAction = ToolBar1->addWidget(cbDebug);
    debugAction->setObjectName(QStringLiteral("cbDebugAction"));
    debugAction->setVisible(false);
    cbDebug->setVisible(false);

    // Client area: the grid above the log, the status bar below.
    auto* central = new QWidget(this);
    auto* cl = new QVBoxLayout(central);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(0);
    Panel4 = new QWidget(central);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    auto* p4 = new QVBoxLayout(Panel4);
    p4->setContentsMargins(0, 0, 0, 0);
    p4->setSpacing(0);
    sg = new TSortGrid(ActionColumnCount, Panel4);
    sg->setObjectName(QStringLiteral("sg"));
    sg->setFrameShape(QFrame::NoFrame);
    SetGridTitles();
    ConnectGrid();
    Memo1 = new QPlainTextEdit(Panel4);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    // A read-only log needs no undo record; it would only grow for as long as the program runs.
    Memo1->setUndoRedoEnabled(false);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFixedHeight(156);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setBackgroundRole(QPalette::Button);
    p4->addWidget(sg, 1);
    p4->addWidget(Memo1);
    cl->addWidget(Panel4, 1);

    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(39);
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
    sta->setFixedWidth(19);
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
    connect(btnAbort, &QPushButton::clicked, this, [this] { btnAbortClick(); });
    row->addWidget(sta);
    row->addWidget(pb, 1);
    row->addWidget(Panel3);
    p1->addLayout(row);
    cl->addWidget(Panel1);
    setCentralWidget(central);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });

    // Key preview: every key reaches the window before the focused control.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { CommitDataRequest(); });
    SessionEnd::SetHandler([this] { CommitDataRequest(); });
}

void Tmain::buildTray() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    ZorvaneClose = PopupMenu1->addAction(QStringLiteral("z&orvane Beenden"));
    ZorvaneClose->setObjectName(QStringLiteral("ZorvaneClose"));
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    zorvaneanzeigen1 = PopupMenu1->addAction(QStringLiteral("&zorvane Anzeigen"));
    zorvaneanzeigen1->setObjectName(QStringLiteral("zorvaneanzeigen1"));
    connect(ZorvaneClose, &QAction::triggered, this, [this] { ZorvaneCloseClick(); });
    connect(zorvaneanzeigen1, &QAction::triggered, this, [this] { TrayDblClick(); });

    tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_DriveHDIcon), this);
    tray->setObjectName(QStringLiteral("tray"));
    tray->setToolTip(QStringLiteral("Zorvane2"));
    tray->setContextMenu(PopupMenu1);
    connect(tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick)
            TrayDblClick();
        else if (r == QSystemTrayIcon::Trigger)
            PopupMenu1->popup(QCursor::pos());
    });
    tray->show();
}

// ---------------------------------------------------------------- log memo

void Tmain::LogLine(const QString& line) {
    Memo1->appendPlainText(line);
}

int Tmain::LogLineCount() const {
    if (Memo1->document()->isEmpty()) return 0;
    return Memo1->document()->blockCount();
}

QStringList Tmain::LogLines() const {
    if (Memo1->document()->isEmpty()) return {};
    return Memo1->toPlainText().split(u'\n');
}

// ---------------------------------------------------------------- life cycle

void Tmain::FormCreate() {
    FilterList.clear();
    SessionEnding = false;
    ExitConfirmed = false;
    Busy = false;
    sg->SetColWidth(colActionNumber, -1);

    ProgDir = ShellFolders::IncludeTrailingPathDelimiter(ShellFolders::ProgramFolder());
    QString data;
    try {
        data = Registry::ReadString(RegRoot::CurrentUser,
                                    QStringLiteral("software\\microsoft\\windows\\currentversion\\"
                                                   "explorer\\shell folders"),
                                    QStringLiteral("appdata"))
                   .value_or(QString());
        if (data.isEmpty()) data = ShellFolders::Folder(QStringLiteral("appdata"));
        // The per-user folder always exists on the original platform; here it may not yet.
        if (!data.isEmpty() && !QDir().mkpath(data)) data.clear();
    } catch (...) {
        data.clear();
    }
    DataDir = data.isEmpty() ? ProgDir : ShellFolders::IncludeTrailingPathDelimiter(data);

    LoadSettings();
    setHintColour();
    ReadLayout();
    AutoStart = false;

    QFile hist(HistoryFileName());
    if (hist.open(QIODevice::ReadOnly)) {
        QString text = QString::fromUtf8(hist.readAll());
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (text.endsWith(u'\n')) text.chop(1);
        if (!text.isEmpty()) Memo1->setPlainText(text);
    }

    SetStatus(Tx(txGestartet) + TextFormats::FormatDateTime(Clock::Now()));
    if (!Args.isEmpty() && Args.first() == QStringLiteral("auto")) AutoStart = true;
    btnTimer->setChecked(true);
    SaveHistory();
    btnIupdate->setEnabled(ShellFolders::FileExistsNoCase(
        ProgDir, QStringLiteral("KelvoIUpdate") + ShellFolders::ExecutableSuffix()));
}

void Tmain::FormShow() {
    Timer2->start();
    setHintColour();
}

void Tmain::FormActivate() {
    QCoreApplication::processEvents();
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    cbSperr->update();
    QCoreApplication::processEvents();
    Panel2->setAutoFillBackground(!Panel2->autoFillBackground());
    QCoreApplication::processEvents();
    // Here the window is also activated when the user switches between programs; clearing the
    // modified flag then would drop unsaved changes without the close question. So the
    // language is applied and the settings counted unchanged at the first activation only.
    if (activatedOnce_) return;
    activatedOnce_ = true;
    cbLangChange(nullptr);
    SetModified(false);
}

void Tmain::ZorvaneCloseClick() {
    if (Dialogs::MessageDlg(Tx(txWirklichBeenden), Dialogs::Kind::Warning,
                            Dialogs::Yes | Dialogs::No) == Dialogs::Yes) {
        ExitConfirmed = true;
        close();
    }
}

bool Tmain::FormCloseQuery() {
    if (SessionEnding) {
        saveIniExecute(saveIni);
        return true;
    }
    const bool canClose = ExitConfirmed;
    if (Modified) {
        const int answer = Dialogs::MessageDlg(DiscardChangesText(), Dialogs::Kind::Confirmation,
                                               Dialogs::Yes | Dialogs::No | Dialogs::Cancel);
        if (answer == Dialogs::Cancel) return canClose;
        if (answer == Dialogs::Yes) {
            if (!canClose) {
                SetModified(false);
                loadIniExecute(loadIni);
            }
        } else if (answer == Dialogs::No) {
            saveIniExecute(saveIni);
        }
    }
    if (!canClose) HideToTray();
    return canClose;
}

void Tmain::FormClose() {
    if (isMinimized()) showNormal();
    SetStatus(Tx(txWirdBeendet) + u' ' + TextFormats::FormatDateTime(Clock::Now()));
    try {
        saveIniExecute(nullptr);
    } catch (const std::exception& e) {
        Dialogs::ShowError(QString::fromUtf8(e.what()));
    }
    SaveHistory();
}

void Tmain::FormDestroy() {
    if (Timer2) Timer2->stop();
    zip.reset();
    FilterList.clear();
}

void Tmain::CommitDataRequest() {
    SessionEnding = true;
    // A run or restore under way is stopped as by its abort button, so the session is not
    // kept waiting; its old archive or files stay as they were.
    if (btnAbort->isVisible()) btnAbort->click();
    const QDateTime now = Clock::Now();
    // Date and time also at midnight.
    LogLine(Tx(txBenutzerAbmeldung) + TextFormats::FormatDate(now.date()) + u' ' +
            TextFormats::FormatTime(now.time()));
    close();
}

void Tmain::TrayDblClick() {
    showNormal();
    setVisible(true);
    raise();
    activateWindow();
}

void Tmain::HideToTray() {
    hide();
}

bool Tmain::HiddenInTray() const {
    return !isVisible();
}

void Tmain::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    if (key == Qt::Key_D && (shift & Qt::ShiftModifier) && (shift & Qt::ControlModifier))
        DebugMode = !DebugMode;
    const auto acts = ToolBar1->actions();
    for (QAction* a : acts)
        if (a->objectName() == QStringLiteral("cbDebugAction")) a->setVisible(DebugMode);
    cbDebug->setVisible(DebugMode);
}

// ---------------------------------------------------------------- Qt events

void Tmain::closeEvent(QCloseEvent* e) {
    if (closing_) {
        e->accept();
        return;
    }
    bool canClose = false;
    try {
        canClose = FormCloseQuery();
    } catch (const std::exception& ex) {
        Dialogs::ShowError(QString::fromUtf8(ex.what()));
        // A failed save must not keep a logoff or a confirmed exit from ending the program.
        canClose = SessionEnding || ExitConfirmed;
    }
    if (!canClose) {
        e->ignore();
        return;
    }
    closing_ = true;
    // No scheduled run may start inside the close, which pumps messages.
    Timer2->stop();
    FormClose();
    e->accept();
    tray->hide();
    QCoreApplication::quit();
}

void Tmain::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    FormShow();
}

void Tmain::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) {
        FormActivate();
    } else if (e->type() == QEvent::WindowStateChange && isMinimized()) {
        // Minimise to tray: only the tray icon stays.
        QTimer::singleShot(0, this, [this] { HideToTray(); });
    }
}

bool Tmain::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        // An unhandled key travels up to the parents and passes this filter at each step;
        // it must count once.
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(e);
        if (w && w->window() == this && (e != lastKey_ || k->key() != lastKeyCode_)) {
            lastKey_ = e;
            lastKeyCode_ = k->key();
            FormKeyDown(k->key(), k->modifiers());
        }
    } else if (e->type() == QEvent::KeyRelease) {
        lastKey_ = nullptr;
    }
    return QMainWindow::eventFilter(watched, e);
}

// ---------------------------------------------------------------- language

void Tmain::cbLangChange(QObject* Sender) {
    Q_UNUSED(Sender);
    Language = static_cast<unsigned char>(cbLang->currentIndex() == 1 ? 1 : 0);
    SetGridTitles();
    btnAbort->setText(Language == 0 ? QStringLiteral("Abbrechen") : QStringLiteral("Abort"));
    SetModified(true);
}

void Tmain::SetGridTitles() {
    static const char* const headers[ActionColumnCount][2] = {
        {"Verzeichnis", "Directory"},
        {"Nach", "To File"},
        {"Zeit", "Time"},
        {"Anz.", "quant."},
        {"letzte Sicherung", "last Backup"},
        {"", ""},
        {"Dateien", "Files"},
        {"Bytes", "Bytes"},
        {"Archiv", "Archiv"},
        {"Dauer", "period"},
        {"Filter", "Filter"},
        {"Hist", "Hist"},
        {"Meldungen", "Message"},
        {"Pw", "Pw"},
    };
    for (int c = 0; c < ActionColumnCount; ++c)
        if (c != colActionNumber)
            sg->SetCell(c, 0, QString::fromUtf8(headers[c][Language == 0 ? 0 : 1]));
}

// ---------------------------------------------------------------- shared routines

void Tmain::SpinnerStep() {
    switch (staTag) {
    case 0:
        staTag = 1;
        sta->setText(QStringLiteral("\\"));
        break;
    case 1:
        staTag = 2;
        sta->setText(QStringLiteral("|"));
        break;
    case 2:
        staTag = 3;
        sta->setText(QStringLiteral("/"));
        break;
    case 3:
        staTag = 0;
        sta->setText(QStringLiteral("---"));
        break;
    default:
        break;
    }
}

void SetStatus(const QString& Text) {
    if (!main) return;
    main->SpinnerStep();
    if (!Text.startsWith(u' ')) main->LogLine(QStringLiteral("  - ") + Text);
    const QString ready = Tx(txBereit);
    main->Status->setText(Text.startsWith(ready) ? ready : Text);
    QCoreApplication::processEvents();
}

void SetModified(bool Value) {
    if (!main) return;
    main->Modified = Value;
    // A reload still waiting for a run to end must not throw away changes made after it was
    // asked for; the close question will ask about them.
    if (Value) main->ReloadPending = false;
    main->loadIni->setEnabled(Value);
    main->saveIni->setEnabled(Value);
}
