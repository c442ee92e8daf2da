#pragma once
// The about box: the program's name and version, its banner and the links to the maker, to
// support by mail and to the archive libraries' projects.
#include <QDialog>
#include <QLabel>

class QFrame;
class QPushButton;

// A label that reports a left click; the about box's links and pictures are such labels.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    void SetCaptions();

    // Sets the version label and appends the version to the support link.
    void FormCreate();
    // The one click handler of the links and the pictures beside them.
    void Label2Click(QObject* Sender);
    void OKButtonClick();

    // The colour a link label's text shows now.
    static QColor LinkColour(const QLabel* label);

    QFrame* Panel1 = nullptr;
    TClickLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* lVersion = nullptr;
    QLabel* Notice = nullptr;
    TClickLabel* Image1 = nullptr;
    TClickLabel* Label2 = nullptr;
    TClickLabel* Image2 = nullptr;
    TClickLabel* Lsupport = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    TClickLabel* Label1 = nullptr; // the writing library's page
    TClickLabel* Label5 = nullptr; // the reading library's page
    QPushButton* OKButton = nullptr;

private:
    QFrame* buildPanel();
};
