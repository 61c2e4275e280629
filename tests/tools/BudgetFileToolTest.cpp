// The budget-file tool run as a process, as its users run it: one table of command lines and
// what they must do, in the tables of tests/data/tool.
#include "support/Manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>

using zel::testing::Record;

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

// Every text of a JSON value, object keys included, in strings.
void textsOf(QJsonValue const& value, QStringList& strings) {
    if (value.isString()) {
        strings << value.toString();
    } else if (value.isArray()) {
        for (auto const& item : value.toArray()) {
            textsOf(item, strings);
        }
    } else if (value.isObject()) {
        auto const object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            strings << it.key();
            textsOf(it.value(), strings);
        }
    }
}

// Whether a string of the JSON text holds a character below U+0020 as it is: JSON has it
// escaped, but lenient parsers, Qt's among them, let it through.
bool rawControlInString(QByteArray const& json) {
    bool inString = false;
    bool escaped = false;
    for (char const c : json) {
        if (!inString) {
            inString = c == '"';
        } else if (escaped) {
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            inString = false;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
}

// The texts of output read by a JSON parser: one document, or one a line. Empty, with a failure
// of the test, where the output is not JSON.
QStringList jsonTexts(QString const& output) {
    QStringList strings;
    if (rawControlInString(output.toUtf8())) {
        ADD_FAILURE() << "a JSON string holds a control character as it is: "
                      << output.left(300).toStdString();
        return strings;
    }
    QJsonParseError error{};
    auto const whole = QJsonDocument::fromJson(output.toUtf8(), &error);
    if (error.error == QJsonParseError::NoError) {
        textsOf(whole.isArray() ? QJsonValue(whole.array()) : QJsonValue(whole.object()), strings);
        return strings;
    }
    for (auto const& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        auto const document = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError) {
            ADD_FAILURE() << "not JSON (" << error.errorString().toStdString()
                          << "): " << line.left(300).toStdString();
            return {};
        }
        textsOf(QJsonValue(document.object()), strings);
    }
    return strings;
}

// Damages the file as a crash or a bad disk would: "PATH cut SIZE" cuts it short, "PATH zero
// OFFSET LENGTH" zeroes a block, "PATH tear OTHER OFFSET" keeps its first OFFSET bytes and
// takes the rest from OTHER (a write torn between two versions).
bool damage(QStringList const& how) {
    QFile file(how.value(0));
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    auto const number = [&](int at) { return how.value(at).toLongLong(); };
    if (how.value(1) == QLatin1String("cut")) {
        return file.resize(number(2));
    }
    if (how.value(1) == QLatin1String("zero")) {
        return file.seek(number(2)) && file.write(QByteArray(number(3), '\0')) == number(3);
    }
    QFile other(how.value(2));
    return how.value(1) == QLatin1String("tear") && other.open(QIODevice::ReadOnly) &&
           other.seek(number(3)) && file.resize(number(3)) && file.seek(number(3)) &&
           file.write(other.readAll()) >= 0;
}

class BudgetFileTool : public testing::TestWithParam<Record> {
protected:
    // The text with "@" standing for the scratch folder, and "\n", "\t" and "\e" for a new
    // line, a tab and an escape character; "\\" is a backslash, held aside meanwhile as a
    // character that no manifest holds.
    QString filled(std::string const& text) const {
        return QString::fromStdString(text)
            .replace(QLatin1Char('@'), scratch_.path())
            .replace(QLatin1String("\\\\"), QChar(0))
            .replace(QLatin1String("\\n"), QLatin1String("\n"))
            .replace(QLatin1String("\\t"), QLatin1String("\t"))
            .replace(QLatin1String("\\e"), QLatin1String("\x1b"))
            .replace(QChar(0), QLatin1Char('\\'));
    }
    // The two halves of "A B", filled.
    std::pair<QString, QString> split(std::string const& text) const {
        auto const space = text.find(' ');
        return {filled(text.substr(0, space)), filled(text.substr(space + 1))};
    }
    QByteArray contents(QString const& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : "no file " + path.toUtf8();
    }

    // The command line split at spaces, or with shell, a bash command line that finds the tool
    // by its name.
    Outcome run(std::string const& command, bool shell = false) const {
        QProcess tool;
        auto environment = QProcessEnvironment::systemEnvironment();
        // The tool's home and cache are the scratch folder, never the user's own.
        environment.insert(QStringLiteral("HOME"), scratch_.path());
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), filled("@/cache"));
        environment.insert(QStringLiteral("PATH"), QFileInfo(ZEL_BUDGET_FILE_TOOL).path() +
                                                       QDir::listSeparator() +
                                                       environment.value(QStringLiteral("PATH")));
        tool.setProcessEnvironment(environment);
        if (shell) {
            tool.start(QStringLiteral("bash"), {QStringLiteral("-c"), filled(command)});
        } else {
            tool.start(QStringLiteral(ZEL_BUDGET_FILE_TOOL),
                       filled(command).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
        // A tool still running then is killed as the process object goes.
        EXPECT_TRUE(tool.waitForFinished(60'000)) << command << ": still running after a minute";
        // A console program ends its lines with CR LF on Windows.
        auto const lines = [](QByteArray const& bytes) {
            return QString::fromUtf8(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        };
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
                lines(tool.readAllStandardOutput()), lines(tool.readAllStandardError())};
    }

    QTemporaryDir scratch_;
};

TEST_P(BudgetFileTool, DoesWhatItsCommandLineAsks) {
    auto const& record = GetParam();
#if defined(_WIN32)
    if (record.has("windows")) {
        GTEST_SKIP() << record.value("windows");
    }
    if (record.has("fifo")) {
        GTEST_SKIP() << "Windows has no named pipes (FIFOs) in the file system";
    }
    if (record.has("mode") || record.has("chmod")) {
        GTEST_SKIP() << "Windows has no POSIX permission bits";
    }
#endif
    // The usual mask, which lets every user read a new file, whatever the one running the tests.
    ::umask(022);
    for (auto const& copy : record.values("file")) {
        auto const [from, to] = split(copy);
        QDir().mkpath(QFileInfo(to).path());
        ASSERT_TRUE(QFile::copy(zel::testing::dataPath(from), to)) << copy;
    }
#if !defined(_WIN32)
    for (auto const& pipe : record.values("fifo")) {
        ASSERT_EQ(mkfifo(QFile::encodeName(filled(pipe)).constData(), 0600), 0) << pipe;
    }
#endif
    for (auto const& command : record.values("given")) {
        auto const given = run(command);
        ASSERT_EQ(given.status, 0) << command << '\n' << given.err.toStdString();
    }
    for (auto const& link : record.values("link")) {
        auto const [target, path] = split(link);
        ASSERT_TRUE(QFile::link(target, path)) << link;
    }
    for (auto const& how : record.values("damage")) {
        ASSERT_TRUE(damage(filled(how).split(QLatin1Char(' ')))) << how;
    }
    for (auto const& change : record.values("chmod")) {
        auto const [path, mode] = split(change);
        ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode.toUInt(nullptr, 8)));
    }

    auto result = record.has("shell") ? run(record.value("shell"), true) : run(record.value("run"));
    EXPECT_EQ(result.status, std::stoi(record.value("status"))) << result.err.toStdString();
    // What a command run afterwards prints is looked for in the output too.
    for (auto const& command : record.values("after")) {
        result.out += run(command).out;
    }
    for (auto const& text : record.values("out")) {
        EXPECT_TRUE(result.out.contains(filled(text))) << "no \"" << text << "\" in the output:\n"
                                                       << result.out.left(2000).toStdString();
    }
    for (auto const& text : record.values("lacks")) {
        EXPECT_FALSE(result.out.contains(filled(text))) << "\"" << text << "\" in the output";
    }
    QString err;
    for (auto const& line : record.values("err")) {
        err += filled(line) + QLatin1Char('\n');
    }
    EXPECT_EQ(result.err, err);
    for (auto const& pair : record.values("same")) {
        auto const [a, b] = split(pair);
        EXPECT_EQ(contents(a), contents(b)) << pair;
    }
    for (auto const& path : record.values("absent")) {
        EXPECT_FALSE(QFile::exists(filled(path))) << path;
    }
    for (auto const& permissions : record.values("mode")) {
        auto const [path, mode] = split(permissions);
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0) << permissions;
        EXPECT_EQ(status.st_mode & 0777, mode.toUInt(nullptr, 8)) << permissions;
    }
    if (record.has("json")) {
        auto const texts = jsonTexts(result.out);
        for (auto const& text : record.values("json")) {
            EXPECT_TRUE(
                std::any_of(texts.begin(), texts.end(),
                            [&](QString const& read) { return read.contains(filled(text)); }))
                << "no JSON string holds \"" << text << "\"";
        }
    }
    for (auto const& has : record.values("has")) {
        auto const [path, text] = split(has);
        EXPECT_TRUE(contents(path).contains(text.toUtf8())) << has;
    }
}

// Every table of tests/data/tool, one command line a record.
std::vector<Record> commandLines() {
    std::vector<Record> records;
    for (auto const& name :
         QDir(zel::testing::dataPath(QStringLiteral("tool")))
             .entryList({QStringLiteral("*.manifest")}, QDir::Files, QDir::Name)) {
        auto const table = zel::testing::readManifest(QStringLiteral("tool/") + name);
        records.insert(records.end(), table.begin(), table.end());
    }
    return records;
}

INSTANTIATE_TEST_SUITE_P(Commands, BudgetFileTool, testing::ValuesIn(commandLines()),
                         zel::testing::recordName);

} // namespace
