// The rule of the store, hunted for rather than shown case by case: seeded random sequences of
// stores, restores and loads of one budget file, with random steps of the calls failing, disks
// filling up, and between the calls what a crash, the user, other programs and other users leave
// beside the file. After every call, the bytes that any file beside the budget held before it
// are held by some file after it, but the back-up's once a store has returned success; and
// nothing stands beside the budget file that a later store cannot explain.
//
//     ZEL_STORE_RULE_SEED=N         the seed of the first sequence (default 1; "random" for one
//                                   from the clock)
//     ZEL_STORE_RULE_OPERATIONS=N   how many calls in all (default 2400)
//
// A breach is reported with the seed of its sequence and the shortest sequence found that still
// breaches the rule, one step a line.
#include "BudgetFileTestSupport.h"
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/files/StoreMarker.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace budgets = zel::testing;
namespace seam = zel::testing::seam;
namespace support = zel::testing::budget_file;
using zel::file_storage::BudgetFile;

namespace {

// A throw-away user, with no name and no files of its own anywhere else.
uint constexpr otherUser = 61002;

// The budgets that the sequences store, by the store child's names.
char const* const versions[] = {"empty", "small", "random:1", "random:2"};

// What a step does: a call of the library, or one of the events that others bring about between
// the calls.
enum class Call { store, restore, load, none };

// An event: bytes put at a name beside the budget file (by this user or, as root only, another),
// or the name cleared.
enum class Bytes {
    none,     // the name cleared; with no name, every file of another user's
    marker,   // the marker of a store of another budget
    noBudget, // bytes that are no budget
    cutShort, // what the budget file holds, cut short
};
struct Event {
    char const* name;
    char const* file;
    Bytes bytes;
    bool others;
};
Event const events[] = {
    {"stale marker", ".budget.xml.storing", Bytes::marker, false},
    {"old back-up", "budget.xml~.old", Bytes::noBudget, false},
    {"cut short", "budget.xml", Bytes::cutShort, false},
    {"foreign bytes", "budget.xml", Bytes::noBudget, false},
    {"no back-up", "budget.xml~", Bytes::none, false},
    {"other's marker", ".budget.xml.storing", Bytes::marker, true},
    {"other's record", ".budget.xml.stored", Bytes::marker, true},
    {"other's budget", "budget.xml", Bytes::noBudget, true},
    {"others' files removed", nullptr, Bytes::none, true},
};

struct Step {
    Call call = Call::none;
    int event = 0;       // what others do, for no call
    int version = 0;     // store: which budget
    long failAt = 0;     // a call's step that fails, counting from 1 (0: none)
    bool failOn = false; // and every step after it
    long limit = -1;     // a file-size limit in bytes, as on a full disk (-1: none)
    int keep = 0;        // cut short: the bytes kept, in thousandths
    unsigned salt = 0;   // what makes planted bytes differ
};

std::string describe(Step const& step) {
    static char const* const calls[] = {"store ", "restore", "load"};
    std::string text =
        step.call == Call::none ? events[step.event].name : calls[static_cast<int>(step.call)];
    if (step.call == Call::store) {
        text += versions[step.version];
    }
    if (step.failAt != 0) {
        text += (step.failOn ? ", failing from step " : ", failing at step ") +
                std::to_string(step.failAt);
    }
    if (step.limit >= 0) {
        text += ", file-size limit " + std::to_string(step.limit);
    }
    return text;
}

// A sequence of steps, drawn from seed.
std::vector<Step> draw(unsigned seed, int calls, bool asRoot) {
    std::mt19937 random(seed);
    auto const pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    int const usable = asRoot ? static_cast<int>(std::size(events)) : 5;
    std::vector<Step> steps;
    for (int made = 0; made < calls;) {
        Step step;
        int const roll = pick(0, 99);
        step.call = roll < 45   ? Call::store
                    : roll < 55 ? Call::restore
                    : roll < 62 ? Call::load
                                : Call::none;
        step.event = pick(0, usable - 1);
        if (step.call != Call::none) {
            ++made;
            step.version = pick(0, 3);
            if (pick(0, 99) < 40) {
                step.failAt = pick(1, 60);
                step.failOn = pick(0, 1) == 1;
            } else if (pick(0, 99) < 15) {
                step.limit = pick(0, 6) * 1024;
            }
        }
        step.keep = pick(0, 999);
        step.salt = static_cast<unsigned>(pick(0, 1 << 30));
        steps.push_back(step);
    }
    return steps;
}

class Sequence {
public:
    explicit Sequence(bool asRoot) : asRoot_(asRoot) {}

    // Runs steps in a new folder; the index of the first step after which the rule does not
    // hold, and why; nothing when it holds throughout.
    std::optional<std::pair<std::size_t, std::string>> run(std::vector<Step> const& steps) {
        QTemporaryDir base;
        folder_ = base.path() + QStringLiteral("/shared");
        QDir().mkpath(folder_);
#if !defined(_WIN32)
        // In a folder that every user may write to, so that another user's files count.
        ::chmod(QFile::encodeName(base.path()).constData(), 0755);
        ::chmod(QFile::encodeName(folder_).constData(), asRoot_ ? 01777 : 0700);
#endif
        for (std::size_t i = 0; i < steps.size(); ++i) {
            auto const& step = steps[i];
            if (step.call == Call::none) {
                plant(step);
                continue;
            }
            auto const before = contents();
            bool succeeded = false;
            std::string const thrown = call(step, succeeded);
            if (!thrown.empty()) {
                return std::pair(i, thrown);
            }
            if (auto const why = breach(step, succeeded, before); !why.empty()) {
                return std::pair(i, why);
            }
        }
        return std::nullopt;
    }

private:
    QString path(char const* name) const {
        return folder_ + QLatin1Char('/') + name;
    }

    // Everything in the folder but the lock file, marker and record, by name.
    std::map<QString, QByteArray> contents() const {
        std::map<QString, QByteArray> files;
        for (auto const& name : QDir(folder_).entryList(QDir::Files | QDir::Hidden)) {
            if (!name.startsWith(QLatin1String(".budget.xml."))) {
                files[name] = support::contentOf(folder_ + QLatin1Char('/') + name).value_or("");
            }
        }
        return files;
    }

    void plant(Step const& step) const {
        auto const& event = events[step.event];
        if (event.file == nullptr) {
            for (auto const& info : QDir(folder_).entryInfoList(QDir::Files | QDir::Hidden)) {
                if (info.ownerId() == otherUser) {
                    QFile::remove(info.filePath());
                }
            }
            return;
        }
        QString const file = path(event.file);
        auto const held = support::contentOf(file);
        QFile::remove(file);
        QByteArray const salt = QByteArray::number(step.salt);
        switch (event.bytes) {
        case Bytes::none:
            return;
        case Bytes::marker:
            support::writeFile(
                file, zel::file_storage::internal::markerBytes(
                          {zel::file_storage::internal::fingerprintOf(salt), std::nullopt}));
            break;
        case Bytes::noBudget:
            support::writeFile(file, "not a budget " + salt);
            break;
        case Bytes::cutShort:
            support::writeFile(file,
                               held.value_or("").left(held.value_or("").size() * step.keep / 1000));
            break;
        }
#if !defined(_WIN32)
        if (event.others) {
            (void)::chown(QFile::encodeName(file).constData(), otherUser, otherUser);
        }
#endif
    }

    // Makes the call under the step's faults; what it threw that it should not have, if
    // anything.
    std::string call(Step const& step, bool& succeeded) const {
        BudgetFile const file(path("budget.xml"), QStringLiteral("~"));
        budgets::LogCapture quiet;
        std::optional<support::FileSizeLimit> limit;
        if (step.limit >= 0 && support::FileSizeLimit::available) {
            limit.emplace(step.limit);
        }
        seam::Seam installed({}, {step.failAt, step.failAt == 0 ? seam::Action::none
                                               : step.failOn    ? seam::Action::failFrom
                                                                : seam::Action::fail});
        installed.skipSyncs();
        try {
            if (step.call == Call::store) {
                support::store(file, budgets::store_child::budgetNamed(
                                         QString::fromLatin1(versions[step.version])));
            } else if (step.call == Call::restore) {
                (void)file.restoreBackUp();
            } else {
                (void)file.load();
            }
            succeeded = true;
        } catch (zel::storage::StorageError const&) {
            succeeded = false;
        } catch (std::exception const& error) {
            return std::string("the call threw what is no storage error: ") + error.what();
        }
        return "";
    }

    // Why the call broke the rule, or nothing.
    std::string breach(Step const& step, bool succeeded,
                       std::map<QString, QByteArray> const& before) const {
        auto const after = contents();
        std::set<QByteArray> held;
        for (auto const& [name, bytes] : after) {
            held.insert(bytes);
        }
        // Where each content stood before the call.
        std::map<QByteArray, QStringList> places;
        for (auto const& [name, bytes] : before) {
            places[bytes] << name;
        }
        for (auto const& [bytes, names] : places) {
            if (bytes.isEmpty() || held.count(bytes) != 0) {
                continue;
            }
            // The one exception: a store that succeeded replaced the back-up.
            bool const backUpOnly =
                std::all_of(names.begin(), names.end(), [](QString const& name) {
                    return name == QLatin1String("budget.xml~") ||
                           name == QLatin1String("budget.xml~.old");
                });
            if (step.call == Call::store && succeeded && backUpOnly) {
                continue;
            }
            return "the bytes of " + names.join(QStringLiteral(", ")).toStdString() +
                   " before the call are in no file after it";
        }
        static QRegularExpression const explained(QStringLiteral(
            "^(budget\\.xml|budget\\.xml~|budget\\.xml~\\.old|\\.budget\\.xml\\.(lock|storing|"
            "stored)|budget\\.xml\\.(incomplete|changed-elsewhere|before-restore|old-back-up)-"
            "\\d{4}-\\d\\d-\\d\\d-\\d{6}(-\\d+)?)$"));
        for (auto const& name : QDir(folder_).entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot)) {
            if (!explained.match(name).hasMatch()) {
                return "left " + name.toStdString() + ", which no later store can explain";
            }
        }
        if (step.call == Call::store && succeeded &&
            !support::holds(path("budget.xml"), budgets::store_child::budgetNamed(
                                                    QString::fromLatin1(versions[step.version])))) {
            return "the store succeeded, and the budget file does not hold its budget";
        }
        return "";
    }

    bool asRoot_;
    QString folder_;
};

unsigned firstSeed() {
    QByteArray const given = qgetenv("ZEL_STORE_RULE_SEED");
    if (given == "random") {
        return static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch());
    }
    return given.isEmpty() ? 1u : given.toUInt();
}

TEST(StoreRule, NoCallLosesTheOnlyCopyOfABudgetsBytes) {
#if defined(_WIN32)
    bool const asRoot = false;
#else
    bool const asRoot = ::geteuid() == 0;
#endif
    int const operations = qEnvironmentVariableIsSet("ZEL_STORE_RULE_OPERATIONS")
                               ? qEnvironmentVariableIntValue("ZEL_STORE_RULE_OPERATIONS")
                               : 2400;
    int constexpr callsPerSequence = 12;
    unsigned const seed = firstSeed();
    Sequence sequence(asRoot);
    for (int done = 0; done < operations; done += callsPerSequence) {
        unsigned const sequenceSeed = seed + static_cast<unsigned>(done / callsPerSequence);
        auto steps = draw(sequenceSeed, callsPerSequence, asRoot);
        auto found = sequence.run(steps);
        if (!found) {
            continue;
        }
        // The shortest sequence that still breaches: steps after the breach, then any one step
        // that the breach does without, left out until none can be.
        steps.resize(found->first + 1);
        for (bool shorter = true; shorter;) {
            shorter = false;
            for (std::size_t i = 0; i < steps.size() && !shorter; ++i) {
                auto fewer = steps;
                fewer.erase(fewer.begin() + static_cast<long>(i));
                if (auto const still = sequence.run(fewer)) {
                    fewer.resize(still->first + 1);
                    steps = fewer;
                    found = still;
                    shorter = true;
                }
            }
        }
        std::string shown;
        for (auto const& step : steps) {
            shown += "\n  " + describe(step);
        }
        FAIL() << "seed " << sequenceSeed << (asRoot ? " (as root)" : "") << ": " << found->second
               << ", after:" << shown;
    }
    std::printf("[ counts   ] %d calls from seed %u%s\n", operations, seed,
                asRoot ? ", with other users' files" : "");
}

} // namespace
