#pragma once
// The editor of an action's generation count: a digits-only edit with an up-down beside it.
#include <QDialog>

class QLineEdit;
class QPushButton;
class QToolButton;
class TextLanguage;

// Up-down arrows bound to an edit: a click reads the edit's number, steps it within the range
// and writes it back.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    TUpDown(QLineEdit* associate, int min, int max, QWidget* parent = nullptr);
    int Position() const;
    void SetPosition(int value);
    void Step(int delta);

    QToolButton* Up = nullptr;
    QToolButton* Down = nullptr;

private:
    QLineEdit* associate_;
    int min_, max_;
};

class TcountWin : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TcountWin(const TextLanguage& language, QWidget* parent = nullptr);
    void SetCaptions();
    // Drops every typed character but backspace and the digits; true when the key was dropped.
    bool ecKeyPress(QObject* Sender, QChar Key);

    QLineEdit* ec = nullptr;
    TUpDown* UD = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // abort

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    const TextLanguage& language_;
};
