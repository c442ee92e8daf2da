#include "About.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

#include "DesignScale.h"
#include "ProgramInfo.h"
#include "Shell.h"

namespace {

void setColour(QLabel* label, const QColor& c) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
}

QLabel* centredBold(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAlignment(Qt::AlignCenter);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

TClickLabel* linkLabel(QWidget* parent, const char* name, const QString& target) {
    auto* l = new TClickLabel(target, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setToolTip(target);
    QFont f = l->font();
    f.setBold(true);
    f.setUnderline(true);
    l->setFont(f);
    l->setCursor(Qt::PointingHandCursor);
    setColour(l, Qt::blue);
    return l;
}

TClickLabel* iconLabel(QWidget* parent, const char* name, const QIcon& icon) {
    auto* l = new TClickLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setPixmap(icon.pixmap(16, 16));
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

QHBoxLayout* centredRow(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout();
    row->addStretch(1);
    for (QWidget* w : widgets)
        row->addWidget(w);
    row->addStretch(1);
    return row;
}

} // namespace

void TClickLabel::mouseReleaseEvent(QMouseEvent* e) {
    QLabel::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) Q_EMIT clicked();
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("AboutBox"));
    auto* top = new QVBoxLayout(this);
    top->addWidget(buildPanel());

    OKButton = new QPushButton(this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    top->addLayout(centredRow({OKButton}));

    for (TClickLabel* l : {ProgramIcon, Image1, Label2, Image2, Lsupport, Label1, Label5})
        connect(l, &TClickLabel::clicked, this, [this, l] { Label2Click(l); });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    SetCaptions();
    FormCreate();
}

// The grey panel: the banner, the program's name and version, the maker's links, the ZIP
// libraries.
QFrame* TAboutBox::buildPanel() {
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette grey = Panel1->palette();
    grey.setColor(QPalette::Window, QColor(224, 224, 222));
    Panel1->setPalette(grey);

    auto* panel = new QVBoxLayout(Panel1);
    ProgramIcon = new TClickLabel(Panel1);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(QPixmap(QStringLiteral(":/about/banner.jpg"), "JPEG"));
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setFixedSize(DesignScale::Px(400), DesignScale::Px(96));
    ProgramIcon->setCursor(Qt::PointingHandCursor);
    panel->addLayout(centredRow({ProgramIcon}));

    ProductName = centredBold(Panel1, "ProductName");
    setColour(ProductName, QColor(0, 0, 128));
    QFont large = ProductName->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    ProductName->setFont(large);
    lVersion = centredBold(Panel1, "lVersion");
    Notice = centredBold(Panel1, "Notice");
    panel->addWidget(ProductName);
    panel->addWidget(lVersion);
    panel->addWidget(Notice);
    panel->addSpacing(8);

    const QIcon linkIcon = style()->standardIcon(QStyle::SP_DirLinkIcon);
    Image1 = iconLabel(Panel1, "Image1", linkIcon);
    Label2 = linkLabel(Panel1, "Label2", ProgramInfo::MakerHomePage());
    panel->addLayout(centredRow({Image1, Label2}));
    Image2 = iconLabel(Panel1, "Image2", linkIcon);
    Lsupport = linkLabel(Panel1, "Lsupport", ProgramInfo::SupportMail());
    Lsupport->setToolTip(ProgramInfo::SupportMailWithSubject());
    panel->addLayout(centredRow({Image2, Lsupport}));
    panel->addSpacing(8);

    Label3 = centredBold(Panel1, "Label3");
    Label3->setText(ProgramInfo::ZipLibrariesText());
    panel->addWidget(Label3);
    Label4 = new QLabel(Panel1);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label1 = linkLabel(Panel1, "Label1", ProgramInfo::WriterLibraryPage());
    Label5 = linkLabel(Panel1, "Label5", ProgramInfo::ReaderLibraryPage());
    panel->addLayout(centredRow({Label4, Label1, Label5}));
    return Panel1;
}

void TAboutBox::SetCaptions() {
    setWindowTitle(QStringLiteral("Info"));
    ProductName->setText(QStringLiteral("Zorvane2"));
    Notice->setText(QStringLiteral("© KELVO, alle Rechte vorbehalten"));
    Label4->setText(QStringLiteral("von/from"));
    OKButton->setText(QStringLiteral("OK"));
}

void TAboutBox::FormCreate() {
    // Appended as it stands, blanks included: the shell encodes the link when it opens it.
    const QString version = ProgramVersion();
    lVersion->setText(QStringLiteral("Version: ") + version);
    Lsupport->setToolTip(Lsupport->toolTip() + QStringLiteral(" Version ") + version);
}

void TAboutBox::Label2Click(QObject* Sender) {
    QLabel* link = qobject_cast<QLabel*>(Sender);
    if (Sender == ProgramIcon || Sender == Image1)
        link = Label2;
    else if (Sender == Image2)
        link = Lsupport;
    if (!link) return;
    setColour(link, Qt::red);
    QCoreApplication::processEvents();
    QThread::msleep(7);
    Shell::Open(link->toolTip());
    setColour(link, QColor(0, 0, 128));
}

void TAboutBox::OKButtonClick() {
    OKButton->setFocus();
    accept();
}

QColor TAboutBox::LinkColour(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}
