// Several writers and readers of one budget file at once: processes (a second window of the
// application, a script) and threads of one process, each with its own BudgetFile. Every store
// must succeed whole, every load must give one of the stored budgets, and afterwards the budget
// file and its back-up must each hold one of them. The lock that keeps them apart must not be
// held twice when its file is replaced, nor lose its file while a shared holder remains.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace budgets = zel::testing;
namespace seam = zel::testing::seam;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::file_storage::internal::FileLock;
using namespace std::chrono_literals;

namespace {

int constexpr writers = 3;
int constexpr readers = 2;
int constexpr storesEach = 12;
int constexpr loadsEach = 24;

QStringList const budgetNames{QStringLiteral("sample:300:11"), QStringLiteral("sample:300:12"),
                              QStringLiteral("sample:300:13"), QStringLiteral("small")};

class Concurrency : public ::testing::Test {
protected:
    QTemporaryDir folder_;
    QString path_ = folder_.filePath(QStringLiteral("budget.xml"));

    void SetUp() override {
        std::set<std::string> descriptions;
        for (auto const& name : budgetNames) {
            descriptions.insert(budgets::describe(budgets::store_child::budgetNamed(name)));
        }
        ASSERT_EQ(descriptions.size(), static_cast<std::size_t>(budgetNames.size()));
        budgets::LogCapture quiet;
        support::store(BudgetFile(path_, QStringLiteral("~")),
                       budgets::store_child::budgetNamed(budgetNames.back()));
    }

    // Which of the budgets the file at path holds, as a load of the store child says it.
    static QString heldBy(QString const& path) {
        QString said;
        budgets::store_child::storeOrLoad(QStringList{QStringLiteral("load"), path} + budgetNames,
                                          [&](QString const& line) { said += line; });
        return said;
    }

    // Every store stored and every load gave one of the budgets, and the files hold them too.
    void expectWholeBudgets(std::map<QString, int> const& outcomes, char const* who) {
        int stores = 0;
        int loads = 0;
        std::string tally;
        for (auto const& [outcome, count] : outcomes) {
            EXPECT_TRUE(outcome.startsWith(QLatin1String("stored ")) ||
                        (outcome.startsWith(QLatin1String("loaded ")) &&
                         !outcome.endsWith(QLatin1Char('?'))))
                << outcome.toStdString();
            (outcome.startsWith(QLatin1String("stored")) ? stores : loads) += count;
            tally += ", " + outcome.toStdString() + " " + std::to_string(count);
        }
        EXPECT_EQ(stores, writers * storesEach);
        EXPECT_EQ(loads, readers * loadsEach);
        std::printf("[ counts   ] %d %s%s\n", writers + readers, who, tally.c_str());
        expectFilesHoldStoredBudgets();
    }

    void expectFilesHoldStoredBudgets() {
        for (auto const& path : {path_, path_ + QLatin1Char('~')}) {
            auto const said = heldBy(path);
            EXPECT_TRUE(said.startsWith(QLatin1String("loaded\t")) &&
                        !said.endsWith(QLatin1Char('?')))
                << said.toStdString();
        }
        EXPECT_EQ(
            QDir(folder_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList({QStringLiteral(".budget.xml.stored"), QStringLiteral("budget.xml"),
                         QStringLiteral("budget.xml~")}));
    }
};

// The arguments of the i-th worker, as the store child takes them.
QStringList workerArguments(int i, QString const& path) {
    QStringList arguments{QStringLiteral("--times"),
                          QString::number(i < writers ? storesEach : loadsEach)};
    return arguments + (i < writers ? QStringList{QStringLiteral("store"), path, budgetNames[i]}
                                    : QStringList{QStringLiteral("load"), path} + budgetNames);
}

// Runs every worker at once, each on a thread of its own that does work(i, count), and counts
// the outcomes that the workers give count: "stored NAME" or "loaded NAME".
std::map<QString, int>
runWorkers(std::function<void(int, std::function<void(QString const&)> const&)> const& work) {
    std::mutex mutex;
    std::map<QString, int> outcomes;
    std::vector<std::thread> threads;
    for (int i = 0; i < writers + readers; ++i) {
        threads.emplace_back([&, i] {
            work(i, [&](QString const& line) {
                std::lock_guard const lock(mutex);
                ++outcomes[QString(line).replace(QLatin1Char('\t'), QLatin1Char(' '))];
            });
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return outcomes;
}

TEST_F(Concurrency, ProcessesStoringAndLoadingOneFileEachSeeWholeBudgets) {
    std::vector<QStringList> arguments;
    for (int i = 0; i < writers + readers; ++i) {
        arguments.push_back(workerArguments(i, path_));
    }
    std::map<QString, int> outcomes;
    auto const runs = support::runChildren(arguments);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(runs[i].succeeded()) << "child " << i << ": " << runs[i].output;
        for (auto const& outcome : runs[i].outcomes) {
            ++outcomes[QString(outcome).replace(QLatin1Char('\t'), QLatin1Char(' '))];
        }
    }
    expectWholeBudgets(outcomes, "processes");
}

TEST_F(Concurrency, ThreadsStoringAndLoadingOneFileEachSeeWholeBudgets) {
    expectWholeBudgets(runWorkers([&](int i, auto const& count) {
                           budgets::store_child::storeOrLoad(workerArguments(i, path_), count);
                       }),
                       "threads");
}

// The lock file is replaced after an acquire opened it and before it locked it: the acquire
// must not hold the removed file while another holds the one now at the name.
TEST(LockFile, ReplacedBeforeItIsLockedIsNotHeldTwice) {
    QTemporaryDir folder;
    QString const lockPath = folder.filePath(QStringLiteral(".budget.xml.lock"));
    FileLock other;
    QString why;
    bool replaced = false;
    seam::Seam const installed({}, {}, [&](seam::Step const& step) {
        if (step.step == seam::FileStep::lockOpened && !replaced) {
            replaced = true;
            ASSERT_TRUE(QFile::remove(lockPath));
            EXPECT_EQ(other.acquire(lockPath, FileLock::Mode::exclusive, 0ms, why),
                      FileLock::Outcome::acquired);
        }
    });
    FileLock first;
    EXPECT_EQ(first.acquire(lockPath, FileLock::Mode::exclusive, 50ms, why),
              FileLock::Outcome::busy);
    EXPECT_TRUE(replaced);
}

// A shared holder that lets go while another still holds the lock leaves the lock file, which
// keeps a writer out; the last one removes it.
TEST(LockFile, StaysWhileASharedHolderRemainsAndGoesWithTheLast) {
    QTemporaryDir folder;
    QString const lockPath = folder.filePath(QStringLiteral(".budget.xml.lock"));
    FileLock first;
    FileLock second;
    FileLock writer;
    QString why;
    ASSERT_EQ(first.acquire(lockPath, FileLock::Mode::shared, 0ms, why),
              FileLock::Outcome::acquired);
    ASSERT_EQ(second.acquire(lockPath, FileLock::Mode::shared, 0ms, why),
              FileLock::Outcome::acquired);
    first.release();
    EXPECT_TRUE(QFileInfo::exists(lockPath));
    EXPECT_EQ(writer.acquire(lockPath, FileLock::Mode::exclusive, 20ms, why),
              FileLock::Outcome::busy);
    second.release();
    EXPECT_FALSE(QFileInfo::exists(lockPath));
}

} // namespace
