#pragma once
// The folder placeholders that destinations of the update server begin with, and the decoding
// of a destination into a folder of this machine and whether the file is meant for this system.
#include <QString>
#include <array>
#include <functional>
#include <stdexcept>

// Appends this platform's separator when the path is not empty and does not end in one.
void AddBackslash(QString& path);

namespace Placeholder {
enum Index : int {
    InstallDir = 0,
    DataDir = 1,
    WinDir = 2,
    WinDisk = 3,
    WinSysDir = 4,
    WinSysDisk = 5,
    TempDir = 6,
    ProgramFilesDir = 7,
    CommonFiles = 8,
    FirstAllUsers = 9, // 9 to 16, each matching the per-user entry 8 places on
    FirstUser = 17,    // 17 to 24
    UserDesktop = 18,
    FontDir = 25,
    Count = 26,
};
} // namespace Placeholder

struct PlaceholderEntry {
    QString name;   // "<windir>\", compared exactly
    QString folder; // empty, or ending in the platform separator
};

class PlaceholderTable {
public:
    PlaceholderTable(); // every name, every folder empty
    PlaceholderEntry& operator[](int i) { return entries_.at(size_t(i)); }
    const PlaceholderEntry& operator[](int i) const { return entries_.at(size_t(i)); }

private:
    std::array<PlaceholderEntry, Placeholder::Count> entries_;
};

// Fills entries 2 to 25 from this machine; the install and data folders stay as they are.
void InitPlaceholders(PlaceholderTable& table);

// A destination that cannot be decoded; the text is what the user sees.
class DestinationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DestinationDecoder {
public:
    explicit DestinationDecoder(const PlaceholderTable& table) : table_(table) {}

    int systemIndex = -1;
    bool debugMode = false;
    // The "cannot decode" message for a path without placeholder, and the debug trace line.
    std::function<void(const QString&)> showMessage;
    std::function<void(const QString&)> trace;

    // Sets DecodedPath and AppliesToSystem or raises DestinationError. A destination that
    // begins with "<" keeps AppliesToSystem of the previous one.
    void DecodeZiel(const QString& spec);
    QString DecodedPath;
    bool AppliesToSystem = false;

private:
    QString resolve(const QString& path, const QString& spec);
    const PlaceholderTable& table_;
};
