#pragma once
// The editor of an action's archive password, with its warning and a box to show it in clear.
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TextLanguage;

class TfPw : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TfPw(const TextLanguage& language, QWidget* parent = nullptr);
    void SetCaptions();
    // Shows the password in clear while the box is ticked, else masks it.
    void cbShowPwClick(QObject* Sender);

    QPlainTextEdit* Memo1 = nullptr;
    QCheckBox* cbShowPw = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* ePw = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // abort

private:
    const TextLanguage& language_;
};
