// budget-file: look into a budget file without the application. See --help.
#include "Tool.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <map>

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
    // They name files, which may hold anything.
    standardError() << "budget-file: " << (type == QtWarningMsg ? "warning: " : "error: ")
                    << zel::tool::printable(text) << Qt::endl;
}

int usageError(QString const& message) {
    // The message may quote the command line.
    standardError() << "budget-file: " << zel::tool::printable(message)
                    << " (see budget-file --help)" << Qt::endl;
    return 2;
}

// Qt's message for a command line it cannot parse, in the tool's own words and form.
QString parseError(QCommandLineParser const& parser) {
    auto const unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        QString const& name = unknown.front();
        return QStringLiteral("unknown option '%1%2'")
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    QString text = parser.errorText();
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    if (!text.isEmpty()) {
        text[0] = text[0].toLower();
    }
    return text;
}

// Qt's help, whose usage line names the program by the path it was run as: by its name.
int showHelp(QCommandLineParser const& parser) {
    QString text = parser.helpText();
    auto const end = text.indexOf(QLatin1Char('\n'));
    auto const options = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && options > 0 && options < end) {
        text.replace(7, options - 7, QStringLiteral("budget-file"));
    }
    QTextStream out(stdout);
    out << text;
    out.flush();
    return out.status() == QTextStream::Ok ? 0 : 1;
}

char const description[] =
    "Looks into budget files without starting the application.\n"
    "\n"
    "Commands:\n"
    "  check FILE... [--strict] [--json]\n"
    "      Loads each FILE and says what it holds, or where it is broken; warns, with line and\n"
    "      column, of what the load accepts but drops, changes or holds inconsistently.\n"
    "  summary FILE\n"
    "      Prints the accounts, budget items, banks and reconciliations.\n"
    "  diff OLD NEW [--json]\n"
    "      Says what changed between two budget files, by meaning rather than by lines.\n"
    "  export FILE --format json|csv [--output OUT] [--force]\n"
    "      Writes the whole budget as JSON, or its transactions as CSV (to standard output\n"
    "      unless OUT is given; - is standard output too).\n"
    "  restore FILE [--json]\n"
    "      Puts a copy of the back-up (FILE~) in FILE's place when it loads; FILE is kept\n"
    "      beside it as FILE.before-restore-DATE, never removed.\n"
    "  format FILE [OUT] [--force]\n"
    "      Writes FILE's budget indented one tab per level, to OUT or (without OUT, or for -)\n"
    "      to standard output; FILE is not touched.\n"
    "  sample FILE [--transactions N] [--seed S] [--force]\n"
    "      Writes a generated budget to FILE (backing up the one it replaces).\n"
    "  rates show [--file PATH | --application NAME] [--json]\n"
    "      Shows an exchange-rates file: PATH, or exchange-rates.dat in the cache folder of\n"
    "      the application NAME (by default the tool's own, budget-file), which is\n"
    "        on Linux    $XDG_CACHE_HOME/NAME, by default ~/.cache/NAME\n"
    "        on macOS    ~/Library/Caches/NAME\n"
    "        on Windows  %LOCALAPPDATA%\\NAME\\cache\n"
    "      An application that sets an organization name gives ORGANIZATION/NAME.\n"
    "\n"
    "No command replaces an existing file unless --force is given (but restore, which keeps the\n"
    "file it replaces), and none writes to anything but a regular file. With --json a command\n"
    "prints one JSON document, failures included.\n"
    "\n"
    "Exit status:\n"
    "  0  success; diff: the two files hold the same budget\n"
    "  1  a file that cannot be used, or check --strict with warnings; diff: they differ\n"
    "  2  a wrong command line; diff: trouble (a file that does not load, say)";

// Runs the command that args name, with options.
int dispatch(QStringList const& args, zel::tool::Options const& options, zel::tool::Streams io) {
    QString const& command = args.front();
    // Runs the command when it was given count arguments, as form shows them.
    auto const run = [&](qsizetype count, char const* form, auto const& action) {
        return args.size() == count + 1
                   ? action()
                   : usageError(QStringLiteral("usage: budget-file %1").arg(QLatin1String(form)));
    };
    if (command == QLatin1String("check")) {
        if (args.size() < 2) {
            return usageError(
                QStringLiteral("usage: budget-file check FILE... [--strict] [--json]"));
        }
        // Each file is checked and reported on its own, as if alone; the worst status wins.
        int status = 0;
        for (qsizetype i = 1; i < args.size(); ++i) {
            status = std::max(status, zel::tool::check(io, args[i], options));
        }
        return status;
    }
    if (command == QLatin1String("summary")) {
        return run(1, "summary FILE", [&] { return zel::tool::summary(io, args[1]); });
    }
    if (command == QLatin1String("diff")) {
        return run(2, "diff OLD NEW [--json]",
                   [&] { return zel::tool::diff(io, args[1], args[2], options); });
    }
    if (command == QLatin1String("export")) {
        if (options.format.isEmpty()) {
            return usageError(QStringLiteral("export needs --format json or --format csv"));
        }
        if (options.format != QLatin1String("json") && options.format != QLatin1String("csv")) {
            return usageError(
                QStringLiteral("--format takes json or csv, not '%1'").arg(options.format));
        }
        return run(1, "export FILE --format json|csv [--output OUT] [--force]",
                   [&] { return zel::tool::exportBudget(io, args[1], options); });
    }
    if (command == QLatin1String("restore")) {
        return run(1, "restore FILE [--json]",
                   [&] { return zel::tool::restore(io, args[1], options); });
    }
    if (command == QLatin1String("format")) {
        // Without OUT the budget goes to standard output, as a textconv filter needs.
        return args.size() == 2 ? zel::tool::format(io, args[1], QString(), options)
                                : run(2, "format FILE [OUT] [--force]", [&] {
                                      return zel::tool::format(io, args[1], args[2], options);
                                  });
    }
    if (command == QLatin1String("sample")) {
        return run(1, "sample FILE [--transactions N] [--seed S] [--force]",
                   [&] { return zel::tool::sample(io, args[1], options); });
    }
    if (command == QLatin1String("rates")) {
        return args.size() == 2 && args[1] == QLatin1String("show")
                   ? zel::tool::showRates(io, options)
                   : usageError(QStringLiteral(
                         "usage: budget-file rates show [--file PATH | --application NAME]"));
    }
    return usageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(printRecord);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("budget-file"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    // Qt's help options, but with a text of the tool's own for --help-all: Qt's speaks of Qt's
    // options, which the tool does not have, and differs between Qt versions.
    QStringList helpNames{QStringLiteral("h"), QStringLiteral("help")};
#ifdef Q_OS_WIN
    helpNames.prepend(QStringLiteral("?"));
#endif
    parser.addOption(
        QCommandLineOption(helpNames, QStringLiteral("Displays help on commandline options.")));
    parser.addOption(
        QCommandLineOption(QStringLiteral("help-all"),
                           QStringLiteral("Displays the same help: the tool has no Qt options.")));
    parser.addVersionOption();
    auto const option = [&](char const* name, char const* help, char const* value = nullptr) {
        QCommandLineOption result(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value != nullptr) {
            result.setValueName(QString::fromLatin1(value));
        }
        parser.addOption(result);
        return result;
    };
    auto const json = option("json", "Print one JSON document (check, diff, restore, rates).");
    auto const force = option("force", "Replace an existing output file (export, format, sample).");
    auto const strict = option("strict", "check: fail on warnings too.");
    auto const output = option("output", "export: where to write.", "OUT");
    auto const exportFormat = option("format", "export: json or csv.", "FORMAT");
    auto const file = option("file", "rates show: the exchange-rates file.", "PATH");
    auto const application =
        option("application", "rates show: the application whose cache to look in.", "NAME");
    auto const transactions = option("transactions", "sample: how many (default 1000).", "N");
    auto const seed = option("seed", "sample: the seed (default 1).", "S");
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("check, summary, diff, export, restore, format, "
                                                "sample or rates."));

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parseError(parser));
    }
    // The tool has no options of Qt's own to show, so --help-all shows what --help does.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        return showHelp(parser);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    auto const args = parser.positionalArguments();
    if (args.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    QString const command = args.front();
    // Which commands take which options.
    std::map<QString, QStringList> const owners{
        {QStringLiteral("json"), {"check", "diff", "restore", "rates"}},
        {QStringLiteral("force"), {"export", "format", "sample"}},
        {QStringLiteral("strict"), {"check"}},
        {QStringLiteral("output"), {"export"}},
        {QStringLiteral("format"), {"export"}},
        {QStringLiteral("file"), {"rates"}},
        {QStringLiteral("application"), {"rates"}},
        {QStringLiteral("transactions"), {"sample"}},
        {QStringLiteral("seed"), {"sample"}}};
    for (auto const& [name, commands] : owners) {
        if (parser.isSet(name) && !commands.contains(command)) {
            return usageError(QStringLiteral("--%1 does not apply to %2").arg(name, command));
        }
    }

    zel::tool::Options options;
    options.json = parser.isSet(json);
    options.force = parser.isSet(force);
    options.strict = parser.isSet(strict);
    options.output = parser.value(output);
    options.format = parser.value(exportFormat);
    options.file = parser.value(file);
    if (parser.isSet(application)) {
        if (parser.isSet(file)) {
            return usageError(QStringLiteral("give --file or --application, not both"));
        }
        if (parser.value(application).isEmpty()) {
            return usageError(QStringLiteral("--application takes the application's name"));
        }
        // The cache folder is the one Qt gives that application; the exchange-rates file's
        // location is fixed by the first use, which comes later.
        QCoreApplication::setApplicationName(parser.value(application));
    }
    for (auto const& [given, value] :
         {std::pair{&transactions, &options.transactions}, std::pair{&seed, &options.seed}}) {
        bool number = true;
        if (parser.isSet(*given)) {
            *value = parser.value(*given).toUInt(&number);
        }
        if (!number) {
            return usageError(QStringLiteral("--%1 takes a whole number, not '%2'")
                                  .arg(given->names().front(), parser.value(*given)));
        }
    }

    QTextStream out(stdout);
    zel::tool::Streams const io{out, standardError()};
    int const status = dispatch(args, options, io);
    // A report cut short (a full disk, a closed pipe) is not a success.
    out.flush();
    if (out.status() != QTextStream::Ok || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        standardError() << "budget-file: cannot write the standard output" << Qt::endl;
        return status != 0 ? status : (command == QLatin1String("diff") ? 2 : 1);
    }
    return status;
}
