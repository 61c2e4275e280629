#include "file-storage/document/BudgetItemIdMap.h"

#include "file-storage/common/ErrorForms.h"

#include "file-storage/Errors.h"
#include "foundation/Error.h"

#include <QObject>

#include <stdexcept>

namespace zel::file_storage::internal {

void recordItemIdentifier(BudgetItemIdMap& map, budgeting::BudgetItemTypes type, quint32 identifier,
                          budgeting::BudgetSource const& source) {
    auto& sources = map.sources[type];
    auto& identifiers = map.identifiers[type];
    auto const [entry, inserted] = sources.try_emplace(identifier, source);
    if (!inserted) {
        // The identifier named another source until now: that source no longer owns it.
        auto const previous = identifiers.find(entry->second);
        previous->second.erase(identifier);
        if (previous->second.empty()) {
            identifiers.erase(previous);
        }
        entry->second = source;
    }
    identifiers[source].insert(identifier);
}

budgeting::BudgetSource const& sourceOfIdentifier(BudgetItemIdMap const& map,
                                                  budgeting::BudgetItemTypes type,
                                                  quint32 identifier) {
    try {
        return map.sources.at(type).at(identifier);
    } catch (std::out_of_range const& cause) {
        throw contentError(
            QObject::tr("The budget file contains a malformed budget item ID mapping. "
                        "There is not an identifier of %1 of the type %2.")
                .arg(identifier)
                .arg(budgeting::presentationText(type)),
            cause);
    }
}

quint32 identifierOfSource(BudgetItemIdMap const& map, budgeting::BudgetItemTypes type,
                           budgeting::BudgetSource const& source) {
    auto const message = [&] {
        return QObject::tr("The budget file contains a malformed budget item ID mapping. There is "
                           "not a budget source '%1' of the type %2.")
            .arg(budgeting::presentationText(source), budgeting::presentationText(type));
    };
    std::map<budgeting::BudgetSource, std::set<quint32>> const* identifiers = nullptr;
    try {
        identifiers = &map.identifiers.at(type);
    } catch (std::out_of_range const& cause) {
        throw contentError(message(), cause);
    }
    auto const found = identifiers->find(source);
    if (found == identifiers->end()) {
        throw contentError(
            message(),
            foundation::Error(QObject::tr("Failed to find budget source."), std::exception()));
    }
    return *found->second.begin();
}

} // namespace zel::file_storage::internal
