// Several writers and readers of one budget file at once: processes (a second window of the
// application, a script) and threads of one process, each with its own BudgetFile. Every store
// must succeed whole, every load must give one of the stored budgets, and afterwards the budget
// file and its back-up must each hold one of them.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace budgets = zel::testing;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;

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
    std::map<std::string, QString> byDescription_;

    void SetUp() override {
        for (auto const& name : budgetNames) {
            byDescription_[budgets::describe(budgets::store_child::budgetNamed(name))] = name;
        }
        ASSERT_EQ(byDescription_.size(), static_cast<std::size_t>(budgetNames.size()));
        budgets::LogCapture quiet;
        support::store(BudgetFile(path_, QStringLiteral("~")),
                       budgets::store_child::budgetNamed(budgetNames.back()));
    }

    // Which of the budgets the file at path holds; "?" for none.
    QString heldBy(QString const& path) {
        budgets::LogCapture quiet;
        try {
            auto const found = byDescription_.find(
                budgets::describe(BudgetFile(path, QStringLiteral("~")).load()));
            return found == byDescription_.end() ? QStringLiteral("?") : found->second;
        } catch (std::exception const& error) {
            return QString::fromLocal8Bit(error.what());
        }
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
        EXPECT_TRUE(budgetNames.contains(heldBy(path_))) << heldBy(path_).toStdString();
        EXPECT_TRUE(budgetNames.contains(heldBy(path_ + QLatin1Char('~'))))
            << heldBy(path_ + QLatin1Char('~')).toStdString();
        EXPECT_EQ(
            QDir(folder_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList({QStringLiteral("budget.xml"), QStringLiteral("budget.xml~")}));
    }
};

TEST_F(Concurrency, ProcessesStoringAndLoadingOneFileEachSeeWholeBudgets) {
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < writers + readers; ++i) {
        QStringList arguments{QStringLiteral("--times"),
                              QString::number(i < writers ? storesEach : loadsEach)};
        arguments << (i < writers ? QStringList{QStringLiteral("store"), path_, budgetNames[i]}
                                  : QStringList{QStringLiteral("load"), path_} + budgetNames);
        children.push_back(std::make_unique<QProcess>());
        children.back()->start(QStringLiteral(ZEL_BUDGET_FILE_STORE_CHILD), arguments);
    }
    std::map<QString, int> outcomes;
    for (auto const& child : children) {
        ASSERT_TRUE(child->waitForFinished(120000));
        EXPECT_EQ(child->exitCode(), 0);
        for (auto const& line :
             QString::fromUtf8(child->readAllStandardOutput()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("stored\t")) ||
                line.startsWith(QLatin1String("loaded\t")) ||
                line.startsWith(QLatin1String("first\t"))) {
                ++outcomes[QString(line).replace(QLatin1Char('\t'), QLatin1Char(' '))];
            }
        }
    }
    expectWholeBudgets(outcomes, "processes");
}

TEST_F(Concurrency, ThreadsStoringAndLoadingOneFileEachSeeWholeBudgets) {
    std::vector<zel::storage::BudgetState> states;
    for (auto const& name : budgetNames) {
        states.push_back(budgets::store_child::budgetNamed(name));
    }
    std::mutex mutex;
    std::map<QString, int> outcomes;
    auto const count = [&](QString const& outcome) {
        std::lock_guard const lock(mutex);
        ++outcomes[outcome];
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < writers + readers; ++i) {
        threads.emplace_back([&, i] {
            BudgetFile const file(path_, QStringLiteral("~"));
            for (int n = 0; n < (i < writers ? storesEach : loadsEach); ++n) {
                try {
                    if (i < writers) {
                        support::store(file, states[static_cast<std::size_t>(i)]);
                        count(QStringLiteral("stored ") + budgetNames[i]);
                    } else {
                        auto const found = byDescription_.find(budgets::describe(file.load()));
                        count(QStringLiteral("loaded ") + (found == byDescription_.end()
                                                               ? QStringLiteral("?")
                                                               : found->second));
                    }
                } catch (std::exception const& error) {
                    count(QString::fromLocal8Bit(error.what()));
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    expectWholeBudgets(outcomes, "threads");
}

} // namespace
