#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString Key = u"Software\\Zorvane\\Zorvane2"_s;
constexpr RegRoot User = RegRoot::CurrentUser;

// Each test gets its own registry folder (not there yet: the first write makes it); the
// process's setting is put back after.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { pointTo(dir.filePath(u"reg"_s)); }
    void TearDown() override { old_.isNull() ? qunsetenv(Var) : qputenv(Var, old_); }
    static void pointTo(const QString& folder) {
        folder.isNull() ? qunsetenv(Var) : qputenv(Var, QFile::encodeName(folder));
    }

    static constexpr const char* Var = "ZV_REGISTRY_DIR";
    QTemporaryDir dir;
    QByteArray old_ = qgetenv(Var);
};

TEST_F(RegistryTest, RootsLieInTheOverrideFolder) {
    EXPECT_EQ(Registry::RootFile(User), dir.filePath(u"reg/current-user.ini"_s));
    EXPECT_EQ(Registry::RootFile(RegRoot::LocalMachine), dir.filePath(u"reg/local-machine.ini"_s));
}

TEST_F(RegistryTest, KeysAndNamesIgnoreCaseAndRootsAreSeparate) {
    EXPECT_EQ(Registry::ReadString(User, Key, u"Pfad"_s), std::nullopt);
    Registry::WriteString(User, Key, u"Pfad"_s, u"/daten"_s);
    Registry::WriteString(User, u"SOFTWARE/zorvane\\ZORVANE2\\"_s, u"pfad"_s, u"/neu"_s);
    EXPECT_EQ(Registry::ReadString(User, u"software\\ZORVANE\\zorvane2"_s, u"PFAD"_s), u"/neu"_s);
    EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, Key, u"Pfad"_s), std::nullopt);

    Registry::WriteString(User, Key, u"Leer"_s, QString());
    EXPECT_EQ(Registry::ReadString(User, Key, u"Leer"_s), u""_s);
    Registry::WriteString(User, Key, QString(), u"standard"_s);
    EXPECT_EQ(Registry::ReadString(User, Key, QString()), u"standard"_s);
}

TEST_F(RegistryTest, KeyOutlivesItsLastValue) {
    EXPECT_FALSE(Registry::KeyExists(User, Key));
    Registry::WriteString(User, Key, u"v"_s, u"1"_s);
    EXPECT_TRUE(Registry::KeyExists(User, u"software\\zorvane"_s));
    EXPECT_FALSE(Registry::KeyExists(User, u"software\\zorv"_s));

    EXPECT_TRUE(Registry::DeleteValue(User, Key, u"V"_s));
    EXPECT_FALSE(Registry::DeleteValue(User, Key, u"V"_s));
    EXPECT_EQ(Registry::ReadString(User, Key, u"v"_s), std::nullopt);
    EXPECT_TRUE(Registry::KeyExists(User, Key));
}

TEST_F(RegistryTest, UnwritableStoreRaises) {
    QFile blocker(dir.filePath(u"blocker"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    pointTo(dir.filePath(u"blocker/reg"_s)); // a folder inside a file: fails even for root
    EXPECT_THROW(Registry::WriteString(RegRoot::LocalMachine, Key, u"v"_s, u"1"_s),
                 std::runtime_error);
    EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, Key, u"v"_s), std::nullopt);
}

TEST_F(RegistryTest, FullAccessNeedsTheKeyAndAWritableRoot) {
    const RegRoot roots[] = {User, RegRoot::LocalMachine, RegRoot::ClassesRoot, RegRoot::Users,
                             RegRoot::CurrentConfig};
    QStringList files;
    for (RegRoot root : roots) {
        files << Registry::RootFile(root);
        EXPECT_FALSE(Registry::OpenKeyFullAccess(root, Key));
        Registry::WriteString(root, Key, u"v"_s, u"1"_s);
        EXPECT_TRUE(Registry::OpenKeyFullAccess(root, Key));
    }
    files.removeDuplicates();
    EXPECT_EQ(files.size(), 5);

    // Readable but not writable, as the machine's root is for an ordinary user.
    QFile::setPermissions(Registry::RootFile(RegRoot::LocalMachine), QFile::ReadOwner);
    EXPECT_FALSE(Registry::OpenKeyFullAccess(RegRoot::LocalMachine, Key));
    EXPECT_EQ(Registry::ReadString(RegRoot::LocalMachine, Key, u"v"_s), u"1"_s);
    EXPECT_FALSE(Registry::OpenKeyFullAccess(User, u"software\\other"_s));
}

// The store inherits the ini layer's rules: a Windows-1252 file loses nothing, and one that
// cannot be read is not replaced by a write.
TEST_F(RegistryTest, A1252StoreIsReadAndAnUnreadableOneIsNotReplaced) {
    QDir().mkpath(dir.filePath(u"reg"_s));
    QFile f(Registry::RootFile(User));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[software\\zorvane\\zorvane2]\r\npath=C:\\Programme\\Gr\xFC\xDF"
            "e\r\n");
    f.close();
    EXPECT_EQ(Registry::ReadString(User, Key, u"Path"_s), u"C:\\Programme\\Grüße"_s);
    Registry::WriteString(User, Key, u"neu"_s, u"1"_s);
    EXPECT_EQ(Registry::ReadString(User, Key, u"path"_s), u"C:\\Programme\\Grüße"_s);

    const QByteArray file = QFile::encodeName(Registry::RootFile(RegRoot::LocalMachine));
    ASSERT_EQ(::symlink("local-machine.ini", file.constData()), 0);
    EXPECT_THROW(Registry::WriteString(RegRoot::LocalMachine, Key, u"v"_s, u"1"_s),
                 std::runtime_error);
    EXPECT_EQ(QFile::symLinkTarget(QString::fromUtf8(file)), QString::fromUtf8(file));
}

} // namespace
