#pragma once

#include "zel/banking/Banking.h"
#include "zel/budgeting/Budgeting.h"
#include "zel/foundation/Optional.h"
#include "zel/money/Currency.h"

#include <QString>

#include <map>

namespace zel::surveying {

// A reconciled bank account and how its money is spread over budget items.
class ReconciledSurvey {
public:
    using Distribution = std::map<budgeting::BudgetItemIdentifier, orvalis::currency::Money>;

    ReconciledSurvey(banking::ReconciledBankAccount reconciled, Distribution distribution,
                     foundation::Optional<QString> checksum)
        : reconciled_(std::move(reconciled)), distribution_(std::move(distribution)),
          checksum_(std::move(checksum)) {}

    banking::ReconciledBankAccount const& reconciled() const { return reconciled_; }
    Distribution const& distribution() const { return distribution_; }
    foundation::Optional<QString> const& checksum() const { return checksum_; }

private:
    banking::ReconciledBankAccount reconciled_;
    Distribution distribution_;
    foundation::Optional<QString> checksum_;
};

class ReconciledSurveys {
public:
    using Surveys = std::map<banking::BankAccount, ReconciledSurvey>;
    ReconciledSurveys() = default;
    explicit ReconciledSurveys(Surveys surveys);

    Surveys::const_iterator begin() const { return surveys_.begin(); }
    Surveys::const_iterator end() const { return surveys_.end(); }
    std::size_t size() const { return surveys_.size(); }

private:
    Surveys surveys_;
};

} // namespace zel::surveying
