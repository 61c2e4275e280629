// Loading and storing budgets beside the floor that Qt's own XML classes set on the same bytes.
//
// Budgets come from the sample generator at 1k, 10k and 100k transactions. Debug records are
// filtered out, as in an application's release build, so logging costs what it costs there.
//
// The peak memory of loads and checks is measured by zel_peak_memory (PeakMemory.cpp).
#include "file-storage/BudgetFile.h"
#include "file-storage/ExchangeRatesFile.h"
#include "file-storage/document/BudgetDocument.h"
#include "sample-budgets/SampleBudget.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using zel::storage::BudgetState;

struct Sample {
    std::unique_ptr<BudgetState> state;
    QByteArray document;
};

QByteArray storeToBytes(BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    zel::file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items, surveys,
                                                     &buffer, false);
    return buffer.data();
}

Sample const& sample(std::int64_t transactions) {
    static std::map<std::int64_t, Sample> samples;
    auto& found = samples[transactions];
    if (!found.state) {
        found.state = std::make_unique<BudgetState>(
            zel::sample::sampleBudget(static_cast<std::uint32_t>(transactions), 1));
        found.document = storeToBytes(*found.state);
    }
    return found;
}

void setBytes(benchmark::State& state, QByteArray const& document) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * document.size());
    state.counters["document_bytes"] = static_cast<double>(document.size());
}

void BM_LoadDocument(benchmark::State& state) {
    auto document = sample(state.range(0)).document;
    for (auto _ : state) {
        QBuffer buffer(&document);
        buffer.open(QIODevice::ReadOnly | QIODevice::Text);
        benchmark::DoNotOptimize(zel::file_storage::internal::loadBudgetDocument(buffer));
    }
    setBytes(state, document);
}

// The floor: one bare pass of the reader over the same bytes from the same kind of device.
void BM_BareRead(benchmark::State& state) {
    auto document = sample(state.range(0)).document;
    for (auto _ : state) {
        QBuffer buffer(&document);
        buffer.open(QIODevice::ReadOnly | QIODevice::Text);
        QXmlStreamReader reader(&buffer);
        std::size_t tokens = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            ++tokens;
        }
        benchmark::DoNotOptimize(tokens);
    }
    setBytes(state, document);
}

void BM_StoreDocument(benchmark::State& state) {
    auto const& s = sample(state.range(0));
    auto const& [ledger, budget, items, banks, types, surveys] = *s.state;
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly | QIODevice::Text);
        zel::file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items,
                                                         surveys, &buffer, false);
        benchmark::DoNotOptimize(buffer.data().size());
    }
    setBytes(state, s.document);
}

// The same document as plain values: every element with its attributes and text, formatted
// beforehand, so that the bare writer only writes.
struct PlainElement {
    QString name;
    std::vector<std::pair<QString, QString>> attributes;
    QString text;
    int closeAfter = 0; // end tags to write after this element's start and text
};

std::vector<PlainElement> plainElements(QByteArray const& document) {
    std::vector<PlainElement> elements;
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            PlainElement element{reader.name().toString(), {}, {}, 0};
            for (auto const& attribute : reader.attributes()) {
                element.attributes.emplace_back(attribute.name().toString(),
                                                attribute.value().toString());
            }
            elements.push_back(std::move(element));
        } else if (reader.isCharacters() && !elements.empty()) {
            elements.back().text += reader.text();
        } else if (reader.isEndElement()) {
            ++elements.back().closeAfter;
        }
    }
    return elements;
}

// The elements written by Qt's writer alone, with no checks and no domain values.
void writePlain(QIODevice& device, std::vector<PlainElement> const& elements) {
    QXmlStreamWriter writer(&device);
    writer.writeStartDocument();
    for (auto const& element : elements) {
        writer.writeStartElement(element.name);
        for (auto const& [name, value] : element.attributes) {
            writer.writeAttribute(name, value);
        }
        if (!element.text.isEmpty()) {
            writer.writeCharacters(element.text);
        }
        for (int i = 0; i < element.closeAfter; ++i) {
            writer.writeEndElement();
        }
    }
}

void BM_BareWrite(benchmark::State& state) {
    auto const& s = sample(state.range(0));
    auto const elements = plainElements(s.document);
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly | QIODevice::Text);
        writePlain(buffer, elements);
        benchmark::DoNotOptimize(buffer.data().size());
    }
    setBytes(state, s.document);
}

// The least a durable store of the file can cost: the bare write into the file, then its sync.
void BM_BareWriteAndSync(benchmark::State& state) {
    auto const& s = sample(state.range(0));
    auto const elements = plainElements(s.document);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("bare.xml")));
    for (auto _ : state) {
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        writePlain(file, elements);
        file.flush();
        ::fsync(file.handle());
        file.close();
    }
    setBytes(state, s.document);
}

void BM_BudgetFileStore(benchmark::State& state) {
    auto const& s = sample(state.range(0));
    auto const& [ledger, budget, items, banks, types, surveys] = *s.state;
    QTemporaryDir dir;
    zel::file_storage::BudgetFile const file(dir.filePath(QStringLiteral("budget.xml")),
                                             QStringLiteral("~"));
    file.store(ledger, budget, items, banks, types, surveys);
    for (auto _ : state) {
        file.store(ledger, budget, items, banks, types, surveys);
    }
    setBytes(state, s.document);
}

void BM_BudgetFileLoad(benchmark::State& state) {
    auto const& s = sample(state.range(0));
    QTemporaryDir dir;
    QFile out(dir.filePath(QStringLiteral("budget.xml")));
    out.open(QIODevice::WriteOnly);
    out.write(s.document);
    out.close();
    zel::file_storage::BudgetFile const file(out.fileName(), QStringLiteral("~"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(file.load());
    }
    setBytes(state, s.document);
}

zel::conversion::ConversionMap fullRatesTable() {
    zel::conversion::ConversionMap::Ratios ratios;
    auto const codes = orvalis::currency::allIso4217Codes();
    double ratio = 0.5;
    for (auto const from : codes) {
        for (auto const to : codes) {
            if (from != to) {
                ratios[from].emplace(to, orvalis::FloatingPoint(ratio += 0.001));
            }
        }
    }
    return zel::conversion::ConversionMap(
        zel::conversion::TimePoint(zel::conversion::Ticks(17'000'000'000'000'000)),
        std::move(ratios));
}

void BM_ExchangeRatesStore(benchmark::State& state) {
    auto const rates = fullRatesTable();
    zel::file_storage::ExchangeRatesFile const file;
    for (auto _ : state) {
        file.store(rates);
    }
    file.remove();
}

void BM_ExchangeRatesLoad(benchmark::State& state) {
    zel::file_storage::ExchangeRatesFile const file;
    file.store(fullRatesTable());
    for (auto _ : state) {
        benchmark::DoNotOptimize(file.load());
    }
    file.remove();
}

BENCHMARK(BM_LoadDocument)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareRead)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreDocument)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWrite)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWriteAndSync)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BudgetFileStore)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BudgetFileLoad)->Arg(1'000)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeRatesStore)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeRatesLoad)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
