#include "Filter.h"

#include <stdexcept>

#include "lang.h"

namespace {
bool isBlank(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}
} // namespace

QString FilterLower(const QString& s) {
    return s.toLower();
}

QStringList SplitFilterPatterns(const QString& patternText) {
    const QString s = FilterLower(patternText);
    const qsizetype n = s.size();
    QStringList out;
    qsizetype i = 0;
    while (i < n && isBlank(s[i]))
        ++i;
    while (i < n) {
        const qsizetype start = i;
        while (i < n && s[i] != u';' && !isBlank(s[i]))
            ++i;
        out.append(s.mid(start, i - start));
        while (i < n && isBlank(s[i]))
            ++i;
        if (i < n && s[i] == u';') {
            // A closing ";" still ends a pattern, so stored filters like "Nur:*.tmp;" keep
            // their empty last pattern.
            if (i == n - 1) out.append(QString());
            ++i;
            while (i < n && isBlank(s[i]))
                ++i;
        }
    }
    return out;
}

void LoadFilter(const QString& text, FileFilter& into, const TextLanguage& language) {
    into.Patterns.clear();
    if (text.isEmpty()) return;
    QString rest;
    if (text.startsWith(QStringLiteral("Nicht:"))) {
        into.Include = false;
        rest = text.mid(6);
    } else if (text.startsWith(QStringLiteral("Nur:"))) {
        into.Include = true;
        rest = text.mid(4);
    } else {
        throw std::runtime_error(
            (QStringLiteral("Filter ") + text + language.Tx(txUnbekannteFilterart)).toStdString());
    }
    into.Patterns = SplitFilterPatterns(rest);
}

bool FilterAccepts(const FileFilter& filter, const QString& name) {
    if (filter.Patterns.isEmpty()) return true;
    const QString lowered = FilterLower(name);
    for (const QString& p : filter.Patterns)
        if (WildMatch(p, lowered)) return filter.Include;
    return !filter.Include;
}

bool WildMatch(const QString& pattern, const QString& name) {
    // Positions count from 1 as in the rule this follows; a position past the end of the
    // name holds no character and equals nothing.
    const qsizetype m = pattern.size();
    const qsizetype n = name.size();
    if (n < m) return false;
    auto P = [&](qsizetype i) { return pattern[i - 1]; };
    auto nameHas = [&](qsizetype j, QChar c) { return j >= 1 && j <= n && name[j - 1] == c; };

    qsizetype i = 1;
    qsizetype j = 1;
    while (i < m) {
        bool star = false;
        while (P(i) == u'*' && i + 1 <= m) {
            star = true;
            ++i;
        }
        if (star && i == m) return true;
        if (star) {
            while (j <= n && name[j - 1] != P(i))
                ++j;
        }
        if (P(i) == u'?') {
            if (j == n) return true;
            ++i;
            ++j;
        }
        if (!nameHas(j, P(i))) return false;
        ++i;
        ++j;
    }
    if (i != m) return false;
    if (P(m) == u'*') return true;
    if (P(m) == u'?' && j == n) return true;
    return j == n && nameHas(n, P(m));
}
