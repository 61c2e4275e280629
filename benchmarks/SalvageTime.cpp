// The salvage of a large budget with one damaged block, timed beside check of the same file, as
// a user runs both: a 100k-transaction sample whose 4 KiB block in the middle is zeroed, given
// to "budget-file salvage" and "budget-file check". Every transaction that has a copy wholly
// outside the block must come back; the program exits with 1 when one does not.
//
//   zel_salvage_time [TRANSACTIONS]
#include "file-storage/BudgetFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <cstdio>
#include <set>

namespace {

constexpr qint64 block = 4096;

// Runs the tool with arguments; its time in milliseconds, or -1 when it could not run.
qint64 timed(QStringList const& arguments, int& status) {
    QProcess tool;
    QElapsedTimer timer;
    timer.start();
    tool.start(QStringLiteral(ZEL_BUDGET_FILE_TOOL), arguments);
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    status = tool.exitCode();
    return timer.elapsed();
}

// The numbers of the transactions that have a copy wholly outside the bytes from..to of the
// document, found by Qt's reader alone. Character offsets are byte offsets in the ASCII
// document that a sample is.
std::set<quint32> outside(QByteArray const& document, qint64 from, qint64 to) {
    std::set<quint32> numbers;
    QXmlStreamReader reader(document);
    qint64 tokenEnd = 0;
    qint64 start = 0;
    quint32 number = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("transaction")) {
            start = tokenEnd;
            number = reader.attributes().value(QLatin1String("id")).toUInt();
        } else if (reader.isEndElement() && reader.name() == QLatin1String("transaction")) {
            if (reader.characterOffset() <= from || start >= to) {
                numbers.insert(number);
            }
        }
        tokenEnd = reader.characterOffset();
    }
    return numbers;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto const transactions = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("100000");
    QTemporaryDir scratch;
    auto const path = scratch.filePath(QStringLiteral("budget.xml"));
    auto const out = scratch.filePath(QStringLiteral("salvaged.xml"));
    int status = 0;
    auto const wholeCheck = [&] {
        timed({QStringLiteral("sample"), path, QStringLiteral("--transactions"), transactions},
              status);
        return timed({QStringLiteral("check"), path}, status);
    }();

    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open the sample\n");
        return 1;
    }
    auto const document = file.readAll();
    auto const from = document.size() / 2;
    auto const expected = outside(document, from, from + block);
    file.seek(from);
    file.write(QByteArray(block, '\0'));
    file.close();

    auto const check = timed({QStringLiteral("check"), path}, status);
    auto const salvage = timed({QStringLiteral("salvage"), path, out}, status);
    if (salvage < 0 || status != 0) {
        std::fprintf(stderr, "salvage failed with status %d\n", status);
        return 1;
    }
    auto const [ledger, budget, items, banks, types, surveys] =
        zel::file_storage::BudgetFile(out, QStringLiteral("~")).load();
    std::set<quint32> recovered;
    for (auto const& [code, account] : ledger.ledgers()) {
        for (auto const& [number, transaction] : account.transactions) {
            recovered.insert(quint32(number.integer()));
        }
    }
    std::size_t missing = 0;
    for (auto const number : expected) {
        missing += recovered.count(number) == 0 ? 1 : 0;
    }
    std::printf("%s transactions (%.1f MB), a 4 KiB block zeroed at byte %lld:\n"
                "  salvage %6lld ms   check of the damaged file %6lld ms   check of the whole "
                "file %6lld ms\n"
                "  recovered %zu transactions of %zu with a copy outside the block (%zu "
                "missing)\n",
                qPrintable(transactions), double(document.size()) / 1e6,
                static_cast<long long>(from), static_cast<long long>(salvage),
                static_cast<long long>(check), static_cast<long long>(wholeCheck),
                expected.size() - missing, expected.size(), missing);
    return missing == 0 ? 0 : 1;
}
