#pragma once
// Update.bat: replaces the files that were in use during an install at the next logon. It is
// written in Windows-1252 with CR LF line ends: per file a "del" and a "copy" line, at the end
// "exit" and an empty line. A path the command interpreter would read differently from what it
// says (quotes, %, ^, &, |, <, >, a line break, a character the code page lacks) is never put
// into it, nor one a POSIX shell would expand ($, `).
#include <QString>
#include <QStringList>

class BatchFile {
public:
    // Nothing is written before the first pair of lines.
    explicit BatchFile(QString path) : path_(std::move(path)) {}

    const QString& Path() const { return path_; }
    bool Started() const { return started_; }

    // Where a file in use waits for the batch file: unpackDir and its name, or, when an earlier
    // file of this install already took that name, the name with a number added.
    QString StagedPath(const QString& unpackDir, const QString& fileName);

    // Adds the lines that replace target by staged; the first call creates the file anew.
    // Raises std::runtime_error when the file cannot be written.
    void AddReplacement(const QString& target, const QString& staged);
    // "exit" and an empty line.
    void Finish();

private:
    void append(const QStringList& lines);

    QString path_;
    bool started_ = false;
    QStringList stagedPaths_;
};

// Empty when path can stand in double quotes on a batch file's line; otherwise why not.
QString BatchPathProblem(const QString& path);

// The RunOnce value under the local machine that feeds the batch file to the command
// interpreter at the next logon.
inline const QString RunOnceKey =
    QStringLiteral("Software\\microsoft\\windows\\currentversion\\runonce");
inline const QString RunOnceValue = QStringLiteral("iupdate");
QString RunOnceCommand(const QString& batchPath);
// Writes the RunOnce value. False when the key does not exist; raises std::runtime_error when
// the value cannot be written.
bool RegisterRunOnce(const QString& batchPath);
