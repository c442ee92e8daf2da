#pragma once
// The folder picker behind Dialogs::BrowseForFolder. Besides an existing folder it accepts the
// name of one that does not exist yet (typed into its name field): the caller creates it when
// it is used, so the user need not leave the picker to make a new folder.
#include <QFileDialog>

namespace Dialogs {

class FolderPicker : public QFileDialog {
    Q_OBJECT
public:
    FolderPicker(QWidget* parent, const QString& title, const QString& start);
    // The chosen folder, "" while none was confirmed.
    QString Folder() const { return folder_; }
    // What the picker's confirm button and the Enter key do.
    void accept() override;

private:
    QString folder_;
};

} // namespace Dialogs
