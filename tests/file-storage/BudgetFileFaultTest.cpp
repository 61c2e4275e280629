// Stores whose file operations fail where no file in the way can make them fail: a child
// process stores a budget under the fault-injection layer, which breaks one chosen step of the
// store (found in a trace of the same store without a fault). The reliability tests kill it.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"
#include "support/fault-injection/FaultInjection.h"

#include <QDir>
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

using enum support::Stand;
using namespace support::texts;
using support::oldBackUpFile;
using support::oldBudgetFile;

support::ChildRun runChild(QString const& budgetPath, char const* budgetName,
                           faults::Plan const& plan) {
    return support::runStoreChild({budgetPath, QString::fromLatin1(budgetName)},
                                  faults::environment(plan));
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

    void setUpFiles(support::Stands const& stands) {
        clear();
        support::standAt(paths_, stands);
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

    // The index of the first entry, or the last, for which matches holds; 0 when none does.
    static long find(std::vector<TraceEntry> const& trace,
                     std::function<bool(TraceEntry const&)> const& matches, bool last = false) {
        long found = 0;
        for (auto const& entry : trace) {
            if (matches(entry) && (found == 0 || last)) {
                found = entry.index;
            }
        }
        return found;
    }
};

// ---- Faults that only the layer reaches ------------------------------------------------------

// The step to break: an operation name and the paths it concerns ({B}, {K}, {O}, {D}), the
// first or the last such step, and the operations that count.
struct Step {
    QStringList operations;
    char const* operation;
    char const* path;
    char const* detail; // a prefix of the entry's detail
    bool last;
    faults::Action action;
};

struct Fault {
    char const* name;
    support::Stands before;
    char const* budgetName;
    Step step;
    support::Ending after; // {D} stands for the directory too
};

Fault fault(char const* name, support::Stands before, char const* budgetName, Step step,
            std::string firstText, std::string secondText, std::vector<std::string> records,
            std::string budget, std::string backUp, std::string oldBackUp) {
    return {name,
            before,
            budgetName,
            std::move(step),
            {std::move(firstText), std::move(secondText), std::move(records), std::move(budget),
             std::move(backUp), std::move(oldBackUp)}};
}

Step failing(QStringList operations, char const* operation, char const* path, char const* detail,
             bool last = false) {
    return {std::move(operations), operation, path, detail, last, faults::Action::fail};
}

// Qt renames by copying when the rename itself fails, so a rename that is to fail for good
// needs the opens after it to fail too.
Step renameFailingForGood(char const* from, char const* to) {
    return {{"rename", "open"}, "rename", from, to, false, faults::Action::failFrom};
}

std::string const eio = "Input/output error";

Fault const faultCases[] = {
    fault("BrokenFileThatCannotBeRemovedStaysBesideTheBackUp", {oldBudget, absent, absent},
          "untyped", failing({"unlink"}, "unlink", "{B}", ""), notValid, untypedAccount,
          {storing, backedUp, writeFailed,
           "W Failed to remove the broken budget file, {B}, due to Input/output error."},
          "file:<?xml version=\"1.0\" encoding=\"UTF-8\"?>", oldBudgetFile, "absent"),
    fault("BackUpThatCannotBeRestoredStaysAtTheBackUpPath", {oldBudget, absent, absent}, "untyped",
          renameFailingForGood("{K}", "{B}"), notValid, untypedAccount,
          {storing, backedUp, writeFailed, brokenRemoved,
           "W Failed to restore the backed-up budget file, {K}, failed to be renamed due to "
           "Input/output error."},
          "absent", oldBudgetFile, "absent"),
    fault("OldBackUpThatCannotBeRestoredStaysAtTheOldBackUpPath", {directory, oldBackUp, absent},
          "small", renameFailingForGood("{O}", "{K}"), budgetIsADirectory, backUpFailed,
          {storing, oldBackUpMoved,
           "C Failed to restore the back-up budget file '{O}' due to Input/output error."},
          "directory", "absent", oldBackUpFile),
    fault("OldBackUpThatCannotBeRemovedIsLeftOver", {oldBudget, oldBackUp, absent}, "small",
          failing({"unlink"}, "unlink", "{O}", ""), "", "",
          {storing, oldBackUpMoved, backedUp,
           "C Failed to remove the old back-up budget file '{O}' due to Input/output error."},
          "new", oldBudgetFile, oldBackUpFile),
    fault("BudgetFileThatCannotBeOpenedForWritingIsUnchanged", {oldBudget, absent, absent}, "small",
          failing({"open"}, "open", "{B}", "w"), eio,
          "The budget file, budget.xml, failed to be saved while opening.", {storing, backedUp},
          oldBudgetFile, oldBudgetFile, "absent"),
    fault("FailedSyncOfTheNewFilePutsThePreviousFileBack", {oldBudget, absent, absent}, "small",
          failing({"fsync"}, "fsync", "{B}", ""), eio, savedDue,
          {storing, backedUp, writeFailed, brokenRemoved, backUpRestored}, oldBudgetFile, "absent",
          "absent"),
    fault("FailedSyncOfTheDirectoryAfterWritingPutsThePreviousFileBack",
          {oldBudget, absent, absent}, "small",
          failing({"fsync"}, "fsync", "{D}", "r,directory", true), eio, savedDue,
          {storing, backedUp, writeFailed, brokenRemoved, backUpRestored}, oldBudgetFile, "absent",
          "absent"),
    fault("FailedCloseOfTheNewFilePutsThePreviousFileBack", {oldBudget, absent, absent}, "small",
          failing({"close"}, "close", "{B}", "w", true), eio, savedDue,
          {storing, backedUp, writeFailed, brokenRemoved, backUpRestored}, oldBudgetFile, "absent",
          "absent"),
    fault("BackUpThatCannotBeMovedAsideStopsTheStoreBeforeAnyChange",
          {oldBudget, oldBackUp, absent}, "small", renameFailingForGood("{K}", "{O}"), eio,
          "The back-up budget file, {K}, failed to be backed-up prior to backing up the budget "
          "file.",
          {storing}, oldBudgetFile, oldBackUpFile, "absent"),
    // The copy is written to an unnamed file in the directory and synced before it is named.
    fault("FailedSyncOfTheBackUpCopyPutsThePreviousBackUpBack", {oldBudget, oldBackUp, absent},
          "small", failing({"fsync"}, "fsync", "{D}", "rw,tmpfile"),
          "Cannot write {K}: Input/output error", backUpFailed,
          {storing, oldBackUpMoved, oldBackUpRestored}, oldBudgetFile, oldBackUpFile, "absent"),
    fault("FailedSyncOfTheDirectoryAfterTheBackUpLeavesTheBudgetFileUntouched",
          {oldBudget, absent, absent}, "small", failing({"fsync"}, "fsync", "{D}", "r,directory"),
          "The directory {D} could not be written to the disk.", backUpFailed, {storing, backedUp},
          oldBudgetFile, oldBudgetFile, "absent"),
};

class StoreFault : public BudgetFileFaultTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(StoreFault, LeavesTheDocumentedFilesErrorAndRecords) {
    auto const& fault = GetParam();
    auto const& step = fault.step;
    auto const fill = [&](std::string const& text) {
        return QString::fromStdString(paths_.fill(text))
            .replace(QLatin1String("{D}"), directory_.path())
            .toStdString();
    };
    auto const matches = [&](TraceEntry const& entry) {
        return entry.operation == QLatin1String(step.operation) &&
               entry.path.toStdString() == fill(step.path) &&
               entry.detail.startsWith(QString::fromStdString(fill(step.detail)));
    };
    setUpFiles(fault.before);
    auto const trace = dryRun(fault.budgetName, step.operations, QStringLiteral("dry"));
    long const at = find(trace, matches, step.last);
    ASSERT_GT(at, 0) << "the store never reaches the step";

    setUpFiles(fault.before);
    auto faulty = plan(step.operations, QStringLiteral("faulty"));
    faulty.at = at;
    faulty.action = step.action;
    auto const run = runChild(paths_.budget, fault.budgetName, faulty);
    auto const faultyTrace = faults::readTrace(faulty.tracePath);
    ASSERT_GE(faultyTrace.size(), static_cast<std::size_t>(at));
    EXPECT_TRUE(matches(faultyTrace[at - 1]));
    EXPECT_EQ(faultyTrace[at - 1].outcome, QStringLiteral("injected EIO"));

    ASSERT_FALSE(run.crashed) << run.output;
    EXPECT_EQ(run.exitCode, fault.after.firstText.empty() ? 0 : 1) << run.output;
    support::expectEnding(fault.after, fill, run.firstText, run.secondText, run.records, paths_,
                          budgets::store_child::budgetNamed(QString::fromLatin1(fault.budgetName)));
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
    setUpFiles({oldBudget, earlierBackUp ? oldBackUp : absent, absent});
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
    long const lastCopyWrite = find(
        trace,
        [&](TraceEntry const& e) { return isCopy(e) && e.operation == QLatin1String("write"); },
        true);
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

    long const lastWrite = find(
        trace, [&](TraceEntry const& e) { return is(e, "write", paths_.budget); }, true);
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
