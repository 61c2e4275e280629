// budget-file: look into a budget file without the application. See --help.
#include "Commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

QTextStream& standardError() {
    static QTextStream stream(stderr);
    return stream;
}

// Records the library logs reach the user as plain lines, never as a console dump.
void printRecord(QtMsgType type, QMessageLogContext const&, QString const& text) {
    if (type == QtDebugMsg || type == QtInfoMsg) {
        return;
    }
    standardError() << "budget-file: " << (type == QtWarningMsg ? "warning: " : "error: ") << text
                    << Qt::endl;
}

int usageError(QString const& message) {
    standardError() << "budget-file: " << message << " (see budget-file --help)" << Qt::endl;
    return 2;
}

bool toNumber(QString const& text, std::uint32_t& value) {
    bool ok = false;
    auto const number = text.toUInt(&ok);
    value = number;
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(printRecord);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("budget-file"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Looks into budget files without starting the application.\n\n"
        "Commands:\n"
        "  check FILE [--json]     Loads FILE; prints what it holds, or where it is broken.\n"
        "  summary FILE            Prints the accounts, budget items, banks and reconciliations.\n"
        "  format FILE OUT         Writes FILE's budget to OUT, indented; FILE is not touched.\n"
        "  sample FILE [--transactions N] [--seed S]\n"
        "                          Writes a generated budget to FILE (backing up an existing "
        "one).\n"
        "  rates show              Prints where the exchange-rates file is and what it holds."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption const json(QStringLiteral("json"),
                                  QStringLiteral("check: print one JSON object."));
    QCommandLineOption const transactions(
        QStringLiteral("transactions"),
        QStringLiteral("sample: how many transactions (default 1000)."), QStringLiteral("N"),
        QStringLiteral("1000"));
    QCommandLineOption const seed(QStringLiteral("seed"),
                                  QStringLiteral("sample: the seed (default 1)."),
                                  QStringLiteral("S"), QStringLiteral("1"));
    parser.addOptions({json, transactions, seed});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("check, summary, format, sample or rates."));

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(0);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }

    QTextStream out(stdout);
    zel::tool::Streams const io{out, standardError()};
    auto const args = parser.positionalArguments();
    if (args.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    auto const command = args.front();
    auto const expect = [&](qsizetype count, char const* usage) {
        if (args.size() != count + 1) {
            usageError(QStringLiteral("usage: budget-file %1").arg(QLatin1String(usage)));
            return false;
        }
        return true;
    };
    auto const onlyFor = [&](QCommandLineOption const& option, QString const& owner) {
        if (parser.isSet(option) && command != owner) {
            usageError(
                QStringLiteral("--%1 does not apply to %2").arg(option.names().front(), command));
            return false;
        }
        return true;
    };
    if (!onlyFor(json, QStringLiteral("check")) ||
        !onlyFor(transactions, QStringLiteral("sample")) ||
        !onlyFor(seed, QStringLiteral("sample"))) {
        return 2;
    }

    if (command == QLatin1String("check")) {
        return expect(1, "check FILE [--json]") ? zel::tool::check(io, args[1], parser.isSet(json))
                                                : 2;
    }
    if (command == QLatin1String("summary")) {
        return expect(1, "summary FILE") ? zel::tool::summary(io, args[1]) : 2;
    }
    if (command == QLatin1String("format")) {
        return expect(2, "format FILE OUT") ? zel::tool::format(io, args[1], args[2]) : 2;
    }
    if (command == QLatin1String("sample")) {
        if (!expect(1, "sample FILE [--transactions N] [--seed S]")) {
            return 2;
        }
        std::uint32_t count = 0;
        std::uint32_t seedValue = 0;
        if (!toNumber(parser.value(transactions), count)) {
            return usageError(QStringLiteral("--transactions takes a whole number, not '%1'")
                                  .arg(parser.value(transactions)));
        }
        if (!toNumber(parser.value(seed), seedValue)) {
            return usageError(
                QStringLiteral("--seed takes a whole number, not '%1'").arg(parser.value(seed)));
        }
        return zel::tool::sample(io, args[1], count, seedValue);
    }
    if (command == QLatin1String("rates")) {
        return args.size() == 2 && args[1] == QLatin1String("show")
                   ? zel::tool::showRates(io)
                   : usageError(QStringLiteral("usage: budget-file rates show"));
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}
