#include "BudgetFileTestSupport.h"
#include "StoreChild.h"
#include "support/SymbolicLink.h"

#include <cerrno>
#include <optional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <grp.h>
#include <unistd.h>
#endif

namespace zel::testing::budget_file {

void Layout::make() const {
    if (!QDir().mkpath(directory) ||
        (linked && !makeSymbolicLink(QStringLiteral("synced/budget.xml"), budgetPath))) {
        throw std::runtime_error("cannot lay out the test folder");
    }
}

QString Layout::fill(QString text) const {
    return text.replace(QLatin1String("{missing}"), missingFileText())
        .replace(QLatin1String("{L}"), budgetPath)
        .replace(QLatin1String("{B}"), budget)
        .replace(QLatin1String("{K}"), backUp)
        .replace(QLatin1String("{O}"), oldBackUp)
        .replace(QLatin1String("{D}"), directory);
}

QStringList Layout::others() const {
    QStringList result;
    for (auto const& in : linked ? QStringList{folder, directory} : QStringList{folder}) {
        for (auto const& info : QDir(in).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                       QDir::Hidden | QDir::System)) {
            QString const path = info.filePath();
            if (path != budgetPath && path != budget && path != backUp && path != oldBackUp &&
                path != record && path != directory) {
                result << info.fileName();
            }
        }
    }
    return result;
}

QString missingFileText() {
#if defined(_WIN32)
    return qt_error_string(ERROR_FILE_NOT_FOUND);
#else
    return qt_error_string(ENOENT);
#endif
}

std::string recordText(QtMsgType type, QString const& text) {
    char const letters[] = {'D', 'W', 'C', 'F', 'I'};
    return std::string(1, letters[type]) + ' ' + text.toStdString();
}

namespace {

// The writer's progress records, which the tests of the file handling leave out.
bool isWriterRecord(QString const& text) {
    for (char const* prefix : {"Preparing to write", "Filling ", "Writing ", "Completed writing",
                               "Reading ", "Parsing budget file", "No attribute"}) {
        if (text.startsWith(QLatin1String(prefix))) {
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<std::string> fileRecords(LogCapture const& capture) {
    std::vector<std::string> result;
    for (auto const& record : capture.records()) {
        if (!isWriterRecord(record.text)) {
            result.push_back(recordText(record.type, record.text));
        }
    }
    return result;
}

ChildRun runChild(QStringList const& arguments, std::optional<uint> asUser) {
    QProcess child;
    if (asUser) {
#if defined(_WIN32)
        ADD_FAILURE() << "Windows has no setuid to run the child as another user";
        return ChildRun();
#else
        child.setChildProcessModifier([user = static_cast<uid_t>(*asUser)] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) {
                ::_exit(3);
            }
        });
#endif
    }
    // A system short of resources may fail to start a process now and then (Wine under load
    // does): that is tried again, as it says nothing of the store.
    for (int attempt = 0; attempt < 3; ++attempt) {
        child.start(QStringLiteral(ZEL_BUDGET_FILE_STORE_CHILD), arguments);
        if (child.waitForStarted(60000) || child.error() != QProcess::FailedToStart) {
            break;
        }
    }
    ChildRun run;
    // A child that has ended already is not waited for (waiting would report a failure).
    bool const started = child.error() != QProcess::FailedToStart;
    if (!started || (child.state() != QProcess::NotRunning && !child.waitForFinished(120000))) {
        auto const why = child.errorString().toStdString();
        child.kill();
        child.waitForFinished();
        ADD_FAILURE() << "the child did not finish (" << why
                      << "): " << arguments.join(QLatin1Char(' ')).toStdString();
        return run;
    }
    run.crashed = child.exitStatus() == QProcess::CrashExit;
    run.exitCode = child.exitCode();
    QByteArray const output = child.readAllStandardOutput();
    run.output = output.toStdString() + child.readAllStandardError().toStdString();
    for (auto const& line : QString::fromUtf8(output)
                                .remove(QLatin1Char('\r'))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        auto const fields = line.split(QLatin1Char('\t'));
        seam::Step step;
        if (seam::parseTraceLine(line, step)) {
            run.trace.push_back(step);
        } else if (fields[0] == QLatin1String("first")) {
            run.firstText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        } else if (fields[0] == QLatin1String("second")) {
            run.secondText = fields.mid(1).join(QLatin1Char('\t')).toStdString();
        } else if (fields[0] == QLatin1String("stored") || fields[0] == QLatin1String("loaded")) {
            run.outcomes << fields.join(QLatin1Char(' '));
        }
    }
    return run;
}

} // namespace zel::testing::budget_file

namespace zel::testing::store_child {

int storeOrLoad(QStringList arguments, std::function<void(QString const& line)> const& print) {
    std::vector<seam::StepFault> faults;
    seam::CountedFault counted;
    bool trace = false;
    int times = 1;
    while (!arguments.isEmpty() && arguments.front().startsWith(QLatin1String("--"))) {
        QString const option = arguments.takeFirst();
        trace = trace || option == QLatin1String("--trace");
        QString const value =
            option == QLatin1String("--trace") ? QString() : arguments.takeFirst();
        if (option == QLatin1String("--times")) {
            times = value.toInt();
        } else if (option == QLatin1String("--fail")) {
            faults.push_back(seam::parseStepFault(value));
        } else if (!value.isEmpty()) {
            counted.at = value.toLong();
            counted.action = option == QLatin1String("--kill-at")   ? seam::Action::kill
                             : option == QLatin1String("--fail-at") ? seam::Action::fail
                                                                    : seam::Action::failFrom;
        }
    }
    QString const mode = arguments.takeFirst();
    file_storage::BudgetFile const file(arguments.takeFirst(), QStringLiteral("~"));
    std::map<std::string, QString> names;
    for (auto const& name : arguments) {
        names.emplace(describe(budgetNamed(name)), name);
    }
    auto const state = budgetNamed(arguments.front());
    std::optional<seam::Seam> installed;
    if (trace || !faults.empty() || counted.at != 0) {
        installed.emplace(faults, counted, [&](seam::Step const& step) {
            if (trace) {
                print(QString::fromStdString(seam::traceLine(step)));
            }
        });
    }
    int status = 0;
    for (int i = 0; i < times; ++i) {
        try {
            if (mode == QLatin1String("store")) {
                budget_file::store(file, state);
                print(QStringLiteral("stored\t") + arguments.front());
            } else if (mode == QLatin1String("restore")) {
                print(QStringLiteral("restored\t") + file.restoreBackUp());
            } else {
                auto const found = names.find(describe(file.load()));
                print(QStringLiteral("loaded\t") +
                      (found == names.end() ? QStringLiteral("?") : found->second));
            }
        } catch (storage::StorageError const& error) {
            print(QStringLiteral("first\t") + error.firstText());
            print(QStringLiteral("second\t") + error.secondText());
            status = 1;
        }
    }
    return status;
}

} // namespace zel::testing::store_child
