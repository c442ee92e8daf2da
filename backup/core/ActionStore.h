#pragma once
// The settings file Zorvane2.ini as a plain model: the language, the blocking window, the
// Backup actions, the window layout and the run statistics. One store object is one load or
// save: Open reads the file once, the Read and Put calls work on that copy, Commit writes it
// back once (atomically), so a save never leaves half of its keys behind.
#include <QList>
#include <QSize>
#include <QString>
#include <QTime>
#include <array>

#include "BackupAction.h"
#include "IniFile.h"

// The daily blocking window.
struct BlockingWindow {
    QTime From{6, 0};
    QTime To{23, 0};
    bool On = true;
};

struct StoredSettings {
    int Lang = 0; // the selected entry of the language list
    BlockingWindow Blocking;
    QList<BackupAction> Actions; // in file order, each with its number
};

struct WindowLayout {
    int Lang = 0;
    int Left = 0, Top = 0, Width = 0, Height = 0;
    std::array<int, ActionColumnCount> ColWidths{}; // colActionNumber is not stored
};

class ActionStore {
public:
    explicit ActionStore(QString fileName);

    // Reads the file. Raises when it exists but cannot be read (a missing file is fine):
    // nothing is then written over it.
    void Open();
    // Writes what the Put calls changed, once. Raises IniWriteError.
    void Commit();

    // The language, the blocking window (a version-1 file's end of two in the morning becomes
    // 23:00) and the actions up to the first without a source folder.
    StoredSettings ReadSettings() const;
    // The layout with its defaults: the window centred on the screen at its present size; the
    // position is kept on the screen.
    WindowLayout ReadLayout(QSize screen, QSize window) const;

    // The full save: blocking window, version 2 and the actions in the given order, numbered
    // from 1 (their number cells are set), and the end mark after the last.
    void PutFull(const BlockingWindow& blocking, QList<BackupAction>& actions);
    // The layout save: language, window bounds, column widths.
    void PutLayout(const WindowLayout& layout);
    // The run statistics of each action under its number; actions without one are skipped.
    void PutStatistics(const QList<BackupAction>& actions);

private:
    IniFile ini_;
};
