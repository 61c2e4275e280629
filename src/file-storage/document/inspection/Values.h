#pragma once

#include "file-storage/BudgetDocumentInspection.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

// The values that the inspection of a budget document reads and shows: numbers as the load
// reads them, texts as the warnings quote them, and what it keeps of each transaction to
// compare its two copies.
namespace zel::file_storage::internal::inspection {

using Position = DocumentPlace;

// A whole number as the load reads it, when the attribute is there and holds one of T.
template <class T> std::optional<T> numberOf(QStringView text) {
    bool ok = false;
    if constexpr (std::is_signed_v<T>) {
        auto const value = text.toLongLong(&ok, 10);
        if (ok && value >= std::numeric_limits<T>::lowest() &&
            value <= std::numeric_limits<T>::max()) {
            return T(value);
        }
    } else {
        auto const value = text.toULongLong(&ok, 10);
        if (ok && value <= std::numeric_limits<T>::max()) {
            return T(value);
        }
    }
    return std::nullopt;
}

inline QString quoted(QStringView text) {
    constexpr qsizetype longest = 24;
    auto const simple = text.toString().simplified();
    return u'\'' + (simple.size() > longest ? simple.left(longest) + u'\x2026' : simple) + u'\'';
}

inline QString amountText(qint64 major, quint16 minor, QString const& currency) {
    return QStringLiteral("%1.%2 %3")
        .arg(major)
        .arg(QString::number(minor).rightJustified(2, u'0'), currency);
}

// Where another element is, said from the place of a warning: its line, and its column too
// when both are on one line (as in a document written without indentation).
inline QString where(Position other, Position here) {
    return other.line == here.line
               ? QStringLiteral("line %1, column %2").arg(other.line).arg(other.column)
               : QStringLiteral("line %1").arg(other.line);
}

// Small texts that many elements repeat (currencies, statuses), each kept once. Looked up
// without making a string of each, which would cost as much as the rest of the scan.
class Interned {
public:
    quint32 of(QStringView view) {
        std::u16string_view const text(view.utf16(), std::size_t(view.size()));
        auto const found = numbers_.find(text);
        if (found != numbers_.end()) {
            return found->second;
        }
        auto const number = quint32(texts_.size());
        texts_.push_back(view.toString());
        numbers_.emplace(text, number);
        return number;
    }
    QString const& text(quint32 number) const { return texts_[number]; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view text) const {
            return std::hash<std::u16string_view>()(text);
        }
    };
    std::unordered_map<std::u16string, quint32, Hash, std::equal_to<>> numbers_;
    std::vector<QString> texts_;
};

// A date that the load has read as yyyy-MM-dd (and whatever follows), as the number yyyyMMdd.
inline qint64 dayOf(QStringView text) {
    qint64 day = 0;
    for (qsizetype i = 0; i < std::min<qsizetype>(text.size(), 10); ++i) {
        if (text[i].isDigit()) {
            day = day * 10 + text[i].digitValue();
        }
    }
    return day;
}

inline QString dayText(qint64 day) {
    return QStringLiteral("%1-%2-%3")
        .arg(day / 10000, 4, 10, QLatin1Char('0'))
        .arg(day / 100 % 100, 2, 10, QLatin1Char('0'))
        .arg(day % 100, 2, 10, QLatin1Char('0'));
}

// One copy of a transaction, as the ledger that holds it keeps it.
struct Copy {
    Position position;
    quint32 ledger = 0;
    quint32 number = 0;
    quint32 other = 0;
    char entry = 0; // 'D' or 'C'; 0 for neither
    qint64 day = 0; // yyyyMMdd
    qint64 major = 0;
    quint16 minor = 0;
    quint32 currency = 0;
    quint32 status = 0;
    bool described = false;  // the load takes an empty text as no description
    quint64 description = 0; // the description's hash, as describe() makes it
};

// Adds text to the hash of a transaction's description, which the reader may give in several
// parts (around a comment, say): FNV-1a over its UTF-16 units, so that the parts need not be
// put together first.
inline void describe(Copy& copy, QStringView text) {
    if (!copy.described) {
        copy.description = 14695981039346656037ULL;
    }
    copy.described = copy.described || !text.isEmpty();
    for (auto const c : text) {
        copy.description = (copy.description ^ c.unicode()) * 1099511628211ULL;
    }
}

inline quint64 keyOf(quint32 ledger, quint32 number) {
    return quint64(ledger) << 32 | number;
}

} // namespace zel::file_storage::internal::inspection
