#include "StoreSeam.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zel::testing::seam {

namespace {

using file_storage::internal::stepName;

// The errors that the tests' data names.
struct NamedError {
    char const* name;
    int number;
};
NamedError const errors[] = {
    {"EIO", EIO}, {"EINVAL", EINVAL}, {"ENOTSUP", ENOTSUP}, {"ENOSYS", ENOSYS}};

FileStep stepNamed(QString const& name) {
    for (int step = 0; step <= static_cast<int>(FileStep::syncFileSystem); ++step) {
        if (name == QLatin1String(stepName(static_cast<FileStep>(step)))) {
            return static_cast<FileStep>(step);
        }
    }
    throw std::runtime_error("no step named " + name.toStdString());
}

// "-" stands for an empty path: the naming of a copy has no path of its own.
QString pathOf(QString const& text) {
    return text == QLatin1String("-") ? QString() : text;
}

// The errno that the data names.
int errorNumber(QString const& name) {
    for (auto const& [known, number] : errors) {
        if (name == QLatin1String(known)) {
            return number;
        }
    }
    throw std::runtime_error("no errno named " + name.toStdString());
}

} // namespace

StepFault parseStepFault(QString const& text) {
    auto words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2) {
        throw std::runtime_error("not a step: " + text.toStdString());
    }
    StepFault fault{stepNamed(words.takeFirst()), pathOf(words.takeFirst()), {}, 1, EIO};
    if (!words.isEmpty() && QDir::isAbsolutePath(words.front())) {
        fault.other = words.takeFirst();
    }
    if (!words.isEmpty() && words.front() == QLatin1String("*")) {
        fault.occurrence = 0;
        words.removeFirst();
    } else if (!words.isEmpty() && words.front().startsWith(QLatin1Char('#'))) {
        fault.occurrence = words.takeFirst().mid(1).toInt();
    }
    if (!words.isEmpty()) {
        fault.error = errorNumber(words.takeFirst());
    }
    return fault;
}

Seam::Seam(std::vector<StepFault> faults, CountedFault counted,
           std::function<void(Step const&)> onStep)
    : faults_(std::move(faults)), seen_(faults_.size(), 0), counted_(counted),
      onStep_(std::move(onStep)) {
    file_storage::internal::setFileStepHook(
        [this](FileStep step, QString const& path, QString const& other) {
            return decide(step, path, other);
        });
}

Seam::~Seam() {
    file_storage::internal::setFileStepHook({});
}

int Seam::decide(FileStep step, QString const& path, QString const& other) {
    Step& entry =
        trace_.emplace_back(Step{static_cast<long>(trace_.size()) + 1, step, path, other, "ok"});
    int error = 0;
    if (counted_.action == Action::kill && entry.index == counted_.at) {
        entry.outcome = "killed";
        if (onStep_) {
            onStep_(entry);
        }
        std::fflush(nullptr);
#if defined(_WIN32)
        // Windows has no SIGKILL: TerminateProcess ends the process as abruptly, with a status
        // that QProcess reports as a crash.
        ::TerminateProcess(::GetCurrentProcess(), 0xC000013A);
#else
        std::raise(SIGKILL);
#endif
    }
    if ((counted_.action == Action::fail && entry.index == counted_.at) ||
        (counted_.action == Action::failFrom && entry.index >= counted_.at)) {
        error = EIO;
    }
    for (std::size_t i = 0; i < faults_.size() && error == 0; ++i) {
        auto const& fault = faults_[i];
        if (fault.step == step && fault.path == path &&
            (fault.other.isEmpty() || fault.other == other) &&
            (++seen_[i] == fault.occurrence || fault.occurrence == 0)) {
            error = fault.error;
        }
    }
    if (error != 0) {
        entry.outcome = "failed " + std::to_string(error);
    }
    if (onStep_) {
        onStep_(entry);
    }
    bool const syncing = step == FileStep::sync || step == FileStep::syncDirectory ||
                         step == FileStep::syncFileSystem;
    return error == 0 && skipSyncs_ && syncing ? file_storage::internal::skipStep : error;
}

std::string traceLine(Step const& step) {
    return "step\t" + std::to_string(step.index) + '\t' + stepName(step.step) + '\t' +
           step.path.toStdString() + '\t' + step.other.toStdString() + '\t' + step.outcome;
}

bool parseTraceLine(QString const& line, Step& step) {
    auto const fields = line.split(QLatin1Char('\t'));
    if (fields.size() != 6 || fields[0] != QLatin1String("step")) {
        return false;
    }
    step = Step{fields[1].toLong(), stepNamed(fields[2]), fields[3], fields[4],
                fields[5].toStdString()};
    return true;
}

long lastRan(std::vector<Step> const& trace, FileStep step, QString const& path,
             QString const& other) {
    long found = 0;
    for (auto const& entry : trace) {
        bool const ran = entry.step == step && entry.path == path && entry.other == other &&
                         entry.outcome == "ok";
        found = ran ? entry.index : found;
    }
    return found;
}

long firstRan(std::vector<Step> const& trace, FileStep step, QString const& path,
              QString const& other) {
    auto const found = std::find_if(trace.begin(), trace.end(), [&](Step const& entry) {
        return entry.step == step && entry.path == path && entry.other == other &&
               entry.outcome == "ok";
    });
    return found == trace.end() ? 0 : found->index;
}

long sweep(std::function<bool(long at)> const& faultCame) {
    // Far more points than any run has: a sweep that reaches it never ends on its own.
    long constexpr limit = 1000;
    long points = 0;
    for (long at = 1; at <= limit; ++at) {
        if (!faultCame(at) || ::testing::Test::HasFailure()) {
            return points;
        }
        ++points;
    }
    ADD_FAILURE() << "the run never ended without a fault";
    return points;
}

} // namespace zel::testing::seam
