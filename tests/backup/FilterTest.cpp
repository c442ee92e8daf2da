#include <gtest/gtest.h>
#include <stdexcept>

#include "Filter.h"
#include "lang.h"

namespace {

struct AcceptCase {
    const char* filterText;
    const char* name;
    bool passes;
};

bool Passes(const QString& filterText, const QString& name) {
    FileFilter f;
    LoadFilter(filterText, f, TextLanguage());
    return FilterAccepts(f, name);
}

} // namespace

TEST(Filter, LoadingAndTestingFollowsTheTable) {
    const AcceptCase cases[] = {
        {"", "anything.doc", true},
        {"Nur:*.doc", "Report.DOC", true},
        {"Nur:*.doc", "report.docx", false},
        {"Nicht:*.tmp;~*", "~$brief.doc", false},
        {"Nicht:*.tmp;~*", "brief.doc", true},
        {"Nicht:*.tmp;~*", "x.TMP", false},
        {"Nur:", "anything.doc", true},
        {"Nur: ", "anything.doc", true},
        {"Nur:;", "anything.doc", false},
        {"Nicht:;", "anything.doc", true},
        {"Nur:*.doc *.xls", "a.xls", true},
        {"Nur:*.doc *.xls", "a.ppt", false},
        // The first matching pattern decides, whatever follows.
        {"Nicht:a*;*.doc", "b.doc", false},
        // Accented letters and umlauts are lowered on both sides.
        {"Nur:ÄRGER*", "ärger.txt", true},
        {"Nur:*.ÖL", "Heizöl.öl", true},
        {"Nur:šœžÿ", "ŠŒŽŸ", true},
        {"Nur:àé", "ÀÉ", true},
        // Control characters separate like semicolons.
        {"Nicht:*.tmp\t*.bak", "x.bak", false},
        {"Nur:*.doc\r\n*.xls", "a.xls", true},
        {"Nur:*.doc\r\n*.xls", "a.ppt", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.filterText) + " / " + c.name);
        EXPECT_EQ(Passes(QString::fromUtf8(c.filterText), QString::fromUtf8(c.name)), c.passes);
    }
}

TEST(Filter, PrefixIsRecognisedOnlyExactlyAtTheStart) {
    TextLanguage language;
    for (const char* bad : {"nur:*.doc", " Nur:*.doc", "NICHT:*.tmp", "*.doc", "Nur*.doc"}) {
        SCOPED_TRACE(bad);
        FileFilter f;
        f.Patterns = {QStringLiteral("old")};
        try {
            LoadFilter(QString::fromUtf8(bad), f, language);
            ADD_FAILURE() << "loading did not fail";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Filter ") +
                                                       QString::fromUtf8(bad) +
                                                       QStringLiteral(" unbekannte Filterart"));
        }
        EXPECT_TRUE(f.Patterns.isEmpty());
    }
    language.Set(TextLanguage::English);
    try {
        FileFilter f;
        LoadFilter(QStringLiteral("nur:*.doc"), f, language);
        ADD_FAILURE() << "loading did not fail";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("Filter nur:*.doc") +
                      QString::fromUtf8(TextTable[txUnbekannteFilterart][1]));
    }
}

TEST(Filter, ModeIsSetByThePrefixAndKeptByAnEmptyText) {
    FileFilter f;
    const TextLanguage language;
    LoadFilter(QStringLiteral("Nur:*.doc"), f, language);
    EXPECT_TRUE(f.Include);
    LoadFilter(QString(), f, language);
    EXPECT_TRUE(f.Include);
    EXPECT_TRUE(f.Patterns.isEmpty());
    LoadFilter(QStringLiteral("Nicht:*.doc"), f, language);
    EXPECT_FALSE(f.Include);
    EXPECT_EQ(f.Patterns, QStringList{QStringLiteral("*.doc")});
}

TEST(Filter, SplittingRuleTable) {
    struct SplitCase {
        QString text;
        QStringList patterns;
    };
    const QString e;
    const SplitCase cases[] = {
        {"*.tmp;*.bak", {"*.tmp", "*.bak"}},
        {"*.tmp *.bak", {"*.tmp", "*.bak"}},
        {"*.tmp ; *.bak", {"*.tmp", "*.bak"}},
        {"*.tmp;;*.bak", {"*.tmp", e, "*.bak"}},
        {"*.tmp;", {"*.tmp", e}},
        {";*.tmp", {e, "*.tmp"}},
        {";", {e, e}},
        {"", {}},
        {"   ", {}},
        // Any character from 1 to 32 separates as a blank does; code 0 and 127 do not.
        {QStringLiteral("a\tb\r\nc\x01"
                        "d\x1f"
                        "e"),
         {"a", "b", "c", "d", "e"}},
        {QStringLiteral("\t\n*.tmp\t"), {"*.tmp"}},
        {QStringLiteral("a\x7f"
                        "b"),
         {QStringLiteral("a\x7f"
                         "b")}},
        {QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b"),
         {QString(QStringLiteral("a")) + QChar(0) + QStringLiteral("b")}},
        // A ";" followed by blanks at the end gives no empty pattern; only a closing ";" does.
        {"*.tmp; ", {"*.tmp"}},
        {"*.TMP;Thumbs.DB", {"*.tmp", "thumbs.db"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(SplitFilterPatterns(c.text), c.patterns);
    }
}

TEST(WildMatch, Table) {
    struct MatchCase {
        const char* pattern;
        const char* name;
        bool result;
    };
    const MatchCase cases[] = {
        {"*.txt", "a.txt", true},
        {"*.txt", "my.notes.txt", false},
        {"*.txt", "a.txt.bak", false},
        {"*.tar.gz", "a.b.tar.gz", false},
        {"*.*", "readme", false},
        {"*.*", "ab", false},
        {"*.*", ".profile", true},
        {"*c", "ab", true},
        {"ab*c", "abxx", true},
        {"ab*c", "abc", false},
        {"a*", "a", false},
        {"a*b*c", "axbyc", true},
        {"*ab", "aab", false},
        {"a?", "ab", true},
        {"a?c", "abc", false},
        {"*.t?t", "a.txt", false},
        {"*.tx?", "a.txt", true},
        {"a?cd", "abcd", true},
        {"a?*", "abc", false},
        {"*a?b", "xyzab", true},
        {"~*", "~tmp.doc", true},
        {"thumbs.db", "thumbs.db", true},
        {"abc", "abcd", false},
        {"", "abc", false},
        // Further corners of the same steps.
        {"*", "x", true},
        {"?", "x", true},
        {"?", "xy", false},
        {"x", "x", true},
        {"x", "y", false},
        {"**", "ab", true},
        {"a**", "abc", true},
        {"*?x", "abx", false},
        {"*?", "ab", true},
        {"thumbs.db", "thumbs.dc", false},
        {"a.b", "axb", false},
        {"*.doc", "report.doc", true},
        {"*.doc", "report.docx", false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " / " + c.name);
        EXPECT_EQ(WildMatch(QString::fromUtf8(c.pattern), QString::fromUtf8(c.name)), c.result);
    }
}
