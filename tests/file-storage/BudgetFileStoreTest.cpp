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
#include <functional>
#include <optional>
#include <sys/resource.h>

namespace budgets = zel::testing;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::storage::BudgetState;
using zel::storage::StorageError;

namespace {

void store(BudgetFile const& file, BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    file.store(ledger, budget, items, banks, types, surveys);
}

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

    QStringList entries() const {
        return QDir(directory_.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
};

// ---- Round trips -------------------------------------------------------------------------------

TEST_F(BudgetFileTest, BudgetsWithEveryKindOfValueLoadBackAsStored) {
    budgets::LogCapture quiet;
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    for (auto const& original : {budgets::smallFullBudget(), budgets::emptyBudget()}) {
        store(file, original);
        auto const written = support::snapshot(paths_.budget);
        auto const loaded = file.load();
        EXPECT_EQ(budgets::describe(loaded), budgets::describe(original));
        // Storing what was loaded writes the same bytes again.
        store(file, loaded);
        EXPECT_EQ(support::snapshot(paths_.budget), written);
    }
}

TEST_F(BudgetFileTest, RandomBudgetsLoadBackAsStoredAndEachStoreBacksUpThePreviousFile) {
    budgets::LogCapture quiet;
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    std::string previous = "absent";
    int stored = 0;
    for (std::uint32_t seed = 1; seed <= 80; ++seed) {
        auto const original = budgets::randomBudget(seed);
        try {
            store(file, original);
        } catch (zel::file_storage::BudgetFileError const&) {
            // Refused values are the writer's tests' concern; a refused store changes nothing.
            EXPECT_EQ(support::snapshot(paths_.budget), previous) << "seed " << seed;
            continue;
        }
        ++stored;
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

// The state of the directory before a store, written by hand so that its bytes are known.
enum class Stand { absent, oldBudget, oldBackUp, directory };

void stand(QString const& path, Stand what) {
    switch (what) {
    case Stand::absent:
        break;
    case Stand::oldBudget:
        support::writeFile(path, "<KelvoraMindrath>old budget</KelvoraMindrath>\n");
        break;
    case Stand::oldBackUp:
        support::writeFile(path, "old back-up\n");
        break;
    case Stand::directory:
        support::makeNonEmptyDirectory(path);
        break;
    }
}

// What stands at a path after a store: as support::snapshot gives it, or "new" for a budget
// file that loads back as the stored budget.
struct Outcome {
    char const* name;
    Stand budget;
    Stand backUp;
    Stand oldBackUp;
    char const* budgetName; // StoreChild.h's names
    std::optional<rlim_t> fileSizeLimit;
    // The two texts of the error, empty when the store succeeds. {B}, {K} and {O} stand for
    // the paths.
    std::string firstText;
    std::string secondText;
    std::vector<std::string> records;
    std::string budgetAfter;
    std::string backUpAfter;
    std::string oldBackUpAfter;
};

std::string const storing = "D Storing Budget File \"{B}\"";
std::string const noBackUpNeeded = "D No pre-existing budget file found, no back-up needed.";
std::string const oldBackUpMoved = "D Successfully backed-up the old back-up budget file.";
std::string const backedUp = "D Successfully backed-up the budget file.";
std::string const oldBackUpRemoved = "D Successfully removed the old back-up budget file.";
std::string const oldBackUpRestored = "D Successfully restored the old back-up budget file.";
std::string const writeFailed = "C An error occurred after writing the budget file started.";
std::string const brokenRemoved = "D Successfully removed the broken budget file.";
std::string const backUpRestored = "D Successfully restored the backed-up budget file.";
std::string const notValid = "The budget file is not valid.  Error appears at line 0, column 0.";
std::string const untypedAccount =
    "The bank 'First Bank' holds the account 101, which has no bank account type.";

Outcome const outcomes[] = {
    {"NewFile",
     Stand::absent,
     Stand::absent,
     Stand::absent,
     "small",
     {},
     "",
     "",
     {storing, noBackUpNeeded},
     "new",
     "absent",
     "absent"},
    {"OverAFile",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {},
     "",
     "",
     {storing, backedUp},
     "new",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    {"OverAFileAndItsBackUp",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {},
     "",
     "",
     {storing, oldBackUpMoved, backedUp, oldBackUpRemoved},
     "new",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    // A directory at the back-up path moves aside like a file, but cannot be removed as one.
    {"OldBackUpThatCannotBeRemovedIsLeftOver",
     Stand::oldBudget,
     Stand::directory,
     Stand::absent,
     "small",
     {},
     "",
     "",
     {storing, oldBackUpMoved, backedUp,
      "C Failed to remove the old back-up budget file '{O}' due to Is a directory."},
     "new",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "directory"},
    {"LeftOverOldBackUpIsRemovedBeforeTheRotation",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::oldBackUp,
     "small",
     {},
     "",
     "",
     {storing, "W Removed a left-over old back-up budget file \"{O}\"", oldBackUpMoved, backedUp,
      oldBackUpRemoved},
     "new",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    {"StaleOldBackUpThatCannotBeRemovedStopsTheStoreBeforeAnyChange",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::directory,
     "small",
     {},
     "Destination file exists",
     "The back-up budget file, {K}, failed to be backed-up prior to backing up the budget file.",
     {storing},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:old back-up\n",
     "directory"},
    {"BudgetPathThatIsADirectoryCannotBeBackedUp",
     Stand::directory,
     Stand::absent,
     Stand::absent,
     "small",
     {},
     "Cannot open {B} for input: file to open is a directory",
     "The budget file, budget.xml, failed to be backed-up prior to saving.",
     {storing},
     "directory",
     "absent",
     "absent"},
    {"FailedBackUpPutsThePreviousBackUpBack",
     Stand::directory,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {},
     "Cannot open {B} for input: file to open is a directory",
     "The budget file, budget.xml, failed to be backed-up prior to saving.",
     {storing, oldBackUpMoved, oldBackUpRestored},
     "directory",
     "file:old back-up\n",
     "absent"},
    {"FullDiskWhileBackingUpPutsThePreviousBackUpBack",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     4,
     "Cannot write {K}: File too large",
     "The budget file, budget.xml, failed to be backed-up prior to saving.",
     {storing, oldBackUpMoved, oldBackUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:old back-up\n",
     "absent"},
    {"WriterThatThrowsPutsThePreviousFileBack",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "untyped",
     {},
     notValid,
     untypedAccount,
     {storing, oldBackUpMoved, backedUp, oldBackUpRemoved, writeFailed, brokenRemoved,
      backUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent",
     "absent"},
    {"WriterThatThrowsOnANewFileLeavesNothing",
     Stand::absent,
     Stand::absent,
     Stand::absent,
     "untyped",
     {},
     notValid,
     untypedAccount,
     {storing, noBackUpNeeded, writeFailed, brokenRemoved},
     "absent",
     "absent",
     "absent"},
    {"FullDiskWhileWritingPutsThePreviousFileBack",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     1024,
     "File too large",
     "The budget file, budget.xml, failed to be saved due.",
     {storing, backedUp, writeFailed, brokenRemoved, backUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent",
     "absent"},
    {"FullDiskWhileWritingANewFileLeavesNothing",
     Stand::absent,
     Stand::absent,
     Stand::absent,
     "small",
     1024,
     "File too large",
     "The budget file, budget.xml, failed to be saved due.",
     {storing, noBackUpNeeded, writeFailed, brokenRemoved},
     "absent",
     "absent",
     "absent"},
};

class StoreOutcome : public BudgetFileTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(StoreOutcome, LeavesTheDocumentedFilesErrorAndRecords) {
    auto const& expected = GetParam();
    stand(paths_.budget, expected.budget);
    stand(paths_.backUp, expected.backUp);
    stand(paths_.oldBackUp, expected.oldBackUp);
    auto const state = budgets::store_child::budgetNamed(QString::fromLatin1(expected.budgetName));
    BudgetFile const file(paths_.budget, QStringLiteral("~"));

    budgets::LogCapture capture;
    std::optional<StorageError> error;
    {
        std::optional<FileSizeLimit> limit;
        if (expected.fileSizeLimit) {
            limit.emplace(*expected.fileSizeLimit);
        }
        try {
            store(file, state);
        } catch (StorageError const& thrown) {
            error = thrown;
        }
    }

    if (expected.firstText.empty()) {
        EXPECT_FALSE(error) << error->firstText().toStdString() << " / "
                            << error->secondText().toStdString();
    } else {
        EXPECT_TRUE(error) << "the store succeeded";
        if (error) {
            EXPECT_EQ(error->firstText().toStdString(), paths_.fill(expected.firstText));
            EXPECT_EQ(error->secondText().toStdString(), paths_.fill(expected.secondText));
        }
    }
    std::vector<std::string> records;
    for (auto const& record : expected.records) {
        records.push_back(paths_.fill(record));
    }
    EXPECT_EQ(support::fileRecords(capture), records);

    if (std::string(expected.budgetAfter) == "new") {
        EXPECT_EQ(budgets::describe(file.load()), budgets::describe(state));
    } else {
        EXPECT_EQ(support::snapshot(paths_.budget), expected.budgetAfter);
    }
    EXPECT_EQ(support::snapshot(paths_.backUp), expected.backUpAfter);
    EXPECT_EQ(support::snapshot(paths_.oldBackUp), expected.oldBackUpAfter);
}

INSTANTIATE_TEST_SUITE_P(BudgetFile, StoreOutcome, ::testing::ValuesIn(outcomes),
                         [](auto const& test) { return std::string(test.param.name); });

// ---- Back-up names and load -----------------------------------------------------------------

TEST_F(BudgetFileTest, StoringTwiceLeavesExactlyOneBackUpHoldingTheFirstContent) {
    budgets::LogCapture quiet;
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    store(file, budgets::emptyBudget());
    auto const first = support::snapshot(paths_.budget);
    store(file, budgets::smallFullBudget());

    EXPECT_EQ(entries(),
              QStringList({QStringLiteral("budget.xml"), QStringLiteral("budget.xml~")}));
    EXPECT_EQ(support::snapshot(paths_.backUp), first);
    EXPECT_EQ(budgets::describe(file.load()), budgets::describe(budgets::smallFullBudget()));
}

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

TEST_F(BudgetFileTest, LoadOfAMissingFileNamesTheBareFileName) {
    BudgetFile const file(paths_.budget, QStringLiteral("~"));
    try {
        file.load();
        FAIL() << "a missing file loaded";
    } catch (StorageError const& error) {
        EXPECT_EQ(error.firstText(), QStringLiteral("No such file or directory"));
        EXPECT_EQ(error.secondText(),
                  QStringLiteral("The budget file, budget.xml, failed to be loaded."));
    }
}

} // namespace

namespace {

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
