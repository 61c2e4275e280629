// The store under faults at every one of its file steps: killed before the N-th step (in a
// child process), or with the N-th step, or that and every later one, refused by the system,
// for N = 1, 2, ... until the store runs to its end; and on a disk that fills up at every
// 4 KiB of the new document. Whatever happens, the previous budget must survive complete, on
// the disk, in the budget file or its back-up; a failed store must leave the files as its
// clean-up promises; and the next store must go ahead at once.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "support/SymbolicLink.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace budgets = zel::testing;
namespace seam = zel::testing::seam;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::storage::BudgetState;

namespace {

// One budget, by its store child's name, and the document a store of it writes.
struct Version {
    QString name;
    BudgetState state = budgets::store_child::budgetNamed(name);
    QByteArray document = support::documentOf(name);
};

// What stood there before the store: the budget file (holding the previous budget), the
// back-up of the one before (the earlier budget), and whether the budget path is a link.
struct Start {
    char const* name;
    bool budget;
    bool backUp;
    bool linked;
};

Start const starts[] = {{"OnANewFile", false, false, false},
                        {"OverABudgetFile", true, false, false},
                        {"OverABudgetFileAndItsBackUp", true, true, false},
                        {"OverALinkedBudgetFileAndItsBackUp", true, true, true}};

void PrintTo(Start const& start, std::ostream* out) {
    *out << start.name;
}

// Lays the files of start out afresh: the previous budget's document in the budget file, the
// earlier one's in the back-up.
void setUp(support::Layout const& layout, Start const& start, Version const& previous,
           Version const& earlier) {
    QDir(layout.folder).removeRecursively();
    layout.make();
    if (start.budget) {
        support::writeFile(layout.budget, previous.document);
    }
    if (start.backUp) {
        support::writeFile(layout.backUp, earlier.document);
    }
}

struct SweepCase {
    char const* name;
    Start start;
    char const* fault;       // the store child's option that places the fault at each step
    char const* alsoFailing; // a step that fails in every run, so that the clean-up runs
};

std::vector<SweepCase> sweepCases() {
    std::vector<SweepCase> cases;
    for (auto const& start : starts) {
        cases.push_back({"Killed", start, "--kill-at", nullptr});
        cases.push_back({"FailingOnce", start, "--fail-at", nullptr});
        cases.push_back({"FailingFromThenOn", start, "--fail-from", nullptr});
    }
    cases.push_back({"KilledWhileCleaningUp", starts[2], "--kill-at", "write {B}"});
    cases.push_back({"FailingOnceWhileCleaningUp", starts[2], "--fail-at", "write {B}"});
    return cases;
}

void PrintTo(SweepCase const& c, std::ostream* out) {
    *out << c.name << c.start.name;
}

class EveryStep : public ::testing::TestWithParam<SweepCase> {
protected:
    QTemporaryDir folder_;
    Start const& start_ = GetParam().start;
    support::Layout const layout_{folder_.path(), start_.linked};
    Version const earlier_{QStringLiteral("empty")};
    Version const previous_{QStringLiteral("random:1")};
    Version const next_{QStringLiteral("small")};

    // Stores the next budget in a child process with the fault at step at.
    support::ChildRun storeWithFault(long at) {
        auto const& sweep = GetParam();
        QStringList arguments{QStringLiteral("--trace"), QString::fromLatin1(sweep.fault),
                              QString::number(at)};
        if (sweep.alsoFailing) {
            arguments << QStringLiteral("--fail")
                      << layout_.fill(QString::fromLatin1(sweep.alsoFailing));
        }
        return support::runChild(
            arguments + QStringList{QStringLiteral("store"), layout_.budgetPath, next_.name});
    }

    // The promise: the new budget complete and synced in the budget file; or the previous one
    // in the budget file (untouched, or put back from the back-up); or the previous one in the
    // back-up, synced before it was named.
    bool promiseKept(support::ChildRun const& ending) const {
        using enum seam::FileStep;
        auto const& t = ending.trace;
        bool const newSynced =
            seam::lastRan(t, sync, layout_.budget) > seam::lastRan(t, write, layout_.budget);
        if (support::contentOf(layout_.budget) == next_.document && newSynced) {
            return true;
        }
        if (!start_.budget) {
            return !ending.succeeded();
        }
        bool const copySynced =
            seam::lastRan(t, sync, layout_.backUp) != 0 &&
            seam::lastRan(t, sync, layout_.backUp) < seam::lastRan(t, rename, {}, layout_.backUp);
        return support::contentOf(layout_.budget) == previous_.document ||
               (support::contentOf(layout_.backUp) == previous_.document && copySynced);
    }

    // What a failed store may leave: the previous budget in the budget file or the back-up,
    // the earlier back-up kept unless the previous one was backed up, and no stray file.
    void expectCleanFailure(support::ChildRun const& ending, std::string const& where) const {
        auto const budget = support::contentOf(layout_.budget);
        auto const backUp = support::contentOf(layout_.backUp);
        auto const oldBackUp = support::contentOf(layout_.oldBackUp);
        if (start_.budget) {
            EXPECT_TRUE(budget == previous_.document || backUp == previous_.document) << where;
        } else {
            EXPECT_FALSE(backUp || oldBackUp) << where;
        }
        // The earlier back-up goes only once the previous budget has been backed up.
        if (start_.backUp && backUp != earlier_.document && oldBackUp != earlier_.document) {
            EXPECT_NE(seam::lastRan(ending.trace, seam::FileStep::rename, {}, layout_.backUp), 0)
                << where;
        }
        EXPECT_TRUE(ending.firstText.find("Input/output error") != std::string::npos ||
                    ending.firstText.rfind("The directory ", 0) == 0)
            << where << ": " << ending.firstText;
        EXPECT_EQ(strays(), QStringList()) << where;
    }

    // Where a good budget is left, for the counts.
    std::string kept() const {
        auto const budget = support::contentOf(layout_.budget);
        return budget == next_.document       ? "new budget stored"
               : budget == previous_.document ? "previous budget in the budget file"
               : support::contentOf(layout_.backUp) == previous_.document
                   ? "previous budget in the back-up"
                   : "nothing to keep";
    }

    // What a store left besides its files that no later store can explain. Explained are: its
    // lock file, which the next store reuses and removes, and its marker, which the next store
    // replaces (both only while a failure leaves them, not after the next store); a copy of a
    // budget file that a store did not back up (cut short by a store killed as it wrote); and
    // the earlier back-up, kept where a store that moved it aside never ended.
    QStringList strays(bool lockAndMarker = true) const {
        QStringList result;
        for (auto const& name : layout_.others()) {
            bool const hidden = name == QLatin1String(".budget.xml.lock") ||
                                name == QLatin1String(".budget.xml.storing");
            bool const kept = name.startsWith(QLatin1String("budget.xml.incomplete-")) ||
                              (name.startsWith(QLatin1String("budget.xml.old-back-up-")) &&
                               support::contentOf(layout_.directory + QLatin1Char('/') + name) ==
                                   earlier_.document);
            if (!kept && !(hidden && lockAndMarker)) {
                result << name;
            }
        }
        return result;
    }

    // After any store, broken or not, the next one goes ahead and stores.
    void expectNextStoreSucceeds(std::string const& where) {
        budgets::LogCapture quiet;
        try {
            support::store(BudgetFile(layout_.budgetPath, QStringLiteral("~")), next_.state);
        } catch (std::exception const& error) {
            ADD_FAILURE() << where << ": the next store failed: " << error.what();
        }
        EXPECT_TRUE(support::holds(layout_.budgetPath, next_.state)) << where;
        if (layout_.linked) {
            EXPECT_TRUE(QFileInfo(layout_.budgetPath).isSymLink()) << where << ": the link is gone";
        }
        EXPECT_EQ(strays(false), QStringList()) << where << ": after the next store";
    }
};

// Failures that a store may take and still succeed: what it only tidies once it has stored (the
// old back-up moved aside, and the sync of the folder after its removal; its lock file), can
// do without (the lock, the record of the last store), or reads only for the check that the
// previous file is complete (which the copy that follows reads again). The at-th step of trace
// failed.
bool absorbable(std::vector<seam::Step> const& trace, long at, support::Layout const& layout) {
    using enum seam::FileStep;
    auto const& step = trace[static_cast<std::size_t>(at) - 1];
    bool const afterTheOldBackUpWent =
        step.step == syncDirectory && at > 1 &&
        trace[static_cast<std::size_t>(at) - 2].step == remove &&
        trace[static_cast<std::size_t>(at) - 2].path == layout.oldBackUp;
    return step.step == lock || step.step == lockOpened || afterTheOldBackUpWent ||
           ((step.step == remove || step.step == rename) &&
            step.path.endsWith(QLatin1String(".lock"))) ||
           step.path == layout.oldBackUp ||
           ((step.step == open || step.step == inspect) && step.path == layout.record) ||
           ((step.step == inspect || step.step == open) && step.path == layout.budget);
}

TEST_P(EveryStep, LeavesThePreviousBudgetCompleteAndTheNextStoreFree) {
    if (start_.linked) {
        ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
    }
    auto const& sweep = GetParam();
    std::map<std::string, int> outcomes;
    long const points = seam::sweep([&](long at) {
        setUp(layout_, start_, previous_, earlier_);
        auto const ending = storeWithFault(at);
        std::string const where = "fault at step " + std::to_string(at);
        if (ending.trace.size() < static_cast<std::size_t>(at)) {
            // The fault never came: the store ran to its end.
            EXPECT_TRUE(ending.succeeded() || sweep.alsoFailing) << where << "\n" << ending.output;
            EXPECT_TRUE(promiseKept(ending)) << where;
            return false;
        }
        auto const& faulty = ending.trace[static_cast<std::size_t>(at) - 1];
        std::string const context = where + " (" + seam::traceLine(faulty) + ")";
        EXPECT_TRUE(promiseKept(ending)) << context << "\n" << ending.output;
        if (sweep.fault == std::string("--kill-at")) {
            EXPECT_TRUE(ending.crashed && faulty.outcome == "killed") << context << "\n"
                                                                      << ending.output;
            EXPECT_EQ(strays(), QStringList()) << context;
            // Killed while it held the lock: its lock file stays, and must not hold back the
            // next store.
            bool const locked =
                seam::lastRan(ending.trace, seam::FileStep::lock,
                              layout_.directory + QStringLiteral("/.budget.xml.lock")) != 0;
            EXPECT_EQ(QFileInfo::exists(layout_.directory + QStringLiteral("/.budget.xml.lock")),
                      locked)
                << context;
            ++outcomes[kept()];
        } else if (ending.succeeded()) {
            EXPECT_TRUE(absorbable(ending.trace, at, layout_) && !sweep.alsoFailing) << context;
            EXPECT_TRUE(support::holds(layout_.budgetPath, next_.state)) << context;
            ++outcomes["stored despite it"];
        } else {
            expectCleanFailure(ending, context);
            ++outcomes[kept()];
        }
        expectNextStoreSucceeds(context);
        return true;
    });
    std::string tally;
    for (auto const& [outcome, count] : outcomes) {
        tally += ", " + outcome + " " + std::to_string(count);
    }
    std::printf("[ counts   ] %s %s: %ld fault points%s\n", sweep.name, start_.name, points,
                tally.c_str());
}

INSTANTIATE_TEST_SUITE_P(Store, EveryStep, ::testing::ValuesIn(sweepCases()), [](auto const& test) {
    return std::string(test.param.name) + test.param.start.name;
});

// ---- A restore killed at every step ------------------------------------------------------------

// Whatever step a restore dies at, the back-up is as it was, the file it replaces is whole at
// the budget path or in its copy aside, and the next restore goes ahead.
TEST(Restore, KilledAtEveryStepLosesNothing) {
    QTemporaryDir folder;
    support::Layout const layout(folder.path(), false);
    Version const previous{QStringLiteral("random:1")};
    Version const backUp{QStringLiteral("small")};
    auto const kept = [&] {
        auto const names =
            QDir(folder.path()).entryList({QStringLiteral("budget.xml.before-restore-*")});
        return names.size() == 1 ? support::contentOf(folder.filePath(names.front()))
                                 : std::nullopt;
    };
    long const points = seam::sweep([&](long at) {
        QDir(folder.path()).removeRecursively();
        layout.make();
        support::writeFile(layout.budget, previous.document);
        support::writeFile(layout.backUp, backUp.document);
        auto const run =
            support::runChild({QStringLiteral("--kill-at"), QString::number(at),
                               QStringLiteral("restore"), layout.budgetPath, backUp.name});
        std::string const where = "killed at step " + std::to_string(at) + "\n" + run.output;
        auto const budget = support::contentOf(layout.budget);
        EXPECT_EQ(support::contentOf(layout.backUp), backUp.document) << where;
        EXPECT_TRUE(budget == previous.document || kept() == previous.document) << where;
        EXPECT_EQ(run.crashed, run.exitCode != 0) << where;
        budgets::LogCapture quiet;
        EXPECT_NO_THROW(BudgetFile(layout.budgetPath, QStringLiteral("~")).restoreBackUp())
            << where;
        EXPECT_EQ(support::contentOf(layout.budget), backUp.document) << where;
        return run.crashed;
    });
    std::printf("[ counts   ] restore: %ld kill points\n", points);
}

// ---- A disk that fills up ---------------------------------------------------------------------

class FullDisk : public ::testing::TestWithParam<Start> {};

// The previous document spans several 4 KiB steps and the new one many more, so that the disk
// fills up while backing up and while writing. With a limit of L bytes a file can grow to L
// bytes: the back-up fails while the previous document is larger than L, the write while the
// new one is, and the store succeeds from the first L that takes both.
TEST_P(FullDisk, AtEverySizeOfTheNewDocumentKeepsThePreviousBudget) {
    if (!support::FileSizeLimit::available) {
        GTEST_SKIP() << "Windows has no per-process file-size limit to fill the disk with";
    }
    auto const& start = GetParam();
    qint64 constexpr step = 4096;
    QTemporaryDir folder;
    support::Layout const layout(folder.path(), start.linked);
    Version const earlier{QStringLiteral("random:1")};
    Version const previous{QStringLiteral("sample:100:1")};
    Version const next{QStringLiteral("sample:300:2")};
    ASSERT_GT(next.document.size(), 16 * step);
    ASSERT_GT(previous.document.size(), 2 * step);
    ASSERT_LT(previous.document.size(), next.document.size() - 2 * step);
    long const sizes = seam::sweep([&](long at) {
        qint64 const limit = (at - 1) * step;
        std::string const where = "file-size limit " + std::to_string(limit);
        setUp(layout, start, previous, earlier);
        // A second name of the budget file, which must hold the budget the store leaves there.
        QTemporaryDir elsewhere;
        QString const secondName = elsewhere.filePath(QStringLiteral("second-name.xml"));
#if !defined(_WIN32)
        if (start.budget) {
            EXPECT_EQ(::link(QFile::encodeName(layout.budget).constData(),
                             QFile::encodeName(secondName).constData()),
                      0);
        }
#endif
        std::string first;
        std::string second;
        try {
            budgets::LogCapture quiet;
            support::FileSizeLimit const full(limit);
            support::store(BudgetFile(layout.budgetPath, QStringLiteral("~")), next.state);
        } catch (zel::storage::StorageError const& error) {
            first = error.firstText().toStdString();
            second = error.secondText().toStdString();
        }
        bool const backUpFits = !start.budget || previous.document.size() <= limit;
        bool const stored = backUpFits && next.document.size() <= limit;
        auto const budget = support::contentOf(layout.budget);
        auto const backUp = support::contentOf(layout.backUp);
        if (stored) {
            EXPECT_EQ(first, "") << where;
            EXPECT_EQ(budget, next.document) << where;
        } else if (!backUpFits) {
            EXPECT_EQ(first, "Cannot write " + layout.backUp.toStdString() + ": File too large");
            EXPECT_EQ(second,
                      "The budget file, budget.xml, failed to be backed-up prior to saving.");
            EXPECT_EQ(budget, previous.document) << where;
            EXPECT_EQ(backUp, start.backUp ? std::optional(earlier.document) : std::nullopt)
                << where;
        } else {
            // The store's marker, a few dozen bytes, fails only where nothing fits.
            EXPECT_EQ(first, "File too large") << where;
            EXPECT_EQ(second, limit == 0
                                  ? "The budget file, budget.xml, failed to be saved while opening."
                                  : "The budget file, budget.xml, failed to be saved due.")
                << where;
            EXPECT_EQ(budget, start.budget ? std::optional(previous.document) : std::nullopt)
                << where;
            // Written back into the file itself, so every name stays; the back-up is as it was
            // before the store, or, where there was none, the copy that the store made.
            EXPECT_EQ(backUp, start.backUp   ? std::optional(earlier.document)
                              : start.budget ? std::optional(previous.document)
                                             : std::nullopt)
                << where;
        }
        if (start.budget) {
            EXPECT_EQ(support::contentOf(secondName), budget) << where << ": the second name";
        }
        EXPECT_EQ(layout.others(), QStringList()) << where;
        return !stored;
    });
    std::printf("[ counts   ] %s: %ld file-size limits in steps of 4 KiB up to a document of %lld "
                "bytes\n",
                start.name, sizes, static_cast<long long>(next.document.size()));
}

INSTANTIATE_TEST_SUITE_P(Store, FullDisk, ::testing::ValuesIn(starts),
                         [](auto const& test) { return std::string(test.param.name); });

} // namespace
