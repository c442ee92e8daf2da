// Names that are not UTF-8: carried without loss, and written into lines so that no two names
// read alike.
#include "FileNames.h"

#include <gtest/gtest.h>

TEST(FileNames, BytesSurviveAndLogLinesAreUnambiguous) {
    const struct {
        QByteArray bytes;
        const char* logged; // UTF-8
    } cases[] = {
        {"\xF0\x90\x82\x80\xFF", "\xF0\x90\x82\x80\\xFF"}, // U+10080, then a stray byte
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},               // an encoded surrogate
        {"a\\xAB", "a\\\\xAB"},
        {"a\\\xFF", "a\\\\\\xFF"},
        {"two\nlines", "two\\x0Alines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        const QString name = DecodeFileName(c.bytes);
        EXPECT_EQ(EncodeFileName(name), c.bytes);
        EXPECT_EQ(LogFileName(name), QString::fromUtf8(c.logged));
    }
}
