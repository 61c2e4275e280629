#pragma once

#include "zel/foundation/Error.h"

#include <QLatin1String>
#include <QObject>
#include <QString>

#include <array>
#include <cstddef>
#include <utility>

namespace zel::foundation {

// A fixed two-way table between the values of an enumeration and their texts, so that each
// enumeration that is stored as text states its spellings once.
//
// Converting from text accepts exactly the listed spellings (case-sensitive) and throws an
// Error that names the text and what it should have been for anything else.
template <class E, std::size_t N> class EnumTexts {
public:
    constexpr EnumTexts(char const* kind, std::array<std::pair<E, char const*>, N> entries)
        : kind_(kind), entries_(entries) {}

    QString text(E value) const {
        for (auto const& [entry, text] : entries_) {
            if (entry == value) {
                return QString::fromLatin1(text);
            }
        }
        throw Error(QObject::tr("The value %1 is not a known %2.")
                        .arg(static_cast<long long>(value))
                        .arg(QLatin1String(kind_)),
                    std::exception());
    }

    E value(QString const& text) const {
        for (auto const& [entry, spelling] : entries_) {
            if (text == QLatin1String(spelling)) {
                return entry;
            }
        }
        throw Error(QObject::tr("The text '%1' is not a known %2.").arg(text, QLatin1String(kind_)),
                    std::exception());
    }

    constexpr auto const& entries() const { return entries_; }

private:
    char const* kind_;
    std::array<std::pair<E, char const*>, N> entries_;
};

} // namespace zel::foundation
