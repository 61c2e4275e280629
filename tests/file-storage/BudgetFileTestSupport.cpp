#include "BudgetFileTestSupport.h"
#include "StoreChild.h"
#include "support/SymbolicLink.h"

#include <QTemporaryDir>

#include <cerrno>
#include <memory>
#include <optional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zel::testing::budget_file {

QByteArray documentOf(QString const& name) {
    QTemporaryDir scratch;
    QString const path = scratch.filePath(QStringLiteral("budget.xml"));
    LogCapture quiet;
    store(file_storage::BudgetFile(path, QStringLiteral("~")), store_child::budgetNamed(name));
    return contentOf(path).value_or(QByteArray());
}

void Layout::make() const {
    if (!QDir().mkpath(directory) ||
        (linked && !makeSymbolicLink(QStringLiteral("synced/budget.xml"), budgetPath))) {
        throw std::runtime_error("cannot lay out the test folder");
    }
}

QString Layout::fill(QString text) const {
    // The system's own texts for a file that is not there and one that is, as its error numbers
    // give them.
#if defined(_WIN32)
    QString const missing = qt_error_string(ERROR_FILE_NOT_FOUND);
    QString const exists = qt_error_string(ERROR_FILE_EXISTS);
#else
    QString const missing = qt_error_string(ENOENT);
    QString const exists = qt_error_string(EEXIST);
#endif
    return text.replace(QLatin1String("{missing}"), missing)
        .replace(QLatin1String("{exists}"), exists)
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
            char const letters[] = {'D', 'W', 'C', 'F', 'I'};
            result.push_back(letters[record.type] + (' ' + record.text.toStdString()));
        }
    }
    return result;
}

namespace {

// Reads what the child printed into run.
void readOutput(QByteArray const& output, ChildRun& run) {
    run.output += output.toStdString();
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
}

#if !defined(_WIN32)
// Runs the store child's work in a forked copy of this process, as user. Nothing is executed
// anew, so the child needs to reach neither the program nor the checkout, which may lie in a
// folder that the user cannot pass through (root's own home, a folder of mktemp -d).
ChildRun runAs(QStringList const& arguments, uint user) {
    ChildRun run;
    // What the child will need of the checkout is read now, while it can be.
    (void)smallFullBudget();
    int output[2];
    if (::pipe(output) != 0) {
        ADD_FAILURE() << "no pipe for the child";
        return run;
    }
    pid_t const child = ::fork();
    if (child == 0) {
        ::close(output[0]);
        ::dup2(output[1], STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) {
            ::_exit(3);
        }
        int status = 2;
        auto const print = [&](QString const& line) {
            QByteArray const bytes = line.toUtf8() + '\n';
            (void)!::write(output[1], bytes.constData(), static_cast<std::size_t>(bytes.size()));
        };
        try {
            status = store_child::storeOrLoad(arguments, print);
        } catch (std::exception const& error) {
            print(QStringLiteral("what\t") + QString::fromLocal8Bit(error.what()));
        }
        ::_exit(status);
    }
    ::close(output[1]);
    QByteArray printed;
    char buffer[4096];
    for (ssize_t got; (got = ::read(output[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            printed.append(buffer, got);
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(output[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.crashed = child < 0 || WIFSIGNALED(status);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    readOutput(printed, run);
    return run;
}
#endif

} // namespace

namespace {

void startChild(QProcess& child, QStringList const& arguments) {
    // A system short of resources may fail to start a process now and then (Wine under load
    // does): that is tried again, as it says nothing of the store.
    for (int attempt = 0; attempt < 3; ++attempt) {
        child.start(QStringLiteral(ZEL_BUDGET_FILE_STORE_CHILD), arguments);
        if (child.waitForStarted(60000) || child.error() != QProcess::FailedToStart) {
            break;
        }
    }
}

ChildRun finishChild(QProcess& child, QStringList const& arguments) {
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
    readOutput(output, run);
    run.output += child.readAllStandardError().toStdString();
    return run;
}

} // namespace

ChildRun runChild(QStringList const& arguments, std::optional<uint> asUser) {
    if (asUser) {
#if defined(_WIN32)
        ADD_FAILURE() << "Windows has no setuid to run the child as another user";
        return ChildRun();
#else
        return runAs(arguments, *asUser);
#endif
    }
    QProcess child;
    startChild(child, arguments);
    return finishChild(child, arguments);
}

std::vector<ChildRun> runChildren(std::vector<QStringList> const& arguments) {
    // Every child is started, from this thread, before any is waited for: started from threads
    // of their own they would be forked from a process of many threads, which ThreadSanitizer
    // refuses.
    std::vector<std::unique_ptr<QProcess>> children;
    for (auto const& each : arguments) {
        children.push_back(std::make_unique<QProcess>());
        startChild(*children.back(), each);
    }
    std::vector<ChildRun> runs;
    for (std::size_t i = 0; i < children.size(); ++i) {
        runs.push_back(finishChild(*children[i], arguments[i]));
    }
    return runs;
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
        } else if (option == QLatin1String("--umask")) {
#if !defined(_WIN32)
            ::umask(static_cast<mode_t>(value.toUInt(nullptr, 8)));
#endif
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
