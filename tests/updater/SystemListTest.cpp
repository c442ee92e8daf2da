// Which system the version record in the registry stand-in names.
#include <gtest/gtest.h>

#include "SystemList.h"
#include "TestFolder.h"
#include "TestRegistry.h"
#include "WinVersion.h"

namespace {

TEST(SystemListTest, TheRecordSelectsOneOfSeventeenSystems) {
    struct Case {
        quint32 platform, major, minor;
        const char* csd;
        quint32 product, suite, r2;
        int want;
    };
    const Case cases[] = {
        {1, 4, 0, "C", 0, 0, 0, 1},
        {1, 4, 0, "", 0, 0, 0, 0},
        {1, 4, 10, "A ", 0, 0, 0, 3},
        {1, 4, 10, "", 0, 0, 0, 2},
        {1, 4, 90, "", 0, 0, 0, 4},
        {1, 5, 0, "", 0, 0, 0, -1},
        {2, 3, 51, "", 0, 0, 0, 5},
        {2, 4, 0, "", 0, 0, 0, 6},
        {2, 5, 0, "", 1, 0, 0, 7},
        {2, 5, 1, "", 1, 0, 0, 8},
        {2, 5, 2, "", 3, 0, 1, 9},
        {2, 5, 2, "", 1, 0x8000, 0, 10},
        {2, 5, 2, "", 3, 0x8000, 0, 11},
        {2, 5, 2, "", 3, 0x8002, 0, 12},
        {2, 6, 0, "", 1, 0, 0, 13},
        {2, 6, 1, "", 1, 0, 0, 15},
        {2, 6, 1, "", 3, 0, 0, 16},
        {2, 6, 2, "", 1, 0, 0, -1},
        {2, 10, 0, "", 1, 0, 0, -1},
        {3, 6, 1, "", 1, 0, 0, -1},
        // the basic record: product type and suite mask 0
        {2, 5, 2, "", 0, 0, 0, 12},
        {2, 6, 0, "", 0, 0, 0, 14},
        {2, 6, 1, "", 0, 0, 0, 16},
    };
    for (const Case& c : cases) {
        OsVersionRecord r{c.platform, c.major, c.minor, c.csd, c.product, c.suite, c.r2};
        EXPECT_EQ(DetectSystemIndex(r), c.want)
            << c.platform << " " << c.major << "." << c.minor << " type " << c.product << " suite "
            << c.suite << " r2 " << c.r2;
    }
    EXPECT_EQ(DetectSystemIndex(std::nullopt), -1);
    EXPECT_EQ(SystemNames().size(), 17);
    EXPECT_EQ(SystemNames()[15], "Windows 7");
}

TEST(SystemListTest, RecordIsReadFromTheLocalMachineRoot) {
    TestFolder folder;
    TestRegistry reg(folder.Path("reg"));
    EXPECT_FALSE(WinVersion::GetOsVersionEx().has_value()); // no key: no record

    TestRegistry::Lay(RegRoot::LocalMachine, WinVersion::Key,
                      {"PlatformId=2", "MajorVersion=0x5", "MinorVersion=2", "ProductType=3",
                       "SuiteMask=0X8000", "CSDVersion=Service Pack 2"});
    const auto r = WinVersion::GetOsVersionEx();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->majorVersion, 5u);
    EXPECT_EQ(r->suiteMask, 0x8000u);
    EXPECT_EQ(r->serverR2, 0u); // absent
    EXPECT_EQ(r->csdVersion, "Service Pack 2");
    EXPECT_EQ(DetectSystemIndex(r), 11);

    // Values that are no numbers count as 0.
    TestRegistry::Lay(RegRoot::LocalMachine, "software\\microsoft\\windows nt\\currentversion",
                      {"PlatformId=2", "MajorVersion=6", "MinorVersion=1", "ProductType=eins"});
    EXPECT_EQ(DetectSystemIndex(WinVersion::GetOsVersionEx()), 16);
}

} // namespace
