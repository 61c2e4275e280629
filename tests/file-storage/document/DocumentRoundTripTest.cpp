// Documents that load, and what a store makes of them: the canonical documents
// (tests/data/documents), the budgets of tests/support, and random budgets. Whatever a store writes
// must load back to the same state and store to the same bytes again.
#include "DocumentSupport.h"

#include "support/Budgets.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

namespace {

using zel::testing::dataFile;
using zel::testing::describe;
using zel::testing::loadDocument;
using zel::testing::Record;
using zel::testing::storeDocument;

// The file a record names under tests/data/documents, or fallback when it names none. Texts
// rather than bytes, so that a failed comparison shows the difference.
std::string recordFile(Record const& r, char const* key, QByteArray const& fallback = {}) {
    return (r.has(key) ? dataFile("documents/" + r.text(key)) : fallback).toStdString();
}

// Stores state, loads what was written and stores that again: the state and the bytes must
// come back unchanged.
void expectStableRoundTrip(zel::storage::BudgetState const& state, bool autoFormat) {
    auto const written = storeDocument(state, autoFormat);
    auto const loaded = loadDocument(written);
    EXPECT_EQ(describe(loaded), describe(state)) << written.toStdString();
    EXPECT_EQ(storeDocument(loaded, autoFormat).toStdString(), written.toStdString());
}

class CanonicalDocument : public ::testing::TestWithParam<Record> {};

TEST_P(CanonicalDocument, LoadsToItsStateAndStoresTheExpectedBytes) {
    auto const& r = GetParam();
    auto const document = dataFile("documents/" + r.text("document"));
    auto const state = loadDocument(document);
    EXPECT_EQ(describe(state), recordFile(r, "state"));
    EXPECT_EQ(storeDocument(state, false).toStdString(), recordFile(r, "plain", document));
    EXPECT_EQ(storeDocument(state, true).toStdString(), recordFile(r, "indented", document));
    for (bool const autoFormat : {false, true}) {
        expectStableRoundTrip(state, autoFormat);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Documents, CanonicalDocument,
    ::testing::ValuesIn(zel::testing::readManifest(QStringLiteral("documents/canonical.manifest"))),
    zel::testing::recordName);

// The empty budget, built in code, stores as the canonical document that records it.
TEST(CanonicalDocument, EmptyBudgetStoresAsItsDocumentByteForByte) {
    EXPECT_EQ(storeDocument(zel::testing::emptyBudget()).toStdString(),
              dataFile(QStringLiteral("documents/canonical/empty.xml")).toStdString());
}

// Random budgets that the store accepts come back whole; one it refuses is counted, and must
// be rare.
TEST(RandomBudget, StoresLoadsBackEqualAndStoresTheSameBytesAgain) {
    int refused = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        auto const state = zel::testing::randomBudget(seed);
        try {
            storeDocument(state);
        } catch (zel::file_storage::BudgetFileError const&) {
            ++refused;
            continue;
        }
        expectStableRoundTrip(state, seed % 2 == 0);
    }
    EXPECT_LT(refused, 30);
}

// A store cut short by a crash leaves a document that must not load as some smaller budget.
TEST(TruncatedDocument, NeverLoadsWhereverItIsCut) {
    for (bool const autoFormat : {false, true}) {
        auto const whole = storeDocument(zel::testing::smallFullBudget(), autoFormat);
        for (qsizetype size = 0; size < whole.size(); ++size) {
            auto const error = zel::testing::errorOf([&] { loadDocument(whole.left(size)); });
            ASSERT_TRUE(error.starts_with("class: BudgetFileError") ||
                        error.starts_with("class: AttributeError"))
                << "cut at " << size << ": " << error;
        }
    }
}

} // namespace
