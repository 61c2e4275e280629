#pragma once

#include "file-storage/BudgetFile.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

// Helpers shared by the tests of the budget file's store and load.
namespace zel::testing::budget_file {

inline void store(file_storage::BudgetFile const& file, storage::BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    file.store(ledger, budget, items, banks, types, surveys);
}

// The three paths of a store: the budget file, its back-up and the old back-up.
struct Paths {
    QString budget;
    QString backUp;
    QString oldBackUp;

    // Replaces {B}, {K} and {O} in text by the three paths.
    std::string fill(std::string const& text) const {
        QString result = QString::fromStdString(text);
        result.replace(QLatin1String("{B}"), budget)
            .replace(QLatin1String("{K}"), backUp)
            .replace(QLatin1String("{O}"), oldBackUp);
        return result.toStdString();
    }
};

inline Paths pathsIn(QString const& directory) {
    QString const budget = directory + QStringLiteral("/budget.xml");
    return {budget, budget + QLatin1Char('~'), budget + QStringLiteral("~.old")};
}

// What stands at path: "absent", "directory", or "file:" followed by the file's bytes.
inline std::string snapshot(QString const& path) {
    QFileInfo const info(path);
    if (!info.exists()) {
        return "absent";
    }
    if (info.isDir()) {
        return "directory";
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "unreadable";
    }
    return "file:" + file.readAll().toStdString();
}

inline void writeFile(QString const& path, QByteArray const& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        throw std::runtime_error("cannot write a test file");
    }
}

// What stands at one of the paths before a store, written by hand so that its bytes are known.
// A directory holds a file, so that neither a rename over it nor its removal as a file succeeds.
enum class Stand { absent, oldBudget, oldBackUp, directory };

inline char const oldBudgetContent[] = "<KelvoraMindrath>old budget</KelvoraMindrath>\n";
inline char const oldBackUpContent[] = "old back-up\n";
// Their snapshots.
inline std::string const oldBudgetFile = std::string("file:") + oldBudgetContent;
inline std::string const oldBackUpFile = std::string("file:") + oldBackUpContent;

inline void stand(QString const& path, Stand what) {
    if (what == Stand::oldBudget || what == Stand::oldBackUp) {
        writeFile(path, what == Stand::oldBudget ? oldBudgetContent : oldBackUpContent);
    } else if (what == Stand::directory) {
        if (!QDir().mkpath(path)) {
            throw std::runtime_error("cannot make a test directory");
        }
        writeFile(path + QStringLiteral("/content"), "x");
    }
}

// What stands at the budget file, its back-up and the old back-up.
struct Stands {
    Stand budget;
    Stand backUp;
    Stand oldBackUp;
};

inline void standAt(Paths const& paths, Stands const& stands) {
    stand(paths.budget, stands.budget);
    stand(paths.backUp, stands.backUp);
    stand(paths.oldBackUp, stands.oldBackUp);
}

// The writer's progress records, which the tests of the file handling leave out.
inline bool isWriterRecord(QString const& text) {
    for (char const* prefix : {"Preparing to write", "Filling ", "Writing ", "Completed writing"}) {
        if (text.startsWith(QLatin1String(prefix))) {
            return true;
        }
    }
    return false;
}

// One record as "D text", "I text", "W text", "C text" or "F text".
inline std::string recordText(QtMsgType type, QString const& text) {
    char const letters[] = {'D', 'W', 'C', 'F', 'I'};
    return std::string(1, letters[type]) + ' ' + text.toStdString();
}

// The file handling's own records, in order.
inline std::vector<std::string> fileRecords(LogCapture const& capture) {
    std::vector<std::string> result;
    for (auto const& record : capture.records()) {
        if (!isWriterRecord(record.text)) {
            result.push_back(recordText(record.type, record.text));
        }
    }
    return result;
}

// The file handling's records and the texts of its errors, as the tests expect them.
namespace texts {
inline std::string const storing = "D Storing Budget File \"{B}\"";
inline std::string const noBackUpNeeded = "D No pre-existing budget file found, no back-up needed.";
inline std::string const oldBackUpMoved = "D Successfully backed-up the old back-up budget file.";
inline std::string const backedUp = "D Successfully backed-up the budget file.";
inline std::string const oldBackUpRemoved = "D Successfully removed the old back-up budget file.";
inline std::string const oldBackUpRestored = "D Successfully restored the old back-up budget file.";
inline std::string const writeFailed = "C An error occurred after writing the budget file started.";
inline std::string const brokenRemoved = "D Successfully removed the broken budget file.";
inline std::string const backUpRestored = "D Successfully restored the backed-up budget file.";
inline std::string const notValid =
    "The budget file is not valid.  Error appears at line 0, column 0.";
inline std::string const untypedAccount =
    "The bank 'First Bank' holds the account 101, which has no bank account type.";
inline std::string const savedDue = "The budget file, budget.xml, failed to be saved due.";
inline std::string const backUpFailed =
    "The budget file, budget.xml, failed to be backed-up prior to saving.";
inline std::string const budgetIsADirectory =
    "Cannot open {B} for input: file to open is a directory";
} // namespace texts

// How a store ends: the two texts of its error (empty when it succeeds), the file handling's
// records, and what stands at the three paths afterwards, as snapshot gives it, or "new" for a
// budget file that loads back as the stored budget. {B}, {K} and {O} in the texts stand for the
// paths.
struct Ending {
    std::string firstText;
    std::string secondText;
    std::vector<std::string> records;
    std::string budget;
    std::string backUp;
    std::string oldBackUp;
};

// Expects a store of stored to have ended as expected: with the error texts and records given,
// and with the files it left. fill replaces the placeholders of the expected texts.
template <class Fill>
void expectEnding(Ending const& expected, Fill const& fill, std::string const& firstText,
                  std::string const& secondText, std::vector<std::string> const& records,
                  Paths const& paths, storage::BudgetState const& stored) {
    EXPECT_EQ(firstText, fill(expected.firstText));
    EXPECT_EQ(secondText, fill(expected.secondText));
    std::vector<std::string> expectedRecords;
    for (auto const& record : expected.records) {
        expectedRecords.push_back(fill(record));
    }
    EXPECT_EQ(records, expectedRecords);
    if (expected.budget == "new") {
        LogCapture quiet;
        EXPECT_EQ(describe(file_storage::BudgetFile(paths.budget, QStringLiteral("~")).load()),
                  describe(stored));
    } else {
        EXPECT_EQ(snapshot(paths.budget), expected.budget);
    }
    EXPECT_EQ(snapshot(paths.backUp), expected.backUp);
    EXPECT_EQ(snapshot(paths.oldBackUp), expected.oldBackUp);
}

// How a run of the store child (StoreChild.h) ended, and what it printed.
struct ChildRun {
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    std::vector<std::string> records; // the file handling's own, as recordText gives them
    std::string firstText;
    std::string secondText;
    std::string output;
};

inline ChildRun runStoreChild(QStringList const& arguments,
                              QProcessEnvironment const& environment) {
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QStringLiteral(ZEL_BUDGET_FILE_STORE_CHILD), arguments);
    ChildRun run;
    run.finished = child.waitForFinished(120000);
    if (!run.finished) {
        child.kill();
        child.waitForFinished();
        run.output = "the child did not finish";
        return run;
    }
    run.crashed = child.exitStatus() == QProcess::CrashExit;
    run.exitCode = child.exitCode();
    QByteArray const output = child.readAllStandardOutput();
    run.output = output.toStdString() + child.readAllStandardError().toStdString();
    for (auto const& line :
         QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        auto const fields = line.split(QLatin1Char('\t'));
        if (fields[0] == QLatin1String("log") && fields.size() == 3 && !isWriterRecord(fields[2])) {
            auto const type = fields[1] == QLatin1String("debug")      ? QtDebugMsg
                              : fields[1] == QLatin1String("info")     ? QtInfoMsg
                              : fields[1] == QLatin1String("warning")  ? QtWarningMsg
                              : fields[1] == QLatin1String("critical") ? QtCriticalMsg
                                                                       : QtFatalMsg;
            run.records.push_back(recordText(type, fields[2]));
        } else if (fields[0] == QLatin1String("first")) {
            run.firstText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        } else if (fields[0] == QLatin1String("second")) {
            run.secondText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        }
    }
    return run;
}

} // namespace zel::testing::budget_file
