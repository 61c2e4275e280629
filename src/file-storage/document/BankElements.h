#pragma once

#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"

#include <QString>
#include <QtGlobal>

#include <vector>

// The user's banks in the budget document: "banks" of "bank", each holding "account" elements
// that name a ledger account and the bank's type of it. Nothing here is checked on
// construction: any number and any text is kept as given.
namespace zel::file_storage::internal {

// A ledger account that a bank holds. Its "id" is a plain number, not an identifier of an
// indexed element: 0 is accepted.
struct BankAccountElement final : BasicElement {
    static constexpr Name tag_ = names::account;

    quint32 number = 0;
    // Display text of the bank's type of the account.
    QString type;

    BankAccountElement() = default;
    BankAccountElement(quint32 number, QString const& type);

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

struct BankElement final : BasicElement {
    static constexpr Name tag_ = names::bank;

    QString name;
    bool closed = false;
    std::vector<BankAccountElement> accounts;

    BankElement() = default;
    BankElement(QString const& name, bool closed, std::vector<BankAccountElement> accounts);

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

struct BanksElement final : BasicElement {
    static constexpr Name tag_ = names::banks;

    std::vector<BankElement> banks;

    BanksElement() = default;
    explicit BanksElement(std::vector<BankElement> banks);

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

} // namespace zel::file_storage::internal
