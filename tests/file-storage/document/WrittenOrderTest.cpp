// Every element that a store writes carries its attributes in the order in which the format's
// table lists them, and nothing else: the table is the one description of the stored bytes.
#include "DocumentSupport.h"

#include "file-storage/document/DocumentFormat.h"
#include "support/Budgets.h"

#include <QStringList>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <set>

namespace {

namespace format = zel::file_storage::internal::format;

TEST(StoredDocument, WritesEveryElementsAttributesInTheOrderOfTheFormat) {
    // The small full budget holds every element of the format, each optional attribute too.
    auto const document = zel::testing::storeDocument(zel::testing::smallFullBudget());
    QXmlStreamReader reader(document);
    QStringList open;
    std::set<std::pair<format::Element const*, QString>> seen; // and each attribute written
    while (reader.readNext() != QXmlStreamReader::EndDocument && !reader.hasError()) {
        if (reader.isEndElement()) {
            open.removeLast();
        }
        if (!reader.isStartElement()) {
            continue;
        }
        auto const* element =
            format::elementOf(open.isEmpty() ? QString() : open.last(), reader.name());
        ASSERT_NE(element, nullptr) << reader.name().toString().toStdString();
        QStringList written;
        for (auto const& attribute : reader.attributes()) {
            written << attribute.name().toString();
        }
        QStringList listed;
        for (auto const& attribute : element->attributes) {
            if (written.contains(attribute.name.latin1)) {
                listed << attribute.name.latin1;
            }
        }
        EXPECT_EQ(written, listed) << element->tag.latin1.data();
        seen.emplace(element, QString());
        for (auto const& name : written) {
            seen.emplace(element, name);
        }
        open << reader.name().toString();
    }
    ASSERT_FALSE(reader.hasError());
    std::size_t everything = 0;
    for (auto const& element : format::elements) {
        everything += 1 + element.attributes.size();
    }
    EXPECT_EQ(seen.size(), everything);
}

} // namespace
