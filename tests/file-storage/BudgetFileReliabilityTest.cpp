// The store under faults at every one of its steps: a child process stores a budget over a
// previous one and is killed at its N-th file operation, or has that operation (or that and
// every later one) fail, for N = 1, 2, ... until the store runs to its end; and a file-size
// limit fills the disk at every 4 KiB step of the new document. Whatever happens, the previous
// budget must survive complete and loadable, in the budget file or in its back-up, and a
// failed store must leave the files as the store's clean-up promises.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"
#include "support/fault-injection/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace budgets = zel::testing;
namespace faults = zel::testing::fault_injection;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::storage::BudgetState;

namespace {

// Far more steps than a store takes: a loop that reaches it never ends on its own.
constexpr long maximumSteps = 1000;
constexpr qint64 diskStep = 4096;

using support::ChildRun;
using support::store;

std::optional<QByteArray> contentOf(QString const& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

// One budget by its store-child name, with the document a store of it writes; none for a budget
// that the writer refuses.
struct Version {
    QString name;
    BudgetState state;
    std::string description;
    QByteArray document;
};

Version versionNamed(QString const& name) {
    Version version{name, budgets::store_child::budgetNamed(name), {}, {}};
    version.description = budgets::describe(version.state);
    QTemporaryDir scratch;
    QString const path = scratch.filePath(QStringLiteral("budget.xml"));
    budgets::LogCapture quiet;
    try {
        store(BudgetFile(path, QStringLiteral("~")), version.state);
        version.document = contentOf(path).value_or(QByteArray());
    } catch (std::exception const&) {
        version.document.clear();
    }
    return version;
}

// Whether the file at path holds version complete: it loads, and what it loads is the budget.
bool holds(QString const& path, Version const& version) {
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    budgets::LogCapture quiet;
    try {
        return budgets::describe(BudgetFile(path, QStringLiteral("~")).load()) ==
               version.description;
    } catch (std::exception const&) {
        return false;
    }
}

// What stood in the directory before the store.
enum class Before {
    nothing,             // no budget file yet
    budgetFile,          // the previous budget file, no back-up
    budgetFileAndBackUp, // the previous budget file and the back-up of the one before it
};

// Each of them described, as a test's name says it, and what a store whose writing failed
// leaves when nothing else failed: without an earlier back-up, the previous file put back looks
// as if it was untouched.
struct BeforeTexts {
    char const* description;
    char const* testName;
    char const* failedWrite;
};

BeforeTexts const beforeTexts[] = {{"no budget file", "OnANewFile", "nothing left"},
                                   {"budget file without back-up", "OverABudgetFile", "unchanged"},
                                   {"budget file with an earlier back-up",
                                    "OverABudgetFileAndItsBackUp", "previous file put back"}};

BeforeTexts const& textsOf(Before before) {
    return beforeTexts[static_cast<int>(before)];
}

// The three budgets of a scenario: the one the earlier back-up holds, the one in the budget
// file, and the one being stored. All three differ.
struct Versions {
    Version earlier;
    Version previous;
    Version next;
};

// Whether the three budgets differ and each document loads back as its budget (the one being
// stored may be one that the writer refuses).
::testing::AssertionResult distinctAndLoadable(Versions const& versions) {
    if (versions.earlier.description == versions.previous.description ||
        versions.previous.description == versions.next.description ||
        versions.earlier.description == versions.next.description) {
        return ::testing::AssertionFailure() << "two of the budgets are the same";
    }
    QTemporaryDir scratch;
    QString const path = scratch.filePath(QStringLiteral("budget.xml"));
    if (versions.earlier.document.isEmpty() || versions.previous.document.isEmpty()) {
        return ::testing::AssertionFailure() << "an existing budget cannot be stored";
    }
    for (auto const* version : {&versions.earlier, &versions.previous, &versions.next}) {
        if (version->document.isEmpty()) {
            continue;
        }
        support::writeFile(path, version->document);
        if (!holds(path, *version)) {
            return ::testing::AssertionFailure()
                   << version->name.toStdString() << " does not load back as stored";
        }
    }
    return ::testing::AssertionSuccess();
}

// The files after a store.
struct Files {
    std::optional<QByteArray> budget;
    std::optional<QByteArray> backUp;
    std::optional<QByteArray> oldBackUp;
    QStringList others;
};

// Names the outcome of a store that the files show, from the outcomes a store that succeeded,
// or failed, may end in; empty when the files fit none of them. An old back-up that could not
// be removed after the back-up was made may be left over beside any of them. A failed store
// whose broken file could not be removed may leave any content in the budget file, the whole
// new document among them.
std::string outcomeOf(Files const& files, Before before, Versions const& versions, bool succeeded) {
    if (!files.others.isEmpty()) {
        return {};
    }
    bool const hadBudget = before != Before::nothing;
    bool const hadBackUp = before == Before::budgetFileAndBackUp;
    QByteArray const& previous = versions.previous.document;
    QByteArray const& earlier = versions.earlier.document;
    auto const is = [](std::optional<QByteArray> const& file, QByteArray const& content) {
        return file && *file == content;
    };
    // After the back-up was made, the earlier back-up is gone or left over.
    bool const oldBackUpGoneOrLeftOver =
        !files.oldBackUp || (hadBackUp && is(files.oldBackUp, earlier));

    if (!hadBudget) {
        if (files.backUp || files.oldBackUp) {
            return {};
        }
        if (succeeded) {
            return is(files.budget, versions.next.document) ? "stored" : "";
        }
        return files.budget ? "broken file left" : "nothing left";
    }
    if (succeeded) {
        return is(files.budget, versions.next.document) && is(files.backUp, previous) &&
                       oldBackUpGoneOrLeftOver
                   ? "stored"
                   : "";
    }
    if (is(files.budget, previous)) {
        if (!files.oldBackUp && (hadBackUp ? is(files.backUp, earlier) : !files.backUp)) {
            return "unchanged";
        }
        if (hadBackUp && !files.backUp && is(files.oldBackUp, earlier)) {
            return "unchanged, earlier back-up left aside";
        }
        if (is(files.backUp, previous) && oldBackUpGoneOrLeftOver) {
            return "backed up, not written";
        }
        if (!files.backUp && oldBackUpGoneOrLeftOver) {
            return "previous file put back";
        }
        return {};
    }
    if (!is(files.backUp, previous) || !oldBackUpGoneOrLeftOver) {
        return {};
    }
    return files.budget ? "broken file left beside the back-up"
                        : "previous file left at the back-up path";
}

// Whether the sync that failed at step at of a trace could be ignored because what it was to
// put on the disk was there already: an earlier sync of the same file, or of the same
// directory, succeeded after the last change to it. Any other failed sync may have lost data
// (and the system reports a failed write-back only once), so a store must not succeed past it.
bool alreadyOnTheDisk(std::vector<faults::TraceEntry> const& trace, long at) {
    auto const& failed = trace[at - 1];
    auto const isDirectoryHandle = [](faults::TraceEntry const& entry) {
        return entry.detail.startsWith(QLatin1String("r,directory"));
    };
    bool const directory = isDirectoryHandle(failed);
    auto const inDirectory = [&](QString const& path) {
        return QFileInfo(path).absolutePath() == failed.path;
    };
    long lastChange = 0;
    long lastSync = 0;
    for (long index = 1; index < at; ++index) {
        auto const& entry = trace[index - 1];
        if (entry.outcome != QLatin1String("ok")) {
            continue;
        }
        QString const& operation = entry.operation;
        bool changes = false;
        bool syncs = false;
        if (directory) {
            changes =
                ((operation == QLatin1String("rename") || operation == QLatin1String("link") ||
                  operation == QLatin1String("unlink")) &&
                 (inDirectory(entry.path) || inDirectory(entry.detail))) ||
                (operation == QLatin1String("open") &&
                 entry.detail.contains(QLatin1String("creat")) && inDirectory(entry.path));
            syncs = operation == QLatin1String("fsync") && entry.path == failed.path &&
                    isDirectoryHandle(entry);
        } else if (entry.path == failed.path && !isDirectoryHandle(entry)) {
            changes = operation == QLatin1String("write") || operation == QLatin1String("copy") ||
                      operation == QLatin1String("ftruncate") ||
                      (operation == QLatin1String("open") &&
                       entry.detail.contains(QLatin1String("trunc")));
            syncs = operation == QLatin1String("fsync");
        }
        lastChange = changes ? index : lastChange;
        lastSync = syncs ? index : lastSync;
    }
    return lastSync > lastChange;
}

// Whether the file at path, as the trace leaves it, has no data that a sync has not put on the
// disk: every write to it, or to the file that was renamed or linked to its name, was followed
// by a sync of it. The layer names an unnamed file (the copy of a back-up, before it is linked)
// by its directory's path.
bool syncedAtEnd(std::vector<faults::TraceEntry> const& trace, QString const& directory,
                 QString const& path) {
    std::map<QString, bool> unsynced; // by path; a path not in it holds what it held before
    for (auto const& entry : trace) {
        if (entry.outcome != QLatin1String("ok")) {
            continue;
        }
        if (entry.detail.startsWith(QLatin1String("r,directory"))) {
            continue;
        }
        QString const& operation = entry.operation;
        bool const unnamed = entry.path == directory;
        QString const file = unnamed ? QStringLiteral("unnamed") : entry.path;
        if (operation == QLatin1String("write") || operation == QLatin1String("copy") ||
            operation == QLatin1String("ftruncate") ||
            (operation == QLatin1String("open") &&
             (entry.detail.contains(QLatin1String("trunc")) || unnamed))) {
            unsynced[file] = true;
        } else if (operation == QLatin1String("fsync")) {
            unsynced[file] = false;
        } else if (operation == QLatin1String("rename") || operation == QLatin1String("link")) {
            // A link from /proc/self/fd names the unnamed file.
            QString const from = entry.path.startsWith(QLatin1String("/proc/"))
                                     ? QStringLiteral("unnamed")
                                     : entry.path;
            auto const found = unsynced.find(from);
            bool const fromUnsynced = found != unsynced.end() && found->second;
            if (operation == QLatin1String("rename")) {
                unsynced.erase(from);
            }
            unsynced[entry.detail] = fromUnsynced;
        } else if (operation == QLatin1String("unlink")) {
            unsynced.erase(entry.path);
        }
    }
    auto const found = unsynced.find(path);
    return found == unsynced.end() || !found->second;
}

// Counts of the outcomes seen, for the test's output.
std::string tally(std::map<std::string, int> const& outcomes) {
    std::ostringstream text;
    char const* separator = "";
    for (auto const& [name, count] : outcomes) {
        text << separator << name << " " << count;
        separator = ", ";
    }
    return text.str();
}

void report(char const* key, long count, std::string const& line) {
    ::testing::Test::RecordProperty(key, static_cast<int>(count));
    std::printf("[ counts   ] %s\n", line.c_str());
    std::fflush(stdout);
}

class ReliabilityTest : public ::testing::Test {
protected:
    QTemporaryDir directory_;
    QTemporaryDir traces_;
    support::Paths paths_ = support::pathsIn(directory_.path());

    void SetUp() override { ASSERT_TRUE(directory_.isValid() && traces_.isValid()); }

    void setUpFiles(Before before, Versions const& versions) {
        QDir(directory_.path()).removeRecursively();
        QDir().mkpath(directory_.path());
        if (before != Before::nothing) {
            support::writeFile(paths_.budget, versions.previous.document);
        }
        if (before == Before::budgetFileAndBackUp) {
            support::writeFile(paths_.backUp, versions.earlier.document);
        }
    }

    Files files() const {
        Files result{
            contentOf(paths_.budget), contentOf(paths_.backUp), contentOf(paths_.oldBackUp), {}};
        for (auto const& name : QDir(directory_.path())
                                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                               QDir::Hidden | QDir::System)) {
            QString const path = directory_.filePath(name);
            if (path != paths_.budget && path != paths_.backUp && path != paths_.oldBackUp) {
                result.others << name;
            }
        }
        return result;
    }

    // What a failed check shows: the files, briefly, and what the child printed.
    std::string situation(Files const& after, ChildRun const& run) const {
        auto const brief = [](std::optional<QByteArray> const& content) {
            return content ? "file of " + std::to_string(content->size()) + " bytes"
                           : std::string("absent");
        };
        return "budget file: " + brief(after.budget) + ", back-up: " + brief(after.backUp) +
               ", old back-up: " + brief(after.oldBackUp) +
               ", others: " + after.others.join(QLatin1Char(' ')).toStdString() +
               "\nchild output:\n" + run.output;
    }

    // After any store, broken or not, the next store must succeed and leave the new budget.
    void expectLaterStoreSucceeds(Version const& next, std::string const& where) {
        {
            budgets::LogCapture quiet;
            try {
                store(BudgetFile(paths_.budget, QStringLiteral("~")), next.state);
            } catch (std::exception const& error) {
                ADD_FAILURE() << where << ": a later store failed: " << error.what();
                return;
            }
        }
        EXPECT_TRUE(holds(paths_.budget, next)) << where << ": after a later store";
    }
};

// ---- Killed or failing at every step ----------------------------------------------------------

enum class Mode { kill, failOnce, failFrom };

struct StepCase {
    char const* name;
    Mode mode;
    Before before;
    // What is stored: "small", or "untyped", which the writer refuses after the budget file was
    // opened, so that the store ends in its clean-up and the faults fall into the clean-up too.
    char const* storing;
};

StepCase const stepCases[] = {
    {"KilledOverABudgetFile", Mode::kill, Before::budgetFile, "small"},
    {"KilledOverABudgetFileAndItsBackUp", Mode::kill, Before::budgetFileAndBackUp, "small"},
    {"KilledWhileCleaningUp", Mode::kill, Before::budgetFileAndBackUp, "untyped"},
    {"FailingOnceOnANewFile", Mode::failOnce, Before::nothing, "small"},
    {"FailingOnceOverABudgetFile", Mode::failOnce, Before::budgetFile, "small"},
    {"FailingOnceOverABudgetFileAndItsBackUp", Mode::failOnce, Before::budgetFileAndBackUp,
     "small"},
    {"FailingOnceWhileCleaningUp", Mode::failOnce, Before::budgetFileAndBackUp, "untyped"},
    {"FailingFromThenOnOnANewFile", Mode::failFrom, Before::nothing, "small"},
    {"FailingFromThenOnOverABudgetFile", Mode::failFrom, Before::budgetFile, "small"},
    {"FailingFromThenOnOverABudgetFileAndItsBackUp", Mode::failFrom, Before::budgetFileAndBackUp,
     "small"},
    {"FailingFromThenOnWhileCleaningUp", Mode::failFrom, Before::budgetFileAndBackUp, "untyped"},
};

class EveryStep : public ReliabilityTest, public ::testing::WithParamInterface<StepCase> {
protected:
    // Whether the file at path holds version and, as far as the trace shows, is on the disk.
    bool holdsOnTheDisk(QString const& path, Version const& version,
                        std::vector<faults::TraceEntry> const& trace) const {
        return holds(path, version) && syncedAtEnd(trace, directory_.path(), path);
    }
};

// Every counted operation of the layer changes files or leads to a change (reads only feed
// copies), so all of them are steps: opens, reads, writes, truncations, renames, links, unlinks,
// syncs, copies and closes.
TEST_P(EveryStep, LeavesThePreviousBudgetCompleteInTheBudgetFileOrItsBackUp) {
    auto const& step = GetParam();
    Versions const versions{versionNamed(QStringLiteral("empty")),
                            versionNamed(QStringLiteral("random:1")),
                            versionNamed(QString::fromLatin1(step.storing))};
    ASSERT_TRUE(distinctAndLoadable(versions));
    bool const writerFails = versions.next.document.isEmpty();
    Version const later = versionNamed(QStringLiteral("small"));

    std::map<std::string, int> outcomes;
    long points = 0;
    bool completed = false;
    for (long at = 1; at <= maximumSteps && !completed; ++at) {
        std::string const where = "fault at step " + std::to_string(at);
        setUpFiles(step.before, versions);
        faults::Plan plan;
        plan.directory = directory_.path();
        plan.at = at;
        plan.action = step.mode == Mode::kill       ? faults::Action::kill
                      : step.mode == Mode::failFrom ? faults::Action::failFrom
                                                    : faults::Action::fail;
        plan.tracePath = traces_.filePath(QStringLiteral("trace-%1").arg(at));
        auto const run =
            support::runStoreChild({paths_.budget, versions.next.name}, faults::environment(plan));
        ASSERT_TRUE(run.finished) << where << ": the store did not finish";
        auto const trace = faults::readTrace(plan.tracePath);
        auto const after = files();

        // A run in which the fault never came is the store that ran to its end.
        completed = trace.size() < static_cast<std::size_t>(at);
        if (completed) {
            EXPECT_FALSE(run.crashed) << where << "\n" << run.output;
            EXPECT_EQ(run.exitCode, writerFails ? 1 : 0) << where << "\n" << run.output;
            EXPECT_EQ(outcomeOf(after, step.before, versions, !writerFails),
                      writerFails ? textsOf(step.before).failedWrite : "stored")
                << where << ": " << situation(after, run);
            // The budget file the store leaves is on the disk: the new one, or the previous one
            // put back.
            EXPECT_TRUE((writerFails && step.before == Before::nothing) ||
                        holdsOnTheDisk(paths_.budget,
                                       writerFails ? versions.previous : versions.next, trace))
                << where;
            break;
        }
        ++points;
        auto const& faulty = trace[at - 1];
        std::string const context =
            where + ", " + faulty.operation.toStdString() + " (" + faulty.function.toStdString() +
            " " + faulty.path.toStdString() + " " + faulty.detail.toStdString() + ")";

        // The promise: the previous budget, or on success the new one, complete in the budget
        // file, or else the previous one complete in the back-up; and on the disk, not only in
        // the system's cache.
        bool const succeeded = !run.crashed && run.exitCode == 0;
        bool const budgetGood =
            holdsOnTheDisk(paths_.budget, versions.next, trace) ||
            (!succeeded && holdsOnTheDisk(paths_.budget, versions.previous, trace));
        bool const backUpGood =
            !succeeded && holdsOnTheDisk(paths_.backUp, versions.previous, trace);
        if (step.before != Before::nothing || succeeded) {
            EXPECT_TRUE(budgetGood || backUpGood) << context << ": " << situation(after, run);
        }

        if (step.mode == Mode::kill) {
            // A kill leaves the files as they were at that moment, a truncated budget file among
            // them, so the promise is all there is to check.
            EXPECT_EQ(faulty.outcome, QStringLiteral("killed")) << context;
            EXPECT_TRUE(run.crashed) << context << "\n" << run.output;
            EXPECT_TRUE(after.others.isEmpty()) << context << ": " << situation(after, run);
            ++outcomes[budgetGood ? "budget file good" : "only the back-up good"];
        } else {
            EXPECT_EQ(faulty.outcome, QStringLiteral("injected EIO")) << context;
            ASSERT_FALSE(run.crashed) << context << "\n" << run.output;
            auto const outcome = outcomeOf(after, step.before, versions, succeeded);
            ++outcomes[outcome.empty() ? "unexpected" : outcome];
            EXPECT_NE(outcome, "") << context << ": " << situation(after, run);
            if (succeeded) {
                EXPECT_FALSE(writerFails) << context;
                for (auto const& entry : trace) {
                    if (entry.operation == QLatin1String("fsync") &&
                        entry.outcome.startsWith(QLatin1String("injected"))) {
                        EXPECT_TRUE(alreadyOnTheDisk(trace, entry.index))
                            << context << ": succeeded past a failed sync at step " << entry.index;
                    }
                }
            } else {
                EXPECT_EQ(run.exitCode, 1) << context << "\n" << run.output;
                // The error says what failed and why.
                EXPECT_FALSE(run.firstText.empty()) << context << "\n" << run.output;
                EXPECT_FALSE(run.secondText.empty()) << context << "\n" << run.output;
            }
        }
        expectLaterStoreSucceeds(later, context);
        if (HasFailure()) {
            break;
        }
    }
    EXPECT_TRUE(completed || HasFailure()) << "the store never ran to its end";

    char const* const what = step.mode == Mode::kill ? "kill points"
                             : step.mode == Mode::failOnce
                                 ? "failure points (failing once)"
                                 : "failure points (failing from then on)";
    report(step.mode == Mode::kill ? "kill_points" : "failure_points", points,
           std::string(textsOf(step.before).description) + (writerFails ? ", writer failing" : "") +
               ": " + std::to_string(points) + " " + what + "; " + tally(outcomes));
}

INSTANTIATE_TEST_SUITE_P(Store, EveryStep, ::testing::ValuesIn(stepCases),
                         [](auto const& test) { return std::string(test.param.name); });

// The clean-up renames the back-up back to the budget path. When that rename fails, falling
// back to a copy (as Qt's rename does) would remove the back-up before its copy is on the disk,
// and a write that then fails leaves nothing: the back-up has to stay where it is.
TEST_F(ReliabilityTest, BackUpThatCannotBeRenamedBackStaysAtTheBackUpPath) {
    Versions const versions{versionNamed(QStringLiteral("empty")),
                            versionNamed(QStringLiteral("random:1")),
                            versionNamed(QStringLiteral("untyped"))};
    ASSERT_TRUE(distinctAndLoadable(versions));
    faults::Plan plan;
    plan.directory = directory_.path();
    plan.operations = QStringList{QStringLiteral("rename"), QStringLiteral("write")};
    plan.tracePath = traces_.filePath(QStringLiteral("dry"));
    setUpFiles(Before::budgetFileAndBackUp, versions);
    support::runStoreChild({paths_.budget, versions.next.name}, faults::environment(plan));
    for (auto const& entry : faults::readTrace(plan.tracePath)) {
        if (entry.operation == QLatin1String("rename") && entry.path == paths_.backUp &&
            entry.detail == paths_.budget) {
            plan.at = entry.index;
        }
    }
    ASSERT_GT(plan.at, 0) << "the clean-up never renames the back-up";

    // From the rename on, renames and writes fail, as on a disk that has begun to fail.
    setUpFiles(Before::budgetFileAndBackUp, versions);
    plan.action = faults::Action::failFrom;
    plan.tracePath = traces_.filePath(QStringLiteral("faulty"));
    auto const run =
        support::runStoreChild({paths_.budget, versions.next.name}, faults::environment(plan));
    EXPECT_EQ(run.exitCode, 1) << run.output;
    auto const after = files();
    EXPECT_EQ(outcomeOf(after, Before::budgetFileAndBackUp, versions, false),
              "previous file left at the back-up path")
        << situation(after, run);
    EXPECT_TRUE(holds(paths_.backUp, versions.previous)) << situation(after, run);
}

// The back-up is a copy made by the store itself; it must not open the previous budget to more
// readers than the budget file did.
TEST_F(ReliabilityTest, BackUpKeepsThePermissionsOfThePreviousBudgetFile) {
    auto const ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    Versions const versions{versionNamed(QStringLiteral("empty")),
                            versionNamed(QStringLiteral("random:1")),
                            versionNamed(QStringLiteral("small"))};
    for (Before const before : {Before::budgetFile, Before::budgetFileAndBackUp}) {
        setUpFiles(before, versions);
        ASSERT_TRUE(QFile::setPermissions(paths_.budget, ownerOnly));
        budgets::LogCapture quiet;
        store(BudgetFile(paths_.budget, QStringLiteral("~")), versions.next.state);
        // The owner's, the group's and the others' permissions, without the current user's.
        EXPECT_EQ(QFile::permissions(paths_.backUp) & 0x7077, ownerOnly)
            << textsOf(before).description;
        EXPECT_EQ(contentOf(paths_.backUp), versions.previous.document)
            << textsOf(before).description;
    }
}

// ---- A disk that fills up ---------------------------------------------------------------------

class FullDisk : public ReliabilityTest, public ::testing::WithParamInterface<Before> {};

// The new document is a realistic budget of many 4 KiB steps, the previous one a smaller one, so
// that the disk fills up while backing up and while writing. With a limit of L bytes a file can
// grow to L bytes: the back-up copy fails while the previous document is larger than L, the
// write while the new one is, and the store succeeds from the first L that takes both.
TEST_P(FullDisk, AtEverySizeOfTheNewDocumentKeepsThePreviousBudget) {
    Before const before = GetParam();
    Versions const versions{versionNamed(QStringLiteral("random:1")),
                            versionNamed(QStringLiteral("sample:100:1")),
                            versionNamed(QStringLiteral("sample:300:2"))};
    qint64 const previousSize = versions.previous.document.size();
    qint64 const nextSize = versions.next.document.size();
    ASSERT_TRUE(distinctAndLoadable(versions));
    ASSERT_GT(nextSize, 16 * diskStep);
    ASSERT_GT(previousSize, 2 * diskStep);
    ASSERT_LT(previousSize, nextSize - 2 * diskStep);

    std::map<std::string, int> outcomes;
    long sizes = 0;
    bool completed = false;
    for (qint64 limit = 0; limit <= nextSize + diskStep && !completed; limit += diskStep) {
        ++sizes;
        std::string const where = "file-size limit " + std::to_string(limit);
        setUpFiles(before, versions);
        auto const run =
            support::runStoreChild({QStringLiteral("--file-size-limit"), QString::number(limit),
                                    paths_.budget, versions.next.name},
                                   QProcessEnvironment::systemEnvironment());
        ASSERT_TRUE(run.finished) << where << ": the store did not finish";
        ASSERT_FALSE(run.crashed) << where << "\n" << run.output;
        auto const after = files();
        auto const outcome = outcomeOf(after, before, versions, run.exitCode == 0);
        ++outcomes[outcome.empty() ? "unexpected" : outcome];

        bool const backUpFits = before == Before::nothing || previousSize <= limit;
        completed = backUpFits && nextSize <= limit;
        std::string const expected = completed     ? "stored"
                                     : !backUpFits ? "unchanged"
                                                   : textsOf(before).failedWrite;
        EXPECT_EQ(outcome, expected) << where << ": " << situation(after, run);
        EXPECT_EQ(run.exitCode, completed ? 0 : 1) << where << "\n" << run.output;
        if (!backUpFits) {
            EXPECT_EQ(run.firstText,
                      "Cannot write " + paths_.backUp.toStdString() + ": File too large")
                << where << "\n"
                << run.output;
            EXPECT_EQ(run.secondText,
                      "The budget file, budget.xml, failed to be backed-up prior to saving.")
                << where;
        } else if (!completed) {
            EXPECT_EQ(run.firstText, "File too large") << where << "\n" << run.output;
            EXPECT_EQ(run.secondText, "The budget file, budget.xml, failed to be saved due.")
                << where;
        }
        if (before != Before::nothing) {
            EXPECT_TRUE(holds(paths_.budget, versions.previous) ||
                        holds(paths_.backUp, versions.previous))
                << where << ": " << situation(after, run);
        }
        expectLaterStoreSucceeds(versions.next, where);
        if (HasFailure()) {
            break;
        }
    }
    EXPECT_TRUE(completed || HasFailure()) << "the store never succeeded";

    report("sizes", sizes,
           std::string(textsOf(before).description) + ": " + std::to_string(sizes) +
               " file-size limits in steps of 4 KiB up to a new document of " +
               std::to_string(nextSize) + " bytes (previous " + std::to_string(previousSize) +
               "); " + tally(outcomes));
}

INSTANTIATE_TEST_SUITE_P(Store, FullDisk,
                         ::testing::Values(Before::nothing, Before::budgetFile,
                                           Before::budgetFileAndBackUp),
                         [](auto const& test) {
                             return std::string(textsOf(test.param).testName);
                         });

} // namespace
