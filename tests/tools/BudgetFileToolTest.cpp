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
    ToolRun run(QStringList const& arguments) const {
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

    void write(QString const& file, QByteArray const& content) const {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QByteArray contents(QString const& file) const {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

TEST_F(BudgetFileTool, WritesASampleThatChecksWithItsCounts) {
    auto const sample =
        run({QStringLiteral("sample"), path("b.xml"), QStringLiteral("--transactions"),
             QStringLiteral("50"), QStringLiteral("--seed"), QStringLiteral("3")});
    ASSERT_EQ(sample.exitCode, 0) << sample.err.toStdString();

    auto const check = run({QStringLiteral("check"), QStringLiteral("--json"), path("b.xml")});
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

    auto const plain = run({QStringLiteral("check"), path("b.xml")});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_TRUE(plain.out.contains(QStringLiteral("52 transactions"))) << plain.out.toStdString();
}

TEST_F(BudgetFileTool, WritesTheSameFileForTheSameSeed) {
    for (auto const* name : {"one.xml", "two.xml"}) {
        ASSERT_EQ(
            run({QStringLiteral("sample"), path(name), QStringLiteral("--seed"),
                 QStringLiteral("11"), QStringLiteral("--transactions"), QStringLiteral("200")})
                .exitCode,
            0);
    }
    EXPECT_EQ(contents(path("one.xml")), contents(path("two.xml")));
    ASSERT_EQ(run({QStringLiteral("sample"), path("three.xml"), QStringLiteral("--seed"),
                   QStringLiteral("12"), QStringLiteral("--transactions"), QStringLiteral("200")})
                  .exitCode,
              0);
    EXPECT_NE(contents(path("one.xml")), contents(path("three.xml")));
}

TEST_F(BudgetFileTool, SampleOverAnExistingFileBacksItUp) {
    ASSERT_EQ(run({QStringLiteral("sample"), path("b.xml"), QStringLiteral("--seed"),
                   QStringLiteral("1")})
                  .exitCode,
              0);
    auto const first = contents(path("b.xml"));
    ASSERT_EQ(run({QStringLiteral("sample"), path("b.xml"), QStringLiteral("--seed"),
                   QStringLiteral("2")})
                  .exitCode,
              0);
    EXPECT_EQ(contents(path("b.xml~")), first);
}

TEST_F(BudgetFileTool, ReportsWhereABrokenFileIsBroken) {
    write(path("broken.xml"),
          "<?xml version=\"1.0\"?>\n"
          "<KelvoraMindrath revision=\"2\">\n"
          "<wages>\n"
          "<wage id=\"1\" major=\"10\" minor=\"ten\" name=\"Pay\" currency=\"USD\" "
          "period=\"Weekly\" nextOccurOn=\"2026-01-01\" accountId=\"1\"/>\n"
          "</wages>\n"
          "</KelvoraMindrath>\n");
    auto const check = run({QStringLiteral("check"), path("broken.xml")});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(QStringLiteral("Error appears at line 4, column")))
        << check.out.toStdString();
    EXPECT_TRUE(check.out.contains(QStringLiteral("The element tag 'wage' attribute 'minor' is not "
                                                  "valid. The attribute value must be a number.")))
        << check.out.toStdString();

    auto const json = run({QStringLiteral("check"), QStringLiteral("--json"), path("broken.xml")});
    EXPECT_EQ(json.exitCode, 1);
    auto const result = QJsonDocument::fromJson(json.out.toUtf8()).object();
    EXPECT_FALSE(result[QStringLiteral("ok")].toBool());
    EXPECT_TRUE(result[QStringLiteral("error")].toString().contains(QStringLiteral("line 4")));
}

TEST_F(BudgetFileTool, ReportsMalformedXml) {
    write(path("cut.xml"), "<?xml version=\"1.0\"?>\n<KelvoraMindrath revision=\"2\">\n<wages>\n");
    auto const check = run({QStringLiteral("check"), path("cut.xml")});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_TRUE(check.out.contains(QStringLiteral("An unexpected error appeared in the file.")))
        << check.out.toStdString();
}

struct Refusal {
    char const* name;
    QStringList arguments; // "@" stands for the scratch folder
    int exitCode;
    char const* message;
};

class BudgetFileToolRefusals : public BudgetFileTool,
                               public ::testing::WithParamInterface<Refusal> {};

TEST_P(BudgetFileToolRefusals, SayWhyInOneLine) {
    QStringList arguments;
    for (auto const& argument : GetParam().arguments) {
        arguments << QString(argument).replace(QLatin1Char('@'), dir.path());
    }
    auto const result = run(arguments);
    EXPECT_EQ(result.exitCode, GetParam().exitCode);
    EXPECT_EQ(result.err.count(QLatin1Char('\n')), 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String(GetParam().message))) << result.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BudgetFileToolRefusals,
    ::testing::Values(
        Refusal{"MissingFile",
                {QStringLiteral("check"), QStringLiteral("@/none.xml")},
                1,
                "no such file"},
        Refusal{"Directory", {QStringLiteral("summary"), QStringLiteral("@")}, 1, "is a directory"},
        Refusal{"UnknownCommand", {QStringLiteral("explode")}, 2, "unknown command 'explode'"},
        Refusal{"UnknownOption",
                {QStringLiteral("check"), QStringLiteral("--loud"), QStringLiteral("x")},
                2,
                "Unknown option 'loud'"},
        Refusal{"OptionOfAnotherCommand",
                {QStringLiteral("check"), QStringLiteral("--seed"), QStringLiteral("2"),
                 QStringLiteral("x")},
                2,
                "--seed does not apply to check"},
        Refusal{"NotANumber",
                {QStringLiteral("sample"), QStringLiteral("@/s.xml"), QStringLiteral("--seed"),
                 QStringLiteral("many")},
                2,
                "--seed takes a whole number"},
        Refusal{"MissingArgument",
                {QStringLiteral("format"), QStringLiteral("@/a.xml")},
                2,
                "usage: budget-file format FILE OUT"},
        Refusal{"NoCommand", {}, 2, "no command given"}),
    [](auto const& p) { return p.param.name; });

TEST_F(BudgetFileTool, FormatsIntoAnotherFileWithoutTouchingTheOriginal) {
    ASSERT_EQ(run({QStringLiteral("sample"), path("b.xml"), QStringLiteral("--transactions"),
                   QStringLiteral("20")})
                  .exitCode,
              0);
    auto const before = contents(path("b.xml"));
    auto const format = run({QStringLiteral("format"), path("b.xml"), path("pretty.xml")});
    ASSERT_EQ(format.exitCode, 0) << format.err.toStdString();
    EXPECT_EQ(contents(path("b.xml")), before);
    EXPECT_FALSE(QFile::exists(path("b.xml~")));
    auto const pretty = contents(path("pretty.xml"));
    EXPECT_TRUE(pretty.contains("\n\t<wages>\n\t\t<wage ")) << pretty.left(300).toStdString();
    auto const original = run({QStringLiteral("check"), path("b.xml")}).out;
    auto const formatted = run({QStringLiteral("check"), path("pretty.xml")}).out;
    EXPECT_EQ(formatted.section(QStringLiteral(": OK: "), 1),
              original.section(QStringLiteral(": OK: "), 1));

    auto const onto = run({QStringLiteral("format"), path("b.xml"), path("b.xml")});
    EXPECT_EQ(onto.exitCode, 1);
    EXPECT_EQ(contents(path("b.xml")), before);
}

TEST_F(BudgetFileTool, SummaryListsEveryKindOfValue) {
    ASSERT_EQ(run({QStringLiteral("sample"), path("b.xml"), QStringLiteral("--transactions"),
                   QStringLiteral("30")})
                  .exitCode,
              0);
    auto const summary = run({QStringLiteral("summary"), path("b.xml")});
    ASSERT_EQ(summary.exitCode, 0) << summary.err.toStdString();
    for (auto const* heading : {"Accounts (", "Wages (", "Bills (", "Debts (", "Goals (",
                                "Nontrack spending (", "Bank accounts (", "Reconciliations ("}) {
        EXPECT_TRUE(summary.out.contains(QLatin1String(heading))) << heading;
    }
    EXPECT_TRUE(summary.out.contains(QStringLiteral("Everyday Checking")));
}

TEST_F(BudgetFileTool, ShowsThatThereAreNoExchangeRates) {
    auto const rates = run({QStringLiteral("rates"), QStringLiteral("show")});
    EXPECT_EQ(rates.exitCode, 0) << rates.err.toStdString();
    EXPECT_TRUE(rates.out.contains(QStringLiteral("There is no exchange-rates file.")));
    EXPECT_TRUE(rates.out.contains(dir.path())) << rates.out.toStdString();
}

TEST_F(BudgetFileTool, AnswersHelpAndVersion) {
    auto const help = run({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("check FILE")));
    auto const version = run({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("budget-file ")));
}

} // namespace
