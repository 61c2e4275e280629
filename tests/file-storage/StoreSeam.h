#pragma once

#include "file-storage/files/FileSync.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

// Faults at the steps of the library's file operations, through the platform layer's seam: a
// test (or the store child, StoreChild.cpp) lets a chosen step fail with an errno, as the system
// would refuse it, or kills the process before the step runs, and keeps a trace of every step.
namespace zel::testing::seam {

using file_storage::internal::FileStep;

struct Step {
    long index = 0; // counting from 1
    FileStep step = FileStep::open;
    QString path;
    QString other;
    std::string outcome; // "ok", "failed" and the errno (injected) or "killed"
};

// What a step's text in a test's data names: "STEP PATH [OTHER] [#N | *] [ENAME]", the N-th
// (default the first) or every step of that name on those paths, failing with ENAME (default
// EIO). Paths are given as the test fills them in.
struct StepFault {
    FileStep step = FileStep::open;
    QString path;
    QString other;
    int occurrence = 1; // 0: every one
    int error = 0;
};
StepFault parseStepFault(QString const& text);

enum class Action { none, fail, failFrom, kill };

// The fault of a sweep: at the at-th step of any kind, act.
struct CountedFault {
    long at = 0;
    Action action = Action::none;
};

// Installs the seam while it lives: every step is recorded; a step that one of faults names
// fails; the counted fault acts at its step. Not for two at once.
class Seam {
public:
    explicit Seam(std::vector<StepFault> faults = {}, CountedFault counted = {},
                  std::function<void(Step const&)> onStep = {});
    ~Seam();
    Seam(Seam const&) = delete;
    Seam& operator=(Seam const&) = delete;

    std::vector<Step> const& trace() const { return trace_; }
    // From now on, syncs report success without running, for tests of what a call does rather
    // than of what reaches the disk.
    void skipSyncs() { skipSyncs_ = true; }

private:
    int decide(FileStep step, QString const& path, QString const& other);

    std::vector<StepFault> faults_;
    std::vector<int> seen_; // per fault, the matching steps so far
    CountedFault counted_;
    std::function<void(Step const&)> onStep_;
    std::vector<Step> trace_;
    bool skipSyncs_ = false;
};

// The trace as the store child prints it, one step a line, and back.
std::string traceLine(Step const& step);
bool parseTraceLine(QString const& line, Step& step);

// The index of the last step of the trace that ran (not failed, not killed) with these paths,
// or of the first one; 0 when there is none.
long lastRan(std::vector<Step> const& trace, FileStep step, QString const& path,
             QString const& other = {});
long firstRan(std::vector<Step> const& trace, FileStep step, QString const& path,
              QString const& other = {});

// Calls faultCame(at) for at = 1, 2, ... until it returns false (the run had no at-th fault
// point) or a test assertion has failed; returns the number of fault points. Every size and
// every step are swept alike.
long sweep(std::function<bool(long at)> const& faultCame);

} // namespace zel::testing::seam
