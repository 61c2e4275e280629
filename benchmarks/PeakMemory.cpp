// The peak memory of loading and checking budget files, and of the files that cost far more than
// their size before they were bounded: each call in a process of its own, measured as the growth
// of its peak resident size over what the process held before the call, against a ceiling. The
// 100k budget's load and check stay under about three times its document's size; a hostile
// file's refusal or check stays under a fixed ceiling, over the document that a check reads
// whole. Linux only: the peak is read from /proc/self/status.
//
//   zel_peak_memory             prepares the files, runs every case and prints a table; exits
//                               with 1 when a case is over its ceiling
//   zel_peak_memory CASE PATH   runs one case on the file at PATH and prints
//                               "GROWTH_BYTES MILLISECONDS OUTCOME"
#include "file-storage/BudgetDocumentInspection.h"
#include "file-storage/BudgetFile.h"
#include "file-storage/Errors.h"
#include "file-storage/ExchangeRatesFile.h"
#include "sample-budgets/SampleBudget.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using zel::file_storage::BudgetFile;

constexpr qint64 mebibyte = 1024 * 1024;
// What a refusal, or a check over the document it holds, may cost at most.
constexpr qint64 fixedCeiling = 16 * mebibyte;

// Bytes of a "VmName:" line of /proc/self/status.
qint64 statusBytes(char const* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name, 0) == 0) {
            return std::stoll(line.substr(std::strlen(name))) * 1024;
        }
    }
    return -1;
}

// What the store case stores.
zel::storage::BudgetState const& smallBudget() {
    static auto const state = zel::sample::sampleBudget(10, 1);
    return state;
}

BudgetFile budgetFileAt(QString const& path) {
    return BudgetFile(path, QStringLiteral("~"));
}

// What budget-file check does: the document read whole and inspected, then the load.
QString check(QString const& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("unreadable");
    }
    auto const inspection = zel::file_storage::inspectBudgetDocument(file.readAll());
    auto const state = budgetFileAt(path).load();
    (void)state;
    return QStringLiteral("%1 warnings, %2 kept")
        .arg(inspection.count())
        .arg(inspection.warnings.size());
}

// The calls measured, each given the file's path; what each returns is shown as its outcome.
std::map<std::string, std::function<QString(QString const&)>> const calls = {
    {"load",
     [](QString const& path) {
         auto const state = budgetFileAt(path).load();
         (void)state;
         return QStringLiteral("loads");
     }},
    {"check", check},
    // A store over a file that does not end as a store ends it, with a back-up beside it: the
    // store reads the file through to tell whether it is whole.
    {"store",
     [](QString const& path) {
         auto const& [ledger, budget, items, banks, types, surveys] = smallBudget();
         budgetFileAt(path).store(ledger, budget, items, banks, types, surveys);
         return QStringLiteral("stored");
     }},
    {"rates",
     [](QString const& path) {
         auto const rates = zel::file_storage::ExchangeRatesFile(path).load();
         (void)rates;
         return QStringLiteral("loads");
     }},
};

// Runs one call in this process, which has done nothing else yet, and prints what it cost.
int runCase(std::string const& call, QString const& path) {
    auto const found = calls.find(call);
    if (found == calls.end()) {
        std::fprintf(stderr, "no call %s\n", call.c_str());
        return 2;
    }
    // Made before the peak is reset, so that only the call counts.
    if (call == "store") {
        (void)smallBudget();
    }
    // Writing 5 to clear_refs resets the peak resident size to the current one.
    std::ofstream("/proc/self/clear_refs") << "5";
    auto const before = statusBytes("VmRSS:");
    QElapsedTimer timer;
    timer.start();
    QString outcome;
    try {
        outcome = found->second(path);
    } catch (zel::storage::StorageError const& error) {
        outcome = QStringLiteral("refused: ") + error.secondText();
        if (auto const cause = QString::fromStdString(error.causeDescription());
            cause != QLatin1String(std::exception().what())) {
            outcome += QStringLiteral(" (") + cause + u')';
        }
    }
    auto const milliseconds = timer.elapsed();
    std::printf("%lld %lld %s\n", static_cast<long long>(statusBytes("VmHWM:") - before),
                static_cast<long long>(milliseconds), outcome.simplified().toUtf8().constData());
    return 0;
}

// ---- The files --------------------------------------------------------------------------------

void write(QString const& path, QByteArray const& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
}

QByteArray const declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
QByteArray const account =
    "<accounts>\n<account id=\"10\" name=\"Cash\" type=\"Asset\" major=\"0\" "
    "minor=\"0\" currency=\"USD\" closed=\"false\"/>\n</accounts>\n";

// A document of size bytes that declares one entity of 4,000 characters and refers to it in a
// transaction's description as often as it can.
QByteArray entityDocument(qsizetype size) {
    QByteArray const head =
        declaration + "<!DOCTYPE KelvoraMindrath [\n<!ENTITY e \"" + QByteArray(4000, 'x') +
        "\">\n]>\n<KelvoraMindrath revision=\"2\">\n" + account +
        "<ledgers>\n<ledger id=\"10\">\n<transaction id=\"1\" date=\"2026-01-02\" "
        "accountId=\"10\" entry=\"Dr\" major=\"1\" minor=\"0\" currency=\"USD\" "
        "status=\"Cleared\">";
    QByteArray const tail = "</transaction>\n</ledger>\n</ledgers>\n</KelvoraMindrath>\n";
    return head + QByteArray("&e;").repeated((size - head.size() - tail.size()) / 3) + tail;
}

// A document of size bytes whose one wage holds as many unknown empty elements as fit: a warning
// each.
QByteArray unknownElementsDocument(qsizetype size) {
    QByteArray const head = declaration + "<KelvoraMindrath revision=\"2\">\n" + account +
                            "<wages>\n<wage id=\"1\" major=\"10\" minor=\"0\" period=\"Monthly\" "
                            "name=\"Pay\" currency=\"USD\" nextOccurOn=\"2026-03-01\" "
                            "accountId=\"10\">";
    QByteArray const tail = "</wage>\n</wages>\n</KelvoraMindrath>\n";
    return head + QByteArray("<x/>").repeated((size - head.size() - tail.size()) / 4) + tail;
}

// An exchange-rates file of one ratio from EUR to USD, fetched on the given Julian day with the
// given time spec, followed by trailing zero bytes.
QByteArray ratesFile(double ratio, qint64 julianDay, quint8 timeSpec, qsizetype trailing = 0) {
    QByteArray bytes = "ZELE\x01";
    auto const number = [&](auto value) {
        char raw[sizeof value];
        qToBigEndian(value, raw);
        bytes.append(raw, sizeof value);
    };
    auto const text = [&](char const* code) {
        number(quint32(6));
        for (auto const* c = code; *c != 0; ++c) {
            number(quint16(*c));
        }
    };
    number(quint32(1));
    text("EUR");
    number(quint32(1));
    text("USD");
    number(ratio);
    number(julianDay);
    number(quint32(0));
    number(timeSpec);
    return bytes + QByteArray(trailing, '\0');
}

struct Case {
    char const* what;
    std::string call;
    QString file;
    qint64 ceiling; // bytes
};

int runAll() {
    QTemporaryDir folder;
    auto const at = [&](char const* name) { return folder.filePath(QString::fromLatin1(name)); };

    {
        auto const sample = zel::sample::sampleBudget(100'000, 1);
        auto const& [ledger, budget, items, banks, types, surveys] = sample;
        budgetFileAt(at("budget-100k.xml")).store(ledger, budget, items, banks, types, surveys);
    }
    auto const budgetSize = QFile(at("budget-100k.xml")).size();
    auto const entities = entityDocument(3'000'000);
    write(at("entities.xml"), entities);
    auto const unknown = unknownElementsDocument(40'000'000);
    write(at("unknown-elements.xml"), unknown);
    write(at("rates-far-date.dat"), ratesFile(1.1, qint64(1) << 62, 0));
    write(at("rates-time-spec-9.dat"), ratesFile(1.1, 2460324, 9));
    write(at("rates-nan.dat"), ratesFile(std::numeric_limits<double>::quiet_NaN(), 2460324, 0));
    write(at("rates-infinite.dat"), ratesFile(std::numeric_limits<double>::infinity(), 2460324, 0));
    write(at("rates-trailing.dat"), ratesFile(1.1, 2460324, 0, 10 * mebibyte));

    std::vector<Case> const cases = {
        {"load of the 100k budget", "load", at("budget-100k.xml"), 3 * budgetSize},
        {"check of the 100k budget", "check", at("budget-100k.xml"), 3 * budgetSize},
        {"load of a 3 MB document with an entity", "load", at("entities.xml"), fixedCeiling},
        {"check of a 3 MB document with an entity", "check", at("entities.xml"), fixedCeiling},
        {"store over a 3 MB document with an entity", "store", at("entities-store.xml"),
         fixedCeiling},
        {"load of 40 MB of unknown elements", "load", at("unknown-elements.xml"), fixedCeiling},
        {"check of 40 MB of unknown elements", "check", at("unknown-elements.xml"),
         unknown.size() + fixedCeiling},
        {"rates: Julian day 2^62", "rates", at("rates-far-date.dat"), fixedCeiling},
        {"rates: time spec 9", "rates", at("rates-time-spec-9.dat"), fixedCeiling},
        {"rates: NaN ratio", "rates", at("rates-nan.dat"), fixedCeiling},
        {"rates: infinite ratio", "rates", at("rates-infinite.dat"), fixedCeiling},
        {"rates: 10 MiB after the time stamp", "rates", at("rates-trailing.dat"), fixedCeiling},
    };

    std::printf("Peak memory of each call in a process of its own (the growth of its peak "
                "resident size):\n%-44s %8s %7s %8s %11s  %s\n",
                "call", "file MB", "ms", "peak MB", "ceiling MB", "outcome");
    bool over = false;
    for (auto const& c : cases) {
        if (c.call == "store") {
            // Ends with a comment, not the root's end tag, and has a back-up: read through.
            write(c.file, entities + "<!-- after the root -->\n");
            write(c.file + u'~', QByteArray());
        }
        auto const size = QFile(c.file).size();
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromStdString(c.call), c.file});
        child.waitForFinished(-1);
        auto const fields = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        auto const growth = fields.section(u' ', 0, 0).toLongLong();
        bool const within = child.exitCode() == 0 && growth <= c.ceiling;
        over = over || !within;
        std::printf("%-44s %8.1f %7s %8.1f %11.1f  %s%s\n", c.what, double(size) / mebibyte,
                    qPrintable(fields.section(u' ', 1, 1)), double(growth) / mebibyte,
                    double(c.ceiling) / mebibyte, within ? "" : "OVER THE CEILING: ",
                    qPrintable(fields.section(u' ', 2).left(100)));
    }
    return over ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.critical=false"));
    if (argc == 3) {
        return runCase(argv[1], QString::fromLocal8Bit(argv[2]));
    }
    return runAll();
}
