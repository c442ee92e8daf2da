#pragma once
// The updater's configuration iup.ini, the search for the install and data folders of the
// program it updates, and its own small settings file crupdate.ini.
#include <QString>

#include "IniFile.h"
#include "Placeholders.h"

struct UpdaterConfig {
    QString host, dir, userpop1, pwpop1;
    QString host2, userpop2, pwpop2; // read, not used
    int ziel1 = -1;                  // 0 ini file, 1 to 5 registry root, else ask
    QString ziel2;
    QString start; // program started at the end, relative to the updater's folder
    // The folders destinations name: this machine's, and the install and data folders found
    // for the configuration.
    PlaceholderTable placeholders;
};

// An ini file written by other programs: UTF-8, or Windows-1252 when it is not valid UTF-8.
IniFile OpenForeignIni(const QString& path);
// Raises std::runtime_error when the file is missing or cannot be read. The configuration
// read carries the placeholder table it is given.
UpdaterConfig ReadUpdaterConfigFile(const QString& path, PlaceholderTable placeholders = {});

// The question's text for each way of not finding the install folder.
QString InstallDirQuestion(const QString& reason);
QString IniTargetQuestion(const QString& detail);

// Set the install and data folders (entries 0 and 1) as far as the lookup gets; the result
// is the question to ask when the install folder was not found, else empty.
// ziel2 = ini file ";" section ";" key.
QString TargetFromIni(const QString& ziel2, PlaceholderTable& table);
// ziel2 = key path "\" value name, under the root ziel1 names (1 to 5).
QString TargetFromRegistry(int ziel1, const QString& ziel2, PlaceholderTable& table);

struct UpdaterSettings {
    bool ufw = false; // firewall option
    QString fh, fu;   // firewall host and user
    QString fp = QStringLiteral("80");
    QString aut;
};
UpdaterSettings ReadUpdaterSettings(const IniFile& ini);
void WriteUpdaterSettings(IniFile& ini, const UpdaterSettings& s);
