// budget-file: look into a budget file without the application. See --help.
#include "System.h"
#include "Tool.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

using zel::tool::Options;
using zel::tool::Streams;

// What a command is given: its arguments after its words, the options and the streams.
struct Call {
    QStringList const& arguments;
    Options const& options;
    Streams io;
};

// An option of the tool: its name, the name of its value (none for a switch), and what it does,
// which its help gives after the commands that take it, or before them where several do.
struct OptionForm {
    char const* name;
    char const* value;
    char const* what;
    char const* letter = nullptr; // its one-letter name, if it has one
};

constexpr OptionForm optionForms[]{
    {"json", nullptr, "print one JSON document"},
    {"force", nullptr, "replace an existing output file"},
    {"strict", nullptr, "fail on warnings too."},
    {"quiet", nullptr, "print nothing; the exit status says it all", "q"},
    {"or-raw", nullptr,
     "a budget that does not load is written as it is (indented where it is XML), the reason "
     "on standard error, and the status is 0: for git's textconv."},
    {"output", "OUT", "where to write."},
    {"format", "FORMAT", "json or csv."},
    {"csv-safe", nullptr,
     "a text cell that begins with = + - @ or a tab begins with ' instead, so that a "
     "spreadsheet that opens the file takes no cell for a formula."},
    {"file", "PATH", "the exchange-rates file."},
    {"application", "NAME", "the application whose cache to look in."},
    {"transactions", "N", "how many (default 1000)."},
    {"seed", "S", "the seed (default 1)."},
    {"backup", "B", "the back-up to take from (default FILE~)."},
};

// A command of the tool, described once: the help, the usage errors, the options that apply and
// the dispatch all read it.
struct CommandForm {
    // Its words, then its arguments and options, as the help and a usage error show them.
    char const* form;
    // What it does: the lines of its help.
    char const* help;
    // The options it takes, separated by blanks.
    char const* options;
    // How many arguments it takes after its words; -1 for any number.
    int least;
    int most;
    // Runs it.
    int (*run)(Call const&);
    // Why the options given cannot be, if they cannot.
    std::optional<QString> (*refuse)(Options const&) = nullptr;
    // The status for trouble (a standard output that cannot be written).
    int trouble = 1;
};

std::optional<QString> exportFormatRefused(Options const& options) {
    if (options.format.isEmpty()) {
        return QStringLiteral("export needs --format json or --format csv");
    }
    if (options.format != QLatin1String("json") && options.format != QLatin1String("csv")) {
        return QStringLiteral("--format takes json or csv, not '%1'").arg(options.format);
    }
    if (options.csvSafe && options.format != QLatin1String("csv")) {
        return QStringLiteral("--csv-safe applies to --format csv only");
    }
    return std::nullopt;
}

std::optional<QString> jsonOrQuiet(Options const& options) {
    if (options.json && options.quiet) {
        return QStringLiteral("give --json or --quiet, not both");
    }
    return std::nullopt;
}

// Each file is checked and reported on its own, as if alone; the worst status wins.
int checkEach(Call const& call) {
    int status = 0;
    for (auto const& file : call.arguments) {
        status = std::max(status, zel::tool::check(call.io, file, call.options));
    }
    return status;
}

CommandForm const commandForms[]{
    {"check FILE... [--strict] [--json | --quiet]",
     "Loads each FILE and says what it holds, or where it is broken; warns, with line and\n"
     "column, of what the load accepts but drops, changes or holds inconsistently.",
     "json strict quiet", 1, -1, checkEach, jsonOrQuiet},
    {"summary FILE", "Prints the accounts, budget items, banks and reconciliations.", "", 1, 1,
     [](Call const& c) { return zel::tool::summary(c.io, c.arguments[0], c.options); }},
    {"diff OLD NEW [--json | --quiet]",
     "Says what changed between two budget files, by meaning rather than by lines.", "json quiet",
     2, 2,
     [](Call const& c) { return zel::tool::diff(c.io, c.arguments[0], c.arguments[1], c.options); },
     jsonOrQuiet, 2},
    {"export FILE --format json|csv [--csv-safe] [--output OUT] [--force]",
     "Writes the whole budget as JSON, or its transactions as CSV (to standard output\n"
     "unless OUT is given; - is standard output too).",
     "force output format csv-safe", 1, 1,
     [](Call const& c) { return zel::tool::exportBudget(c.io, c.arguments[0], c.options); },
     exportFormatRefused},
    {"restore FILE [--json]",
     "Puts a copy of the back-up (FILE~) in FILE's place when it loads; FILE is kept\n"
     "beside it as FILE.before-restore-DATE, never removed.",
     "json", 1, 1,
     [](Call const& c) { return zel::tool::restore(c.io, c.arguments[0], c.options); }},
    // Without OUT the budget goes to standard output, as a textconv filter needs.
    {"format FILE [OUT] [--force] [--or-raw]",
     "Writes FILE's budget indented one tab per level, to OUT or (without OUT, or for -)\n"
     "to standard output; FILE is not touched.",
     "force or-raw", 1, 2,
     [](Call const& c) {
         return zel::tool::format(c.io, c.arguments[0], c.arguments.value(1), c.options);
     }},
    {"sample FILE [--transactions N] [--seed S] [--force]",
     "Writes a generated budget to FILE (backing up the one it replaces).",
     "force transactions seed", 1, 1,
     [](Call const& c) { return zel::tool::sample(c.io, c.arguments[0], c.options); }},
    {"salvage FILE OUT [--backup B] [--json] [--force]",
     "Recovers what is still whole of a FILE that does not load (cut short, a block of\n"
     "zeros, a mix of two versions, an edit gone wrong), adds what the back-up holds\n"
     "and FILE lost, and stores it as a new budget file OUT; FILE is not touched. Says\n"
     "what was kept, taken from the back-up and lost, and where FILE is damaged.",
     "json force backup", 2, 2,
     [](Call const& c) {
         return zel::tool::salvage(c.io, c.arguments[0], c.arguments[1], c.options);
     }},
    {"rates show [--file PATH | --application NAME] [--json]",
     "Shows an exchange-rates file: PATH, or exchange-rates.dat in the cache folder of\n"
     "the application NAME (by default the tool's own, budget-file), which is\n"
     "  on Linux    $XDG_CACHE_HOME/NAME, by default ~/.cache/NAME\n"
     "  on macOS    ~/Library/Caches/NAME\n"
     "  on Windows  %LOCALAPPDATA%\\NAME\\cache\n"
     "An application that sets an organization name gives ORGANIZATION/NAME.",
     "json file application", 0, 0,
     [](Call const& c) { return zel::tool::showRates(c.io, c.options); }},
};

// The words that name the command: its form's first words, up to its first argument or option.
QStringList wordsOf(CommandForm const& command) {
    QStringList words;
    for (auto const& word : QString::fromLatin1(command.form).split(QLatin1Char(' '))) {
        if (word.isEmpty() || !word.front().isLower()) {
            break;
        }
        words << word;
    }
    return words;
}

// The command whose first word is name, if any.
CommandForm const* commandNamed(QString const& name) {
    for (auto const& command : commandForms) {
        if (wordsOf(command).front() == name) {
            return &command;
        }
    }
    return nullptr;
}

bool takes(CommandForm const* command, QString const& option) {
    return command != nullptr && QString::fromLatin1(command->options)
                                     .split(QLatin1Char(' '), Qt::SkipEmptyParts)
                                     .contains(option);
}

// "a, b or c", "a, b, c", as last joins the last two.
QString listed(QStringList const& items, QString const& last) {
    if (items.size() < 2) {
        return items.join(QString());
    }
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + last + items.last();
}

// An option's help: after the words of the command that takes it, or before the names of the
// commands where several do.
QString helpOf(OptionForm const& option) {
    QList<CommandForm const*> takers;
    for (auto const& command : commandForms) {
        if (takes(&command, QLatin1String(option.name))) {
            takers << &command;
        }
    }
    QString what = QString::fromLatin1(option.what);
    if (takers.size() == 1) {
        return wordsOf(*takers.front()).join(QLatin1Char(' ')) + QStringLiteral(": ") + what;
    }
    QStringList names;
    for (auto const* command : takers) {
        names << wordsOf(*command).front();
    }
    what[0] = what[0].toUpper();
    return what + QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QStringLiteral(").");
}

QString description() {
    QString text = QStringLiteral("Looks into budget files without starting the application.\n"
                                  "\n"
                                  "Commands:\n");
    for (auto const& command : commandForms) {
        text += QStringLiteral("  ") + QLatin1String(command.form) + QLatin1Char('\n');
        for (auto const& line : QString::fromLatin1(command.help).split(QLatin1Char('\n'))) {
            text += QStringLiteral("      ") + line + QLatin1Char('\n');
        }
    }
    text += QStringLiteral("  help [COMMAND]\n"
                           "      Prints the usage and options of COMMAND, as COMMAND --help does, "
                           "or this help.\n");
    return text + QStringLiteral(
                      "\n"
                      "No command replaces an existing file unless --force is given (but restore, "
                      "which keeps the\n"
                      "file it replaces), and none writes to anything but a regular file. With "
                      "--json a command\n"
                      "prints one JSON document, failures included.\n"
                      "\n"
                      "Exit status:\n"
                      "  0  success; diff: the two files hold the same budget\n"
                      "  1  a file that cannot be used, or check --strict with warnings; diff: "
                      "they differ\n"
                      "  2  a wrong command line; diff: trouble (a file that does not load, say)");
}

QTextStream& standardError() {
    static QTextStream stream(stderr);
    return stream;
}

// Records the library logs reach the user as plain lines, never as a console dump.
void printRecord(QtMsgType type, QMessageLogContext const&, QString const& text) {
    if (type == QtDebugMsg || type == QtInfoMsg) {
        return;
    }
    zel::tool::eraseProgress();
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

// One command's usage, what it does and its options, for help COMMAND and COMMAND --help.
int showCommandHelp(CommandForm const& command) {
    QStringList names;
    QStringList texts;
    for (auto const& form : optionForms) {
        if (!takes(&command, QLatin1String(form.name))) {
            continue;
        }
        QString name = QStringLiteral("--") + QLatin1String(form.name);
        if (form.letter != nullptr) {
            name.prepend(QStringLiteral("-%1, ").arg(QLatin1String(form.letter)));
        }
        if (form.value != nullptr) {
            name += QStringLiteral(" <%1>").arg(QLatin1String(form.value));
        }
        names << name;
        texts << QString::fromLatin1(form.what);
    }
    QTextStream out(stdout);
    out << "Usage: budget-file " << command.form << "\n\n" << command.help << '\n';
    if (!names.isEmpty()) {
        qsizetype width = 0;
        for (auto const& name : names) {
            width = std::max(width, name.size());
        }
        out << "\nOptions:\n";
        // Each text wrapped at the 80th column, its lines under one another.
        for (qsizetype i = 0; i < names.size(); ++i) {
            QString line = QStringLiteral("  ") + names[i].leftJustified(width + 2);
            auto const indent = line.size();
            bool first = true;
            for (auto const& word : texts[i].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                if (!first && line.size() + 1 + word.size() > 80) {
                    out << line << '\n';
                    line = QString(indent, QLatin1Char(' ')) + word;
                } else {
                    line += (first ? QString() : QStringLiteral(" ")) + word;
                }
                first = false;
            }
            out << line << '\n';
        }
    }
    out.flush();
    return out.status() == QTextStream::Ok ? 0 : 1;
}

// The tool's command line, with Qt's help options but a text of the tool's own for --help-all:
// Qt's speaks of Qt's options, which the tool does not have, and differs between Qt versions.
void describe(QCommandLineParser& parser) {
    parser.setApplicationDescription(description());
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
    for (auto const& form : optionForms) {
        QStringList names{QString::fromLatin1(form.name)};
        if (form.letter != nullptr) {
            names.prepend(QString::fromLatin1(form.letter));
        }
        QCommandLineOption option(names, helpOf(form));
        if (form.value != nullptr) {
            option.setValueName(QString::fromLatin1(form.value));
        }
        parser.addOption(option);
    }
    QStringList names;
    for (auto const& command : commandForms) {
        names << wordsOf(command).front();
    }
    parser.addPositionalArgument(QStringLiteral("command"),
                                 listed(names, QStringLiteral(" or ")) + QLatin1Char('.'));
}

// The options of the command line, or the usage error that they make.
std::optional<int> readOptions(QCommandLineParser const& parser, CommandForm const* command,
                               QString const& name, Options& options) {
    // Checked in the order of their names, so that one command line gives one error.
    QStringList given;
    for (auto const& form : optionForms) {
        given << QString::fromLatin1(form.name);
    }
    given.sort();
    for (auto const& option : given) {
        if (parser.isSet(option) && !takes(command, option)) {
            return usageError(QStringLiteral("--%1 does not apply to %2").arg(option, name));
        }
    }
    options.json = parser.isSet(QStringLiteral("json"));
    options.force = parser.isSet(QStringLiteral("force"));
    options.strict = parser.isSet(QStringLiteral("strict"));
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    options.orRaw = parser.isSet(QStringLiteral("or-raw"));
    options.csvSafe = parser.isSet(QStringLiteral("csv-safe"));
    options.output = parser.value(QStringLiteral("output"));
    options.format = parser.value(QStringLiteral("format"));
    options.file = parser.value(QStringLiteral("file"));
    options.backUp = parser.value(QStringLiteral("backup"));
    if (parser.isSet(QStringLiteral("application"))) {
        if (parser.isSet(QStringLiteral("file"))) {
            return usageError(QStringLiteral("give --file or --application, not both"));
        }
        if (parser.value(QStringLiteral("application")).isEmpty()) {
            return usageError(QStringLiteral("--application takes the application's name"));
        }
        // The cache folder is the one Qt gives that application; the exchange-rates file's
        // location is fixed by the first use, which comes later.
        QCoreApplication::setApplicationName(parser.value(QStringLiteral("application")));
    }
    for (auto const& [number, value] :
         {std::pair{"transactions", &options.transactions}, std::pair{"seed", &options.seed}}) {
        auto const option = QString::fromLatin1(number);
        bool whole = true;
        if (parser.isSet(option)) {
            *value = parser.value(option).toUInt(&whole);
        }
        if (!whole) {
            return usageError(QStringLiteral("--%1 takes a whole number, not '%2'")
                                  .arg(option, parser.value(option)));
        }
    }
    return std::nullopt;
}

// Runs command with the arguments after its first word, once they are as its form asks.
int dispatch(CommandForm const& command, QStringList arguments, Options const& options,
             Streams io) {
    auto const usage = [&] {
        return usageError(QStringLiteral("usage: budget-file %1").arg(QLatin1String(command.form)));
    };
    if (command.refuse != nullptr) {
        if (auto const why = command.refuse(options)) {
            return usageError(*why);
        }
    }
    for (auto const& word : wordsOf(command).mid(1)) {
        if (arguments.isEmpty() || arguments.takeFirst() != word) {
            return usage();
        }
    }
    if (arguments.size() < command.least ||
        (command.most >= 0 && arguments.size() > command.most)) {
        return usage();
    }
    return command.run(Call{arguments, options, io});
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(printRecord);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("budget-file"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEL_VERSION));

    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(zel::tool::system::arguments(argc, argv))) {
        return usageError(parseError(parser));
    }
    auto arguments = parser.positionalArguments();
    // The tool has no options of Qt's own to show, so --help-all shows what --help does.
    bool const help =
        parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"));
    // "help COMMAND" and "COMMAND --help" show that command's help.
    if (!arguments.isEmpty() && (help || arguments.front() == QLatin1String("help"))) {
        if (arguments.front() == QLatin1String("help")) {
            arguments.removeFirst();
        }
        if (arguments.isEmpty()) {
            return showHelp(parser);
        }
        auto const* command = commandNamed(arguments.front());
        return command != nullptr
                   ? showCommandHelp(*command)
                   : usageError(QStringLiteral("unknown command '%1'").arg(arguments.front()));
    }
    if (help) {
        return showHelp(parser);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }
    if (arguments.isEmpty()) {
        return usageError(QStringLiteral("no command given"));
    }
    QString const name = arguments.takeFirst();
    auto const* command = commandNamed(name);
    Options options;
    if (auto const refused = readOptions(parser, command, name, options)) {
        return *refused;
    }
    if (command == nullptr) {
        return usageError(QStringLiteral("unknown command '%1'").arg(name));
    }
    if (options.quiet) {
        // The load's warnings about the document too: the exit status says it all.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    }

    QTextStream out(stdout);
    int const status = dispatch(*command, arguments, options, Streams{out, standardError()});
    // A report cut short (a full disk, a closed pipe) is not a success.
    out.flush();
    if (out.status() != QTextStream::Ok || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        standardError() << "budget-file: cannot write the standard output" << Qt::endl;
        return status != 0 ? status : command->trouble;
    }
    return status;
}
