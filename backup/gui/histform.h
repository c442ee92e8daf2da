#pragma once
// The editor of an action's weekly and monthly copies.
#include <QDialog>

class QCheckBox;
class QPushButton;
class TextLanguage;

class TfHist : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TfHist(const TextLanguage& language, QWidget* parent = nullptr);
    void SetCaptions();

    QCheckBox* ws = nullptr;
    QCheckBox* ms = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // cancel

private:
    const TextLanguage& language_;
};
