#include "file-storage/ExchangeRatesFile.h"

#include "file-storage/Errors.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <vector>

using zel::conversion::ConversionMap;
using zel::conversion::ConversionRatio;
using zel::conversion::Ticks;
using zel::conversion::TimePoint;
using zel::file_storage::BinaryFileError;
using zel::file_storage::ExchangeRatesFile;
using Code = orvalis::currency::Iso4217Codes;

// Failures print texts, not bytes.
static void PrintTo(QString const& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace {

// The file's bytes, written out by hand: big-endian integers, UTF-16 code units, IEEE doubles.
QByteArray bigEndian(std::uint64_t value, int size) {
    QByteArray bytes;
    for (int i = size - 1; i >= 0; --i) {
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    return bytes;
}
QByteArray u32(quint32 value) {
    return bigEndian(value, 4);
}
QByteArray f64(double value) {
    return bigEndian(std::bit_cast<std::uint64_t>(value), 8);
}
QByteArray text(QString const& value) {
    QByteArray bytes = u32(static_cast<quint32>(value.size() * 2));
    for (QChar const c : value) {
        bytes += bigEndian(c.unicode(), 2);
    }
    return bytes;
}
QByteArray header(quint8 version = 1) {
    return QByteArray("ZELE") + static_cast<char>(version);
}

// Source code, then target code and ratio, in the order in which they are to be written.
using Table = std::vector<std::pair<char const*, std::vector<std::pair<char const*, double>>>>;

QByteArray table(Table const& sources) {
    QByteArray bytes = u32(static_cast<quint32>(sources.size()));
    for (auto const& [source, targets] : sources) {
        bytes += text(QString::fromLatin1(source)) + u32(static_cast<quint32>(targets.size()));
        for (auto const& [target, ratio] : targets) {
            bytes += text(QString::fromLatin1(target)) + f64(ratio);
        }
    }
    return bytes;
}

// A QDateTime: Julian day (64 bits), millisecond of the day (32), Qt::TimeSpec (8; local is 0).
QByteArray timeStamp(qint64 julianDay, quint32 millisecondOfDay) {
    return bigEndian(static_cast<std::uint64_t>(julianDay), 8) + u32(millisecondOfDay) +
           QByteArray(1, '\0');
}
// The local date and time of an instant, as store keeps it.
QByteArray localTimeStamp(qint64 msecsSinceEpoch) {
    QDateTime const local = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    return timeStamp(local.date().toJulianDay(),
                     static_cast<quint32>(local.time().msecsSinceStartOfDay()));
}
QByteArray utcTimeStamp(qint64 msecsSinceEpoch) {
    qint64 const msecsPerDay = 86'400'000;
    return timeStamp(2'440'588 + msecsSinceEpoch / msecsPerDay,
                     static_cast<quint32>(msecsSinceEpoch % msecsPerDay));
}

// 2024-01-15 12:34:56.789 UTC, away from any daylight-saving change.
qint64 const someMsecs = 1'705'322'096'789;
TimePoint at(std::int64_t ticks) {
    return TimePoint(Ticks(ticks));
}

// The same codes, with ratios equal bit for bit.
void expectSameRatios(ConversionMap::Ratios const& actual, ConversionMap::Ratios const& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (auto const& [source, ratios] : expected) {
        ASSERT_EQ(actual.count(source), 1U);
        auto const& actualRatios = actual.at(source);
        ASSERT_EQ(actualRatios.size(), ratios.size());
        for (auto a = actualRatios.begin(), e = ratios.begin(); e != ratios.end(); ++a, ++e) {
            EXPECT_EQ(a->code(), e->code());
            EXPECT_EQ(std::bit_cast<std::uint64_t>(a->ratio().underlying()),
                      std::bit_cast<std::uint64_t>(e->ratio().underlying()));
        }
    }
}

QString filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/exchange-rates.dat");
}

// ctest runs tests side by side and the file's name is fixed, so every test process keeps it
// in a cache folder of its own (still in Qt's test mode) and removes that folder at the end.
class OwnCacheFolder : public testing::Environment {
public:
    void SetUp() override {
        QCoreApplication::setOrganizationName(
            QStringLiteral("zel-exchange-rates-%1").arg(QCoreApplication::applicationPid()));
    }
    void TearDown() override {
        QString const folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir(folder).removeRecursively();
        QDir().rmdir(QFileInfo(folder).path());
    }
};
testing::Environment* const ownCacheFolder = testing::AddGlobalTestEnvironment(new OwnCacheFolder);

class ExchangeRatesFileTest : public testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }

    static void clear() {
        QFile::remove(filePath());
        QDir(filePath()).removeRecursively();
    }
    static void write(QByteArray const& bytes) {
        QDir().mkpath(QFileInfo(filePath()).path());
        QFile out(filePath());
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(bytes), bytes.size());
    }
    static QByteArray stored() {
        QFile in(filePath());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    // The second text of the BinaryFileError that the action throws, after checking the first.
    static QString failure(auto&& action) {
        try {
            action();
        } catch (BinaryFileError const& error) {
            EXPECT_EQ(error.firstText(),
                      QStringLiteral("The binary file, %1, is not valid.").arg(filePath()));
            return error.secondText();
        }
        ADD_FAILURE() << "no BinaryFileError thrown";
        return QString();
    }

    ExchangeRatesFile const file;
};

QString const invalidData = QStringLiteral("Contains invalid data.");

struct StoredCase {
    char const* name;
    ConversionMap::Ratios ratios;
    Table table;
};

void PrintTo(StoredCase const& c, std::ostream* out) {
    *out << c.name;
}

class StoredBytes : public ExchangeRatesFileTest, public testing::WithParamInterface<StoredCase> {};

TEST_P(StoredBytes, AreTheHeaderTheAscendingTableAndTheLocalTime) {
    file.store(ConversionMap(at(someMsecs * 10'000 + 9'999), GetParam().ratios));
    EXPECT_EQ(stored().toHex(' '),
              (header() + table(GetParam().table) + localTimeStamp(someMsecs)).toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredBytes,
    testing::Values(
        StoredCase{"NoRatios", {}, {}}, StoredCase{"AnEmptySetAddsNoEntry", {{Code::EUR, {}}}, {}},
        StoredCase{
            "AscendingAtBothLevels",
            {{Code::EUR,
              {ConversionRatio(Code::USD, orvalis::FloatingPoint(1.1)),
               ConversionRatio(Code::CHF, orvalis::FloatingPoint(0.95)),
               ConversionRatio(Code::GBP, orvalis::FloatingPoint(0.85))}},
             {Code::AUD, {ConversionRatio(Code::USD, orvalis::FloatingPoint(0.66))}}},
            {{"AUD", {{"USD", 0.66}}}, {"EUR", {{"CHF", 0.95}, {"GBP", 0.85}, {"USD", 1.1}}}}}),
    [](auto const& p) { return p.param.name; });

TEST_F(ExchangeRatesFileTest, LoadGivesBackTheRatiosBitForBitAndTheMillisecond) {
    std::vector<double> const ratios{1.0 / 3.0, 5e-324, -0.0, 1.7976931348623157e308, 0.1};
    std::vector<Code> const targets{Code::AUD, Code::CHF, Code::GBP, Code::JPY, Code::USD};
    ConversionMap::Ratios stored;
    for (std::size_t i = 0; i < ratios.size(); ++i) {
        stored[Code::EUR].insert(ConversionRatio(targets[i], orvalis::FloatingPoint(ratios[i])));
    }
    stored[Code::NZD].insert(ConversionRatio(Code::EUR, orvalis::FloatingPoint(0.55)));

    // Ticks below the millisecond are dropped, toward zero also before 1970.
    std::vector<std::pair<std::int64_t, std::int64_t>> const times{
        {someMsecs * 10'000 + 1'234, someMsecs * 10'000}, {-15'001, -10'000}, {0, 0}};
    for (auto const& [ticks, expected] : times) {
        SCOPED_TRACE(ticks);
        file.store(ConversionMap(at(ticks), stored));
        auto const loaded = file.load();
        EXPECT_EQ(loaded.lastFetched(), at(expected));
        expectSameRatios(loaded.ratios(), stored);
    }
}

TEST_F(ExchangeRatesFileTest, LoadReadsKeysInAnyOrderAndTheLastOfEqualSourcesWins) {
    write(header() +
          table({{"USD", {{"EUR", 0.9}}},
                 {"EUR", {{"USD", 1.1}}},
                 {"EUR", {{"JPY", 160.0}, {"GBP", 0.8}}}}) +
          localTimeStamp(someMsecs));
    auto const loaded = file.load();
    ASSERT_EQ(loaded.ratios().size(), 2U);
    auto const& euro = loaded.ratios().at(Code::EUR);
    ASSERT_EQ(euro.size(), 2U);
    EXPECT_EQ(euro.begin()->code(), Code::GBP);
    EXPECT_EQ(euro.rbegin()->code(), Code::JPY);
    EXPECT_EQ(loaded.ratios().at(Code::USD).begin()->ratio().underlying(), 0.9);
    EXPECT_EQ(loaded.lastFetched(), at(someMsecs * 10'000));
}

TEST_F(ExchangeRatesFileTest, LoadLogsEveryRatioRead) {
    write(header() + table({{"EUR", {{"USD", 1.5}, {"GBP", 0.25}}}}) + localTimeStamp(someMsecs));
    zel::testing::LogCapture const log;
    file.load();
    QString const category = QStringLiteral("default");
    std::vector<zel::testing::LogRecord> const expected{
        {QtDebugMsg, category, QStringLiteral("From: \"EUR\" To: \"GBP\" Ratio: 0.25")},
        {QtDebugMsg, category, QStringLiteral("From: \"EUR\" To: \"USD\" Ratio: 1.5")}};
    EXPECT_EQ(log.records(), expected);
}

struct RejectedCase {
    char const* name;
    QByteArray bytes;
    QString message;
};

void PrintTo(RejectedCase const& c, std::ostream* out) {
    *out << c.name;
}

class RejectedFiles : public ExchangeRatesFileTest,
                      public testing::WithParamInterface<RejectedCase> {};

TEST_P(RejectedFiles, FailWithTheirMessage) {
    write(GetParam().bytes);
    EXPECT_EQ(failure([&] { file.load(); }), GetParam().message);
}

QByteArray const noRatios = table({});
QString const notOurs = QStringLiteral("Is not a valid ZEL exchange-rate file.");

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectedFiles,
    testing::Values(
        RejectedCase{"Empty", {}, notOurs},
        RejectedCase{"OtherMagic", "ZELF\x01" + noRatios + utcTimeStamp(0), notOurs},
        RejectedCase{
            "Version2", header(2) + noRatios + utcTimeStamp(0),
            QStringLiteral("Contains a version, 2, greater than the latest supported, 1.")},
        RejectedCase{"UnknownCurrency",
                     header() + table({{"ABC", {{"USD", 1.0}}}}) + utcTimeStamp(0), invalidData},
        RejectedCase{"NullText",
                     header() + u32(1) + u32(0xFFFFFFFF) + u32(1) + text(QStringLiteral("USD")) +
                         f64(1.0) + utcTimeStamp(0),
                     invalidData},
        RejectedCase{"OddTextLength", header() + u32(1) + u32(5) + QByteArray(16, 'A'),
                     invalidData},
        RejectedCase{"NoTimeStamp", header() + noRatios, invalidData},
        RejectedCase{"TimeStampBeyondTheTicks", header() + noRatios + timeStamp(1'000'000'000, 0),
                     invalidData},
        // Counts and lengths that claim far more than the file holds.
        RejectedCase{"HugeSourceCount", header() + u32(0xFFFFFFFF) + utcTimeStamp(0), invalidData},
        RejectedCase{"HugeTargetCount",
                     header() + u32(1) + text(QStringLiteral("EUR")) + u32(0xFFFFFFFF) +
                         utcTimeStamp(0),
                     invalidData},
        RejectedCase{"HugeTextLength", header() + u32(1) + u32(0xFFFFFFFE) + utcTimeStamp(0),
                     invalidData}),
    [](auto const& p) { return p.param.name; });

TEST_F(ExchangeRatesFileTest, InvalidDataKeepsTheDomainFailureAsItsCause) {
    write(header() + table({{"EUR", {{"XYZ", 1.0}}}}) + utcTimeStamp(0));
    try {
        file.load();
        ADD_FAILURE() << "no error thrown";
    } catch (BinaryFileError const& error) {
        EXPECT_NE(error.causeDescription().find("XYZ"), std::string::npos)
            << error.causeDescription();
    }
}

QByteArray const goodFile =
    header() + table({{"AUD", {{"USD", 0.66}}}, {"EUR", {{"GBP", 0.85}, {"USD", 1.1}}}}) +
    utcTimeStamp(someMsecs);

TEST_F(ExchangeRatesFileTest, EveryTruncatedFileFails) {
    for (qsizetype size = 0; size < goodFile.size(); ++size) {
        SCOPED_TRACE(size);
        write(goodFile.left(size));
        EXPECT_THROW(file.load(), BinaryFileError);
    }
    write(goodFile);
    EXPECT_EQ(file.load().ratios().size(), 2U);
}

// With any one byte of the table or time stamp damaged, load fails exactly when QDataStream's
// own reading of the table and time stamp fails, and otherwise agrees with that reading.
TEST_F(ExchangeRatesFileTest, DamagedFilesLoadAsQDataStreamReadsThem) {
    for (qsizetype offset = header().size(); offset < goodFile.size(); ++offset) {
        for (char const damage : {'\x00', '\x01', '\x7F', '\xFF'}) {
            QByteArray bytes = goodFile;
            bytes[offset] = damage;
            SCOPED_TRACE(bytes.toHex(' ').toStdString());

            QDataStream qtReading(bytes.mid(header().size()));
            qtReading.setVersion(21);
            QMap<QString, QMap<QString, double>> qtTable;
            QDateTime qtTime;
            qtReading >> qtTable >> qtTime;

            write(bytes);
            if (qtReading.status() != QDataStream::Ok) {
                EXPECT_EQ(failure([&] { file.load(); }), invalidData);
                continue;
            }
            ConversionMap::Ratios expected;
            std::int64_t ticks = 0;
            try {
                for (auto s = qtTable.cbegin(); s != qtTable.cend(); ++s) {
                    for (auto t = s->cbegin(); t != s->cend(); ++t) {
                        expected[orvalis::currency::toIso4217Code(s.key().toStdString())].insert(
                            ConversionRatio(orvalis::currency::toIso4217Code(t.key().toStdString()),
                                            orvalis::FloatingPoint(t.value())));
                    }
                }
                if (qMulOverflow(std::int64_t{qtTime.toMSecsSinceEpoch()}, std::int64_t{10'000},
                                 &ticks)) {
                    throw std::overflow_error("beyond the ticks");
                }
            } catch (std::exception const&) {
                EXPECT_EQ(failure([&] { file.load(); }), invalidData);
                continue;
            }
            auto const loaded = file.load();
            EXPECT_EQ(loaded.lastFetched(), at(ticks));
            expectSameRatios(loaded.ratios(), expected);
        }
    }
}

TEST_F(ExchangeRatesFileTest, ExistsAndRemoveFollowTheFile) {
    EXPECT_FALSE(file.exists());
    file.remove(); // nothing to remove: nothing happens
    file.store(ConversionMap(at(0), {}));
    EXPECT_TRUE(file.exists());
    EXPECT_TRUE(QFileInfo(filePath()).isFile());
    file.remove();
    EXPECT_FALSE(file.exists());
    EXPECT_FALSE(QFileInfo::exists(filePath()));
}

TEST_F(ExchangeRatesFileTest, LoadOfAMissingFileGivesTheFilesError) {
    QFile missing(filePath());
    ASSERT_FALSE(missing.open(QIODevice::ReadOnly));
    EXPECT_EQ(failure([&] { file.load(); }), missing.errorString());
}

TEST_F(ExchangeRatesFileTest, ADirectoryAtThePathIsNoFileAndCannotBeStoredTo) {
    ASSERT_TRUE(QDir().mkpath(filePath()));
    EXPECT_FALSE(file.exists());
    file.remove();
    EXPECT_TRUE(QFileInfo(filePath()).isDir());

    QFile directory(filePath());
    ASSERT_FALSE(directory.open(QIODevice::WriteOnly));
    EXPECT_EQ(failure([&] { file.store(ConversionMap(at(0), {})); }), directory.errorString());
}

TEST_F(ExchangeRatesFileTest, AFileInPlaceOfTheCacheFolderFailsTheStore) {
    QString const folder = QFileInfo(filePath()).path();
    QDir(folder).removeRecursively();
    QDir().mkpath(QFileInfo(folder).path());
    QFile blocker(folder);
    EXPECT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(failure([&] { file.store(ConversionMap(at(0), {})); }),
              QStringLiteral("Failed to create parent directories."));
    QFile::remove(folder);
}

// Writing buffers the bytes; only flushing them meets the full disk.
TEST_F(ExchangeRatesFileTest, AFullDiskFailsTheStore) {
    QDir().mkpath(QFileInfo(filePath()).path());
    if (!QFileInfo::exists(QStringLiteral("/dev/full")) ||
        !QFile::link(QStringLiteral("/dev/full"), filePath())) {
        GTEST_SKIP() << "no /dev/full to link to";
    }
    EXPECT_FALSE(failure([&] { file.store(ConversionMap(at(0), {})); }).isEmpty());
}

TEST_F(ExchangeRatesFileTest, TheLocationIsKeptForTheWholeProcess) {
    file.store(ConversionMap(at(0), {}));
    QString const application = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("another-application"));
    bool const stillThere = file.exists();
    QCoreApplication::setApplicationName(application);
    EXPECT_TRUE(stillThere);
}

// Each step runs in a process of its own under the given TZ.
QString runHelper(QString const& timeZone, QStringList const& arguments) {
    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), timeZone);
    helper.setProcessEnvironment(environment);
    helper.start(
        QStringLiteral(ZEL_EXCHANGE_RATES_FILE_HELPER),
        QStringList{QCoreApplication::organizationName(), QCoreApplication::applicationName()} +
            arguments);
    EXPECT_TRUE(helper.waitForFinished(60'000));
    EXPECT_EQ(helper.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(helper.exitCode(), 0) << helper.readAllStandardError().toStdString();
    return QString::fromLatin1(helper.readAllStandardOutput().trimmed());
}

// The time stamp is the local wall-clock time of the process that stores it. Read under a
// zone east of the writer's, it names an earlier instant; under a zone west of it, a later one.
TEST_F(ExchangeRatesFileTest, TheTimeStampIsReadAsLocalTimeOfTheReader) {
    qint64 const msecsPerHour = 3'600'000;
    runHelper(QStringLiteral("UTC0"),
              {QStringLiteral("store"), QString::number(someMsecs * 10'000 + 4'321)});
    EXPECT_EQ(stored(), header() + noRatios + utcTimeStamp(someMsecs));

    std::vector<std::pair<QString, qint64>> const readers{
        {QStringLiteral("UTC0"), someMsecs},
        {QStringLiteral("EAST-5"), someMsecs - 5 * msecsPerHour},
        {QStringLiteral("WEST+3"), someMsecs + 3 * msecsPerHour}};
    for (auto const& [zone, msecs] : readers) {
        EXPECT_EQ(runHelper(zone, {QStringLiteral("load")}), QString::number(msecs * 10'000))
            << zone.toStdString();
    }
}

} // namespace
