#pragma once

#include "zel/foundation/Error.h"

#include <QObject>
#include <QString>

#include <map>
#include <stdexcept>
#include <typeindex>
#include <typeinfo>

namespace zel::foundation {

// A map from a type to a map from K to V: one value per (type, key) pair. Used to keep, for
// example, one ledger account per budget item, where the same source name may stand for a
// wage and a bill at once.
//
// The key type must have a presentationText(K const&) found by argument-dependent lookup; it
// names the key in the error of a failed lookup.
template <class K, class V> class TypeIndexMap {
public:
    using Values = std::map<K, V>;

    TypeIndexMap() = default;

    // Sets the value under type T and key, replacing one that is there.
    template <class T> void insert(K const& key, V value) {
        maps_[std::type_index(typeid(T))].insert_or_assign(key, std::move(value));
    }

    // The value under type T and key; throws Error (with the out-of-range error as its cause)
    // when there is none.
    template <class T> V const& at(K const& key) const {
        try {
            return maps_.at(std::type_index(typeid(T))).at(key);
        } catch (std::out_of_range const& cause) {
            throw Error(
                QObject::tr(
                    "Failed to find a non-mutable value under the type '%1' with the key '%2'.")
                    .arg(QString::fromLatin1(typeid(T).name()))
                    .arg(presentationText(key)),
                cause);
        }
    }

    // All values kept under type T (an empty map when there are none).
    template <class T> Values const& values() const {
        static Values const none;
        auto const found = maps_.find(std::type_index(typeid(T)));
        return found == maps_.end() ? none : found->second;
    }

    friend bool operator==(TypeIndexMap const&, TypeIndexMap const&) = default;

private:
    std::map<std::type_index, Values> maps_;
};

} // namespace zel::foundation
