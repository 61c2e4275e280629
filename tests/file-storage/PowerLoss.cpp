#include "PowerLoss.h"

#include "file-storage/files/FileSync.h"
#include "support/SymbolicLink.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zel::testing::power_loss {

namespace {

using file_storage::internal::FileStep;
using Kind = Node::Kind;

qsizetype constexpr blockSize = 4096;
// Enough states for every pattern of a step, few enough for a sweep of every step.
std::size_t constexpr mostStates = 600;

#if defined(_WIN32)
// The number of the file or folder at path on its volume, which Windows keeps as POSIX keeps an
// inode number; a link is not followed. Nothing for a name that is gone.
std::optional<quint64> fileIndexOf(QString const& path) {
    HANDLE const handle = ::CreateFileW(
        path.toStdWString().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool const known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    return known ? std::optional((quint64{info.nFileIndexHigh} << 32) | info.nFileIndexLow)
                 : std::nullopt;
}

// The bytes of the file at path. The library holds its files open for deleting and renaming,
// which a reader that does not share deletion (QFile) is refused: this one shares everything.
QByteArray bytesOf(QString const& path) {
    HANDLE const handle = ::CreateFileW(path.toStdWString().c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    QByteArray bytes;
    if (handle == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char block[65536];
    DWORD read = 0;
    while (::ReadFile(handle, block, sizeof block, &read, nullptr) && read > 0) {
        bytes.append(block, static_cast<qsizetype>(read));
    }
    ::CloseHandle(handle);
    return bytes;
}
#else
QByteArray bytesOf(QString const& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
#endif

Tree snapshot(QString const& root) {
    Tree tree;
    QDirIterator entries(root,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        QString const path = entries.next();
        if (path.endsWith(QLatin1String(".lock"))) {
            continue;
        }
        Node node;
#if defined(_WIN32)
        QFileInfo const info(path);
        auto const index = fileIndexOf(path);
        if (!index) {
            continue; // gone while it was listed
        }
        node.inode = *index;
        if (info.isSymLink()) {
            node.kind = Kind::link;
            node.bytes = QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            node.kind = Kind::folder;
        } else {
#else
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
            continue; // gone while it was listed
        }
        node.inode = status.st_ino;
        if (S_ISDIR(status.st_mode)) {
            node.kind = Kind::folder;
        } else if (S_ISLNK(status.st_mode)) {
            node.kind = Kind::link;
            QByteArray target(4096, '\0');
            auto const size = ::readlink(QFile::encodeName(path).constData(), target.data(),
                                         static_cast<std::size_t>(target.size()));
            node.bytes = target.left(std::max<qsizetype>(size, 0));
        } else {
#endif
            node.bytes = bytesOf(path);
        }
        tree.emplace(path.mid(root.size() + 1), std::move(node));
    }
    return tree;
}

QString parentOf(QString const& path) {
    auto const slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

// What may stand in a file whose synced bytes were base (nothing: never synced) and whose bytes
// in the cache are now current.
std::vector<QByteArray> contents(std::optional<QByteArray> const& base, QByteArray const& current) {
    if (base == current) {
        return {current};
    }
    QByteArray const old = base.value_or(QByteArray());
    qsizetype const longest = std::max(old.size(), current.size());
    auto const blockOf = [](QByteArray const& bytes, qsizetype at) {
        return at < bytes.size() ? bytes.mid(at, blockSize) : QByteArray();
    };
    std::vector<qsizetype> changed;
    for (qsizetype at = 0; at < longest; at += blockSize) {
        if (blockOf(old, at) != blockOf(current, at)) {
            changed.push_back(at);
        }
    }
    std::set<qsizetype> sampled;
    if (!changed.empty()) {
        for (std::size_t i : {std::size_t{0}, std::size_t{1}, changed.size() / 2,
                              changed.size() - 2, changed.size() - 1}) {
            if (i < changed.size()) {
                sampled.insert(changed[i]);
            }
        }
    }
    // The bytes at [at, at + blockSize) of a file of size bytes: from source, zeros past it.
    auto const block = [&](QByteArray const& source, qsizetype at, qsizetype size) {
        QByteArray part = source.mid(at, std::min(blockSize, size - at));
        return part + QByteArray(std::min(blockSize, size - at) - part.size(), '\0');
    };
    std::vector<QByteArray> result{old, current, QByteArray(current.size(), '\0')};
    for (qsizetype const at : sampled) {
        QByteArray newFirst;  // the blocks before at persisted, over the old file's bytes
        QByteArray zeroed;    // every block persisted but the one at at, which reads as zeros
        QByteArray laterOnly; // every block persisted but the one at at, which keeps old bytes
        for (qsizetype from = 0; from < longest; from += blockSize) {
            newFirst += block(from < at ? current : old, from, longest);
            if (from < current.size()) {
                zeroed += from == at ? QByteArray(block(current, from, current.size()).size(), '\0')
                                     : block(current, from, current.size());
                laterOnly += block(from == at ? old : current, from, current.size());
            }
        }
        result.insert(result.end(), {newFirst, zeroed, laterOnly});
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

// Every tree made of one of firsts and one of seconds, as many as mostStates at the most.
std::vector<Tree> crossed(std::vector<Tree> const& firsts, std::vector<Tree> const& seconds) {
    std::vector<Tree> result;
    for (auto const& first : firsts) {
        for (auto const& second : seconds) {
            if (result.size() == mostStates) {
                return result;
            }
            Tree both = first;
            both.insert(second.begin(), second.end());
            result.push_back(std::move(both));
        }
    }
    return result;
}

} // namespace

void lay(Tree const& tree, QString const& root) {
    // Parents come before their children in the map's order.
    for (auto const& [path, node] : tree) {
        QString const full = root + QLatin1Char('/') + path;
        bool laid = false;
        switch (node.kind) {
        case Kind::folder:
            laid = QDir().mkpath(full);
            break;
        case Kind::link:
            laid = makeSymbolicLink(QFile::decodeName(node.bytes), full);
            break;
        case Kind::file: {
            QFile file(full);
            laid = file.open(QIODevice::WriteOnly) && file.write(node.bytes) == node.bytes.size();
            break;
        }
        }
        if (!laid) {
            throw std::runtime_error("cannot lay out " + full.toStdString());
        }
    }
}

Recorder::Recorder(QString const& root, std::vector<seam::StepFault> faults, long skip)
    : root_(QFileInfo(root).canonicalFilePath()), faults_(std::move(faults)), skip_(skip) {
    trees_.push_back(snapshot(root_));
    // Whatever stood there before is on the disk.
    Durable before;
    before.listing[QString()] = 0;
    for (auto const& [path, node] : trees_.front()) {
        if (node.kind == Kind::folder) {
            before.listing[path] = 0;
        } else if (node.kind == Kind::file) {
            before.data[node.inode] = node.bytes;
        }
    }
    durable_.push_back(std::move(before));
    file_storage::internal::setFileStepHook(
        [this](FileStep step, QString const& path, QString const& other) {
            return onStep(step, path, other);
        });
}

Recorder::~Recorder() {
    file_storage::internal::setFileStepHook({});
}

QString Recorder::relative(QString const& path) const {
    return path == root_ ? QString() : path.mid(root_.size() + 1);
}

int Recorder::onStep(FileStep step, QString const& path, QString const& other) {
    record();
    steps_.push_back({static_cast<long>(steps_.size()) + 1, step, path, other, "ok"});
    int verdict = 0;
    for (auto const& fault : faults_) {
        if (fault.step == step && fault.path == path) {
            verdict = fault.error;
        }
    }
    bool const sync = step == FileStep::sync || step == FileStep::syncDirectory ||
                      step == FileStep::syncFileSystem;
    if (sync && verdict == 0 && ++syncs_ == skip_) {
        verdict = file_storage::internal::skipStep;
    }
    steps_.back().outcome = verdict == 0                                  ? "ok"
                            : verdict == file_storage::internal::skipStep ? "skipped"
                                                                          : "failed";
    ran_.push_back(verdict == 0);
    return verdict;
}

void Recorder::finish() {
    record();
}

// Takes the tree after the last step recorded, and what that step put on the disk.
void Recorder::record() {
    if (trees_.size() > steps_.size()) {
        return; // no step since the last record
    }
    trees_.push_back(snapshot(root_));
    Durable durable = durable_.back();
    std::size_t const point = trees_.size() - 1;
    Tree const& now = trees_.back();
    auto const& done = steps_.back();
    auto const inodeAt = [&](QString const& path) {
        auto const found = now.find(relative(path));
        return found == now.end() ? std::optional<Node>() : std::optional<Node>(found->second);
    };
    if (ran_.back()) {
        if (done.step == FileStep::sync) {
            // A save file's sync is of a file with no name yet: its naming, next, shows which.
            if (auto const node = inodeAt(done.path)) {
                durable.data[node->inode] = node->bytes;
            }
        } else if (done.step == FileStep::rename && done.path.isEmpty() && steps_.size() > 1 &&
                   steps_[steps_.size() - 2].step == FileStep::sync &&
                   steps_[steps_.size() - 2].path == done.other && ran_[steps_.size() - 2]) {
            if (auto const node = inodeAt(done.other)) {
                durable.data[node->inode] = node->bytes;
            }
        } else if (done.step == FileStep::syncDirectory) {
            durable.listing[relative(done.path)] = point;
        } else if (done.step == FileStep::syncFileSystem) {
            durable.listing[QString()] = point;
            for (auto const& [path, node] : now) {
                if (node.kind == Kind::folder) {
                    durable.listing[path] = point;
                } else if (node.kind == Kind::file) {
                    durable.data[node.inode] = node.bytes;
                }
            }
        }
    }
    durable_.push_back(std::move(durable));
}

// The entries of folder that a power loss after point steps may leave: those of its last sync
// (none for a folder never synced), then each later point's, in turn, as a file system that
// keeps its entries in order leaves them; and, as one that does not may, those of its last sync
// with any one change since (a new name, a removal, a rename) alone.
std::vector<Tree> Recorder::listings(QString const& folder, std::size_t point) const {
    auto const entriesAt = [&](std::size_t i) {
        Tree entries;
        for (auto const& [path, node] : trees_[i]) {
            if (parentOf(path) == folder) {
                entries.emplace(path, node);
            }
        }
        return entries;
    };
    auto const synced = durable_.at(point).listing.find(folder);
    bool const ever = synced != durable_.at(point).listing.end();
    std::size_t const from = ever ? synced->second : 0;
    Tree const durable = ever ? entriesAt(from) : Tree{};
    std::vector<Tree> result{durable};
    auto const add = [&](Tree entries) {
        if (std::find(result.begin(), result.end(), entries) == result.end()) {
            result.push_back(std::move(entries));
        }
    };
    for (std::size_t i = from; i <= point; ++i) {
        add(entriesAt(i));
    }
    Tree const current = entriesAt(point);
    auto const nameOf = [](Tree const& entries, quint64 inode) {
        for (auto const& [path, node] : entries) {
            if (node.inode == inode) {
                return path;
            }
        }
        return QString();
    };
    for (auto const& [path, node] : current) {
        auto const before = durable.find(path);
        if (before != durable.end() && before->second.inode == node.inode) {
            continue;
        }
        Tree alone = durable;
        alone.erase(nameOf(durable, node.inode)); // a rename takes the old name with it
        alone[path] = node;
        add(std::move(alone));
    }
    for (auto const& [path, node] : durable) {
        if (current.count(path) == 0 && nameOf(current, node.inode).isEmpty()) {
            Tree alone = durable;
            alone.erase(path);
            add(std::move(alone));
        }
    }
    return result;
}

std::vector<Tree> Recorder::expand(QString const& folder, std::size_t point) const {
    std::vector<Tree> result;
    for (auto const& entries : listings(folder, point)) {
        std::vector<Tree> partial{Tree{}};
        for (auto const& [path, node] : entries) {
            std::vector<Tree> options;
            if (node.kind == Kind::folder) {
                options = expand(path, point);
                for (auto& option : options) {
                    option.emplace(path, node);
                }
            } else if (node.kind == Kind::link) {
                options.push_back(Tree{{path, node}});
            } else {
                // The file's bytes in the cache: where it last had a name, if it has none now.
                QByteArray current = node.bytes;
                for (std::size_t i = point + 1; i-- > 0;) {
                    auto const same =
                        std::find_if(trees_[i].begin(), trees_[i].end(), [&](auto const& entry) {
                            return entry.second.inode == node.inode;
                        });
                    if (same != trees_[i].end()) {
                        current = same->second.bytes;
                        break;
                    }
                }
                auto const synced = durable_.at(point).data.find(node.inode);
                auto const base = synced == durable_.at(point).data.end()
                                      ? std::optional<QByteArray>()
                                      : std::optional<QByteArray>(synced->second);
                for (auto const& bytes : contents(base, current)) {
                    Node file = node;
                    file.bytes = bytes;
                    options.push_back(Tree{{path, file}});
                }
            }
            partial = crossed(partial, options);
        }
        result.insert(result.end(), partial.begin(), partial.end());
    }
    return result;
}

std::vector<Tree> Recorder::crashStates(std::size_t point) const {
    auto states = expand(QString(), point);
    // Inodes differ between states that hold the same: compare what a reader sees.
    auto const seen = [](Tree const& tree) {
        std::map<QString, std::pair<Kind, QByteArray>> view;
        for (auto const& [path, node] : tree) {
            view.emplace(path, std::pair(node.kind, node.bytes));
        }
        return view;
    };
    std::vector<Tree> distinct;
    std::set<std::map<QString, std::pair<Kind, QByteArray>>> views;
    for (auto& state : states) {
        if (views.insert(seen(state)).second) {
            distinct.push_back(std::move(state));
        }
    }
    return distinct;
}

} // namespace zel::testing::power_loss
