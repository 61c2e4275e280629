// Stores or loads a budget file in a process of its own; see StoreChild.h.
#include "StoreChild.h"
#include "StoreSeam.h"

#include "file-storage/BudgetFile.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QString>

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>

#include <sys/resource.h>

namespace {

namespace seam = zel::testing::seam;

void print(char const* kind, QString const& text) {
    std::printf("%s\t%s\n", kind, text.toUtf8().constData());
    std::fflush(stdout);
}

// Makes every later write beyond bytes of a file fail with EFBIG rather than kill.
bool limitFileSize(QString const& bytes) {
    rlimit limit{};
    bool number = false;
    limit.rlim_cur = bytes.toULongLong(&number);
    limit.rlim_max = RLIM_INFINITY;
    return number && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR &&
           setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

int run(QStringList arguments) {
    std::vector<seam::StepFault> faults;
    seam::CountedFault counted;
    bool trace = false;
    int times = 1;
    while (!arguments.isEmpty() && arguments.front().startsWith(QLatin1String("--"))) {
        QString const option = arguments.takeFirst();
        if (option == QLatin1String("--trace")) {
            trace = true;
            continue;
        }
        QString const value = arguments.isEmpty() ? QString() : arguments.takeFirst();
        if (option == QLatin1String("--times")) {
            times = value.toInt();
        } else if (option == QLatin1String("--file-size-limit")) {
            if (!limitFileSize(value)) {
                return 2;
            }
        } else if (option == QLatin1String("--fail")) {
            faults.push_back(seam::parseStepFault(value));
        } else {
            counted.at = value.toLong();
            counted.action = option == QLatin1String("--kill-at")   ? seam::Action::kill
                             : option == QLatin1String("--fail-at") ? seam::Action::fail
                                                                    : seam::Action::failFrom;
        }
    }
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: [OPTIONS] store PATH BUDGET | load PATH BUDGET...\n");
        return 2;
    }
    QString const mode = arguments.takeFirst();
    zel::file_storage::BudgetFile const file(arguments.takeFirst(), QStringLiteral("~"));
    std::vector<std::pair<QString, std::string>> budgets;
    for (auto const& name : arguments) {
        budgets.emplace_back(name,
                             zel::testing::describe(zel::testing::store_child::budgetNamed(name)));
    }
    auto const state = zel::testing::store_child::budgetNamed(arguments.front());
    seam::Seam const installed(faults, counted, [trace](seam::Step const& step) {
        if (trace) {
            std::printf("%s\n", seam::traceLine(step).c_str());
        }
    });
    int status = 0;
    for (int i = 0; i < times; ++i) {
        try {
            if (mode == QLatin1String("store")) {
                auto const& [ledger, budget, items, banks, types, surveys] = state;
                file.store(ledger, budget, items, banks, types, surveys);
                print("stored", arguments.front());
                continue;
            }
            auto const loaded = zel::testing::describe(file.load());
            QString name = QStringLiteral("?");
            for (auto const& [candidate, description] : budgets) {
                name = description == loaded ? candidate : name;
            }
            print("loaded", name);
        } catch (zel::storage::StorageError const& error) {
            print("first", error.firstText());
            print("second", error.secondText());
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    try {
        return run(application.arguments().mid(1));
    } catch (std::exception const& error) {
        print("what", QString::fromLocal8Bit(error.what()));
        return 2;
    }
}
