#pragma once
// The restore dialog.
#include <QDialog>

class TfRestore : public QDialog {
    Q_OBJECT
public:
    explicit TfRestore(QWidget* parent = nullptr);
};
