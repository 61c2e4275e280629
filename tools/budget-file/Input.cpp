// The budgets that commands read, from a file or from a pipe, and the progress of a long reading.
#include "System.h"
#include "Tool.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace zel::tool {

Input::Input(QString name, file_storage::BudgetFile file, qint64 size)
    : name_(std::move(name)), file_(std::move(file)), unread_(size) {}

Input::Input(QString name, QByteArray bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}

storage::BudgetState Input::load() const {
    return file_ ? file_->load() : file_storage::loadBudgetDocument(bytes_);
}

std::optional<QByteArray> Input::bytes() const {
    if (!file_) {
        return bytes_;
    }
    QFile file(name_);
    // Only a regular file: the load says what is wrong with anything else.
    if (!QFileInfo(name_).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

namespace {

// The whole of what file gives until its end, up to largestReadDocument bytes; nothing after
// reporting why not.
std::optional<QByteArray> readWhole(Streams io, Options const& options, QString const& name,
                                    QFile& file) {
    QByteArray bytes;
    constexpr qint64 block = qint64{1} << 20;
    for (;;) {
        auto const size = bytes.size();
        bytes.resize(size + block);
        auto const got = file.read(bytes.data() + size, block);
        if (got < 0) {
            fail(io, options, name, file.errorString());
            return std::nullopt;
        }
        bytes.resize(size + got);
        if (got == 0) {
            return bytes;
        }
        if (bytes.size() > largestReadDocument) {
            fail(io, options, name,
                 QStringLiteral("holds more than %1 bytes, more than a budget read from a pipe "
                                "may hold; save it to a file and give its name")
                     .arg(largestReadDocument));
            return std::nullopt;
        }
    }
}

} // namespace

std::optional<Input> inputAt(Streams io, Options const& options, QString const& path) {
    QFile file;
    QString why;
    if (path == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            fail(io, options, path, file.errorString());
            return std::nullopt;
        }
    } else if (auto const bytes = system::keptBytesOf(path)) {
        // A name that is not UTF-8 cannot be given to the library, which takes names as text:
        // the file is read by its name's bytes instead.
        if (!system::openByBytes(*bytes, file, why)) {
            fail(io, options, path, why);
            return std::nullopt;
        }
    } else {
        QFileInfo const info(path);
        // A link that leads nowhere (or round in a loop) is there; the library says what is
        // wrong.
        if (!info.exists() && !info.isSymLink()) {
            fail(io, options, path, QStringLiteral("no such file"));
            return std::nullopt;
        }
        if (info.isDir()) {
            fail(io, options, path, QStringLiteral("is not a regular file"));
            return std::nullopt;
        }
        if (info.isFile() || !info.exists()) {
            auto budgetFile = budgetFileAt(io, options, path, true);
            if (!budgetFile) {
                return std::nullopt;
            }
            return Input(path, std::move(*budgetFile), info.size());
        }
        // A pipe, a process substitution (/dev/fd/63), a device: read as it comes, once.
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            fail(io, options, path, file.errorString());
            return std::nullopt;
        }
    }
    Progress const progress(io, options, QStringLiteral("reading ") + path, 0);
    auto bytes = readWhole(io, options, path, file);
    if (!bytes) {
        return std::nullopt;
    }
    return Input(path, std::move(*bytes));
}

// ---- Progress --------------------------------------------------------------------------------

namespace {

// The one line shown, if any: the reports of other threads (the library's records) erase it.
std::mutex shownMutex;
Progress::Line* shown = nullptr;

// Less is not worth a word: the reads of the counter itself, say.
constexpr qint64 noticed = 100'000;

QString megabytes(qint64 bytes) {
    return QString::number(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

} // namespace

struct Progress::Line {
    QString what;
    qint64 total;
    qint64 start = system::bytesMoved();
    qsizetype width = 0; // of the text on the terminal, to erase
    std::mutex mutex;
    std::condition_variable stop;
    bool done = false;
    std::thread ticker;

    // Under shownMutex.
    void write(QString const& text) {
        auto const bytes = text.toLocal8Bit();
        auto const padding = std::max<qsizetype>(0, width - text.size());
        std::fprintf(stderr, "\r%s%*s\r", bytes.constData(), int(padding), "");
        std::fflush(stderr);
        width = text.size();
    }
    void erase() {
        if (width > 0) {
            write(QString());
            width = 0;
        }
    }

    void run() {
        using namespace std::chrono_literals;
        auto const begun = std::chrono::steady_clock::now();
        std::unique_lock lock(mutex);
        while (!stop.wait_for(lock, 200ms, [this] { return done; })) {
            if (std::chrono::steady_clock::now() - begun < 1s) {
                continue;
            }
            auto const read = std::max<qint64>(0, system::bytesMoved() - start);
            QString text = QStringLiteral("budget-file: ") + what + QStringLiteral(": ");
            if (total > 0) {
                auto const part = std::min(read, total);
                text += megabytes(part) + QStringLiteral(" of ") + megabytes(total) +
                        QStringLiteral(" (%1%)").arg(part * 100 / total);
            } else if (read >= noticed) {
                text += megabytes(read) + QStringLiteral(" read");
            } else {
                text.chop(2);
                text += QStringLiteral("...");
            }
            std::lock_guard const guard(shownMutex);
            shown = this;
            write(text);
        }
    }
};

Progress::Progress(Streams io, Options const& options, QString const& what, qint64 total) {
    if (options.json || options.quiet || !system::standardErrorIsTerminal() ||
        system::bytesMoved() < 0) {
        return;
    }
    io.err.flush();
    line_ = std::make_unique<Line>();
    line_->what = printable(what);
    line_->total = total;
    line_->ticker = std::thread([line = line_.get()] { line->run(); });
}

Progress::~Progress() {
    if (!line_) {
        return;
    }
    {
        std::lock_guard const lock(line_->mutex);
        line_->done = true;
    }
    line_->stop.notify_one();
    line_->ticker.join();
    std::lock_guard const guard(shownMutex);
    line_->erase();
    if (shown == line_.get()) {
        shown = nullptr;
    }
}

void eraseProgress() {
    std::lock_guard const guard(shownMutex);
    if (shown != nullptr) {
        shown->erase();
    }
}

} // namespace zel::tool
