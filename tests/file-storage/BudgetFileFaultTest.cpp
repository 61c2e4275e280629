// Stores whose file operations fail where no file in the way can make them fail: a child
// process stores a budget under the fault-injection layer, which breaks one chosen step of the
// store (found in a trace of the same store without a fault), or kills the process there.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"
#include "support/fault-injection/FaultInjection.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace budgets = zel::testing;
namespace faults = zel::testing::fault_injection;
namespace support = zel::testing::budget_file;
using faults::TraceEntry;
using zel::file_storage::BudgetFile;

namespace {

// What a run of the store child printed, and how it ended.
struct ChildRun {
    bool crashed = false;
    int exitCode = -1;
    std::vector<std::string> records; // the file handling's own, as support::recordText gives them
    std::string firstText;
    std::string secondText;
    std::string output;
};

ChildRun runChild(QString const& budgetPath, char const* budgetName, faults::Plan const& plan) {
    QProcess child;
    child.setProcessEnvironment(faults::environment(plan));
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QStringLiteral(ZEL_BUDGET_FILE_STORE_CHILD),
                {budgetPath, QString::fromLatin1(budgetName)});
    ChildRun run;
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        run.output = "the child did not finish";
        return run;
    }
    run.crashed = child.exitStatus() == QProcess::CrashExit;
    run.exitCode = child.exitCode();
    QByteArray const output = child.readAllStandardOutput();
    run.output = output.toStdString() + child.readAllStandardError().toStdString();
    for (auto const& line :
         QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        auto const fields = line.split(QLatin1Char('\t'));
        if (fields[0] == QLatin1String("log") && fields.size() == 3 &&
            !support::isWriterRecord(fields[2])) {
            auto const type = fields[1] == QLatin1String("debug")      ? QtDebugMsg
                              : fields[1] == QLatin1String("info")     ? QtInfoMsg
                              : fields[1] == QLatin1String("warning")  ? QtWarningMsg
                              : fields[1] == QLatin1String("critical") ? QtCriticalMsg
                                                                       : QtFatalMsg;
            run.records.push_back(support::recordText(type, fields[2]));
        } else if (fields[0] == QLatin1String("first")) {
            run.firstText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        } else if (fields[0] == QLatin1String("second")) {
            run.secondText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        }
    }
    return run;
}

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

class BudgetFileFaultTest : public ::testing::Test {
protected:
    QTemporaryDir directory_;
    QTemporaryDir traces_;
    support::Paths paths_ = support::pathsIn(directory_.path());

    void SetUp() override { ASSERT_TRUE(directory_.isValid() && traces_.isValid()); }

    void clear() {
        for (auto const& entry :
             QDir(directory_.path())
                 .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
            if (entry.isDir()) {
                QDir(entry.filePath()).removeRecursively();
            } else {
                QFile::remove(entry.filePath());
            }
        }
    }

    void setUpFiles(Stand budget, Stand backUp, Stand oldBackUp) {
        clear();
        stand(paths_.budget, budget);
        stand(paths_.backUp, backUp);
        stand(paths_.oldBackUp, oldBackUp);
    }

    // A plan that watches the budget file's directory and traces to a fresh file.
    faults::Plan plan(QStringList operations, QString const& traceName) const {
        faults::Plan result;
        result.operations = std::move(operations);
        result.directory = directory_.path();
        result.tracePath = traces_.filePath(traceName);
        return result;
    }

    // Runs the store once without a fault and gives its trace.
    std::vector<TraceEntry> dryRun(char const* budgetName, QStringList operations,
                                   QString const& traceName) {
        auto const run =
            runChild(paths_.budget, budgetName, plan(std::move(operations), traceName));
        EXPECT_FALSE(run.crashed) << run.output;
        return faults::readTrace(traces_.filePath(traceName));
    }

    // The index of the first entry for which matches holds; 0 when none does.
    static long find(std::vector<TraceEntry> const& trace,
                     std::function<bool(TraceEntry const&)> const& matches) {
        for (auto const& entry : trace) {
            if (matches(entry)) {
                return entry.index;
            }
        }
        return 0;
    }
};

// ---- Faults that only the layer reaches ------------------------------------------------------

struct Fault {
    char const* name;
    Stand budget;
    Stand backUp;
    Stand oldBackUp;
    char const* budgetName;
    QStringList operations;
    // The step to break: an operation name and the paths it concerns ({B}, {K}, {O}, {D}).
    char const* operation;
    char const* path;
    char const* detail; // a prefix of the entry's detail
    bool last;          // the last such step rather than the first
    faults::Action action;
    // Outcome, as in the in-process tests: empty texts for a store that succeeds; "new" for a
    // budget file that loads back as the stored budget.
    std::string firstText;
    std::string secondText;
    std::vector<std::string> records;
    std::string budgetAfter;
    std::string backUpAfter;
    std::string oldBackUpAfter;
};

std::string const storing = "D Storing Budget File \"{B}\"";
std::string const oldBackUpMoved = "D Successfully backed-up the old back-up budget file.";
std::string const backedUp = "D Successfully backed-up the budget file.";
std::string const oldBackUpRestored = "D Successfully restored the old back-up budget file.";
std::string const writeFailed = "C An error occurred after writing the budget file started.";
std::string const brokenRemoved = "D Successfully removed the broken budget file.";
std::string const backUpRestored = "D Successfully restored the backed-up budget file.";
std::string const notValid = "The budget file is not valid.  Error appears at line 0, column 0.";
std::string const untypedAccount =
    "The bank 'First Bank' holds the account 101, which has no bank account type.";
std::string const savedDue = "The budget file, budget.xml, failed to be saved due.";
std::string const backUpFailed =
    "The budget file, budget.xml, failed to be backed-up prior to saving.";

// Qt renames by copying when the rename itself fails, so a rename that is to fail for good
// needs the opens after it to fail too.
Fault const faultCases[] = {
    {"BrokenFileThatCannotBeRemovedStaysBesideTheBackUp",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "untyped",
     {"unlink"},
     "unlink",
     "{B}",
     "",
     false,
     faults::Action::fail,
     notValid,
     untypedAccount,
     {storing, backedUp, writeFailed,
      "W Failed to remove the broken budget file, {B}, due to Input/output error."},
     "file:<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    {"BackUpThatCannotBeRestoredStaysAtTheBackUpPath",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "untyped",
     {"rename", "open"},
     "rename",
     "{K}",
     "{B}",
     false,
     faults::Action::failFrom,
     notValid,
     untypedAccount,
     {storing, backedUp, writeFailed, brokenRemoved,
      "W Failed to restore the backed-up budget file, {K}, failed to be renamed due to "
      "Input/output error."},
     "absent",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    {"OldBackUpThatCannotBeRestoredStaysAtTheOldBackUpPath",
     Stand::directory,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {"rename", "open"},
     "rename",
     "{O}",
     "{K}",
     false,
     faults::Action::failFrom,
     "Cannot open {B} for input: file to open is a directory",
     backUpFailed,
     {storing, oldBackUpMoved,
      "C Failed to restore the back-up budget file '{O}' due to Input/output error."},
     "directory",
     "absent",
     "file:old back-up\n"},
    {"OldBackUpThatCannotBeRemovedIsLeftOver",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {"unlink"},
     "unlink",
     "{O}",
     "",
     false,
     faults::Action::fail,
     "",
     "",
     {storing, oldBackUpMoved, backedUp,
      "C Failed to remove the old back-up budget file '{O}' due to Input/output error."},
     "new",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:old back-up\n"},
    {"BudgetFileThatCannotBeOpenedForWritingIsUnchanged",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {"open"},
     "open",
     "{B}",
     "w",
     false,
     faults::Action::fail,
     "Input/output error",
     "The budget file, budget.xml, failed to be saved while opening.",
     {storing, backedUp},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
    {"FailedSyncOfTheNewFilePutsThePreviousFileBack",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {"fsync"},
     "fsync",
     "{B}",
     "",
     false,
     faults::Action::fail,
     "Input/output error",
     savedDue,
     {storing, backedUp, writeFailed, brokenRemoved, backUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent",
     "absent"},
    {"FailedSyncOfTheDirectoryAfterWritingPutsThePreviousFileBack",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {"fsync"},
     "fsync",
     "{D}",
     "r,directory",
     true,
     faults::Action::fail,
     "Input/output error",
     savedDue,
     {storing, backedUp, writeFailed, brokenRemoved, backUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent",
     "absent"},
    {"FailedCloseOfTheNewFilePutsThePreviousFileBack",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {"close"},
     "close",
     "{B}",
     "w",
     true,
     faults::Action::fail,
     "Input/output error",
     savedDue,
     {storing, backedUp, writeFailed, brokenRemoved, backUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent",
     "absent"},
    {"BackUpThatCannotBeMovedAsideStopsTheStoreBeforeAnyChange",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {"rename", "open"},
     "rename",
     "{K}",
     "{O}",
     false,
     faults::Action::failFrom,
     "Input/output error",
     "The back-up budget file, {K}, failed to be backed-up prior to backing up the budget file.",
     {storing},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:old back-up\n",
     "absent"},
    // The copy is written to an unnamed file in the directory and synced before it is named.
    {"FailedSyncOfTheBackUpCopyPutsThePreviousBackUpBack",
     Stand::oldBudget,
     Stand::oldBackUp,
     Stand::absent,
     "small",
     {"fsync"},
     "fsync",
     "{D}",
     "rw,tmpfile",
     false,
     faults::Action::fail,
     "Cannot write {K}: Input/output error",
     backUpFailed,
     {storing, oldBackUpMoved, oldBackUpRestored},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:old back-up\n",
     "absent"},
    {"FailedSyncOfTheDirectoryAfterTheBackUpLeavesTheBudgetFileUntouched",
     Stand::oldBudget,
     Stand::absent,
     Stand::absent,
     "small",
     {"fsync"},
     "fsync",
     "{D}",
     "r,directory",
     false,
     faults::Action::fail,
     "The directory {D} could not be written to the disk.",
     backUpFailed,
     {storing, backedUp},
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n",
     "absent"},
};

class StoreFault : public BudgetFileFaultTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(StoreFault, LeavesTheDocumentedFilesErrorAndRecords) {
    auto const& fault = GetParam();
    auto const fill = [&](std::string const& text) {
        return QString::fromStdString(paths_.fill(text))
            .replace(QLatin1String("{D}"), directory_.path());
    };
    auto const matches = [&](TraceEntry const& entry) {
        return entry.operation == QLatin1String(fault.operation) &&
               entry.path == fill(fault.path) && entry.detail.startsWith(fill(fault.detail));
    };
    setUpFiles(fault.budget, fault.backUp, fault.oldBackUp);
    auto const trace = dryRun(fault.budgetName, fault.operations, QStringLiteral("dry"));
    long at = 0;
    for (auto const& entry : trace) {
        if (matches(entry) && (at == 0 || fault.last)) {
            at = entry.index;
        }
    }
    ASSERT_GT(at, 0) << "the store never reaches the step";

    setUpFiles(fault.budget, fault.backUp, fault.oldBackUp);
    auto faulty = plan(fault.operations, QStringLiteral("faulty"));
    faulty.at = at;
    faulty.action = fault.action;
    auto const run = runChild(paths_.budget, fault.budgetName, faulty);
    auto const faultyTrace = faults::readTrace(faulty.tracePath);
    ASSERT_GE(faultyTrace.size(), static_cast<std::size_t>(at));
    EXPECT_TRUE(matches(faultyTrace[at - 1]));
    EXPECT_EQ(faultyTrace[at - 1].outcome, QStringLiteral("injected EIO"));

    ASSERT_FALSE(run.crashed) << run.output;
    EXPECT_EQ(run.exitCode, fault.firstText.empty() ? 0 : 1) << run.output;
    EXPECT_EQ(run.firstText, fill(fault.firstText).toStdString());
    EXPECT_EQ(run.secondText, fill(fault.secondText).toStdString());
    std::vector<std::string> records;
    for (auto const& record : fault.records) {
        records.push_back(fill(record).toStdString());
    }
    EXPECT_EQ(run.records, records);

    if (fault.budgetAfter == "new") {
        budgets::LogCapture quiet;
        EXPECT_EQ(budgets::describe(BudgetFile(paths_.budget, QStringLiteral("~")).load()),
                  budgets::describe(
                      budgets::store_child::budgetNamed(QString::fromLatin1(fault.budgetName))));
    } else {
        EXPECT_EQ(support::snapshot(paths_.budget), fault.budgetAfter);
    }
    EXPECT_EQ(support::snapshot(paths_.backUp), fault.backUpAfter);
    EXPECT_EQ(support::snapshot(paths_.oldBackUp), fault.oldBackUpAfter);
}

INSTANTIATE_TEST_SUITE_P(BudgetFile, StoreFault, ::testing::ValuesIn(faultCases),
                         [](auto const& test) { return std::string(test.param.name); });

// ---- Durability and the layer itself ---------------------------------------------------------

// The previous budget must be on the disk, under the back-up's name, before the budget file is
// truncated; and the new budget must be on the disk before the store returns. The same with and
// without an earlier back-up to move aside.
class DurableOrder : public BudgetFileFaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DurableOrder, BackUpAndNewFileReachTheDiskBeforeTheStepsThatRelyOnThem) {
    bool const earlierBackUp = GetParam();
    setUpFiles(Stand::oldBudget, earlierBackUp ? Stand::oldBackUp : Stand::absent, Stand::absent);
    auto const trace = dryRun("small", {}, QStringLiteral("all"));
    auto const is = [&](TraceEntry const& entry, char const* operation, QString const& path) {
        return entry.operation == QLatin1String(operation) && entry.path == path;
    };
    auto const dir = directory_.path();
    auto const isDirectorySync = [&](TraceEntry const& entry) {
        return is(entry, "fsync", dir) && entry.detail.startsWith(QLatin1String("r,directory"));
    };
    // The copy is written to an unnamed file in the directory, which is then linked as the
    // back-up.
    auto const isCopy = [&](TraceEntry const& entry) {
        return entry.path == dir && entry.detail == QLatin1String("rw,tmpfile");
    };
    long const truncation = find(trace, [&](TraceEntry const& e) {
        return is(e, "open", paths_.budget) && e.detail.contains(QLatin1String("trunc"));
    });
    long const backUpNamed = find(trace, [&](TraceEntry const& e) {
        return e.operation == QLatin1String("link") && e.detail == paths_.backUp;
    });
    long lastCopyWrite = 0;
    for (auto const& entry : trace) {
        lastCopyWrite = isCopy(entry) && entry.operation == QLatin1String("write") ? entry.index
                                                                                   : lastCopyWrite;
    }
    long const copySynced = find(trace, [&](TraceEntry const& e) {
        return isCopy(e) && e.operation == QLatin1String("fsync") && e.index > lastCopyWrite;
    });
    long const oldBackUpRemoved =
        find(trace, [&](TraceEntry const& e) { return is(e, "unlink", paths_.oldBackUp); });
    long const directorySynced = find(trace, [&](TraceEntry const& e) {
        return isDirectorySync(e) && e.index > std::max(backUpNamed, oldBackUpRemoved);
    });
    ASSERT_TRUE(truncation && backUpNamed && lastCopyWrite && copySynced && directorySynced);
    EXPECT_EQ(oldBackUpRemoved != 0, earlierBackUp);
    EXPECT_LT(copySynced, backUpNamed);
    EXPECT_LT(directorySynced, truncation);

    long lastWrite = 0;
    for (auto const& entry : trace) {
        lastWrite = is(entry, "write", paths_.budget) ? entry.index : lastWrite;
    }
    long const newFileSynced = find(trace, [&](TraceEntry const& e) {
        return is(e, "fsync", paths_.budget) && e.index > lastWrite;
    });
    long const closed = find(trace, [&](TraceEntry const& e) {
        return is(e, "close", paths_.budget) && e.index > lastWrite;
    });
    ASSERT_GT(lastWrite, truncation);
    ASSERT_GT(newFileSynced, lastWrite);
    EXPECT_GT(closed, newFileSynced);
    // The last thing a store does is make the new file's name durable.
    ASSERT_GE(trace.size(), 2u);
    EXPECT_TRUE(isDirectorySync(trace[trace.size() - 2]) && is(trace.back(), "close", dir))
        << trace.back().operation.toStdString() << " " << trace.back().path.toStdString();
    EXPECT_GT(trace[trace.size() - 2].index, closed);
}

INSTANTIATE_TEST_SUITE_P(BudgetFile, DurableOrder, ::testing::Bool(), [](auto const& test) {
    return std::string(test.param ? "WithAnEarlierBackUp" : "WithoutAnEarlierBackUp");
});

TEST_F(BudgetFileFaultTest, StoreKilledWhileWritingLeavesTheBackUpOfThePreviousFile) {
    setUpFiles(Stand::oldBudget, Stand::absent, Stand::absent);
    auto const trace = dryRun("small", {"write"}, QStringLiteral("dry"));
    long const firstWrite =
        find(trace, [&](TraceEntry const& e) { return e.path == paths_.budget; });
    ASSERT_GT(firstWrite, 0);

    setUpFiles(Stand::oldBudget, Stand::absent, Stand::absent);
    auto killing = plan({"write"}, QStringLiteral("killing"));
    killing.at = firstWrite;
    killing.action = faults::Action::kill;
    auto const run = runChild(paths_.budget, "small", killing);
    EXPECT_TRUE(run.crashed) << run.output;
    EXPECT_EQ(faults::readTrace(killing.tracePath).back().outcome, QStringLiteral("killed"));
    EXPECT_EQ(support::snapshot(paths_.budget), "file:");
    EXPECT_EQ(support::snapshot(paths_.backUp),
              "file:<KelvoraMindrath>old budget</KelvoraMindrath>\n");
}

TEST_F(BudgetFileFaultTest, OperationsOutsideTheWatchedDirectoryNeitherCountNorFail) {
    QTemporaryDir elsewhere;
    faults::Plan failing;
    failing.directory = elsewhere.path();
    failing.at = 1;
    failing.action = faults::Action::failFrom;
    failing.tracePath = traces_.filePath(QStringLiteral("elsewhere"));
    auto const run = runChild(paths_.budget, "small", failing);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(faults::readTrace(failing.tracePath).empty());
    budgets::LogCapture quiet;
    EXPECT_EQ(budgets::describe(BudgetFile(paths_.budget, QStringLiteral("~")).load()),
              budgets::describe(budgets::smallFullBudget()));
}

} // namespace
