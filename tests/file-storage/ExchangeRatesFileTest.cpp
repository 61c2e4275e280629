// The exchange-rates file: files that load and files that are refused (bytes and expectations
// kept as data in tests/data/exchange-rates), the store's replacing of the file, and the time
// stamp read in another time zone.
#include "file-storage/ExchangeRatesFile.h"

#include "file-storage/Errors.h"
#include "support/FileSizeLimit.h"
#include "support/Manifest.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <bit>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <set>
#include <sstream>
#include <string>

using zel::conversion::ConversionMap;
using zel::conversion::ConversionRatio;
using zel::conversion::Ticks;
using zel::conversion::TimePoint;
using zel::file_storage::BinaryFileError;
using zel::file_storage::ExchangeRatesFile;
using zel::testing::dataFile;
using zel::testing::readManifest;
using zel::testing::Record;
using zel::testing::recordName;

namespace {

// The file's place comes from the cache location, which Qt's test mode keeps under the home
// folder: a home of this process's own keeps parallel test processes apart. Windows takes the
// cache location from the user's profile, whatever HOME says: there an application name of this
// process's own does it, and its folder goes with the process.
class OwnHome : public testing::Environment {
    void SetUp() override {
        qputenv("HOME", home_.path().toLocal8Bit());
        QCoreApplication::setApplicationName(
            QStringLiteral("zel-exchange-rates-tests-%1").arg(QCoreApplication::applicationPid()));
    }
    void TearDown() override {
        QString const cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        QDir(cache).removeRecursively();
        QDir().rmdir(QFileInfo(cache).absolutePath()); // the application's own, once empty
    }
    QTemporaryDir const home_;
};
testing::Environment* const ownHome = testing::AddGlobalTestEnvironment(new OwnHome);

QString folder() {
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}
QString path() {
    return folder() + QStringLiteral("/exchange-rates.dat");
}
QByteArray data(std::string const& name) {
    return dataFile(QStringLiteral("exchange-rates/") + QString::fromStdString(name));
}

class ExchangeRatesFileTest : public testing::Test {
protected:
    void SetUp() override { QDir(folder()).removeRecursively(); }

    static void write(QByteArray const& bytes) {
        QDir().mkpath(folder());
        QFile out(path());
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(bytes), bytes.size());
    }
    static QByteArray stored() {
        QFile in(path());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("(no file)");
    }
    static std::string hex(QByteArray const& bytes) { return bytes.toHex(' ').toStdString(); }
    static QStringList entries() {
        return QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                        QDir::NoDotAndDotDot);
    }
    // The BinaryFileError of a load or store, after checking that its first text names the file.
    static BinaryFileError failure(auto&& action) {
        try {
            action();
        } catch (BinaryFileError const& error) {
            EXPECT_EQ(error.firstText(),
                      QStringLiteral("The binary file, %1, is not valid.").arg(path()));
            return error;
        }
        ADD_FAILURE() << "no BinaryFileError";
        return BinaryFileError(QString(), QString(), std::exception());
    }

    ExchangeRatesFile const file;
};

orvalis::currency::Iso4217Codes code(std::string const& text) {
    return orvalis::currency::toIso4217Code(text);
}

// The record's ratios ("SOURCE TARGET RATIO") at the given time.
ConversionMap tableOf(Record const& record, std::int64_t ticks) {
    ConversionMap::Ratios ratios;
    for (auto const& line : record.values("ratio")) {
        std::istringstream words(line);
        std::string source, target, ratio;
        words >> source >> target >> ratio;
        ratios[code(source)].insert(
            ConversionRatio(code(target), orvalis::FloatingPoint(std::strtod(ratio.c_str(), {}))));
    }
    return ConversionMap(TimePoint(Ticks(ticks)), std::move(ratios));
}

// A table as lines "SOURCE TARGET BITS": equal sets mean ratios equal bit for bit.
std::set<std::string> lines(ConversionMap const& map) {
    std::set<std::string> result;
    for (auto const& [source, ratios] : map) {
        for (auto const& ratio : ratios) {
            auto const bits = std::bit_cast<quint64>(ratio.ratio().underlying());
            result.insert(orvalis::currency::toStdString(source) + ' ' +
                          orvalis::currency::toStdString(ratio.code()) + ' ' +
                          QByteArray::number(bits, 16).toStdString());
        }
    }
    return result;
}

class AcceptedFiles : public ExchangeRatesFileTest, public testing::WithParamInterface<Record> {};

TEST_P(AcceptedFiles, LoadToTheirTableAndStoreAsTheExpectedBytes) {
    auto const& record = GetParam();
    qint64 const msecs =
        QDateTime::fromString(record.text("fetched"), Qt::ISODateWithMs).toMSecsSinceEpoch();
    QByteArray const expected = data(record.value("stores"));
    // Ticks below the millisecond are dropped, toward zero before 1970 too.
    file.store(tableOf(record, msecs * 10'000 + (msecs < 0 ? -9'999 : 9'999)));
    EXPECT_EQ(hex(stored()), hex(expected));

    write(data(record.value("file")));
    auto const loaded = file.load();
    EXPECT_EQ(lines(loaded), lines(tableOf(record, 0)));
    EXPECT_EQ(loaded.lastFetched(), TimePoint(Ticks(msecs * 10'000)));
    file.store(loaded);
    EXPECT_EQ(hex(stored()), hex(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Data, AcceptedFiles,
    testing::ValuesIn(readManifest(QStringLiteral("exchange-rates/accepted.manifest"))),
    recordName);

// Caps the address space a little above what the process holds, so that reading a count or a
// length that was believed would fail to allocate, and show that as its cause. Sanitizer builds
// reserve more address space than any cap allows, and run without one; so does Windows, which has
// no setrlimit.
struct AddressSpaceCap {
    AddressSpaceCap() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (getrlimit(RLIMIT_AS, &saved) == 0 && statm.open(QIODevice::ReadOnly)) {
            rlim_t const pages = statm.readAll().split(' ').front().toULongLong();
            rlimit const capped{pages * sysconf(_SC_PAGESIZE) + (rlim_t{1} << 30), saved.rlim_max};
            isCapped = setrlimit(RLIMIT_AS, &capped) == 0;
        }
#endif
    }
#if !defined(_WIN32)
    ~AddressSpaceCap() {
        if (isCapped) {
            setrlimit(RLIMIT_AS, &saved);
        }
    }
    rlimit saved{};
    bool isCapped = false;
#endif
};

class RefusedFiles : public ExchangeRatesFileTest, public testing::WithParamInterface<Record> {};

TEST_P(RefusedFiles, FailWithTheirMessageAndCause) {
    write(data(GetParam().value("file")));
    if (GetParam().has("size")) {
        ASSERT_TRUE(QFile::resize(path(), std::stoll(GetParam().value("size"))));
    }
    AddressSpaceCap const cap;
    auto const error = failure([&] { file.load(); });
    EXPECT_EQ(error.secondText(), GetParam().text("second"));
    EXPECT_EQ(error.causeDescription(),
              GetParam().has("cause") ? GetParam().value("cause") : std::exception().what());
}

INSTANTIATE_TEST_SUITE_P(
    Data, RefusedFiles,
    testing::ValuesIn(readManifest(QStringLiteral("exchange-rates/refused.manifest"))), recordName);

TEST_F(ExchangeRatesFileTest, EveryStoredFileCutShortFails) {
    for (auto const& record : readManifest(QStringLiteral("exchange-rates/accepted.manifest"))) {
        if (record.value("file") != record.value("stores")) {
            continue;
        }
        QByteArray const whole = data(record.value("file"));
        for (qsizetype size = 0; size < whole.size(); ++size) {
            write(whole.left(size));
            EXPECT_THROW(file.load(), BinaryFileError) << record.name() << " cut to " << size;
        }
    }
}

// What a load refuses, a store refuses before it touches the file.
TEST_F(ExchangeRatesFileTest, AStoreRefusesARatioThatIsNoRateAndKeepsThePreviousFile) {
    QByteArray const previous = data("small.dat");
    write(previous);
    for (auto const& [ratio, text] : {std::pair(std::numeric_limits<double>::quiet_NaN(), "nan"),
                                      std::pair(-std::numeric_limits<double>::infinity(), "-inf"),
                                      std::pair(0.0, "0"), std::pair(-1.5, "-1.5")}) {
        ConversionMap const rates(
            TimePoint(), {{code("EUR"),
                           {ConversionRatio(code("CHF"), orvalis::FloatingPoint(0.95)),
                            ConversionRatio(code("USD"), orvalis::FloatingPoint(ratio))}}});
        EXPECT_EQ(failure([&] { file.store(rates); }).secondText().toStdString(),
                  std::string("The ratio from EUR to USD, ") + text +
                      ", is not a finite positive number.");
        EXPECT_EQ(hex(stored()), hex(previous));
    }
    EXPECT_EQ(entries(), QStringList{QStringLiteral("exchange-rates.dat")});
}

TEST_F(ExchangeRatesFileTest, ExistsAndRemoveFollowTheFile) {
    EXPECT_FALSE(file.exists());
    EXPECT_THROW(file.load(), BinaryFileError);
    file.remove();
    file.store(ConversionMap(TimePoint(), {}));
    EXPECT_TRUE(file.exists());
    file.remove();
    EXPECT_FALSE(file.exists());
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(ExchangeRatesFileTest, AFailedWriteLeavesThePreviousFileWholeAndNoTemporaryFile) {
    if (!zel::testing::FileSizeLimit::available) {
        GTEST_SKIP() << "Windows has no per-process file-size limit to fail the write with";
    }
    QByteArray const previous = data("empty.dat");
    write(previous);
    ConversionMap const larger(
        TimePoint(), {{code("EUR"), {ConversionRatio(code("USD"), orvalis::FloatingPoint(1.1))}}});
    {
        zel::testing::FileSizeLimit const full(previous.size());
        EXPECT_THROW(file.store(larger), BinaryFileError);
    }
    EXPECT_EQ(hex(stored()), hex(previous));
    EXPECT_NO_THROW(file.load());
    EXPECT_EQ(entries(), QStringList{QStringLiteral("exchange-rates.dat")});
}

// A named pipe or a folder at the file's path is refused by the store and the load alike, and
// stays as it was: neither is opened, nor replaced by a plain file.
class SpecialFiles : public ExchangeRatesFileTest,
                     public testing::WithParamInterface<std::string> {};

TEST_P(SpecialFiles, AreRefusedAndKept) {
    bool const pipe = GetParam() == "NamedPipe";
#if defined(_WIN32)
    if (pipe) {
        GTEST_SKIP() << "Windows has no named pipes (FIFOs) in the file system";
    }
#endif
    QDir().mkpath(pipe ? folder() : path());
#if !defined(_WIN32)
    ASSERT_TRUE(!pipe || mkfifo(QFile::encodeName(path()).constData(), 0600) == 0);
    // Opening the pipe would block: end the test then rather than hang.
    alarm(20);
#endif
    QString const second =
        QStringLiteral("%1 is a %2, not a regular file.")
            .arg(path(), pipe ? QStringLiteral("named pipe") : QStringLiteral("directory"));
    EXPECT_FALSE(file.exists());
    EXPECT_EQ(failure([&] { file.store(ConversionMap(TimePoint(), {})); }).secondText(), second);
    EXPECT_EQ(failure([&] { file.load(); }).secondText(), second);
    file.remove();
#if defined(_WIN32)
    EXPECT_TRUE(QFileInfo(path()).isDir());
#else
    alarm(0);
    struct stat status {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & S_IFMT, pipe ? S_IFIFO : S_IFDIR);
#endif
    EXPECT_EQ(entries(), QStringList{QStringLiteral("exchange-rates.dat")});
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialFiles, testing::Values("NamedPipe", "Folder"),
                         [](auto const& kind) { return kind.param; });

// Stores or loads in a process of its own, under the given TZ.
QString runHelper(QString const& timeZone, QStringList const& arguments) {
    QProcess helper;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), timeZone);
    helper.setProcessEnvironment(environment);
    helper.start(QStringLiteral(ZEL_EXCHANGE_RATES_FILE_HELPER),
                 QStringList{QCoreApplication::applicationName()} + arguments);
    EXPECT_TRUE(helper.waitForFinished(60'000));
    EXPECT_EQ(helper.exitCode(), 0) << helper.readAllStandardError().toStdString();
    return QString::fromLatin1(helper.readAllStandardOutput().trimmed());
}

// The time stamp is the wall-clock time of the process that stores it. Read under a zone east
// of the writer's, it names an earlier instant; under a zone west of it, a later one.
TEST_F(ExchangeRatesFileTest, TheTimeStampIsReadAsLocalTimeOfTheReader) {
    qint64 const msecs =
        QDateTime::fromString(QStringLiteral("2026-03-10T09:15:00.250Z"), Qt::ISODateWithMs)
            .toMSecsSinceEpoch();
    runHelper(QStringLiteral("UTC0"), {QStringLiteral("store"), QString::number(msecs * 10'000)});
    EXPECT_EQ(hex(stored()), hex(data("empty.dat")));

    qint64 const hour = 3'600'000;
    // Zone names of three letters, the only length that Windows' C runtime reads from TZ.
    for (auto const& [zone, read] : {std::pair(QStringLiteral("UTC0"), msecs),
                                     std::pair(QStringLiteral("EAS-5"), msecs - 5 * hour),
                                     std::pair(QStringLiteral("WES+3"), msecs + 3 * hour)}) {
        EXPECT_EQ(runHelper(zone, {QStringLiteral("load")}), QString::number(read * 10'000))
            << zone.toStdString();
    }
}

} // namespace
