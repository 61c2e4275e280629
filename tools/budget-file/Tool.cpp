#include "Tool.h"

#include "file-storage/Errors.h"
#include "file-storage/SaveFile.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <typeinfo>

namespace zel::tool {

namespace {

// Characters that show nothing of themselves: those that reorder the text around them or end a
// line, and the format characters that join, split or hide (the zero-width space, joiners and
// word joiner, the byte-order mark, the soft hyphen, the invisible operators), with which two
// names that differ look the same.
bool isInvisible(char16_t c) {
    return c == 0x00ad || c == 0x061c || c == 0x180e || (c >= 0x200b && c <= 0x200f) ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x206f) || c == 0xfeff;
}

} // namespace

QString printable(QStringView text) {
    QString shown;
    shown.reserve(text.size());
    auto const hex = [&shown](char const* prefix, char16_t c, int digits) {
        shown += QLatin1String(prefix) +
                 QStringLiteral("%1").arg(unsigned{c}, digits, 16, QLatin1Char('0'));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t const c = text[i].unicode();
        if (c == u'\\') {
            shown += QLatin1String("\\\\");
        } else if (c == u'\n') {
            shown += QLatin1String("\\n");
        } else if (c == u'\r') {
            shown += QLatin1String("\\r");
        } else if (c == u'\t') {
            shown += QLatin1String("\\t");
        } else if (c < 0x20 || (c >= 0x7f && c <= 0x9f)) {
            hex("\\x", c, 2);
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                   text[i + 1].isLowSurrogate()) {
            shown += text[i];
            shown += text[++i];
        } else if (c >= 0xdc80 && c <= 0xdcff) {
            // A byte of a file name that is not UTF-8, as the command line keeps it.
            hex("\\x", char16_t(c - 0xdc00), 2);
        } else if (QChar::isSurrogate(c) || isInvisible(c)) {
            hex("\\u", c, 4);
        } else {
            shown += QChar(c);
        }
    }
    return shown;
}

QString causeOf(storage::StorageError const& error) {
    auto const cause = QString::fromStdString(error.causeDescription());
    return cause == QLatin1String(std::exception().what()) ? QString() : cause;
}

QJsonObject errorObject(storage::StorageError const& error) {
    auto const* budgetError = dynamic_cast<file_storage::BudgetFileError const*>(&error);
    QString const type =
        typeid(error) == typeid(file_storage::AttributeError)    ? QStringLiteral("AttributeError")
        : budgetError != nullptr                                 ? QStringLiteral("BudgetFileError")
        : typeid(error) == typeid(file_storage::BinaryFileError) ? QStringLiteral("BinaryFileError")
                                                                 : QStringLiteral("StorageError");
    QJsonObject object{{QStringLiteral("class"), type},
                       {QStringLiteral("first"), error.firstText()},
                       {QStringLiteral("second"), error.secondText()},
                       {QStringLiteral("cause"), causeOf(error)}};
    if (budgetError != nullptr) {
        object.insert(QStringLiteral("line"), budgetError->line());
        object.insert(QStringLiteral("column"), budgetError->column());
    }
    return object;
}

QJsonObject errorObject(QString const& message) {
    // The same members as a library error's, so that a reader finds the texts in one place.
    return {{QStringLiteral("class"), QStringLiteral("budget-file")},
            {QStringLiteral("first"), message},
            {QStringLiteral("second"), QString()},
            {QStringLiteral("cause"), QString()}};
}

void printJson(Streams io, QString const& file, bool ok, QJsonObject object) {
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("ok"), ok);
    io.out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
}

QString readerReason(file_storage::BudgetFileError const& error) {
    // The first text is a sentence of the library's around the reader's text: made again around
    // a mark instead, it shows what stands before and after the reader's text.
    QChar const mark(0xffff);
    auto const around = file_storage::BudgetFileError(QString(mark), error.line(), error.column(),
                                                      QString(), std::exception())
                            .firstText();
    auto const at = around.indexOf(mark);
    auto const before = around.left(at);
    auto const after = around.mid(at + 1);
    auto const first = error.firstText();
    if (at < 0 || !first.startsWith(before) || !first.endsWith(after) ||
        first.size() < before.size() + after.size()) {
        return QString();
    }
    return first.mid(before.size(), first.size() - before.size() - after.size()).trimmed();
}

void printError(Streams io, QString const& file, storage::StorageError const& error,
                std::optional<file_storage::DocumentPlace> const& place) {
    eraseProgress();
    io.err << printable(file);
    if (place) {
        io.err << ':' << place->line << ':' << place->column;
    }
    QStringList texts;
    if (auto const* budgetError = dynamic_cast<file_storage::BudgetFileError const*>(&error)) {
        // The general sentence only repeats the place; the reader's reason says what is wrong.
        texts << readerReason(*budgetError) << error.secondText();
    } else if (dynamic_cast<file_storage::BinaryFileError const*>(&error)) {
        texts << error.firstText() << error.secondText();
    } else {
        // The storage errors give the reason first and the operation second; they read best
        // general first.
        texts << error.secondText() << error.firstText();
    }
    texts.removeAll(QString());
    io.err << ": error: " << printable(texts.join(QLatin1Char(' ')));
    if (auto const cause = causeOf(error); !cause.isEmpty()) {
        io.err << " (" << printable(cause) << ')';
    }
    io.err << '\n';
    io.err.flush();
}

int fail(Streams io, Options const& options, QString const& file, QString const& message) {
    if (options.json) {
        printJson(io, file, false, {{QStringLiteral("error"), errorObject(message)}});
    } else {
        eraseProgress();
        io.err << printable(file) << ": error: " << printable(message) << '\n';
        io.err.flush();
    }
    return 1;
}

int fail(Streams io, Options const& options, QString const& file,
         storage::StorageError const& error) {
    if (options.json) {
        printJson(io, file, false, {{QStringLiteral("error"), errorObject(error)}});
    } else {
        printError(io, file, error, std::nullopt);
    }
    return 1;
}

std::optional<file_storage::DocumentPlace> placeOf(Input const& input,
                                                   storage::StorageError const& error) {
    auto const* budgetError = dynamic_cast<file_storage::BudgetFileError const*>(&error);
    if (budgetError == nullptr) {
        return std::nullopt;
    }
    if (budgetError->line() != 0 || budgetError->column() != 0) {
        return file_storage::DocumentPlace{budgetError->line(), budgetError->column()};
    }
    auto const bytes = input.bytes();
    return bytes ? file_storage::placeOfRefusal(*bytes) : std::nullopt;
}

int fail(Streams io, Options const& options, Input const& input,
         storage::StorageError const& error) {
    auto const place = placeOf(input, error);
    if (!options.json) {
        printError(io, input.name(), error, place);
        return 1;
    }
    auto object = errorObject(error);
    if (place) {
        object.insert(QStringLiteral("line"), place->line);
        object.insert(QStringLiteral("column"), place->column);
    }
    printJson(io, input.name(), false, {{QStringLiteral("error"), object}});
    return 1;
}

std::optional<file_storage::BudgetFile> budgetFileAt(Streams io, Options const& options,
                                                     QString const& path, bool mustExist) {
    QFileInfo const info(path);
    // A link that leads nowhere (or round in a loop) is there; the library says what is wrong.
    if (mustExist && !info.exists() && !info.isSymLink()) {
        fail(io, options, path, QStringLiteral("no such file"));
        return std::nullopt;
    }
    if (info.exists() && !info.isFile()) {
        fail(io, options, path, QStringLiteral("is not a regular file"));
        return std::nullopt;
    }
    try {
        return file_storage::BudgetFile(info.absoluteFilePath(),
                                        QString(file_storage::BudgetFile::defaultBackUpExtension_));
    } catch (storage::StorageError const& error) {
        fail(io, options, path, error);
        return std::nullopt;
    }
}

std::optional<QString> refusedOutput(QString const& path, bool force) {
    QFileInfo const info(path);
    if (info.exists() && !info.isFile()) {
        return QStringLiteral("is not a regular file");
    }
    if (info.exists() && !force) {
        return QStringLiteral("exists; give --force to replace it");
    }
    return std::nullopt;
}

std::optional<QString> writeOutput(Streams io, QString const& path, QByteArray const& bytes,
                                   QString const& source, bool force) {
    if (path.isEmpty() || path == QLatin1String("-")) {
        // The bytes as they are, not through the text stream's decoding and encoding.
        io.out.flush();
        if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) !=
                static_cast<std::size_t>(bytes.size()) ||
            std::fflush(stdout) != 0) {
            return qt_error_string(errno);
        }
        return std::nullopt;
    }
    if (auto refused = refusedOutput(path, force)) {
        return refused;
    }
    try {
        file_storage::saveFile(path, bytes, source);
    } catch (storage::StorageError const& error) {
        return error.firstText();
    }
    return std::nullopt;
}

QString codeText(orvalis::currency::Iso4217Codes code) {
    return QString::fromStdString(orvalis::currency::toStdString(code));
}

QString moneyText(orvalis::currency::Money const& money) {
    auto const minor = QString::number(money.minor()).rightJustified(2, u'0');
    return QStringLiteral("%1.%2 %3").arg(money.major()).arg(minor, codeText(money.code()));
}

QString numberText(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

void Table::print(QTextStream& out, QString const& title) const {
    out << title << " (" << rows_.size() - 1 << ")\n";
    if (rows_.size() == 1) {
        out << "  none\n\n";
        return;
    }
    // The cells hold names from the file: escaped before the columns are measured.
    std::vector<QStringList> shownRows;
    std::vector<qsizetype> widths(rows_.front().size(), 0);
    for (auto const& row : rows_) {
        auto& shown = shownRows.emplace_back();
        for (qsizetype i = 0; i < row.size(); ++i) {
            shown << printable(row[i]);
            widths[i] = std::max(widths[i], shown.back().size());
        }
    }
    for (auto const& row : shownRows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i) {
            bool const right =
                std::find(rightAligned_.begin(), rightAligned_.end(), i) != rightAligned_.end();
            line += (i == 0 ? QString() : QStringLiteral(" ")) +
                    (right ? row[i].rightJustified(widths[i]) : row[i].leftJustified(widths[i]));
        }
        while (line.endsWith(QLatin1Char(' '))) {
            line.chop(1);
        }
        out << QStringLiteral("  ") << line << '\n';
    }
    out << '\n';
}

} // namespace zel::tool
