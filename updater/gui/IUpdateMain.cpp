#include "IUpdateMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "BatchFile.h"
#include "Beep.h"
#include "DesignScale.h"
#include "Dialogs.h"
#include "Http.h"
#include "Install.h"
#include "Shell.h"
#include "ShellFolders.h"
#include "SystemList.h"
#include "WindowFit.h"

namespace {

QPixmap lamp(const QColor& colour) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(colour.darker(160));
    p.drawEllipse(2, 2, 12, 12);
    return pm;
}

QLineEdit* addField(QGridLayout* grid, int column, const char* caption, const char* name) {
    auto* label = new QLabel(QString::fromUtf8(caption));
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    grid->addWidget(label, 0, column);
    grid->addWidget(edit, 1, column);
    return edit;
}

// Masks a password field with "*" whatever the desktop's style would use.
class StarMask : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return u'*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// "The configuration path" may arrive with the quotes a Windows command line would drop.
QString unquoted(QString arg) {
    if (arg.size() >= 2 && arg.startsWith(u'"') && arg.endsWith(u'"'))
        arg = arg.mid(1, arg.size() - 2);
    return arg;
}

void makeFolder(const QString& folder) {
    if (!QDir().mkpath(folder)) {
        throw std::runtime_error(
            QStringLiteral("Der Ordner %1 kann nicht angelegt werden").arg(folder).toStdString());
    }
}

} // namespace

TiupMain::TiupMain(QStringList args, PlaceholderTable placeholders, QWidget* parent)
    : QWidget(parent), args_(std::move(args)) {
    Config.placeholders = std::move(placeholders);
    setObjectName(QStringLiteral("iupMain"));
    buildWindow();
    qApp->installEventFilter(this); // sees every key first
    FormCreate();
}

TiupMain::~TiupMain() {
    FormDestroy();
}

void TiupMain::buildWindow() {
    setWindowTitle(QStringLiteral("Kelvo Internet Update"));
    setWindowIcon(QIcon(QStringLiteral(":/kelvo/zorvane2.svg")));
    using DesignScale::Px;
    DesignScale::Resize(this, 716, 557);

    auto* group = new QGroupBox(QStringLiteral("Verfügbare Programme mit Versioninformationen"));
    lvMods = new QTreeWidget;
    lvMods->setObjectName(QStringLiteral("lvMods"));
    lvMods->setHeaderLabels({QStringLiteral("Modul"), QStringLiteral("Ausfuehren"),
                             QStringLiteral("Beschr"), QStringLiteral("Hist"),
                             QStringLiteral("Größe")});
    lvMods->setRootIsDecorated(false);
    lvMods->setFrameShape(QFrame::NoFrame);
    lvMods->setColumnWidth(0, Px(120));
    for (int c = 1; c <= 3; ++c)
        lvMods->setColumnHidden(c, true);
    lvMods->setColumnWidth(4, Px(90));
    // The size column keeps its width; the list's spare room stays empty.
    lvMods->header()->setStretchLastSection(false);
    lvMods->headerItem()->setTextAlignment(4, Qt::AlignRight | Qt::AlignVCenter);
    QPalette face = lvMods->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    lvMods->setPalette(face);
    mBemerkung = new QPlainTextEdit;
    mBemerkung->setObjectName(QStringLiteral("mBemerkung"));
    mBemerkung->setReadOnly(true);
    mHist = new QPlainTextEdit;
    mHist->setObjectName(QStringLiteral("mHist"));
    mHist->setReadOnly(true);
    auto* right = new QSplitter(Qt::Vertical);
    right->addWidget(mBemerkung);
    right->addWidget(mHist);
    right->setStretchFactor(0, 0);
    right->setStretchFactor(1, 1);
    right->setSizes({Px(100), Px(300)});
    FileListBox1 = new QListWidget;
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->hide();
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(lvMods, 1);
    groupLayout->addWidget(right, 1);
    groupLayout->addWidget(FileListBox1);

    lvPanel = new QStackedWidget;
    lvPanel->setObjectName(QStringLiteral("lvPanel"));
    lvPanel->setFixedHeight(Px(100));
    done = new QPlainTextEdit;
    done->setObjectName(QStringLiteral("done"));
    done->setReadOnly(true);
    lvPanel->addWidget(done);

    auto* bottom = new QWidget;
    auto* grid = new QGridLayout(bottom);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->addWidget(new QLabel(QStringLiteral("Dateigröße")), 0, 0);
    lgesamt = new QLabel(QStringLiteral("0"));
    lgesamt->setObjectName(QStringLiteral("lgesamt"));
    grid->addWidget(lgesamt, 1, 0);
    startBtn = new QPushButton;
    startBtn->setObjectName(QStringLiteral("startBtn"));
    SpeedButton3 = new QPushButton(QStringLiteral("Abbrechen"));
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton3->setEnabled(false);
    goBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                            QStringLiteral("Beenden"));
    goBtn->setObjectName(QStringLiteral("goBtn"));
    grid->addWidget(startBtn, 0, 1, 2, 1);
    grid->addWidget(SpeedButton3, 0, 2, 2, 1);
    grid->addWidget(goBtn, 0, 3, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("System")), 0, 4);
    cbSystem = new QComboBox;
    cbSystem->setObjectName(QStringLiteral("cbSystem"));
    cbSystem->addItems(SystemNames());
    cbSystem->setCurrentIndex(-1);
    grid->addWidget(cbSystem, 1, 4);
    cbAllesNeu = new QCheckBox(QStringLiteral("Alles Neu"));
    cbAllesNeu->setObjectName(QStringLiteral("cbAllesNeu"));
    cbDebug = new QCheckBox(QStringLiteral("Debug"));
    cbDebug->setObjectName(QStringLiteral("cbDebug"));
    cbDebug->setChecked(true);
    cbDebug->hide();
    cbUseFW = new QCheckBox(QStringLiteral("Firewall / Proxy benutzen"));
    cbUseFW->setObjectName(QStringLiteral("cbUseFW"));
    cbUseFW->hide();
    grid->addWidget(cbAllesNeu, 0, 5);
    grid->addWidget(cbDebug, 1, 5);
    grid->addWidget(cbUseFW, 0, 6);

    pUseFW = new QFrame;
    pUseFW->setObjectName(QStringLiteral("pUseFW"));
    auto* fw = new QGridLayout(pUseFW);
    fw->setContentsMargins(2, 2, 2, 2);
    edFHost = addField(fw, 0, "Firewall", "edFHost");
    edFuser = addField(fw, 1, "User", "edFuser");
    edFPort = addField(fw, 2, "Port", "edFPort");
    edFPort->setText(QStringLiteral("80"));
    edFPW = addField(fw, 3, "PW", "edFPW");
    edFPW->setEchoMode(QLineEdit::Password);
    auto* mask = new StarMask;
    mask->setParent(edFPW);
    edFPW->setStyle(mask);
    edAuth = addField(fw, 4, "Auth", "edAuth");
    grid->addWidget(pUseFW, 2, 0, 1, 7);

    imgon = new QLabel;
    imgon->setObjectName(QStringLiteral("imgon"));
    imgon->setPixmap(lamp(QColor(0, 170, 0)));
    imgon->hide();
    imgoff = new QLabel;
    imgoff->setObjectName(QStringLiteral("imgoff"));
    imgoff->setPixmap(lamp(QColor(190, 0, 0)));
    auto* lamps = new QHBoxLayout;
    lamps->addWidget(imgon);
    lamps->addWidget(imgoff);
    grid->addLayout(lamps, 1, 6);
    grid->setColumnStretch(7, 1);

    auto* status = new QFrame;
    status->setFrameShape(QFrame::StyledPanel);
    status->setFrameShadow(QFrame::Sunken);
    Panel3 = new QLabel(QStringLiteral("Bereit"));
    Panel3->setObjectName(QStringLiteral("Panel3"));
    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("progress"));
    progress->setTextVisible(false);
    progress->setFixedWidth(DesignScale::Px(200));
    progress->setValue(0);
    auto* statusLayout = new QHBoxLayout(status);
    statusLayout->setContentsMargins(4, 1, 4, 1);
    statusLayout->addWidget(Panel3, 1);
    statusLayout->addWidget(progress);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(group, 1);
    layout->addWidget(lvPanel);
    layout->addWidget(bottom);
    layout->addWidget(status);

    SetStartState(1);
    cbUseFWClick();
    setSystemListAttention(false);

    connect(startBtn, &QPushButton::clicked, this, &TiupMain::startBtnClick);
    connect(SpeedButton3, &QPushButton::clicked, this, &TiupMain::SpeedButton3Click);
    connect(goBtn, &QPushButton::clicked, this, &TiupMain::goBtnClick);
    connect(cbSystem, &QComboBox::activated, this, &TiupMain::cbSystemChange);
    connect(cbUseFW, &QCheckBox::toggled, this, &TiupMain::cbUseFWClick);
    connect(cbAllesNeu, &QCheckBox::toggled, this, &TiupMain::cbAllesNeuClick);
    connect(lvMods, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* row, QTreeWidgetItem*) { lvModsChange(row); });
    connect(lvMods, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        if (refreshing_ || column != 0) return;
        CurrentModule = row;
        lvModsClick();
    });
    connect(lvMods, &QTreeWidget::itemClicked, this, [this] { lvModsClick(); });
    connect(lvMods, &QTreeWidget::itemDoubleClicked, this, [this] { lvModsClick(); });

    http = new HttpClient(this);
    // A transfer runs on a worker; meanwhile the window goes on answering.
    http->SetKeepResponsive([] { QCoreApplication::processEvents(); });
    connect(http, &HttpClient::Connected, this, &TiupMain::httpConnected);
    connect(http, &HttpClient::Disconnected, this, &TiupMain::httpDisconnected);
    connect(http, &HttpClient::Status, this, &TiupMain::httpStatus);
    connect(http, &HttpClient::WorkBegin, this, &TiupMain::httpWorkBegin);
    connect(http, &HttpClient::Work, this, &TiupMain::httpWork);
    connect(http, &HttpClient::WorkEnd, this, &TiupMain::httpWorkEnd);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TiupMain::FormCreate() {
    CancelRequested = false;
    Plan.Clear();
    DownloadBuffer.clear();
}

void TiupMain::FormShow() {
    int n = 0;
    try {
        OsVersion = WinVersion::GetOsVersionEx();
        ExeDir = ShellFolders::ProgramFolder();
        AddBackslash(ExeDir);
        WorkDir = ShellFolders::WritableProgramFolder(QStringLiteral("KelvoIUpdate"));
        BatchStarted = false;
        SettingsIni = std::make_unique<IniFile>(WorkDir + QStringLiteral("crupdate.ini"));
        SettingsIni->SetOwnerOnly(true);
        const UpdaterSettings s = ReadUpdaterSettings(*SettingsIni);
        cbUseFW->setChecked(s.ufw);
        cbUseFWClick();
        edFHost->setText(s.fh);
        edFuser->setText(s.fu);
        edFPort->setText(s.fp);
        edAuth->setText(s.aut);

        n = 1;
        // The password field can take the focus only while the firewall panel is on.
        if (!edFuser->text().isEmpty() && pUseFW->isEnabled()) edFPW->setFocus();
        DownloadDir = WorkDir + QStringLiteral("iupTemp/");

        n = 2;
        makeFolder(DownloadDir);
        UnpackDir = WorkDir + QStringLiteral("iupT/");

        n = 3;
        makeFolder(UnpackDir);
        Batch = std::make_unique<BatchFile>(UnpackDir + QStringLiteral("Update.bat"));
        PointFileList(UnpackDir);

        n = 4;
        deleteListedFiles(UnpackDir, true);

        n = 5;
        PointFileList(DownloadDir);
        deleteListedFiles(DownloadDir, true);
        downloadDirReady_ = true;

        n = 6;
        const QString second = args_.value(1);
        ConfigPath = unquoted(args_.value(0));
        cbAllesNeu->setChecked(second == u"-oa");
        if (ConfigPath.isEmpty() && QFileInfo(ExeDir + QStringLiteral("iup.ini")).isFile())
            ConfigPath = ExeDir + QStringLiteral("iup.ini");
        if (ConfigPath.isEmpty()) {
            Dialogs::ShowMessage(
                QStringLiteral("Dieses Programm wird von der Hauptanwendung gestartet"));
            QTimer::singleShot(0, this, &QWidget::close);
            return;
        }
        ReadUpdaterConfig();
        if (EndRequested) return;
        // An install cut short by an earlier version may have left the program's old file
        // aside; it goes back before anything looks for the program.
        Install::RecoverFolder(Config.placeholders[Placeholder::InstallDir].folder,
                               [this](const QString& line) { done->appendPlainText(line); });
        CurrentModule = nullptr;
        CurrentFileRow = nullptr;

        n = 7;
        SystemIndex = DetectSystemIndex(OsVersion);
        cbSystem->setCurrentIndex(SystemIndex);
        if (SystemIndex == -1) {
            setSystemListAttention(true);
            startBtn->setEnabled(false);
            Dialogs::MessageDlg(QStringLiteral("Windows Version nicht erkannt,\n"
                                               "bitte suchen Sie die richtige Version\n"
                                               "aus der Liste aus"),
                                Dialogs::Kind::Warning, Dialogs::Ok);
            cbSystem->showPopup();
        } else {
            AutoRun = second == u"auto";
        }
    } catch (const std::exception& e) {
        Dialogs::ShowMessage(QStringLiteral("Fehler %1 in Show:\r\n").arg(n) +
                             QString::fromUtf8(e.what()));
    }
}

void TiupMain::FormActivate() {
    if (!AutoRun || EndRequested) return;
    AutoRun = false;
    QCoreApplication::processEvents();
    startBtnClick();
}

void TiupMain::startBtnClick() {
    if (CloseRequested) return; // no further step once the window is to close
    // A chained click runs inside the one before it; an error ends the whole chain and is
    // reported once, by the outermost click.
    ++clickDepth_;
    startBtn->setEnabled(false);
    SpeedButton3->setEnabled(true);
    try {
        runStartStep();
    } catch (const StepReported&) {
        startBtn->setEnabled(true);
        if (--clickDepth_ > 0) throw;
        closeIfRequested();
        return;
    } catch (const std::exception& e) {
        startBtn->setEnabled(true);
        if (--clickDepth_ > 0) throw;
        // A step cut short by closing the window is no failure to tell about.
        if (!CloseRequested) Dialogs::ShowError(QString::fromUtf8(e.what()));
        closeIfRequested();
        return;
    }
    --clickDepth_;
    startBtn->setEnabled(true);
    if (!CloseRequested) Beep::MessageBeep(Beep::Question);
    if (clickDepth_ == 0) closeIfRequested();
}

void TiupMain::closeIfRequested() {
    if (CloseRequested || closeAfterClick_) close();
}

void TiupMain::runStartStep() {
    switch (StartTag()) {
    case 1:
        if (FetchAndParse()) startBtnClick();
        break;
    case 2:
        TransferFiles();
        if (StartTag() == 3) startBtnClick();
        break;
    case 3:
        InstallFiles();
        if (ConfigUpdated) ReadUpdaterConfig();
        break;
    default:
        closeAfterClick_ = true; // the step itself; the window closes once the click has ended
        break;
    }
}

void TiupMain::goBtnClick() {
    close();
}

void TiupMain::FormClose() {
    if (SelfUpdating || EndRequested || Config.start.isEmpty()) return;
    const QString program = ExeDir + Config.start;
    const QFileInfo info(program);
    if (!info.exists()) return;
    // Programs are started; any other file is opened with its program.
    if (info.isFile() && info.isExecutable())
        Shell::Start(program, {}, ExeDir);
    else
        Shell::Open(program);
}

void TiupMain::FormDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    Plan.Clear();
    DownloadBuffer.clear();
    if (SettingsIni) {
        UpdaterSettings s;
        s.ufw = cbUseFW->isChecked();
        s.fh = edFHost->text();
        s.fu = edFuser->text();
        s.fp = edFPort->text();
        s.aut = edAuth->text();
        try {
            WriteUpdaterSettings(*SettingsIni, s);
        } catch (const std::exception& e) {
            Dialogs::ShowError(QString::fromUtf8(e.what()));
        }
    }
    if (downloadDirReady_) {
        PointFileList(DownloadDir);
        deleteListedFiles(DownloadDir, false);
    }
}

void TiupMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers both = Qt::ShiftModifier | Qt::ControlModifier;
    if (key == Qt::Key_D && (modifiers & both) == both) DebugMode = !DebugMode;
    cbDebug->setVisible(DebugMode);
}

void TiupMain::cbSystemChange(int index) {
    if (stepRunning()) {
        // The running step keeps the system it started with, and the button stays off.
        cbSystem->setCurrentIndex(SystemIndex);
        return;
    }
    SystemIndex = index;
    startBtn->setEnabled(true);
}

void TiupMain::SpeedButton3Click() {
    CancelRequested = true;
    SpeedButton3->setEnabled(false);
}

void TiupMain::cbUseFWClick() {
    const bool on = cbUseFW->isChecked();
    pUseFW->setEnabled(on);
    pUseFW->setFrameShape(on ? QFrame::NoFrame : QFrame::StyledPanel);
    pUseFW->setFrameShadow(QFrame::Sunken);
}

void TiupMain::ReadUpdaterConfig() {
    Config = ReadUpdaterConfigFile(ConfigPath, Config.placeholders);
    if (Config.ziel1 == 0)
        TargetFromIni();
    else if (Config.ziel1 >= 1 && Config.ziel1 <= 5)
        TargetFromRegistry();
    else
        AskInstallDir(
            InstallDirQuestion(QStringLiteral("Programm Pfad konnte nicht ermittelt werden")));
    ConfigUpdated = false;
}

void TiupMain::TargetFromIni() {
    const QString question = ::TargetFromIni(Config.ziel2, Config.placeholders);
    if (!question.isEmpty()) AskInstallDir(question);
}

void TiupMain::TargetFromRegistry() {
    const QString question = ::TargetFromRegistry(Config.ziel1, Config.ziel2, Config.placeholders);
    if (!question.isEmpty()) AskInstallDir(question);
}

void TiupMain::AskInstallDir(const QString& message) {
    const int answer =
        Dialogs::MessageDlg(message, Dialogs::Kind::Error, Dialogs::Ok | Dialogs::Abort);
    if (answer != Dialogs::Ok) {
        endProgram();
        return;
    }
    QString& install = Config.placeholders[Placeholder::InstallDir].folder;
    install = ExeDir;
    const QString chosen =
        Dialogs::BrowseForFolder(this, QStringLiteral("Programmverzeichnis"), install);
    if (chosen.isEmpty()) {
        endProgram();
        return;
    }
    install = chosen;
    AddBackslash(install);
    if (DebugMode) mHist->appendPlainText(QStringLiteral("Pfad geändert zu ") + install);
}

void TiupMain::endProgram() {
    EndRequested = true;
    AutoRun = false;
    QTimer::singleShot(0, this, &QWidget::close);
}

void TiupMain::SetStartState(int tag) {
    static const char* const captions[] = {"Start", "Übertragen", "Installieren", "Beenden"};
    tag = qBound(1, tag, 4);
    startStep_ = tag;
    startBtn->setText(QString::fromUtf8(captions[tag - 1]));
    startBtn->setIcon(tag == 4 ? goBtn->icon() : style()->standardIcon(QStyle::SP_ArrowRight));
}

void TiupMain::prepareZiel() {
    Ziel.systemIndex = SystemIndex;
    Ziel.debugMode = DebugMode;
    Ziel.showMessage = [](const QString& text) {
        Dialogs::ShowMessage(text, QCoreApplication::applicationFilePath());
    };
    Ziel.trace = [this](const QString& line) { done->appendPlainText(line); };
}

void TiupMain::DecodeZiel(const QString& spec) {
    prepareZiel();
    Ziel.DecodeZiel(spec);
}

void TiupMain::PointFileList(const QString& folder) {
    FileListBox1->clear();
    FileListBox1->addItems(
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name));
}

void TiupMain::deleteListedFiles(const QString& folder, bool lastFirst) {
    const int count = FileListBox1->count();
    for (int i = 0; i < count; ++i) {
        const int row = lastFirst ? count - 1 - i : i;
        QFile::remove(folder + FileListBox1->item(row)->text());
    }
}

void TiupMain::setSystemListAttention(bool on) {
    QPalette pal = cbSystem->palette();
    pal.setColor(QPalette::Base,
                 on ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
    pal.setColor(QPalette::Button,
                 on ? palette().color(QPalette::Base) : palette().color(QPalette::Button));
    cbSystem->setPalette(pal);
}

void TiupMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    FormShow();
}

void TiupMain::closeEvent(QCloseEvent* event) {
    if (stepRunning()) {
        // Closing now would leave the step running without a window, and start the configured
        // program beside it. The step is cancelled instead: a download under way ends, the
        // transfer stops before its next file, the install after the file at hand.
        CloseRequested = true;
        http->Cancel();
        event->ignore();
        return;
    }
    // The program is started once, however often the window is told to close.
    if (!closed_) FormClose();
    closed_ = true;
    event->accept();
}

bool TiupMain::event(QEvent* event) {
    const bool result = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return result;
}

bool TiupMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        // This window and every dialog it brings up, each time it appears; not popups.
        auto* shown = static_cast<QWidget*>(watched);
        if (shown->isWindow() &&
            (shown->windowType() == Qt::Window || shown->windowType() == Qt::Dialog))
            WindowFit::Fit(shown);
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    // A key the receiver ignores travels on to its parents, up to this window: count it once.
    const bool travelling =
        event == lastKey_ && lastReceiver_ && widget->isAncestorOf(lastReceiver_);
    lastKey_ = widget->isWindow() ? nullptr : event;
    lastReceiver_ = widget;
    if (travelling) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    FormKeyDown(key->key(), key->modifiers());
    return false;
}
