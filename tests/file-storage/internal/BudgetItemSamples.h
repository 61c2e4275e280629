#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace zel::testing {

// The attributes of a valid wage after its "id".
inline constexpr char wageAttributes[] = R"(major="1250" minor="50" period="Monthly" )"
                                         R"(name="Salary" currency="EUR" )"
                                         R"(nextOccurOn="2024-01-31" accountId="3")";

// A valid, empty "wage" element with the given "id" text.
inline QByteArray wageElement(char const* id) {
    return QByteArray(R"(<wage id=")") + id + R"(" )" + wageAttributes + "/>";
}

// The identifiers of items, in order.
template <class Item> std::vector<quint32> identifiers(std::vector<Item> const& items) {
    std::vector<quint32> result;
    for (auto const& item : items) {
        result.push_back(item.identifier);
    }
    return result;
}

} // namespace zel::testing
