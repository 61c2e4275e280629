// The hash that fingerprints a document, against the reference's values, and the marker of a
// store under way: read back as written, and refused when a power loss cut it short.
#include "file-storage/files/StoreMarker.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

namespace {

using zel::testing::Record;
namespace internal = zel::file_storage::internal;

class StoreMarker : public ::testing::TestWithParam<Record> {};

TEST_P(StoreMarker, ReadsAsItsRowSays) {
    auto const& row = GetParam();
    if (row.has("text")) {
        auto const bytes = QByteArray::fromStdString(row.value("text"));
        auto const fingerprint = internal::fingerprintOf(bytes);
        EXPECT_EQ(fingerprint.size, bytes.size());
        EXPECT_EQ(QByteArray::number(fingerprint.hash, 16).rightJustified(16, '0').toStdString(),
                  row.value("hash"));
        // Given in blocks of every size, the hash is the same.
        for (qsizetype block = 1; block <= 40; ++block) {
            internal::Fingerprinter parts;
            for (qsizetype at = 0; at < bytes.size(); at += block) {
                parts.add(bytes.mid(at, block));
            }
            EXPECT_EQ(parts.fingerprint(), fingerprint) << "in blocks of " << block;
        }
        return;
    }
    auto const bytes = QByteArray::fromStdString(row.value("marker")).replace('|', '\n');
    auto const marker = internal::parseMarker(bytes);
    ASSERT_EQ(marker.has_value(), row.value("reads") == "yes");
    if (marker) {
        EXPECT_EQ(internal::markerBytes(*marker), bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stores, StoreMarker,
    ::testing::ValuesIn(zel::testing::readManifest(QStringLiteral("store/markers.manifest"))),
    zel::testing::recordName);

} // namespace
