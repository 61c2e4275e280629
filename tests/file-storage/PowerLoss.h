#pragma once

#include "StoreSeam.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <map>
#include <vector>

// A power loss, simulated as LevelDB's fault-injection test does, but at every step: while an
// operation runs, the recorder keeps, through the platform layer's seam, what stood in a folder
// after each of its steps (the system's cache) and which of it the syncs had put on the disk.
// After it, crashStates gives every state a file system may leave after a power loss at any
// step: unsynced writes lost, or some of their blocks (a later block persisted before an earlier
// one, a lost block read as zeros, a truncation lost under new bytes), and folder entries made
// since the folder's last sync lost, in the order they were made.
namespace zel::testing::power_loss {

struct Node {
    enum class Kind { file, folder, link };
    Kind kind = Kind::file;
    quint64 inode = 0;
    QByteArray bytes; // a file's content, a link's target

    friend bool operator==(Node const&, Node const&) = default;
};

// What stands under a folder, by path relative to it.
using Tree = std::map<QString, Node>;

// Lays tree out in the empty folder root.
void lay(Tree const& tree, QString const& root);

class Recorder {
public:
    // Records the steps on the files under root (lock files left out). Each step that a fault
    // names fails with its errno; the skip-th sync that would run (counting from 1) is skipped.
    Recorder(QString const& root, std::vector<seam::StepFault> faults, long skip = 0);
    ~Recorder();
    Recorder(Recorder const&) = delete;
    Recorder& operator=(Recorder const&) = delete;

    // Records what the operation left; call once it has returned.
    void finish();

    // How many points a power loss can strike at: before the first step, after each step.
    std::size_t points() const { return trees_.size(); }
    // The syncs that ran, counting the skipped one.
    long syncs() const { return syncs_; }
    std::vector<seam::Step> const& steps() const { return steps_; }
    Tree const& live(std::size_t point) const { return trees_.at(point); }
    // The distinct states a power loss after point steps may leave.
    std::vector<Tree> crashStates(std::size_t point) const;

private:
    struct Durable {
        std::map<quint64, QByteArray> data;     // by inode, as last synced
        std::map<QString, std::size_t> listing; // by folder, the point of its last sync
    };

    int onStep(seam::FileStep step, QString const& path, QString const& other);
    void record();
    QString relative(QString const& path) const;
    std::vector<Tree> listings(QString const& folder, std::size_t point) const;
    std::vector<Tree> expand(QString const& folder, std::size_t point) const;

    QString root_;
    std::vector<seam::StepFault> faults_;
    long skip_;
    long syncs_ = 0;
    std::vector<seam::Step> steps_;
    std::vector<bool> ran_; // per step: not failed, not skipped
    std::vector<Tree> trees_;
    std::vector<Durable> durable_;
};

} // namespace zel::testing::power_loss
