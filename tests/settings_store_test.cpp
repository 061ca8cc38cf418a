#include "platform/settings_store_qt.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

// QSettings fixes its folders on first use and keeps them for the life of the
// process, so the whole binary gets one config home, set before any store exists.
const QTemporaryDir& configHome() {
    static const QTemporaryDir dir;
    [[maybe_unused]] static const bool pointed =
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    return dir;
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return 0;
    }
    return info.st_mode & 07777;
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t previous_;
};

class SettingsStoreQtTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configHome().isValid());
        folder_ = configHome().filePath(u"tarnwick"_s);
        file_ = folder_ + u"/Quillet.conf"_s;
        // Never touch the user's real settings.
        ASSERT_EQ(SettingsStoreQt::filePath(), file_)
            << "settings folders were fixed before XDG_CONFIG_HOME was set";
    }

    // The file as a separate process would read it, past this process's cache.
    std::unique_ptr<QSettings> rereadFromDisk() {
        const QString copy = configHome().filePath(u"copy-%1.conf"_s.arg(++copies_));
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(file_, copy));
        return std::make_unique<QSettings>(copy, QSettings::IniFormat);
    }

    QString folder_;
    QString file_;
    int copies_ = 0;
};

TEST_F(SettingsStoreQtTest, KeepsFolderAndFileOwnerOnlyWhateverTheUmaskOrEarlierModes) {
    const UmaskScope umask(022);
    ASSERT_TRUE(QDir(folder_).removeRecursively());
    {
        SettingsStoreQt store;
        EXPECT_EQ(modeOf(folder_), 0700u);
        EXPECT_EQ(modeOf(file_), 0600u);
        ASSERT_TRUE(store.setString(u"k"_s, u"v"_s));
        EXPECT_EQ(modeOf(file_), 0600u) << "the write replaces the file";
    }
    ASSERT_EQ(::chmod(QFile::encodeName(folder_).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file_).constData(), 0644), 0);
    {
        SettingsStoreQt store;
        EXPECT_EQ(modeOf(folder_), 0700u);
        EXPECT_EQ(modeOf(file_), 0600u);
        EXPECT_EQ(store.string(u"k"_s), u"v"_s) << "narrowing keeps the content";
        ASSERT_TRUE(store.setData(u"d"_s, "x"_ba));
        ASSERT_TRUE(store.synchronize());
        EXPECT_EQ(modeOf(file_), 0600u);
    }
    // The folder exists with a wide mode but the file does not.
    ASSERT_TRUE(QFile::remove(file_));
    ASSERT_EQ(::chmod(QFile::encodeName(folder_).constData(), 0755), 0);
    SettingsStoreQt store;
    EXPECT_EQ(modeOf(folder_), 0700u);
    EXPECT_EQ(modeOf(file_), 0600u);
}

TEST_F(SettingsStoreQtTest, IntegersRoundTripAndAnythingElseReadsZero) {
    SettingsStoreQt store;
    const std::vector<std::int64_t> values = {0,
                                              -1,
                                              42,
                                              std::int64_t{9007199254740993},
                                              std::numeric_limits<std::int64_t>::max(),
                                              std::numeric_limits<std::int64_t>::min()};
    for (const std::int64_t value : values) {
        SCOPED_TRACE(value);
        ASSERT_TRUE(store.setInteger(u"n"_s, value));
        EXPECT_EQ(SettingsStoreQt().integer(u"n"_s), value);
        // A new process reads the number back as text.
        EXPECT_EQ(rereadFromDisk()->value(u"n"_s).toString().toLongLong(), value);
    }
    EXPECT_EQ(store.integer(u"absent"_s), 0);
    ASSERT_TRUE(store.setString(u"t"_s, u"twelve"_s));
    EXPECT_EQ(store.integer(u"t"_s), 0);
    ASSERT_TRUE(store.setString(u"t"_s, u"12"_s));
    EXPECT_EQ(store.integer(u"t"_s), 12);
    ASSERT_TRUE(store.setData(u"t"_s, "12"_ba));
    EXPECT_EQ(store.integer(u"t"_s), 0);
}

TEST_F(SettingsStoreQtTest, DataAndTextStayApartAcrossAReload) {
    struct Entry {
        QString key;
        std::optional<QByteArray> data;
        std::optional<QString> text;
    };
    const std::vector<Entry> entries = {
        {u"json"_s, R"({"lines":["中"],"currentIndex":1})"_ba, std::nullopt},
        {u"binary"_s, QByteArray("a\0b\n\r\xff\x01", 7), std::nullopt},
        {u"emptyData"_s, ""_ba, std::nullopt},
        {u"multiLine"_s, std::nullopt, u"第一行\n second \r\n\tthird = ; # [x]"_s},
        {u"looksLikeData"_s, std::nullopt, u"@ByteArray(abc)"_s},
        {u"emptyText"_s, std::nullopt, u""_s},
    };
    {
        SettingsStoreQt store;
        for (const Entry& e : entries) {
            ASSERT_TRUE(e.data ? store.setData(e.key, *e.data) : store.setString(e.key, *e.text));
        }
    }
    const SettingsStoreQt again;
    const std::unique_ptr<QSettings> disk = rereadFromDisk();
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.key.toStdString());
        EXPECT_EQ(again.data(e.key), e.data);
        EXPECT_EQ(again.string(e.key), e.text);
        const QVariant fromDisk = disk->value(e.key);
        if (e.data) {
            EXPECT_EQ(fromDisk.typeId(), QMetaType::QByteArray);
            EXPECT_EQ(fromDisk.toByteArray(), *e.data);
        } else {
            EXPECT_EQ(fromDisk.typeId(), QMetaType::QString);
            EXPECT_EQ(fromDisk.toString(), *e.text);
        }
    }
}

}  // namespace
}  // namespace quillet
