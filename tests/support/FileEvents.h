#pragma once
// Counts how often a file was put in place by a rename (a commit) while the object lives.
#include <QString>

class ReplacementCounter {
public:
    explicit ReplacementCounter(const QString& file);
    ~ReplacementCounter();
    ReplacementCounter(const ReplacementCounter&) = delete;
    ReplacementCounter& operator=(const ReplacementCounter&) = delete;
    // Renames onto the file since the start or the last call.
    int Take();

private:
    int fd_ = -1;
    QString name_;
};
