#pragma once

#include "zel/accounting/Accounting.h"
#include "zel/banking/Banking.h"
#include "zel/budgeting/Budgeting.h"
#include "zel/conversion/Conversion.h"
#include "zel/foundation/TypeIndexMap.h"
#include "zel/surveying/Surveying.h"

#include <QString>

#include <tuple>

namespace zel::storage {

// Which ledger account each budget item is booked to.
using ItemAccountMap = foundation::TypeIndexMap<budgeting::BudgetSource, accounting::AccountCode>;

// The whole budget state, in the order in which it is loaded and stored.
using BudgetState =
    std::tuple<accounting::GeneralLedger, budgeting::Budget, ItemAccountMap, banking::BankMap,
               banking::AccountTypeMap, surveying::ReconciledSurveys>;

// Where the application keeps its budget.
class BudgetStorage {
public:
    virtual ~BudgetStorage();
    virtual QString const& name() const = 0;
    virtual void changeLocation(QString const& location) = 0;
    virtual BudgetState load() const = 0;
    virtual void store(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
                       ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
                       banking::AccountTypeMap const& accountTypes,
                       surveying::ReconciledSurveys const& surveys) const = 0;

protected:
    BudgetStorage() = default;
    BudgetStorage(BudgetStorage const&) = default;
    BudgetStorage(BudgetStorage&&) = default;
    BudgetStorage& operator=(BudgetStorage const&) = default;
    BudgetStorage& operator=(BudgetStorage&&) = default;
};

// Where the application caches its exchange rates.
class ExchangeRatesStorage {
public:
    virtual ~ExchangeRatesStorage();
    virtual bool exists() const = 0;
    virtual void remove() const = 0;
    virtual conversion::ConversionMap load() const = 0;
    virtual void store(conversion::ConversionMap const& rates) const = 0;

protected:
    ExchangeRatesStorage() = default;
    ExchangeRatesStorage(ExchangeRatesStorage const&) = default;
    ExchangeRatesStorage(ExchangeRatesStorage&&) = default;
    ExchangeRatesStorage& operator=(ExchangeRatesStorage const&) = default;
    ExchangeRatesStorage& operator=(ExchangeRatesStorage&&) = default;
};

} // namespace zel::storage
