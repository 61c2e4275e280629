// The store, the restore and the exchange-rates store, struck by a power loss after every step,
// in every state a file system may leave (PowerLoss.h), from the starts of
// tests/data/store/power-loss.manifest.
#include "PowerLoss.h"
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/ExchangeRatesFile.h"
#include "file-storage/files/FileSync.h"
#include "file-storage/files/StoreMarker.h"
#include "support/Manifest.h"
#include "support/SymbolicLink.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <set>

namespace budgets = zel::testing;
namespace seam = zel::testing::seam;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;
using zel::file_storage::ExchangeRatesFile;
using zel::testing::Record;
using zel::testing::power_loss::Recorder;
using zel::testing::power_loss::Tree;

namespace {

QString const tilde = QStringLiteral("~");

// The file that storing the table of an exchange-rates file writes.
QByteArray ratesDocumentOf(std::string const& name) {
    QTemporaryDir scratch;
    QString const path = scratch.filePath(QStringLiteral("rates.dat"));
    ExchangeRatesFile(path).store(
        ExchangeRatesFile(
            budgets::dataPath(QStringLiteral("exchange-rates/") + QString::fromStdString(name)))
            .load());
    return support::contentOf(path).value_or(QByteArray());
}

class PowerLoss : public ::testing::TestWithParam<Record> {
protected:
    Record const& row_ = GetParam();
    std::string const do_ = row_.value("do");
    QTemporaryDir folder_;
    QTemporaryDir scratch_;
    support::Layout const layout_{folder_.path(), row_.value("layout") == "linked"};
    support::Layout const laid_{scratch_.path(), layout_.linked};
    QString const rates_ = folder_.filePath(QStringLiteral("cache/app/exchange-rates.dat"));
    std::optional<QByteArray> previous_; // what the operation replaces
    std::optional<QByteArray> earlier_;  // what the back-up held before the operation
    QByteArray next_;                    // what it writes
    QByteArray third_ = support::documentOf(QStringLiteral("random:9"));

    void SetUp() override {
        ASSERT_TRUE(folder_.isValid() && scratch_.isValid());
        if (do_ == "rates") {
            next_ = ratesDocumentOf(row_.value("storing"));
            if (row_.value("before") != "absent") {
                previous_ =
                    budgets::dataFile(QStringLiteral("exchange-rates/") + row_.text("before"));
                QDir().mkpath(QFileInfo(rates_).absolutePath());
                support::writeFile(rates_, *previous_);
            }
            return;
        }
        if (layout_.linked) {
            ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS();
        }
        layout_.make();
        if (row_.value("budget") != "absent") {
            previous_ = support::documentOf(row_.text("budget"));
            support::writeFile(layout_.budget, *previous_);
        }
        if (row_.value("backup") != "absent") {
            earlier_ = support::documentOf(row_.text("backup"));
            support::writeFile(layout_.backUp, *earlier_);
        }
        next_ = do_ == "restore" ? *support::contentOf(layout_.backUp)
                                 : support::documentOf(row_.text("storing"));
    }

    // Runs the operation under a recorder that skips its skip-th sync.
    std::unique_ptr<Recorder> run(long skip) {
        std::vector<seam::StepFault> faults;
        for (auto const& fault : row_.values("fail")) {
            faults.push_back(seam::parseStepFault(layout_.fill(QString::fromStdString(fault))));
        }
        auto recorder = std::make_unique<Recorder>(folder_.path(), faults, skip);
        budgets::LogCapture quiet;
        try {
            if (do_ == "rates") {
                ExchangeRatesFile(rates_).store(
                    ExchangeRatesFile(
                        budgets::dataPath(QStringLiteral("exchange-rates/") + row_.text("storing")))
                        .load());
            } else if (do_ == "restore") {
                (void)BudgetFile(layout_.budgetPath, tilde).restoreBackUp();
            } else {
                support::store(BudgetFile(layout_.budgetPath, tilde),
                               budgets::store_child::budgetNamed(row_.text("storing")));
            }
        } catch (zel::storage::StorageError const&) {
            EXPECT_TRUE(row_.has("fail")) << "the operation failed";
        }
        recorder->finish();
        return recorder;
    }

    // What breaks the promise in state, laid out in the scratch folder; empty when nothing does.
    // final: the state is one the operation left once it had returned, as live is.
    std::string broken(Tree const& state, Tree const& live, bool final) {
        QDir(scratch_.path()).removeRecursively();
        QDir().mkpath(scratch_.path());
        zel::testing::power_loss::lay(state, scratch_.path());
        if (final) {
            for (auto const& [path, node] : live) {
                auto const found = state.find(path);
                if (found == state.end() || found->second.bytes != node.bytes) {
                    return "after the operation returned, " + path.toStdString() +
                           " is not what it left";
                }
            }
            if (state.size() != live.size()) {
                return "after the operation returned, a file it removed is back";
            }
        }
        if (do_ == "rates") {
            auto const bytes = support::contentOf(
                scratch_.filePath(QDir(folder_.path()).relativeFilePath(rates_)));
            return bytes == next_ || bytes == previous_ ? ""
                   : bytes ? "the exchange-rates file is neither the old nor the new one"
                           : "the exchange-rates file is gone";
        }
        // No bytes that a file held before the operation are lost, but the back-up's once a
        // store has committed: its record, on the disk, names the new document.
        bool committed = false;
        for (auto const& [path, node] : state) {
            auto const record = path.endsWith(QLatin1String(".budget.xml.stored"))
                                    ? zel::file_storage::internal::parseMarker(node.bytes)
                                    : std::nullopt;
            committed =
                committed ||
                (record && record->next == zel::file_storage::internal::fingerprintOf(next_));
        }
        for (auto const& bytes :
             {previous_, do_ == "store" && committed ? std::nullopt : earlier_}) {
            bool held = !bytes;
            for (auto const& [path, node] : state) {
                held = held || node.bytes == *bytes;
            }
            if (!held) {
                return bytes == previous_ ? "the budget before the operation is lost"
                                          : "the back-up before the store is lost, and the store "
                                            "had not committed";
            }
        }
        auto const budget = support::contentOf(laid_.budget);
        auto const backUp = support::contentOf(laid_.backUp);
        bool const whole = budget == next_ || (budget && budget == previous_);
        bool loaded = false;
        {
            budgets::LogCapture quiet;
            try {
                (void)BudgetFile(laid_.budgetPath, tilde).load();
                loaded = true;
            } catch (std::exception const&) {
            }
        }
        if (loaded != whole) {
            return loaded ? "the budget file loads as a budget that was never saved"
                          : "a whole budget file is refused";
        }
        if (!loaded && previous_) {
            bool kept = false;
            for (auto const& [path, node] : state) {
                kept = kept || (node.bytes == *previous_ && path != QStringLiteral("budget.xml") &&
                                path != QStringLiteral("synced/budget.xml"));
            }
            if (!kept) {
                return "the budget before the operation is lost";
            }
        }
        // The next store backs up the budget that loaded, or keeps the back-up.
        try {
            // Its durability is not under test.
            seam::Seam fast;
            fast.skipSyncs();
            budgets::LogCapture quiet;
            support::store(BudgetFile(laid_.budgetPath, tilde),
                           budgets::store_child::budgetNamed(QStringLiteral("random:9")));
        } catch (std::exception const& error) {
            return std::string("the next store fails: ") + error.what();
        }
        if (support::contentOf(laid_.budget) != third_) {
            return "the next store did not store";
        }
        if (support::contentOf(laid_.backUp) != (loaded ? budget : backUp)) {
            return loaded ? "the next store did not back up the budget that loaded"
                          : "the next store replaced the back-up by a part-written file";
        }
        return "";
    }

    // The first state, over every point, that breaks the promise, and how; counts the states.
    std::string sweep(Recorder const& recorder, std::size_t& states) {
        std::set<std::string> seen;
        for (std::size_t point = 0; point < recorder.points(); ++point) {
            bool const final = point + 1 == recorder.points();
            for (auto const& state : recorder.crashStates(point)) {
                // Many points leave the same states; each is judged once (the last point apart).
                std::string key = final ? "final" : "";
                for (auto const& [path, node] : state) {
                    key += path.toStdString() + '\0' + node.bytes.toStdString() + '\0';
                }
                if (!seen.insert(key).second) {
                    continue;
                }
                ++states;
                if (auto const why = broken(state, recorder.live(point), final); !why.empty()) {
                    std::string const step =
                        point == 0 ? "before the first step"
                                   : "after " + seam::traceLine(recorder.steps()[point - 1]);
                    return why + " (power lost " + step + ")";
                }
            }
        }
        return "";
    }

    void restart() {
        QDir(folder_.path()).removeRecursively();
        QDir().mkpath(folder_.path());
        SetUp();
    }
};

TEST_P(PowerLoss, AtEveryStepLeavesAWholeBudgetAndWhatWasReported) {
    auto const recorder = run(0);
    std::size_t states = 0;
    EXPECT_EQ(sweep(*recorder, states), "");
    std::printf("[ counts   ] %s: %zu points, %zu distinct states, %ld syncs\n",
                row_.name().c_str(), recorder->points(), states, recorder->syncs());
}

TEST_P(PowerLoss, BreaksItsPromiseWithoutAnyOneOfItsSyncs) {
    long const syncs = run(0)->syncs();
    ASSERT_GT(syncs, 0);
    for (long skipped = 1; skipped <= syncs; ++skipped) {
        restart();
        auto const recorder = run(skipped);
        std::size_t states = 0;
        auto const why = sweep(*recorder, states);
        std::string skippedStep;
        bool needed = true;
        for (auto const& step : recorder->steps()) {
            if (step.outcome == "skipped") {
                skippedStep = seam::traceLine(step);
                needed = !row_.has("needed") ||
                         row_.value("needed") == zel::file_storage::internal::stepName(step.step);
            }
        }
        EXPECT_TRUE(!needed || why != "")
            << "nothing needs sync " << skipped << ": " << skippedStep;
        std::printf("[ needs    ] %s: %s: %s\n", row_.name().c_str(), skippedStep.c_str(),
                    why.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, PowerLoss,
    ::testing::ValuesIn(budgets::readManifest(QStringLiteral("store/power-loss.manifest"))),
    budgets::recordName);

} // namespace
