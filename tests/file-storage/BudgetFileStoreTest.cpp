// The budget file's store and load through the public class: budgets come back as stored, and
// every way a store can end leaves the budget file, its back-up and the old back-up as
// documented, with the documented error and log records. The faults here are real: files and
// directories in the way, and a process file-size limit that makes writes fail as a full disk
// would.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/Errors.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/resource.h>

namespace budgets = zel::testing;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::storage::StorageError;

namespace {

using support::store;

// Limits the size of the files this process writes, as a full disk would; writes beyond it fail
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(FileSizeLimit const&) = delete;
    FileSizeLimit& operator=(FileSizeLimit const&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

class BudgetFileTest : public ::testing::Test {
protected:
    QTemporaryDir directory_;
    support::Paths paths_ = support::pathsIn(directory_.path());

    void SetUp() override { ASSERT_TRUE(directory_.isValid()); }
};

// ---- Round trips -------------------------------------------------------------------------------

// The small full budget, the empty one, then random ones. Storing what was loaded writes the
// same bytes again: the document's round trips show that.
TEST_F(BudgetFileTest, BudgetsLoadBackAsStoredAndEachStoreBacksUpThePreviousFile) {
    budgets::LogCapture quiet;
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    std::string previous = "absent";
    int stored = 0;
    for (int seed = -1; seed <= 80; ++seed) {
        auto const original = seed < 0    ? budgets::smallFullBudget()
                              : seed == 0 ? budgets::emptyBudget()
                                          : budgets::randomBudget(static_cast<std::uint32_t>(seed));
        try {
            store(file, original);
        } catch (zel::file_storage::BudgetFileError const&) {
            // Refused values are the writer's tests' concern; a refused store changes nothing.
            EXPECT_EQ(support::snapshot(paths_.budget), previous) << "seed " << seed;
            continue;
        }
        stored += seed > 0;
        ASSERT_EQ(budgets::describe(file.load()), budgets::describe(original)) << "seed " << seed;
        if (previous != "absent") {
            EXPECT_EQ(support::snapshot(paths_.backUp), previous) << "seed " << seed;
        }
        EXPECT_EQ(support::snapshot(paths_.oldBackUp), "absent") << "seed " << seed;
        previous = support::snapshot(paths_.budget);
    }
    EXPECT_GT(stored, 60);
}

// ---- How a store ends ------------------------------------------------------------------------

using enum support::Stand;
using namespace support::texts;
using support::oldBackUpFile;
using support::oldBudgetFile;

// How a store started, and how it ended.
struct Outcome {
    char const* name;
    support::Stands before;
    char const* budgetName; // StoreChild.h's names
    std::optional<rlim_t> fileSizeLimit;
    support::Ending after;
};

Outcome outcome(char const* name, support::Stands before, char const* budgetName,
                std::optional<rlim_t> fileSizeLimit, std::string firstText, std::string secondText,
                std::vector<std::string> records, std::string budget, std::string backUp,
                std::string oldBackUp) {
    return {name,
            before,
            budgetName,
            fileSizeLimit,
            {std::move(firstText), std::move(secondText), std::move(records), std::move(budget),
             std::move(backUp), std::move(oldBackUp)}};
}

Outcome const outcomes[] = {
    outcome("NewFile", {absent, absent, absent}, "small", {}, "", "", {storing, noBackUpNeeded},
            "new", "absent", "absent"),
    outcome("OverAFile", {oldBudget, absent, absent}, "small", {}, "", "", {storing, backedUp},
            "new", oldBudgetFile, "absent"),
    outcome("OverAFileAndItsBackUp", {oldBudget, oldBackUp, absent}, "small", {}, "", "",
            {storing, oldBackUpMoved, backedUp, oldBackUpRemoved}, "new", oldBudgetFile, "absent"),
    // A directory at the back-up path moves aside like a file, but cannot be removed as one.
    outcome("OldBackUpThatCannotBeRemovedIsLeftOver", {oldBudget, directory, absent}, "small", {},
            "", "",
            {storing, oldBackUpMoved, backedUp,
             "C Failed to remove the old back-up budget file '{O}' due to Is a directory."},
            "new", oldBudgetFile, "directory"),
    outcome("LeftOverOldBackUpIsRemovedBeforeTheRotation", {oldBudget, oldBackUp, oldBackUp},
            "small", {}, "", "",
            {storing, "W Removed a left-over old back-up budget file \"{O}\"", oldBackUpMoved,
             backedUp, oldBackUpRemoved},
            "new", oldBudgetFile, "absent"),
    outcome("StaleOldBackUpThatCannotBeRemovedStopsTheStoreBeforeAnyChange",
            {oldBudget, oldBackUp, directory}, "small", {}, "Destination file exists",
            "The back-up budget file, {K}, failed to be backed-up prior to backing up the budget "
            "file.",
            {storing}, oldBudgetFile, oldBackUpFile, "directory"),
    outcome("BudgetPathThatIsADirectoryCannotBeBackedUp", {directory, absent, absent}, "small", {},
            budgetIsADirectory, backUpFailed, {storing}, "directory", "absent", "absent"),
    outcome("FailedBackUpPutsThePreviousBackUpBack", {directory, oldBackUp, absent}, "small", {},
            budgetIsADirectory, backUpFailed, {storing, oldBackUpMoved, oldBackUpRestored},
            "directory", oldBackUpFile, "absent"),
    outcome("FullDiskWhileBackingUpPutsThePreviousBackUpBack", {oldBudget, oldBackUp, absent},
            "small", 4, "Cannot write {K}: File too large", backUpFailed,
            {storing, oldBackUpMoved, oldBackUpRestored}, oldBudgetFile, oldBackUpFile, "absent"),
    outcome("WriterThatThrowsPutsThePreviousFileBack", {oldBudget, oldBackUp, absent}, "untyped",
            {}, notValid, untypedAccount,
            {storing, oldBackUpMoved, backedUp, oldBackUpRemoved, writeFailed, brokenRemoved,
             backUpRestored},
            oldBudgetFile, "absent", "absent"),
    outcome("WriterThatThrowsOnANewFileLeavesNothing", {absent, absent, absent}, "untyped", {},
            notValid, untypedAccount, {storing, noBackUpNeeded, writeFailed, brokenRemoved},
            "absent", "absent", "absent"),
    outcome("FullDiskWhileWritingPutsThePreviousFileBack", {oldBudget, absent, absent}, "small",
            1024, "File too large", savedDue,
            {storing, backedUp, writeFailed, brokenRemoved, backUpRestored}, oldBudgetFile,
            "absent", "absent"),
    outcome("FullDiskWhileWritingANewFileLeavesNothing", {absent, absent, absent}, "small", 1024,
            "File too large", savedDue, {storing, noBackUpNeeded, writeFailed, brokenRemoved},
            "absent", "absent", "absent"),
};

class StoreOutcome : public BudgetFileTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(StoreOutcome, LeavesTheDocumentedFilesErrorAndRecords) {
    auto const& expected = GetParam();
    support::standAt(paths_, expected.before);
    auto const state = budgets::store_child::budgetNamed(QString::fromLatin1(expected.budgetName));
    budgets::LogCapture capture;
    std::optional<StorageError> error;
    {
        std::optional<FileSizeLimit> limit;
        if (expected.fileSizeLimit) {
            limit.emplace(*expected.fileSizeLimit);
        }
        try {
            support::store(BudgetFile(paths_.budget, QStringLiteral("~")), state);
        } catch (StorageError const& thrown) {
            error = thrown;
        }
    }
    EXPECT_EQ(error.has_value(), !expected.after.firstText.empty());
    support::expectEnding(
        expected.after, [&](std::string const& text) { return paths_.fill(text); },
        error ? error->firstText().toStdString() : "",
        error ? error->secondText().toStdString() : "", support::fileRecords(capture), paths_,
        state);
}

INSTANTIATE_TEST_SUITE_P(BudgetFile, StoreOutcome, ::testing::ValuesIn(outcomes),
                         [](auto const& test) { return std::string(test.param.name); });

// ---- Back-up names and load -----------------------------------------------------------------

TEST_F(BudgetFileTest, BackUpIsNamedByTheExtensionTakenLiterally) {
    struct Case {
        QString extension;
        QString backUpName;
    };
    for (auto const& [extension, backUpName] :
         {Case{QStringLiteral("~"), QStringLiteral("budget.xml~")},
          Case{QStringLiteral("bak"), QStringLiteral("budget.xml.bak")},
          Case{QStringLiteral("~x"), QStringLiteral("budget.xml.~x")},
          Case{QString(), QStringLiteral("budget.xml.")}}) {
        QTemporaryDir directory;
        BudgetFile const file(directory.filePath(QStringLiteral("budget.xml")), extension);
        store(file, budgets::emptyBudget());
        store(file, budgets::emptyBudget());
        EXPECT_EQ(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                  QStringList({QStringLiteral("budget.xml"), backUpName}))
            << extension.toStdString();
    }
}

TEST_F(BudgetFileTest, LoadOfAMissingFileOrADirectoryNamesTheBareFileName) {
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    for (auto const* reason : {"No such file or directory", "file to open is a directory"}) {
        try {
            file.load();
            ADD_FAILURE() << "loaded where " << reason;
        } catch (StorageError const& error) {
            EXPECT_EQ(error.firstText(), QLatin1String(reason));
            EXPECT_EQ(error.secondText(),
                      QStringLiteral("The budget file, budget.xml, failed to be loaded."));
        }
        QDir().mkpath(paths_.budget);
    }
}

// A store that died while writing leaves the budget file cut short beside a good back-up. The
// next store must not replace that back-up with the broken file: if it failed too, nothing
// good would be left.
TEST_F(BudgetFileTest, AStoreOverABudgetFileCutShortKeepsTheGoodBackUp) {
    budgets::LogCapture records;
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    store(file, budgets::emptyBudget());
    auto const good = support::snapshot(paths_.budget);
    store(file, budgets::smallFullBudget());
    ASSERT_EQ(support::snapshot(paths_.backUp), good);

    QFile::resize(paths_.budget, QFileInfo(paths_.budget).size() / 2);
    auto refused = budgets::smallFullBudget();
    std::get<zel::banking::AccountTypeMap>(refused).clear();
    EXPECT_THROW(store(file, refused), zel::file_storage::BudgetFileError);
    EXPECT_EQ(support::snapshot(paths_.budget), good);
    EXPECT_TRUE(records.contains(
        QtCriticalMsg, QStringLiteral("The budget file is incomplete; keeping the back-up "
                                      "budget file \"%1\"")
                           .arg(paths_.backUp)));

    // A store that succeeds leaves the good back-up too, not the broken file.
    store(file, budgets::smallFullBudget());
    QFile::resize(paths_.budget, QFileInfo(paths_.budget).size() / 2);
    store(file, budgets::randomBudget(3));
    EXPECT_EQ(support::snapshot(paths_.backUp), good);
    EXPECT_EQ(budgets::describe(file.load()), budgets::describe(budgets::randomBudget(3)));
}

} // namespace
