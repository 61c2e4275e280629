#include "file-storage/files/StoreMarker.h"

#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace zel::file_storage::internal {

namespace {

std::uint64_t constexpr prime1 = 0x9E3779B185EBCA87ULL;
std::uint64_t constexpr prime2 = 0xC2B2AE3D27D4EB4FULL;
std::uint64_t constexpr prime3 = 0x165667B19E3779F9ULL;
std::uint64_t constexpr prime4 = 0x85EBCA77C2B2AE63ULL;
std::uint64_t constexpr prime5 = 0x27D4EB2F165667C5ULL;

std::uint64_t round(std::uint64_t lane, std::uint64_t input) {
    return std::rotl(lane + input * prime2, 31) * prime1;
}

// The little-endian number in the bytes at at, the same on every system, so that a marker
// means the same everywhere.
std::uint64_t readLittleEndian(char const* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(at[i]);
    }
    return value;
}

QByteArray hashText(quint64 hash) {
    return QByteArray::number(hash, 16).rightJustified(16, '0');
}

QByteArray fingerprintText(Fingerprint const& fingerprint) {
    return QByteArray::number(fingerprint.size) + ' ' + hashText(fingerprint.hash);
}

quint64 hashOf(QByteArray const& bytes) {
    Fingerprinter fingerprinter;
    fingerprinter.add(bytes);
    return fingerprinter.fingerprint().hash;
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

Fingerprinter::Fingerprinter() : lanes_{prime1 + prime2, prime2, 0, 0 - prime1} {}

void Fingerprinter::add(char const* data, qsizetype size) {
    total_ += size;
    // Top up a partly filled stripe first.
    if (buffered_ > 0) {
        auto const take = std::min<qsizetype>(size, 32 - buffered_);
        std::memcpy(buffer_ + buffered_, data, static_cast<std::size_t>(take));
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ < 32) {
            return;
        }
        stripe(buffer_);
        buffered_ = 0;
    }
    for (; size >= 32; data += 32, size -= 32) {
        stripe(data);
    }
    std::memcpy(buffer_, data, static_cast<std::size_t>(size));
    buffered_ = size;
}

void Fingerprinter::stripe(char const* at) {
    for (int i = 0; i < 4; ++i) {
        lanes_[i] = round(lanes_[i], readLittleEndian(at + 8 * i, 8));
    }
}

Fingerprint Fingerprinter::fingerprint() const {
    std::uint64_t hash = prime5;
    if (total_ >= 32) {
        hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) + std::rotl(lanes_[2], 12) +
               std::rotl(lanes_[3], 18);
        for (auto const lane : lanes_) {
            hash = (hash ^ round(0, lane)) * prime1 + prime4;
        }
    }
    hash += static_cast<std::uint64_t>(total_);
    char const* at = buffer_;
    qsizetype left = buffered_;
    for (; left >= 8; at += 8, left -= 8) {
        hash = std::rotl(hash ^ round(0, readLittleEndian(at, 8)), 27) * prime1 + prime4;
    }
    if (left >= 4) {
        hash = std::rotl(hash ^ (readLittleEndian(at, 4) * prime1), 23) * prime2 + prime3;
        at += 4;
        left -= 4;
    }
    for (; left > 0; ++at, --left) {
        hash = std::rotl(hash ^ (static_cast<std::uint8_t>(*at) * prime5), 11) * prime1;
    }
    hash = (hash ^ (hash >> 33)) * prime2;
    hash = (hash ^ (hash >> 29)) * prime3;
    return {total_, hash ^ (hash >> 32)};
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
