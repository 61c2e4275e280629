#include "file-storage/files/StoreMarker.h"

#include <QList>

#include <cstddef>

// XXH64 compiled into this file from the header alone: nothing to link, on every system.
#define XXH_INLINE_ALL
#include <xxhash.h>

namespace zel::file_storage::internal {

namespace {

QByteArray hashText(quint64 hash) {
    return QByteArray::number(hash, 16).rightJustified(16, '0');
}

QByteArray fingerprintText(Fingerprint const& fingerprint) {
    return QByteArray::number(fingerprint.size) + ' ' + hashText(fingerprint.hash);
}

quint64 hashOf(QByteArray const& bytes) {
    return XXH64(bytes.constData(), static_cast<std::size_t>(bytes.size()), 0);
}

// "SIZE HASH" as markerBytes writes it, and nothing else.
std::optional<Fingerprint> parseFingerprint(QByteArray const& size, QByteArray const& hash) {
    bool sizeOk = false;
    bool hashOk = false;
    Fingerprint fingerprint{size.toLongLong(&sizeOk, 10), hash.toULongLong(&hashOk, 16)};
    if (!sizeOk || !hashOk || fingerprint.size < 0 || hash.size() != 16 ||
        QByteArray::number(fingerprint.size) != size) {
        return std::nullopt;
    }
    return fingerprint;
}

} // namespace

Fingerprint fingerprintOf(QByteArray const& bytes) {
    return {bytes.size(), hashOf(bytes)};
}

// The hash's running state, kept out of the header so that only this file needs xxHash's.
struct Fingerprinter::State {
    XXH64_state_t hash;
};

Fingerprinter::Fingerprinter() : state_(std::make_unique<State>()) {
    XXH64_reset(&state_->hash, 0);
}

Fingerprinter::~Fingerprinter() = default;

void Fingerprinter::add(char const* data, qsizetype size) {
    total_ += size;
    XXH64_update(&state_->hash, data, static_cast<std::size_t>(size));
}

Fingerprint Fingerprinter::fingerprint() const {
    return {total_, XXH64_digest(&state_->hash)};
}

Result fingerprintOfFile(File& file, Fingerprint& fingerprint) {
    Fingerprinter fingerprinter;
    QByteArray block;
    do {
        if (auto const failure = file.read(block); !failure.ok()) {
            return failure;
        }
        fingerprinter.add(block);
    } while (!block.isEmpty());
    fingerprint = fingerprinter.fingerprint();
    return Result::done();
}

QString markerNameOf(QString const& name) {
    return QLatin1Char('.') + name + QStringLiteral(".storing");
}

QString recordNameOf(QString const& name) {
    return QLatin1Char('.') + name + QStringLiteral(".stored");
}

QByteArray markerBytes(StoreMarker const& marker) {
    QByteArray const body =
        "zel-budget-store 1\nnext " + fingerprintText(marker.next) + "\nprevious " +
        (marker.previous ? fingerprintText(*marker.previous) : QByteArray("none")) + '\n';
    return body + "check " + hashText(hashOf(body)) + '\n';
}

std::optional<StoreMarker> parseMarker(QByteArray const& bytes) {
    auto const lines = bytes.split('\n');
    if (lines.size() != 5 || !lines[4].isEmpty() || !lines[3].startsWith("check ")) {
        return std::nullopt;
    }
    QByteArray const body = lines[0] + '\n' + lines[1] + '\n' + lines[2] + '\n';
    if (lines[0] != "zel-budget-store 1" || lines[3] != "check " + hashText(hashOf(body))) {
        return std::nullopt;
    }
    auto const next = lines[1].split(' ');
    auto const previous = lines[2].split(' ');
    if (next.size() != 3 || next[0] != "next" || previous.empty() || previous[0] != "previous") {
        return std::nullopt;
    }
    StoreMarker marker;
    auto const nextPrint = parseFingerprint(next[1], next[2]);
    if (!nextPrint) {
        return std::nullopt;
    }
    marker.next = *nextPrint;
    if (previous.size() == 3) {
        marker.previous = parseFingerprint(previous[1], previous[2]);
        if (!marker.previous) {
            return std::nullopt;
        }
    } else if (previous.size() != 2 || previous[1] != "none") {
        return std::nullopt;
    }
    return marker;
}

bool isWholeBudget(StoreMarker const& marker, Fingerprint const& file) {
    return file == marker.next || (marker.previous && file == *marker.previous);
}

} // namespace zel::file_storage::internal
