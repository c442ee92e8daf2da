#include "Filter.h"

#include <stdexcept>

void LoadFilter(const QString& text, FileFilter& into) {
    into.Patterns.clear();
    into.Include = false;
    if (!text.isEmpty()) throw std::runtime_error("filter not built yet");
}

bool FilterAccepts(const FileFilter& filter, const QString& name) {
    Q_UNUSED(name);
    return !filter.Include;
}

bool WildMatch(const QString& pattern, const QString& name) { return pattern == name; }
