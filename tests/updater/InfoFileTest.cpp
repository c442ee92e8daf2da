#include "InfoFile.h"

#include <gtest/gtest.h>

#include "HinfWriter.h"

namespace {

HinfFile file(const QString& name, const QString& archive = "a.z") {
    return {name, "<app>\\", "1.2.3.4", "01.02.2024 10:00:00", archive, "1.234", "", "svc"};
}

QList<HinfModule> sample() {
    return {
        {"Zorvane", "Sicherung für alle", "v2", {file("Zorvane2.exe"), file("Größe.txt", "b.z")}},
        {"Leer", "", "", {}},
        {"Hilfe", "", "", {file("hilfe.hlp")}}};
}

QString errorOf(const QByteArray& body) {
    try {
        InfoFileReader r(body);
        InfoModuleRecord m;
        InfoFileRecord f;
        while (r.NextModule(&m))
            while (r.NextFile(&f)) {
            }
    } catch (const InfoFileError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace

TEST(InfoFile, ReadsModulesAndFilesRecordByRecord) {
    InfoFileReader r(HinfWriter::Info(sample()).Compressed());
    EXPECT_EQ(r.ModuleCount(), 3);
    InfoModuleRecord m;
    InfoFileRecord f;
    ASSERT_TRUE(r.NextModule(&m));
    EXPECT_EQ(QStringList({m.name, m.text, m.description, m.history}),
              QStringList({"Zorvane", "run", "Sicherung für alle", "v2"}));
    EXPECT_EQ(m.fileCount, 2);
    ASSERT_TRUE(r.NextFile(&f));
    EXPECT_EQ(QStringList({f.fileName, f.destination, f.version, f.date, f.archive, f.size,
                           f.marker, f.service}),
              QStringList({"Zorvane2.exe", "<app>\\", "1.2.3.4", "01.02.2024 10:00:00", "a.z",
                           "1.234", "", "svc"}));
    // The second file of the first module is passed over by asking for the next module.
    ASSERT_TRUE(r.NextModule(&m));
    EXPECT_EQ(m.name, "Leer");
    EXPECT_FALSE(r.NextFile(&f));
    ASSERT_TRUE(r.NextModule(&m));
    ASSERT_TRUE(r.NextFile(&f));
    EXPECT_EQ(f.fileName, "hilfe.hlp");
    EXPECT_FALSE(r.NextFile(&f));
    EXPECT_FALSE(r.NextModule(&m));
    // Windows-1252 on the wire.
    EXPECT_TRUE(HinfWriter::Info(sample()).Content().contains("Gr\xf6\xdf"
                                                              "e.txt"));
}

TEST(InfoFile, NoModules) {
    for (const QByteArray& body :
         {QByteArray(), HinfWriter::Head(0).Compressed(), HinfWriter::Head(-5).Compressed()}) {
        InfoFileReader r(body);
        EXPECT_EQ(r.ModuleCount(), 0);
        InfoModuleRecord m;
        EXPECT_FALSE(r.NextModule(&m));
    }
}

TEST(InfoFile, DamagedFilesEndTheParseWithAMessage) {
    const QByteArray good = HinfWriter::Info(sample()).Content();
    // Cut anywhere inside the records: always an error, never a read past the end.
    for (qsizetype n = 0; n < good.size(); ++n) {
        const QString e = errorOf(ZlibStream(good.left(n)));
        EXPECT_TRUE(e.contains("unvollständig")) << n << ": " << e.toStdString();
    }
    struct Case {
        QByteArray body;
        QString says;
    } cases[] = {
        {HinfWriter::Head(1).Str("m").Int(0x7fffffff).Raw(QByteArray(40, 'x')).Compressed(),
         "soll 2147483647 Bytes lang sein"},
        {HinfWriter::Head(100000000).Compressed(), "100000000 Module"},
        {ZlibStream(HinfWriter::Info({{"m", "", "", {}}}).Content().chopped(4) +
                    "\xff\xff\xff\x7f"),
         "Dateien"},
        {ZlibStream(good) + "x", "nach dem Ende des zlib-Stroms"},
        {ZlibStream(good).left(40), "bricht ab"},
        {QByteArray("not zlib at all"), "beschädigt"},
        {ZlibStream(QByteArray(InfoFileReader::MaxInflatedSize + 1, '\0')), "64 MiB"},
    };
    for (const Case& c : cases) {
        const QString e = errorOf(c.body);
        EXPECT_TRUE(e.startsWith("Die Infodatei iup.hinf")) << e.toStdString();
        EXPECT_TRUE(e.contains(c.says)) << e.toStdString();
    }
    // A damaged check value.
    QByteArray flipped = ZlibStream(good);
    flipped[flipped.size() - 1] = char(flipped.back() ^ 1);
    EXPECT_TRUE(errorOf(flipped).contains("beschädigt"));
}

TEST(InfoFile, RefusesNamesThatAreNoBareFileName) {
    const QString bad[] = {"",     "..",      "a..b", "../x",    "sub/x.dll", "sub\\x.dll",
                           "C:x",  "C:",      "a\tb", "a\x7f",   "a<b",       "a>b",
                           "a\"b", "a|b",     "a?b",  "a*b",     "x.",        "x ",
                           "NUL",  "con.txt", "COM1", "lpt9.log"};
    for (const QString& name : bad) {
        EXPECT_FALSE(FileNameProblem(name).isEmpty()) << name.toStdString();
        for (bool asArchive : {false, true}) {
            HinfFile f = file("ok.dll");
            (asArchive ? f.archive : f.name) = name;
            const QString e = errorOf(HinfWriter::Info({{"m", "", "", {f}}}).Compressed());
            EXPECT_TRUE(e.contains(asArchive ? "Archivnamen" : "Dateinamen")) << e.toStdString();
            EXPECT_TRUE(e.contains("Modul 1, Datei 1")) << e.toStdString();
        }
    }
    for (const char* name : {"kelvoiupdate.exe", "Größe.txt", "a.b.c", "COM10", "console.dll"})
        EXPECT_EQ(FileNameProblem(QString::fromUtf8(name)), "") << name;
}

TEST(InfoFile, SizeAndDateFields) {
    struct {
        QString text;
        qint64 size;
    } sizes[] = {{"", 1},
                 {"0", 0},
                 {"12", 12},
                 {"1.234", 1234},
                 {"1.234.567", 1234567},
                 {"1..2", 12},
                 {"2147483647", 2147483647}};
    for (const auto& c : sizes)
        EXPECT_EQ(ParseInfoSize(c.text), c.size) << c.text.toStdString();
    for (const char* text : {"12a", ".", "-5", "+5", " 5", "2147483648", "1,5"})
        EXPECT_THROW(ParseInfoSize(text), InfoFileError) << text;

    EXPECT_EQ(ParseInfoDate("01.02.2024 10:11:12"),
              QDateTime(QDate(2024, 2, 1), QTime(10, 11, 12)));
    EXPECT_EQ(ParseInfoDate("31.12.2023"), QDateTime(QDate(2023, 12, 31), QTime(0, 0)));
    for (const char* text : {"", "2024-02-01", "32.01.2024", "01.02.2024 25:00:00", "heute"})
        EXPECT_FALSE(ParseInfoDate(text).has_value()) << text;
}

TEST(InfoFile, OfferedDatesReadAsAGermanLocaleDoes) {
    const QDate dec7(2026, 12, 7);
    struct {
        const char* text;
        QDateTime when; // invalid: refused
    } cases[] = {
        {"07.12.2026 10:00:00", QDateTime(dec7, QTime(10, 0))},
        {"7.12.2026 10:00", QDateTime(dec7, QTime(10, 0))},
        {"07.12.2026 10:00", QDateTime(dec7, QTime(10, 0))},
        {"7.1.2026 9:05:07", QDateTime(QDate(2026, 1, 7), QTime(9, 5, 7))},
        {"07.12.26", dec7.startOfDay()},
        {"7.12.29 23:59", QDateTime(QDate(2029, 12, 7), QTime(23, 59))},
        {"7.12.30", QDate(1930, 12, 7).startOfDay()},
        {"01.01.00", QDate(2000, 1, 1).startOfDay()},
        {"31.12.99", QDate(1999, 12, 31).startOfDay()},
        {" 7.12.2026  10:00 ", QDateTime(dec7, QTime(10, 0))},
        {"7.12.2026 24:00", {}},
        {"7.12.2026 10:60", {}},
        {"7.12.2026 10", {}},
        {"7.12.2026 10:0", {}},
        {"7.12.2026 100:00", {}},
        {"7.12.202", {}},
        {"7.12.20266", {}},
        {"007.12.2026", {}},
        {"29.02.2026", {}},
        {"7.12.", {}},
        {"7/12/2026", {}},
        {"2026-12-07", {}},
    };
    for (const auto& c : cases) {
        const std::optional<QDateTime> got = ParseInfoDate(c.text);
        if (c.when.isValid())
            EXPECT_EQ(got, c.when) << c.text;
        else
            EXPECT_FALSE(got.has_value()) << c.text;
    }
}
