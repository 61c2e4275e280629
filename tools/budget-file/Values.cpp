#include "Values.h"

#include <algorithm>

namespace zel::tool {

bool sameTransaction(accounting::Transaction const& a, accounting::Transaction const& b) {
    return a.occurredOn() == b.occurredOn() && a.debiting().number() == b.debiting().number() &&
           a.crediting().number() == b.crediting().number() && a.amount() == b.amount() &&
           a.description() == b.description() && a.status() == b.status();
}

std::vector<NumberedTransaction> transactionsOnce(accounting::GeneralLedger const& ledger) {
    std::vector<NumberedTransaction> all;
    for (auto const& [code, account] : ledger.ledgers()) {
        for (auto const& [number, transaction] : account.transactions) {
            all.push_back({number.integer(), &transaction});
        }
    }
    std::stable_sort(all.begin(), all.end(),
                     [](auto const& a, auto const& b) { return a.number < b.number; });
    std::vector<NumberedTransaction> once;
    once.reserve(all.size() / 2 + 1);
    auto group = once.size(); // where the copies of the current number start in once
    for (auto const& entry : all) {
        if (once.empty() || once.back().number != entry.number) {
            group = once.size();
        }
        auto const copy =
            std::find_if(once.begin() + static_cast<std::ptrdiff_t>(group), once.end(),
                         [&](NumberedTransaction const& kept) {
                             return sameTransaction(*kept.transaction, *entry.transaction);
                         });
        if (copy == once.end()) {
            once.push_back(entry);
        }
    }
    return once;
}

QString amountText(orvalis::currency::Money const& money) {
    return QString::number(money.major()) + QLatin1Char('.') +
           QString::number(money.minor()).rightJustified(2, u'0');
}

} // namespace zel::tool
