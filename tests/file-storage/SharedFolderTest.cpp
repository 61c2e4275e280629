// Stores, loads and restores among other users' files and links, row by row of
// tests/data/store/shared-folders.manifest, each run as its user in a child process.
#include "BudgetFileTestSupport.h"

#include "file-storage/files/StoreMarker.h"
#include "support/Manifest.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace budgets = zel::testing;
namespace support = zel::testing::budget_file;
using zel::testing::Record;

namespace {

// Two throw-away users, with no name and no files of their own anywhere else.
std::map<std::string, uint> const users{{"root", 0}, {"user", 61001}, {"other", 61002}};

class SharedFolder : public ::testing::TestWithParam<Record> {
protected:
    void SetUp() override {
#if defined(_WIN32)
        GTEST_SKIP() << "Windows has no setuid to act as other users, nor POSIX owners and modes";
#else
        if (::geteuid() != 0) {
            GTEST_SKIP() << "acting as other users takes root";
        }
        ASSERT_TRUE(base_.isValid());
        folder_ = base_.filePath(QStringLiteral("shared"));
        secret_ = base_.filePath(QStringLiteral("secret"));
        ASSERT_TRUE(QDir().mkpath(folder_) && QDir().mkpath(secret_));
        ::chmod(QFile::encodeName(base_.path()).constData(), 0755);
        ::chmod(QFile::encodeName(secret_).constData(), 0700);
        ::chmod(QFile::encodeName(folder_).constData(),
                GetParam().value("folder") == "sticky" ? 01777 : 0777);
#endif
    }

    // The row's text with {F}, {S}, {user} and {other} filled in.
    QString fill(std::string const& text) const {
        return QString::fromStdString(text)
            .replace(QStringLiteral("{F}"), folder_)
            .replace(QStringLiteral("{S}"), secret_)
            .replace(QStringLiteral("{user}"), QString::number(users.at("user")))
            .replace(QStringLiteral("{other}"), QString::number(users.at("other")));
    }

    // The bytes of the document a row names.
    QByteArray document(QString const& name) {
        if (name == QLatin1String("new")) {
            return support::documentOf(QStringLiteral("small"));
        }
        if (name == QLatin1String("marker")) {
            // The marker of a store of another budget, which no budget file here matches.
            return zel::file_storage::internal::markerBytes(
                {zel::file_storage::internal::fingerprintOf("another budget"), std::nullopt});
        }
        return name == QLatin1String("empty")
                   ? QByteArray()
                   : budgets::dataFile(QStringLiteral("store/") + name + QStringLiteral(".xml"));
    }

    QTemporaryDir base_;
    QString folder_;
    QString secret_;
};

TEST_P(SharedFolder, KeepsEachUsersFilesTheirOwn) {
#if !defined(_WIN32)
    auto const& row = GetParam();
    for (auto const& put : row.values("put")) {
        auto const fields = fill(put).split(QLatin1Char(' '));
        auto const path = QFile::encodeName(fields.at(1));
        if (fields.at(0) == QLatin1String("file")) {
            support::writeFile(fields.at(1), document(fields.at(4)));
            ASSERT_EQ(::chown(path.constData(), users.at(fields.at(2).toStdString()),
                              users.at(fields.at(2).toStdString())),
                      0);
            ::chmod(path.constData(), static_cast<mode_t>(fields.at(3).toUInt(nullptr, 8)));
        } else {
            ASSERT_EQ(::symlink(QFile::encodeName(fields.at(2)).constData(), path.constData()), 0);
            uint const owner = users.at(fields.at(3).toStdString());
            ASSERT_EQ(::lchown(path.constData(), owner, owner), 0);
        }
    }
    support::ChildRun run;
    for (auto const& step : row.values("do")) {
        auto const fields = QString::fromStdString(step).split(QLatin1Char(' '));
        QStringList arguments;
        if (row.has("umask")) {
            arguments << QStringLiteral("--umask") << row.text("umask");
        }
        run = support::runChild(arguments + QStringList{fields.at(1),
                                                        folder_ + QStringLiteral("/budget.xml"),
                                                        QStringLiteral("small")},
                                users.at(fields.at(0).toStdString()));
        ASSERT_FALSE(run.crashed) << run.output;
    }
    EXPECT_EQ(run.firstText, fill(row.value("first")).toStdString()) << run.output;
    EXPECT_EQ(run.secondText, fill(row.value("second")).toStdString());
    for (auto const& then : row.values("then")) {
        auto const fields = fill(then).split(QLatin1Char(' '));
        auto const where = then;
        if (fields.at(0).contains(QLatin1Char('*'))) {
            // A pattern: nothing may match it.
            QFileInfo const pattern(fields.at(0));
            EXPECT_EQ(QDir(pattern.path())
                          .entryList({pattern.fileName()}, QDir::AllEntries | QDir::Hidden),
                      QStringList())
                << where;
            continue;
        }
        struct stat status {};
        bool const exists = ::lstat(QFile::encodeName(fields.at(0)).constData(), &status) == 0;
        if (fields.at(1) == QLatin1String("absent")) {
            EXPECT_FALSE(exists) << where;
            continue;
        }
        ASSERT_TRUE(exists) << where;
        EXPECT_EQ(status.st_uid, users.at(fields.at(1).toStdString())) << where;
        EXPECT_EQ(status.st_mode & 07777, fields.at(2).toUInt(nullptr, 8)) << where;
        if (fields.at(3) != QLatin1String("*")) {
            EXPECT_EQ(support::contentOf(fields.at(0)), document(fields.at(3))) << where;
        }
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Store, SharedFolder,
    ::testing::ValuesIn(budgets::readManifest(QStringLiteral("store/shared-folders.manifest"))),
    budgets::recordName);

} // namespace
