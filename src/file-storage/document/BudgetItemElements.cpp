#include "file-storage/document/BudgetItemElements.h"

#include <QObject>

namespace zel::file_storage::internal {

namespace {

// Each kind's members hold the attributes of its element in the format.
template <class Fields> constexpr bool bindsKinds(std::initializer_list<ItemKind> kinds) {
    for (auto const kind : kinds) {
        if (!bindsAttributes<Fields>(formOf(kind).element.attributes)) {
            return false;
        }
    }
    return true;
}
static_assert(bindsKinds<decltype(ItemElement::amountFields())>({ItemKind::wage, ItemKind::bill,
                                                                 ItemKind::nontrack}));
static_assert(bindsKinds<decltype(ItemElement::debtFields())>({ItemKind::debt}));
static_assert(bindsKinds<decltype(ItemElement::goalFields())>({ItemKind::goal}));

} // namespace

ItemElement::ItemElement(ItemKind itemKind) : kind(itemKind) {}

ItemElement::ItemElement(ItemKind itemKind, quint32 itemIdentifier, ItemValues const& values)
    : LeafElement(itemIdentifier), ItemValues(values), kind(itemKind) {
    if (currency.trimmed().isEmpty()) {
        throw contentError(QObject::tr(formOf(kind).blankCurrency));
    }
    if (accountId == 0) {
        throw contentError(QObject::tr(formOf(kind).noAccount));
    }
}

} // namespace zel::file_storage::internal
