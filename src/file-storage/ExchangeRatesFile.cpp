#include "file-storage/ExchangeRatesFile.h"

#include "file-storage/Errors.h"
#include "file-storage/common/ErrorForms.h"
#include "file-storage/common/Log.h"
#include "file-storage/files/FileSync.h"
#include "money/Currency.h"

#include <QBuffer>
#include <QDataStream>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QObject>
#include <QStandardPaths>
#include <QTime>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
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
constexpr quint32 millisecondsPerDay = 86'400'000;
// The Julian day of 1970-01-01, from which the ticks count.
constexpr qint64 julianDayOfTheEpoch = 2'440'588;
// The days that the ticks count on either side of it.
constexpr qint64 daysOfTheTicks =
    std::numeric_limits<std::int64_t>::max() / (ticksPerMillisecond * millisecondsPerDay);

// Source code text to target code text to ratio, the form in which the table is stored.
using RatesTable = QMap<QString, QMap<QString, double>>;

QString invalidData() {
    return QObject::tr("Contains invalid data.");
}

// What a ratio must be: how many units of one currency a unit of another buys. The layout
// holds any double; no rate is zero, negative, infinite or not a number.
bool isRatio(double ratio) {
    return std::isfinite(ratio) && ratio > 0;
}

QString notARatio(QString const& source, QString const& target, double ratio) {
    return QObject::tr("The ratio from %1 to %2, %3, is not a finite positive number.")
        .arg(source, target, QString::number(ratio));
}

// Damage that the layout cannot tell (a value it holds, but no store writes), as the cause of
// the load's refusal.
[[noreturn]] void damaged(QString const& why) {
    throw std::runtime_error(why.toStdString());
}

QString codeText(orvalis::currency::Iso4217Codes const& code) {
    return QString::fromStdString(orvalis::currency::toStdString(code));
}

orvalis::currency::Iso4217Codes codeOf(QString const& text) {
    return orvalis::currency::toIso4217Code(text.toStdString());
}

// The table as the file holds it. Throws BinaryFileError, naming path, for a ratio that a load
// would refuse.
RatesTable ratesTable(conversion::ConversionMap const& rates, QString const& path) {
    RatesTable table;
    for (auto const& [source, ratios] : rates) {
        for (auto const& ratio : ratios) {
            auto const value = ratio.ratio().underlying();
            if (!isRatio(value)) {
                throw internal::ratesFileError(
                    path, notARatio(codeText(source), codeText(ratio.code()), value));
            }
            table[codeText(source)][codeText(ratio.code())] = value;
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
// that names no active code, and a ratio that is no rate, fail as soon as they are read.
// Failures of the layout are left in the stream's status, as QDataStream reports its own; a
// text that names no code and a ratio that is no rate throw.
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

// Reads the count that begins a list of entries of at least smallestEach bytes: 0, with the
// stream's status set, for one above the active codes or beyond what the stream still holds.
quint32 readCount(QDataStream& stream, qint64 smallestEach) {
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok) {
        return 0;
    }
    if (count > activeCodes()) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return 0;
    }
    if (count > stream.device()->bytesAvailable() / smallestEach) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return 0;
    }
    return count;
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

void readRatios(QDataStream& stream, QString const& source, QMap<QString, double>& ratios) {
    auto const count = readCount(stream, smallestRatio);
    for (quint32 i = 0; i < count; ++i) {
        QString target;
        double ratio = 0;
        readCode(stream, target);
        stream >> ratio;
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        if (!isRatio(ratio)) {
            damaged(notARatio(source, target, ratio));
        }
        ratios.insert(target, ratio);
    }
}

void readRatesTable(QDataStream& stream, RatesTable& table) {
    auto const count = readCount(stream, smallestRatios);
    for (quint32 i = 0; i < count; ++i) {
        QString source;
        QMap<QString, double> ratios;
        readCode(stream, source);
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        readRatios(stream, source, ratios);
        if (stream.status() != QDataStream::Ok) {
            return;
        }
        table.insert(source, ratios);
    }
}

// The last-fetched time in the stream form of a QDateTime at version 21. The form also holds
// time specs other than local time (UTC; an offset, followed by its seconds; a zone, followed by
// its name), and dates and times of day that QDate and QTime do not hold, which Qt's reading
// turns into another time without a word; the store writes local time only.
struct TimeStamp {
    qint64 julianDay = 0;
    quint32 millisecond = 0; // of the day
    quint8 timeSpec = 0;
};

QDataStream& operator>>(QDataStream& stream, TimeStamp& stamp) {
    return stream >> stamp.julianDay >> stamp.millisecond >> stamp.timeSpec;
}

char const* const outOfRange = "The last-fetched time is out of range.";

// The local time that stamp holds. Throws for one that a store cannot have written.
QDateTime lastFetchedOf(TimeStamp const& stamp) {
    if (stamp.timeSpec != quint8(Qt::LocalTime)) {
        damaged(QObject::tr("The last-fetched time has the time spec %1, where a store writes 0, "
                            "local time.")
                    .arg(uint{stamp.timeSpec}));
    }
    auto const date = QDate::fromJulianDay(stamp.julianDay);
    if (!date.isValid()) {
        damaged(QObject::tr("The last-fetched date, Julian day %1, is outside the range of dates.")
                    .arg(stamp.julianDay));
    }
    if (stamp.millisecond >= millisecondsPerDay) {
        damaged(QObject::tr("The last-fetched time of day, %1 milliseconds, is beyond the end of "
                            "a day.")
                    .arg(stamp.millisecond));
    }
    // Checked before a QDateTime is made of it, whose milliseconds since 1970 would overflow for
    // dates that QDate holds.
    if (qAbs(stamp.julianDay - julianDayOfTheEpoch) >= daysOfTheTicks) {
        throw std::overflow_error(outOfRange);
    }
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(stamp.millisecond)));
}

conversion::TimePoint timePointOf(QDateTime const& time) {
    std::int64_t ticks = 0;
    if (qMulOverflow(std::int64_t{time.toMSecsSinceEpoch()}, ticksPerMillisecond, &ticks)) {
        throw std::overflow_error(outOfRange);
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
        TimeStamp lastFetched;
        readRatesTable(stream, table);
        stream >> lastFetched;
        // A short or damaged file stops the reading part-way; what was read is not the file.
        if (stream.status() == QDataStream::Ok) {
            auto const time = lastFetchedOf(lastFetched);
            // The time stamp ends the file: what follows it is not read.
            if (file.size() > file.pos()) {
                damaged(QObject::tr("The last-fetched time ends at byte %1, but the file holds %2 "
                                    "bytes.")
                            .arg(file.pos())
                            .arg(file.size()));
            }
            rates.emplace(conversionMap(table, time));
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
    RatesTable const table = ratesTable(rates, filePathName());
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
