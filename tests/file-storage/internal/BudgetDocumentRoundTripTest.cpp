// Whatever the document writer accepts, the reader gives back: budgets written to a document
// and read again hold the same values, and writing them again gives the same bytes.
#include "LoadDocumentSupport.h"

#include "file-storage/Errors.h"
#include "support/Budgets.h"

#include <gtest/gtest.h>

#include <optional>

namespace budgets = zel::testing;
using zel::storage::BudgetState;
using zel::testing::documents::load;
using zel::testing::documents::write;

namespace {

TEST(BudgetDocumentRoundTrip, SmallFullAndEmptyBudgetsReadBackEqualAndRewriteTheSameBytes) {
    for (auto const& original : {budgets::smallFullBudget(), budgets::emptyBudget()}) {
        for (bool const autoFormat : {false, true}) {
            auto const document = write(original, autoFormat);
            auto const loaded = load(document);
            EXPECT_EQ(budgets::describe(loaded), budgets::describe(original));
            EXPECT_EQ(write(loaded, autoFormat), document);
        }
    }
}

// Descriptions that are present but empty are not stored: such a transaction reads back with
// none. Every other value must come back exactly (interests to six significant digits).
TEST(BudgetDocumentRoundTrip, RandomBudgetsReadBackEqual) {
    int stored = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        auto const original = budgets::randomBudget(seed);
        QByteArray document;
        try {
            document = write(original);
        } catch (zel::file_storage::BudgetFileError const& refused) {
            // A refused budget is fine; it must say why.
            EXPECT_FALSE(refused.secondText().isEmpty()) << "seed " << seed;
            continue;
        }
        ++stored;
        std::optional<BudgetState> loaded;
        ASSERT_NO_THROW(loaded.emplace(load(document))) << "seed " << seed << "\n"
                                                        << document.toStdString();
        ASSERT_EQ(budgets::describe(*loaded), budgets::describe(original)) << "seed " << seed;
        EXPECT_EQ(write(*loaded), document) << "seed " << seed;
    }
    EXPECT_GT(stored, 250);
}

} // namespace
