#pragma once
// The time-of-day editor of an action's start time.
#include <QDialog>

class QPushButton;
class QTimeEdit;
class TextLanguage;

class TTimeWin : public QDialog {
    Q_OBJECT
public:
    // Its captions follow the language.
    TTimeWin(const TextLanguage& language, QWidget* parent = nullptr);
    // The texts of the current language.
    void SetCaptions();

    QTimeEdit* dtp = nullptr;
    QPushButton* BitBtn1 = nullptr; // OK
    QPushButton* BitBtn2 = nullptr; // abort

private:
    const TextLanguage& language_;
};
