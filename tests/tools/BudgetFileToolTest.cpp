// The budget-file tool run as a process on real files, as its users run it.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode;
    QString out;
    QString err;
};

class BudgetFileTool : public ::testing::Test {
protected:
    // Runs the tool with the words of command as its arguments, "@" standing for the scratch
    // folder.
    ToolRun run(QString const& command) const {
        QStringList arguments;
        for (auto const& word : command.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            arguments << QString(word).replace(QLatin1Char('@'), dir.path());
        }
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        // The tool's cache directory is the scratch folder, never the user's own.
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("HOME"), dir.path());
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ZEL_BUDGET_FILE_TOOL), arguments);
        EXPECT_TRUE(process.waitForFinished(120'000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    QString path(char const* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QByteArray contents(char const* name) const {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void write(char const* name, QByteArray const& content) const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QTemporaryDir dir;
};

TEST_F(BudgetFileTool, WritesASampleThatChecksWithItsCounts) {
    auto const sample = run("sample @/b.xml --transactions 50 --seed 3");
    ASSERT_EQ(sample.exitCode, 0) << sample.err.toStdString();

    auto const check = run("check --json @/b.xml");
    ASSERT_EQ(check.exitCode, 0) << check.err.toStdString();
    auto const result = QJsonDocument::fromJson(check.out.toUtf8()).object();
    EXPECT_TRUE(result[QStringLiteral("ok")].toBool());
    // Two opening balances come before the generated transactions.
    EXPECT_EQ(result[QStringLiteral("transactions")].toInt(), 52);
    auto const items = result[QStringLiteral("budgetItems")].toObject();
    for (auto const* kind : {"wages", "bills", "debts", "goals", "nontracks"}) {
        EXPECT_GT(items[QLatin1String(kind)].toInt(), 0) << kind;
    }
    EXPECT_GT(result[QStringLiteral("banks")].toInt(), 0);
    EXPECT_GT(result[QStringLiteral("reconciliations")].toInt(), 0);

    auto const plain = run("check @/b.xml");
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(plain.out.contains(QStringLiteral("52 transactions"))) << plain.out.toStdString();
}

TEST_F(BudgetFileTool, WritesTheSameFileForTheSameSeed) {
    ASSERT_EQ(run("sample @/one.xml --seed 11 --transactions 200").exitCode, 0);
    ASSERT_EQ(run("sample @/two.xml --seed 11 --transactions 200").exitCode, 0);
    EXPECT_EQ(contents("one.xml"), contents("two.xml"));
    ASSERT_EQ(run("sample @/three.xml --seed 12 --transactions 200").exitCode, 0);
    EXPECT_NE(contents("one.xml"), contents("three.xml"));
}

TEST_F(BudgetFileTool, SampleOverAnExistingFileBacksItUp) {
    ASSERT_EQ(run("sample @/b.xml --seed 1").exitCode, 0);
    auto const first = contents("b.xml");
    ASSERT_EQ(run("sample @/b.xml --seed 2").exitCode, 0);
    EXPECT_EQ(contents("b.xml~"), first);
}

TEST_F(BudgetFileTool, ReportsWhereABrokenFileIsBroken) {
    write("broken.xml", "<?xml version=\"1.0\"?>\n"
                        "<KelvoraMindrath revision=\"2\">\n"
                        "<wages>\n"
                        "<wage id=\"1\" major=\"10\" minor=\"ten\" name=\"Pay\" currency=\"USD\" "
                        "period=\"Weekly\" nextOccurOn=\"2026-01-01\" accountId=\"1\"/>\n"
                        "</wages>\n"
                        "</KelvoraMindrath>\n");
    auto const check = run("check @/broken.xml");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(QStringLiteral("Error appears at line 4, column")))
        << check.out.toStdString();
    EXPECT_TRUE(check.out.contains(QStringLiteral("The element tag 'wage' attribute 'minor' is not "
                                                  "valid. The attribute value must be a number.")))
        << check.out.toStdString();

    auto const json = run("check --json @/broken.xml");
    EXPECT_EQ(json.exitCode, 1);
    auto const result = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_FALSE(result[QStringLiteral("ok")].toBool());
    EXPECT_TRUE(result[QStringLiteral("error")].toString().contains(QStringLiteral("line 4")));
}

TEST_F(BudgetFileTool, ReportsMalformedXml) {
    write("cut.xml", "<?xml version=\"1.0\"?>\n<KelvoraMindrath revision=\"2\">\n<wages>\n");
    auto const check = run("check @/cut.xml");
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(QStringLiteral("An unexpected error appeared in the file.")))
        << check.out.toStdString();
}

struct Refusal {
    char const* name;
    char const* command;
    int exitCode;
    char const* message;
};

class BudgetFileToolRefusals : public BudgetFileTool,
                               public ::testing::WithParamInterface<Refusal> {};

TEST_P(BudgetFileToolRefusals, SayWhyInOneLine) {
    auto const result = run(QString::fromLatin1(GetParam().command));
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String(GetParam().message))) << result.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BudgetFileToolRefusals,
    ::testing::Values(
        Refusal{"MissingFile", "check @/none.xml", 1, "no such file"},
        Refusal{"Directory", "summary @", 1, "is a directory"},
        Refusal{"UnknownCommand", "explode", 2, "unknown command 'explode'"},
        Refusal{"UnknownOption", "check --loud x", 2, "Unknown option 'loud'"},
        Refusal{"OptionOfAnotherCommand", "check --seed 2 x", 2, "--seed does not apply to check"},
        Refusal{"NotANumber", "sample @/s.xml --seed many", 2, "--seed takes a whole number"},
        Refusal{"MissingArgument", "format @/a.xml", 2, "usage: budget-file format FILE OUT"},
        Refusal{"NoCommand", "", 2, "no command given"}),
    [](auto const& p) { return p.param.name; });

TEST_F(BudgetFileTool, FormatsIntoAnotherFileWithoutTouchingTheOriginal) {
    ASSERT_EQ(run("sample @/b.xml --transactions 20").exitCode, 0);
    auto const before = contents("b.xml");
    auto const format = run("format @/b.xml @/pretty.xml");
    ASSERT_EQ(format.exitCode, 0) << format.err.toStdString();
    EXPECT_EQ(contents("b.xml"), before);
    EXPECT_FALSE(QFile::exists(path("b.xml~")));
    auto const pretty = contents("pretty.xml");
    EXPECT_TRUE(pretty.contains("\n\t<wages>\n\t\t<wage ")) << pretty.left(300).toStdString();
    auto const original = run("check @/b.xml").out;
    auto const formatted = run("check @/pretty.xml").out;
    EXPECT_EQ(formatted.section(QStringLiteral(": OK: "), 1),
              original.section(QStringLiteral(": OK: "), 1));

    auto const onto = run("format @/b.xml @/b.xml");
    EXPECT_EQ(onto.exitCode, 1);
    EXPECT_EQ(contents("b.xml"), before);
}

TEST_F(BudgetFileTool, SummaryListsEveryKindOfValue) {
    ASSERT_EQ(run("sample @/b.xml --transactions 30").exitCode, 0);
    auto const summary = run("summary @/b.xml");
    ASSERT_EQ(summary.exitCode, 0) << summary.err.toStdString();
    for (auto const* heading : {"Accounts (", "Wages (", "Bills (", "Debts (", "Goals (",
                                "Nontrack spending (", "Bank accounts (", "Reconciliations ("}) {
        EXPECT_TRUE(summary.out.contains(QLatin1String(heading))) << heading;
    }
    EXPECT_TRUE(summary.out.contains(QStringLiteral("Everyday Checking")));
}

TEST_F(BudgetFileTool, ShowsThatThereAreNoExchangeRates) {
    auto const rates = run("rates show");
    EXPECT_EQ(rates.exitCode, 0) << rates.err.toStdString();
    EXPECT_TRUE(rates.out.contains(QStringLiteral("There is no exchange-rates file.")));
    EXPECT_TRUE(rates.out.contains(dir.path())) << rates.out.toStdString();
}

TEST_F(BudgetFileTool, AnswersHelpAndVersion) {
    auto const help = run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("check FILE")));
    auto const version = run("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("budget-file ")));
}

} // namespace
