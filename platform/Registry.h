#pragma once
// The registry, kept in files: one ini file per root, the key path as section (without regard
// to case), the value name as key. The current user's root lies in the user's config folder,
// the local machine's in a machine-wide folder only a privileged user may write, so writes
// there fail for ordinary users as they do on Windows. ZV_REGISTRY_DIR points every root into
// one folder (tests). The other roots are machine-wide as well, each a file of its own.
#include <QString>
#include <optional>

enum class RegRoot { CurrentUser, LocalMachine, ClassesRoot, Users, CurrentConfig };

namespace Registry {
// The file that holds a root.
QString RootFile(RegRoot root);
// The value, or nothing when key or value do not exist or the store cannot be read.
std::optional<QString> ReadString(RegRoot root, const QString& key, const QString& name);
// Creates the key as needed; raises std::runtime_error when the store cannot be written.
void WriteString(RegRoot root, const QString& key, const QString& name, const QString& value);
bool KeyExists(RegRoot root, const QString& key);
// Opening a key with full access: the key must exist and this user must be able to write the
// root's file, so an ordinary user cannot open a machine-wide key this way.
bool OpenKeyFullAccess(RegRoot root, const QString& key);
// Returns whether the value existed.
bool DeleteValue(RegRoot root, const QString& key, const QString& name);
} // namespace Registry
