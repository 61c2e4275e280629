// How stores and loads of the budget file end, row by row of tests/data/store/outcomes.manifest:
// the files before, the faults (a file-size limit as on a full disk, steps that the system
// refuses, a lock that another holds), and the error, log records and files after.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/files/FileSync.h"
#include "file-storage/files/StoreMarker.h"
#include "support/Manifest.h"
#include "support/SymbolicLink.h"

#include <QLoggingCategory>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace budgets = zel::testing;
namespace seam = zel::testing::seam;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::file_storage::internal::FileLock;
using zel::storage::StorageError;
using zel::testing::Record;

namespace {

// Puts what the row names at path; false when this system or user cannot make it.
bool stand(QString const& path, std::string const& what) {
    if (what == "absent") {
        return true;
    }
    if (what == "directory") {
        // Holding a file, so that neither a rename over it nor its removal as a file succeeds.
        return QDir().mkpath(path) &&
               (support::writeFile(path + QStringLiteral("/content"), "x"), true);
    }
    if (what == "loop") {
        return zel::testing::makeSymbolicLink(QFileInfo(path).fileName(), path);
    }
    if (what.starts_with("link")) {
        // To the budget file beside it, or to the name after "link:".
        return zel::testing::makeSymbolicLink(
            what == "link" ? QStringLiteral("budget.xml") : QString::fromStdString(what.substr(5)),
            path);
    }
#if defined(_WIN32)
    if (what == "fifo" || what == "device" || what == "socket") {
        return false;
    }
#else
    auto const name = QFile::encodeName(path);
    if (what == "fifo") {
        return mkfifo(name.constData(), 0600) == 0;
    }
    if (what == "device") {
        // The numbers of the null device: harmless even if something wrote to it.
        return mknod(name.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    }
    if (what == "socket") {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
            return false;
        }
        std::copy(name.begin(), name.end(), address.sun_path);
        int const fd = socket(AF_UNIX, SOCK_STREAM, 0);
        bool const bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return bound;
    }
#endif
    support::writeFile(
        path, budgets::dataFile(QStringLiteral("store/%1.xml").arg(QString::fromStdString(what))));
    return true;
}

// What stands at path, as the rows name it; "new" for a file that loads as stored.
std::string standing(QString const& path, std::optional<zel::storage::BudgetState> const& stored) {
#if defined(_WIN32)
    QFileInfo const info(path);
    if (!info.exists() && !info.isSymLink()) {
        return "absent";
    }
    if (!info.isFile() || info.isSymLink()) {
        return info.isDir() ? "directory" : "something else";
    }
#else
    struct stat status {};
    if (lstat(QFile::encodeName(path).constData(), &status) != 0) {
        return "absent";
    }
    auto const mode = status.st_mode;
    if (!S_ISREG(mode)) {
        return S_ISLNK(mode) && QFileInfo(path).symLinkTarget() == path ? "loop"
               : S_ISDIR(mode)                                          ? "directory"
               : S_ISFIFO(mode)                                         ? "fifo"
               : S_ISSOCK(mode)                                         ? "socket"
               : S_ISCHR(mode)                                          ? "device"
                                                                        : "something else";
    }
#endif
    auto const content = support::contentOf(path).value_or(QByteArray());
    if (content.isEmpty()) {
        return "empty";
    }
    if (stored && support::holds(path, *stored)) {
        return "new";
    }
    for (auto const* name :
         {"previous", "earlier", "stale", "cut-short", "trailing-comment", "self-closing-root",
          "end-tag-with-space", "utf16", "nested-beyond-the-bound", "declares-an-entity"}) {
        if (content == budgets::dataFile(QStringLiteral("store/%1.xml").arg(QLatin1String(name)))) {
            return name;
        }
    }
    return "a file of " + std::to_string(content.size()) + " other bytes";
}

std::vector<std::string> words(std::string const& text) {
    std::vector<std::string> result;
    for (auto const& word :
         QString::fromStdString(text).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        result.push_back(word.toStdString());
    }
    return result;
}

class StoreOutcome : public ::testing::TestWithParam<Record> {
protected:
    QTemporaryDir folder_;
};

TEST_P(StoreOutcome, LeavesTheFilesErrorAndRecordsOfItsRow) {
    auto const& row = GetParam();
    if (row.has("limit") && !support::FileSizeLimit::available) {
        GTEST_SKIP() << "Windows has no per-process file-size limit to fill the disk with";
    }
#if defined(_WIN32)
    if (row.has("not-on-windows")) {
        GTEST_SKIP() << row.value("not-on-windows");
    }
#endif
    ASSERT_TRUE(folder_.isValid());
    bool const chained = row.value("layout") == "chained";
    if (chained || row.value("layout") == "linked") {
        ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
    }
    support::Layout const layout(folder_.path(), chained || row.value("layout") == "linked",
                                 row.has("extension") ? row.text("extension")
                                                      : QStringLiteral("~"));
    layout.make();
    QString const chain = folder_.filePath(QStringLiteral("chain.xml"));
    if (chained) {
        ASSERT_TRUE(QFile::remove(layout.budgetPath) &&
                    zel::testing::makeSymbolicLink(QStringLiteral("synced/budget.xml"), chain) &&
                    zel::testing::makeSymbolicLink(QStringLiteral("chain.xml"), layout.budgetPath));
    }
    QString const paths[] = {layout.budget, layout.backUp, layout.oldBackUp};
    auto const before = words(row.value("before"));
    ASSERT_EQ(before.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        if (before[i] == "loop") {
            ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        }
        if (!stand(paths[i], before[i])) {
#if defined(_WIN32)
            GTEST_SKIP() << "cannot make a " << before[i]
                         << " here: Windows has no FIFOs, devices or sockets in its folders";
#else
            GTEST_SKIP() << "cannot make a " << before[i] << " here (a device needs root)";
#endif
        }
    }
    QString const lockPath = layout.directory + QStringLiteral("/.budget.xml.lock");
    if (row.has("lockfile")) {
        if (row.value("lockfile") == "loop" || row.value("lockfile") == "link") {
            ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        }
        ASSERT_TRUE(stand(lockPath, row.value("lockfile")));
    }
    if (row.has("mode")) {
        ASSERT_EQ(chmod(QFile::encodeName(layout.budget).constData(),
                        static_cast<mode_t>(std::stoi(row.value("mode"), nullptr, 8))),
                  0);
    }
    if (row.has("stale-marker")) {
        // The marker of a store of another budget, which the budget file matches in nothing.
        support::writeFile(
            layout.directory + QStringLiteral("/.budget.xml.storing"),
            zel::file_storage::internal::markerBytes(
                {zel::file_storage::internal::fingerprintOf("another budget"), std::nullopt}));
    }
    if (row.has("last-stored")) {
        QTemporaryDir plain;
        QString const copy = plain.filePath(QStringLiteral("copy.xml"));
        ASSERT_TRUE(stand(copy, row.value("last-stored")));
        support::writeFile(layout.record, zel::file_storage::internal::markerBytes(
                                              {zel::file_storage::internal::fingerprintOf(
                                                   support::contentOf(copy).value_or(QByteArray())),
                                               std::nullopt}));
    }
    // A second name of the budget file, elsewhere, and an extended attribute where the file
    // system has them: a rewrite that puts the file back into itself keeps both.
    QTemporaryDir elsewhere;
    QString const secondName = elsewhere.filePath(QStringLiteral("second.xml"));
    auto const budgetName = QFile::encodeName(layout.budget);
    [[maybe_unused]] bool attributes = false;
#if !defined(_WIN32)
    if (row.has("second-name")) {
        ASSERT_EQ(::link(budgetName.constData(), QFile::encodeName(secondName).constData()), 0);
        attributes = ::setxattr(budgetName.constData(), "user.zel", "kept", 4, 0) == 0;
    }
#endif
    std::vector<seam::StepFault> faults;
    for (auto const& fault : row.values("fail")) {
        faults.push_back(seam::parseStepFault(layout.fill(QString::fromStdString(fault))));
    }
    // What another program puts beside the store as it runs: WHAT at AT, as STEP is about to run.
    auto const plant = QString::fromStdString(row.value("plant")).split(QLatin1Char(' '));
    if (plant[0].startsWith(QLatin1String("link"))) {
        ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
    }
    auto const planted =
        row.has("plant") ? std::optional(seam::parseStepFault(layout.fill(plant.mid(2).join(' '))))
                         : std::nullopt;
    bool plantedYet = false;
    auto const onStep = [&](seam::Step const& step) {
        if (planted && !plantedYet && step.step == planted->step && step.path == planted->path &&
            (planted->other.isEmpty() || step.other == planted->other)) {
            QString const at = layout.fill(plant[1]);
            plantedYet = (QFile::remove(at), stand(at, plant[0].toStdString()));
        }
    };
    bool const loading = row.value("do") == "load";
    bool const restoring = row.value("do") == "restore";
    std::optional<zel::storage::BudgetState> stored;
    if (!loading && !restoring) {
        stored = budgets::store_child::budgetNamed(row.text("storing"));
    }

    BudgetFile const file(layout.budgetPath,
                          row.has("extension") ? row.text("extension") : QStringLiteral("~"));
    std::optional<zel::storage::BudgetState> loaded;
    QString kept;
    std::optional<StorageError> error;
    budgets::LogCapture capture;
    {
        FileLock held;
        QString why;
        if (row.has("lock")) {
            ASSERT_EQ(held.acquire(lockPath, FileLock::Mode::exclusive,
                                   std::chrono::milliseconds(0), why),
                      FileLock::Outcome::acquired);
        }
        std::optional<support::FileSizeLimit> limit;
        if (row.has("limit")) {
            limit.emplace(std::stol(row.value("limit")));
        }
        seam::Seam const installed(faults, {}, onStep);
        try {
            if (loading) {
                loaded = file.load();
            } else if (restoring) {
                kept = file.restoreBackUp();
            } else {
                support::store(file, *stored);
            }
        } catch (StorageError const& thrown) {
            error = thrown;
        }
    }

    // The copies kept beside the budget file, each named in the records and texts by its
    // placeholder: of another program's save, of a file that the store did not back up, of an
    // old back-up left over, of the file that a restore replaced. Each has the budget file's
    // permissions, where the row gives them.
    struct KeptKind {
        char const* key;
        char const* prefix;
        char const* placeholder;
    };
    KeptKind const keptKinds[] = {{"changed", "budget.xml.changed-elsewhere-*", "{C}"},
                                  {"incomplete", "budget.xml.incomplete-*", "{I}"},
                                  {"old-back-up", "budget.xml.old-back-up-*", "{P}"},
                                  {"before-restore", "budget.xml.before-restore-*", "{R}"}};
    std::map<QString, QString> keptPaths;
    for (auto const& kind : keptKinds) {
        auto const found = QDir(layout.directory).entryInfoList({QString::fromLatin1(kind.prefix)});
        ASSERT_EQ(found.size(), row.has(kind.key) ? 1 : 0) << kind.key;
        if (row.has(kind.key)) {
            EXPECT_EQ(standing(found.front().filePath(), stored), row.value(kind.key)) << kind.key;
            keptPaths[QString::fromLatin1(kind.placeholder)] = found.front().filePath();
            if (row.has("mode")) {
                EXPECT_EQ(QFile::permissions(found.front().filePath()),
                          QFile::permissions(layout.budget))
                    << kind.key;
            }
        }
    }
    auto const filled = [&](std::string const& text) {
        QString result = QString::fromStdString(text);
        for (auto const& [placeholder, path] : keptPaths) {
            result.replace(placeholder, path);
        }
        return layout.fill(result).toStdString();
    };
    // A restore that succeeds returns the copy of the file it replaced.
    auto const replaced = keptPaths.find(QStringLiteral("{R}"));
    EXPECT_EQ(kept, error || replaced == keptPaths.end() ? QString() : replaced->second);
    for (auto const& [placeholder, path] : keptPaths) {
        QFile::remove(path);
    }
    // The lock file goes with the store or load that made it (looked for before the test's own
    // loads, which would reuse it); the marker of a store that did not finish stays only where
    // the row says so.
    QStringList left;
    if (chained) {
        left << QStringLiteral("chain.xml");
    }
    if (row.has("lockfile")) {
        left << QStringLiteral(".budget.xml.lock");
    }
    if (row.has("marker")) {
        left << QStringLiteral(".budget.xml.storing");
    }
    EXPECT_EQ(layout.others(), left) << "left behind";
    EXPECT_EQ(error ? error->firstText().toStdString() : "", filled(row.value("first")));
    EXPECT_EQ(error ? error->secondText().toStdString() : "", filled(row.value("second")));
    std::vector<std::string> records;
    for (auto const& record : row.values("record")) {
        records.push_back(filled(record));
    }
    if (!loading) {
        EXPECT_EQ(support::fileRecords(capture), records);
    }
    if (row.has("loaded")) {
        ASSERT_TRUE(loaded.has_value());
        QTemporaryDir plain;
        QString const copy = plain.filePath(QStringLiteral("copy.xml"));
        stand(copy, row.value("loaded"));
        EXPECT_TRUE(support::holds(copy, *loaded));
    }
    EXPECT_EQ(plantedYet, row.has("plant")) << "planted";
    auto const after = words(row.value("after"));
    ASSERT_EQ(after.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(standing(paths[i], stored), after[i]) << paths[i].toStdString();
    }
#if !defined(_WIN32)
    if (row.has("second-name")) {
        EXPECT_EQ(support::contentOf(secondName), support::contentOf(layout.budget))
            << "the second name";
        char value[8] = {};
        EXPECT_TRUE(!attributes ||
                    ::getxattr(budgetName.constData(), "user.zel", value, sizeof value) == 4);
    }
#endif
    // A back-up that the store made takes the budget file's permissions.
    if (row.has("mode") && after[1] == "previous") {
        EXPECT_EQ(QFile::permissions(layout.backUp), QFile::permissions(layout.budget));
    }
    if (layout.linked) {
        EXPECT_EQ(QFileInfo(chained ? chain : layout.budgetPath).symLinkTarget(), layout.budget)
            << "the link to the budget file is gone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    BudgetFile, StoreOutcome,
    ::testing::ValuesIn(budgets::readManifest(QStringLiteral("store/outcomes.manifest"))),
    budgets::recordName);

// The earlier back-up is moved aside for good before its name is given to the copy of the
// previous budget; that copy is on the disk, name and all, before the budget file is truncated;
// the new budget is on the disk, and its record, before the earlier back-up goes; and that is on
// the disk before the store returns.
TEST(DurableOrder, BackUpAndNewFileReachTheDiskBeforeTheStepsThatRelyOnThem) {
    QTemporaryDir folder;
    support::Layout const layout(folder.path(), false);
    layout.make();
    stand(layout.budget, "previous");
    stand(layout.backUp, "earlier");
    budgets::LogCapture quiet;
    seam::Seam const installed;
    support::store(BudgetFile(layout.budgetPath, QStringLiteral("~")), budgets::smallFullBudget());
    auto const& trace = installed.trace();
    using enum seam::FileStep;
    using seam::firstRan;
    using seam::lastRan;
    // The first folder sync after a step.
    auto const syncAfter = [&](long step) {
        for (auto const& ran : trace) {
            if (ran.index > step && ran.step == syncDirectory && ran.outcome == "ok") {
                return ran.index;
            }
        }
        return 0L;
    };
    long const movedAside = firstRan(trace, rename, layout.backUp, layout.oldBackUp);
    long const copySynced = firstRan(trace, sync, layout.backUp);
    long const backUpNamed = firstRan(trace, rename, QString(), layout.backUp);
    long const truncated = lastRan(trace, open, layout.budget);
    EXPECT_LT(syncAfter(movedAside), backUpNamed);
    EXPECT_LT(lastRan(trace, write, layout.backUp), copySynced);
    EXPECT_LT(copySynced, backUpNamed);
    EXPECT_LT(syncAfter(backUpNamed), truncated);

    long const written = lastRan(trace, write, layout.budget);
    long const synced = lastRan(trace, sync, layout.budget);
    long const closed = lastRan(trace, close, layout.budget);
    long const recorded = firstRan(
        trace, rename, layout.directory + QStringLiteral("/.budget.xml.storing"), layout.record);
    long const earlierRemoved = firstRan(trace, remove, layout.oldBackUp);
    EXPECT_LT(truncated, written);
    EXPECT_LT(written, synced);
    EXPECT_LT(synced, closed);
    EXPECT_LT(closed, recorded);
    EXPECT_LT(syncAfter(recorded), earlierRemoved);
    // Then the earlier back-up's going is made durable, and the lock let go.
    EXPECT_EQ(syncAfter(earlierRemoved) + 1, trace.back().index);
    EXPECT_EQ(trace.back().step, remove);
}

// A folder that cannot be opened was not synced, and saying otherwise would let a store go on
// to truncate the budget file before its back-up's name is on the disk.
TEST(FolderSync, FailsForAFolderThatCannotBeOpened) {
    QTemporaryDir folder;
    support::writeFile(folder.filePath(QStringLiteral("file")), "x");
    for (auto const* name : {"missing", "file"}) {
        EXPECT_FALSE(
            zel::file_storage::internal::syncDirectory(folder.filePath(QLatin1String(name))).ok())
            << name;
    }
}

} // namespace

namespace {

// A link whose target climbs out of a linked folder ("../") names the file that the system
// opens, not the one that cutting its text at ".." would give: a store must reach the file the
// user's other programs see, and keep its back-up there.
TEST(LinkedBudgetFile, BehindALinkedFolderIsTheFileTheSystemOpens) {
    ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
    QTemporaryDir folder;
    QDir const root(folder.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("real/Sync")) &&
                root.mkpath(QStringLiteral("real/Archive")) &&
                root.mkpath(QStringLiteral("Archive")));
    ASSERT_TRUE(zel::testing::makeSymbolicLink(root.filePath(QStringLiteral("real/Sync")),
                                               root.filePath(QStringLiteral("Sync"))));
    ASSERT_TRUE(
        zel::testing::makeSymbolicLink(QStringLiteral("../Archive/budget.xml"),
                                       root.filePath(QStringLiteral("real/Sync/budget.xml"))));
    BudgetFile const file(root.filePath(QStringLiteral("Sync/budget.xml")), QStringLiteral("~"));
    budgets::LogCapture quiet;
    support::store(file, budgets::emptyBudget());
    support::store(file, budgets::smallFullBudget());
    EXPECT_TRUE(support::holds(root.filePath(QStringLiteral("real/Archive/budget.xml")),
                               budgets::smallFullBudget()));
    EXPECT_TRUE(support::holds(root.filePath(QStringLiteral("real/Archive/budget.xml~")),
                               budgets::emptyBudget()));
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("Archive"))).entryList(QDir::NoDotAndDotDot),
              QStringList());
}

} // namespace

namespace {

// The document is made, and its values checked, before any file is touched; yet the writer's
// records come where a store that wrote the document as it made it would write them: after the
// back-up's, as the file is written.
TEST(StoreRecords, TheWritersRecordsFollowTheBackUpsAsTheStoreRunsThem) {
    QTemporaryDir folder;
    support::Layout const layout(folder.path(), false);
    layout.make();
    stand(layout.budget, "previous");
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    std::vector<std::string> texts;
    {
        budgets::LogCapture capture;
        support::store(BudgetFile(layout.budgetPath, QStringLiteral("~")),
                       budgets::smallFullBudget());
        for (auto const& record : capture.records()) {
            texts.push_back(record.text.toStdString());
        }
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto const at = [&](std::string const& text) {
        return std::find(texts.begin(), texts.end(), text) - texts.begin();
    };
    auto const backedUp = at("Successfully backed-up the budget file.");
    auto const preparing = at("Preparing to write to the budget file.");
    auto const completed = at("Completed writing budget elements");
    ASSERT_LT(completed, static_cast<long>(texts.size()));
    EXPECT_LT(at("Storing Budget File \"" + layout.budgetPath.toStdString() + "\""), backedUp);
    EXPECT_LT(backedUp, preparing);
    EXPECT_LT(preparing, completed);
    EXPECT_EQ(completed + 1, static_cast<long>(texts.size())) << "the last record";
}

} // namespace

namespace {

// The record of the last store is what tells another program's save from the library's own:
// stores in a row, with nothing else writing the file, keep no copy; a store after another
// program's save keeps that save, once.
TEST(Record, TellsAnotherProgramsSaveFromTheLibrarysOwn) {
    QTemporaryDir folder;
    support::Layout const layout(folder.path(), false);
    layout.make();
    BudgetFile const file(layout.budgetPath, QStringLiteral("~"));
    budgets::LogCapture quiet;
    auto const changed = [&] {
        return QDir(layout.directory).entryList({QStringLiteral("budget.xml.changed-elsewhere-*")});
    };
    for (auto const* name : {"empty", "small", "random:1"}) {
        support::store(file, budgets::store_child::budgetNamed(QLatin1String(name)));
    }
    EXPECT_EQ(changed(), QStringList()) << "a store took the library's own file for another's";
    QByteArray const saved = budgets::dataFile(QStringLiteral("store/earlier.xml"));
    support::writeFile(layout.budget, saved);
    support::store(file, budgets::store_child::budgetNamed(QStringLiteral("random:2")));
    support::store(file, budgets::store_child::budgetNamed(QStringLiteral("small")));
    ASSERT_EQ(changed().size(), 1);
    EXPECT_EQ(support::contentOf(layout.directory + QLatin1Char('/') + changed().front()), saved);
}

} // namespace
