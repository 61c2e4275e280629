#include "file-storage/ExchangeRatesFile.h"

#include "file-storage/Errors.h"
#include "file-storage/internal/ErrorForms.h"
#include "file-storage/internal/FileSync.h"
#include "file-storage/internal/Log.h"
#include "money/Currency.h"

#include <QBuffer>
#include <QDataStream>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QObject>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

namespace zel::file_storage {

// The file's layout. Frozen: every exchange-rates file already on disk relies on these, so
// none of them may change without a new format version and a way to read the old one.
quint32 const ExchangeRatesFile::magicFileMarker_{0x5A454C45}; // "ZELE"
quint8 const ExchangeRatesFile::latestVersion_{1};

namespace {

// Also frozen, with the two constants above.
QLatin1String const ratesFileName("exchange-rates.dat");
// The data-stream version of everything after the version byte: Qt 6.6's, which Qt 6.4 does not
// name yet. At this version a map count is 32 bits and a QDateTime is a 64-bit Julian day, a
// 32-bit millisecond of the day and an 8-bit Qt::TimeSpec.
int const streamVersion = 21;
// The smallest a stored text can be: its 32-bit length alone (empty, or 0xFFFFFFFF for null).
qint64 const smallestText = 4;
// The smallest entries of the outer and the inner map.
qint64 const smallestRatios = smallestText + 4;
qint64 const smallestRatio = smallestText + 8;

constexpr std::int64_t ticksPerMillisecond = 10'000;

// Source code text to target code text to ratio, the form in which the table is stored.
using RatesTable = QMap<QString, QMap<QString, double>>;

QString invalidData() {
    return QObject::tr("Contains invalid data.");
}

QString codeText(orvalis::currency::Iso4217Codes const& code) {
    return QString::fromStdString(orvalis::currency::toStdString(code));
}

orvalis::currency::Iso4217Codes codeOf(QString const& text) {
    return orvalis::currency::toIso4217Code(text.toStdString());
}

RatesTable ratesTable(conversion::ConversionMap const& rates) {
    RatesTable table;
    for (auto const& [source, ratios] : rates) {
        for (auto const& ratio : ratios) {
            table[codeText(source)][codeText(ratio.code())] = ratio.ratio().underlying();
        }
    }
    return table;
}

// Every text of the table is a currency code, and every count a number of currencies, so the
// table holds no more than the active codes allow: at most one entry for each code at both
// levels (the store writes each once), and texts no longer than a code. The table is read with
// QDataStream's own reading of counts, texts and doubles, so it accepts what QDataStream's
// reading of a RatesTable accepts within those bounds (keys in any order, the last of equal
// keys winning). A count or a text length beyond them, or beyond what the rest of the file can
// hold, fails at once, before anything is allocated for it or a loop runs over it; a text
// that names no active code fails as soon as it is read. Failures of the layout are left in
// the stream's status, as QDataStream reports its own; a text that names no code throws.
qsizetype activeCodes() {
    return qsizetype(orvalis::currency::allIso4217Codes().size());
}

// The bytes of the longest code's text.
quint32 longestCodeBytes() {
    static quint32 const longest = [] {
        std::size_t letters = 0;
        for (auto const code : orvalis::currency::allIso4217Codes()) {
            letters = std::max(letters, orvalis::currency::toStdString(code).size());
        }
        return quint32(letters * 2);
    }();
    return longest;
}

bool fits(QDataStream& stream, quint32 count, qint64 smallestEach) {
    if (count > activeCodes()) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    if (count > stream.device()->bytesAvailable() / smallestEach) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    return true;
}

// Reads the text of a code, and throws for one that names no active code.
void readCode(QDataStream& stream, QString& text) {
    quint32 const nullText = 0xFFFFFFFF;
    QByteArray const length = stream.device()->peek(4);
    if (length.size() == 4) {
        quint32 const bytes = qFromBigEndian<quint32>(length.constData());
        if (bytes != nullText && bytes > longestCodeBytes()) {
            stream.setStatus(QDataStream::ReadCorruptData);
            return;
        }
    }
    stream >> text;
    if (stream.status() == QDataStream::Ok) {
        (void)codeOf(text);
    }
}

void readRatios(QDataStream& stream, QMap<QString, double>& ratios) {
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok || !fits(stream, count, smallestRatio)) {
        return;
    }
    for (quint32 i = 0; i < count; ++i) {
        QString target;
        double ratio = 0;
        readCode(stream, target);
        stream >> ratio;
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        ratios.insert(target, ratio);
    }
}

void readRatesTable(QDataStream& stream, RatesTable& table) {
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok || !fits(stream, count, smallestRatios)) {
        return;
    }
    for (quint32 i = 0; i < count; ++i) {
        QString source;
        QMap<QString, double> ratios;
        readCode(stream, source);
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        readRatios(stream, ratios);
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        table.insert(source, ratios);
    }
}

conversion::TimePoint timePointOf(QDateTime const& time) {
    std::int64_t ticks = 0;
    if (qMulOverflow(std::int64_t{time.toMSecsSinceEpoch()}, ticksPerMillisecond, &ticks)) {
        throw std::overflow_error("The last-fetched time is out of range.");
    }
    return conversion::TimePoint(conversion::Ticks(ticks));
}

conversion::ConversionMap conversionMap(RatesTable const& table, QDateTime const& lastFetched) {
    conversion::ConversionMap::Ratios ratios;
    for (auto source = table.cbegin(); source != table.cend(); ++source) {
        auto const sourceCode = codeOf(source.key());
        for (auto target = source->cbegin(); target != source->cend(); ++target) {
            auto const targetCode = codeOf(target.key());
            ZEL_LOG_DEBUG() << "From:" << source.key() << "To:" << target.key()
                            << "Ratio:" << target.value();
            // An equal ratio already in the set stays: the first one read wins.
            ratios[sourceCode].insert(
                conversion::ConversionRatio(targetCode, orvalis::FloatingPoint(target.value())));
        }
    }
    return conversion::ConversionMap(timePointOf(lastFetched), std::move(ratios));
}

} // namespace

ExchangeRatesFile::ExchangeRatesFile() = default;
ExchangeRatesFile::ExchangeRatesFile(QString path) : path_(std::move(path)) {}
ExchangeRatesFile::ExchangeRatesFile(ExchangeRatesFile const&) = default;
ExchangeRatesFile::ExchangeRatesFile(ExchangeRatesFile&&) noexcept = default;
ExchangeRatesFile& ExchangeRatesFile::operator=(ExchangeRatesFile const&) = default;
ExchangeRatesFile& ExchangeRatesFile::operator=(ExchangeRatesFile&&) noexcept = default;
ExchangeRatesFile::~ExchangeRatesFile() = default;

bool ExchangeRatesFile::exists() const {
    auto kind = internal::FileKind::absent;
    return internal::kindOf(filePathName(), kind).ok() && kind == internal::FileKind::regular;
}

void ExchangeRatesFile::remove() const {
    if (exists()) {
        (void)internal::removeFile(filePathName());
    }
}

conversion::ConversionMap ExchangeRatesFile::load() const {
    QFile file(filePathName());
    if (auto const failure = internal::openForReading(file, QIODevice::ReadOnly); !failure.ok()) {
        throw internal::ratesFileError(file.fileName(), failure.why());
    }
    QDataStream stream(&file);
    quint32 magic = 0;
    quint8 version = 0;
    stream >> magic >> version;
    if (magic != magicFileMarker_) {
        throw internal::ratesFileError(
            file.fileName(),
            QObject::tr("Is not a valid %1 exchange-rate file.").arg(QLatin1String("ZEL")));
    }
    if (version != latestVersion_) {
        throw internal::ratesFileError(
            file.fileName(),
            QObject::tr("Contains a version, %1, greater than the latest supported, %2.")
                .arg(uint{version})
                .arg(uint{latestVersion_}));
    }

    std::optional<conversion::ConversionMap> rates;
    try {
        stream.setVersion(streamVersion);
        RatesTable table;
        QDateTime lastFetched;
        readRatesTable(stream, table);
        stream >> lastFetched;
        // A short or damaged file stops the reading part-way; what was read is not the file.
        if (stream.status() == QDataStream::Ok) {
            rates.emplace(conversionMap(table, lastFetched));
        }
    } catch (std::exception const& error) {
        throw BinaryFileError(file.fileName(), invalidData(), error);
    }
    if (!rates) {
        throw internal::ratesFileError(file.fileName(), invalidData());
    }
    return std::move(*rates);
}

void ExchangeRatesFile::store(conversion::ConversionMap const& rates) const {
    // Built before the file is touched, so that a map that cannot be stored leaves the old file.
    RatesTable const table = ratesTable(rates);
    QDateTime const lastFetched = QDateTime::fromMSecsSinceEpoch(
        rates.lastFetched().time_since_epoch().count() / ticksPerMillisecond);

    // Made in memory first, so that the file on disk is replaced in one step: a reader, or the
    // next start after a crash, finds the previous file or the new one, never a part of one.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream stream(&buffer);
    stream << magicFileMarker_ << latestVersion_;
    stream.setVersion(streamVersion);
    stream << table << lastFetched;
    if (stream.status() != QDataStream::Ok) {
        throw internal::ratesFileError(filePathName(), buffer.errorString());
    }

    if (!exists() && !internal::makeDirectories(filePath()).ok()) {
        throw internal::ratesFileError(filePathName(),
                                       QObject::tr("Failed to create parent directories."));
    }
    if (auto const failure = internal::replaceFile(filePathName(), bytes); !failure.ok()) {
        throw internal::ratesFileError(filePathName(), failure.why());
    }
}

QString ExchangeRatesFile::filePath() const {
    return QFileInfo(filePathName()).absolutePath();
}

QString const& ExchangeRatesFile::filePathName() const {
    if (!path_.isEmpty()) {
        return path_;
    }
    // Initialised once, on first use; C++ makes that first use thread-safe.
    static QString const pathName =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QLatin1Char('/') +
        ratesFileName;
    return pathName;
}

} // namespace zel::file_storage
