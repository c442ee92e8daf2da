#pragma once
// A temporary folder for one test, with helpers to lay out files with given contents and dates.
#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestFolder {
public:
    TestFolder();
    bool IsValid() const { return dir_.isValid(); }
    // Absolute path of the folder (no trailing separator) or of a file below it.
    QString Path(const QString& rel = {}) const;
    // Creates the file and its folders; returns its absolute path.
    QString Write(const QString& rel, const QByteArray& content,
                  const QDateTime& modified = QDateTime());
    QString MakeDir(const QString& rel);
    QByteArray Read(const QString& rel) const;
    bool Exists(const QString& rel) const;
    // Relative paths of every file below rel, sorted, "/" separated.
    QStringList Files(const QString& rel = {}) const;
    // The same by the bytes of the names, which need not be UTF-8: WriteBytes creates the file
    // and its folders (false when it cannot), FileBytes gives every file below rel with its
    // contents.
    bool WriteBytes(const QByteArray& rel, const QByteArray& content);
    QMap<QByteArray, QByteArray> FileBytes(const QString& rel = {}) const;

private:
    QTemporaryDir dir_;
};

// Runs a shell command line; returns its exit code and puts its output into *out when given.
int RunCommand(const QString& command, QString* out = nullptr);

// The id of a process that has just ended, for files that name their writer.
qint64 EndedProcessId();
