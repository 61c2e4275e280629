#!/usr/bin/env python3
"""Writes the exchange-rates files that accepted.manifest and refused.manifest describe.

The bytes are built here from the file's documented layout (docs/exchange-rates-file.md), not
by the library: big-endian integers, texts as a 32-bit byte length and UTF-16 big-endian code
units, ratios as big-endian IEEE 754 doubles, and the time stamp as a Julian day, a
millisecond of the day and the Qt::TimeSpec byte 0 (local time). Run it from this folder after
changing it; the files it writes are kept in the repository.
"""
import datetime
import struct


def u32(value):
    return struct.pack(">I", value)


def text(value):
    data = value.encode("utf-16-be")
    return u32(len(data)) + data


def table(sources):
    """sources: [(source, [(target, ratio), ...]), ...] in the order they are written."""
    out = u32(len(sources))
    for source, targets in sources:
        out += text(source) + u32(len(targets))
        for target, ratio in targets:
            out += text(target) + struct.pack(">d", ratio)
    return out


def stamp(local, time_spec=0):
    """A local date and time, "YYYY-MM-DDTHH:MM:SS.mmm"."""
    when = datetime.datetime.strptime(local, "%Y-%m-%dT%H:%M:%S.%f")
    julian_day = when.date().toordinal() + 1721425
    millisecond = ((when.hour * 60 + when.minute) * 60 + when.second) * 1000 + when.microsecond // 1000
    return struct.pack(">qIB", julian_day, millisecond, time_spec)


def header(version=1):
    return b"ZELE" + bytes([version])


SMALL = [("AUD", [("USD", 0.66)]), ("EUR", [("CHF", 0.95), ("GBP", 0.85), ("USD", 1.1)])]
SMALL_TIME = stamp("2024-01-15T12:34:56.789")

files = {
    # Accepted.
    "empty.dat": header() + table([]) + stamp("2026-03-10T09:15:00.250"),
    "small.dat": header() + table(SMALL) + SMALL_TIME,
    "bit-exact.dat": header()
    + table([("EUR", [("AUD", 0.1), ("CAD", 1e-300), ("CHF", 5e-324),
                      ("GBP", 2.2250738585072009e-308), ("JPY", 1.0000000000000002),
                      ("NZD", 1.7976931348623157e308), ("USD", 1.0 / 3.0)])])
    + stamp("1969-07-20T20:17:40.001"),
    "unordered.dat": header()
    + table([("EUR", [("USD", 1.1), ("GBP", 0.85), ("CHF", 0.95)]), ("AUD", [("USD", 0.66)])])
    + SMALL_TIME,
    "repeated.dat": header()
    + table([("AUD", [("USD", 0.66)]), ("EUR", [("USD", 7.0)]),
             ("EUR", [("CHF", 0.95), ("USD", 9.0), ("GBP", 0.85), ("USD", 1.1)])])
    + SMALL_TIME,
    "source-without-targets.dat": header()
    + table([("AUD", [("USD", 0.66)]), ("CHF", []), ("EUR", SMALL[1][1])])
    + SMALL_TIME,
    # Refused.
    # The test extends this one with a hole to 10 MiB.
    "trailing-bytes.dat": header() + table(SMALL) + SMALL_TIME + b"\x00\x01trailing",
    "one-trailing-byte.dat": header() + table(SMALL) + SMALL_TIME + b"\x00",
    "nothing.dat": b"",
    "other-magic.dat": b"ZELF" + b"\x01" + table([]) + SMALL_TIME,
    "version-2.dat": header(2) + table([]) + SMALL_TIME,
    "unknown-source.dat": header() + table([("ABC", [("USD", 1.0)])]) + SMALL_TIME,
    "lower-case-target.dat": header() + table([("EUR", [("usd", 1.0)])]) + SMALL_TIME,
    "null-source.dat": header() + u32(1) + u32(0xFFFFFFFF) + u32(1) + text("USD")
    + struct.pack(">d", 1.0) + SMALL_TIME,
    "odd-text-length.dat": header() + u32(1) + u32(5) + b"A" * 16,
    "no-time-stamp.dat": header() + table(SMALL),
    "far-time-stamp.dat": header() + table([]) + struct.pack(">qIB", 1_000_000_000, 0, 0),
    # Time stamps that Qt's own reading takes as another time, without a word.
    "time-stamp-beyond-the-dates.dat": header() + table([]) + struct.pack(">qIB", 2**62, 0, 0),
    "time-stamp-before-the-dates.dat": header() + table([])
    + struct.pack(">qIB", -(2**63), 0, 0),
    "time-of-day-beyond-the-day.dat": header() + table([])
    + struct.pack(">qIB", 2460324, 86_400_000, 0),
    "null-time-of-day.dat": header() + table([]) + struct.pack(">qIB", 2460324, 0xFFFFFFFF, 0),
    "time-spec-utc.dat": header() + table(SMALL) + stamp("2024-01-15T12:34:56.789", 1),
    "time-spec-9.dat": header() + table(SMALL) + stamp("2024-01-15T12:34:56.789", 9),
    # A zone, whose name follows: Qt reads it as a text of the length that it claims.
    "time-spec-zone.dat": header() + table(SMALL) + stamp("2024-01-15T12:34:56.789", 3)
    + u32(0xFFFFFFF0),
    # Ratios that are no rate, each among good ones.
    "ratio-not-a-number.dat": header()
    + table([("EUR", [("CHF", 0.95), ("GBP", float("nan")), ("USD", 1.1)])]) + SMALL_TIME,
    "ratio-infinite.dat": header() + table([("EUR", [("USD", float("inf"))])]) + SMALL_TIME,
    "ratio-negative-infinite.dat": header() + table([("EUR", [("USD", float("-inf"))])])
    + SMALL_TIME,
    "ratio-zero.dat": header() + table([("AUD", [("USD", 0.0)])]) + SMALL_TIME,
    "ratio-negative-zero.dat": header() + table([("AUD", [("USD", -0.0)])]) + SMALL_TIME,
    "ratio-negative.dat": header() + table([("AUD", [("USD", -0.66)])]) + SMALL_TIME,
    "huge-source-count.dat": header() + u32(0xFFFFFFFF) + SMALL_TIME,
    "huge-target-count.dat": header() + u32(1) + text("EUR") + u32(0xFFFFFFFF) + SMALL_TIME,
    "huge-text-length.dat": header() + u32(1) + u32(0xFFFFFFFE) + SMALL_TIME,
    # Counts beyond the currencies there are, of entries that the rest of the file can hold.
    "source-count-beyond-the-currencies.dat": header() + u32(500) + bytes(500 * 8) + SMALL_TIME,
    "target-count-beyond-the-currencies.dat": header() + u32(1) + text("EUR") + u32(500)
    + (text("USD") + struct.pack(">d", 1.1)) * 500 + SMALL_TIME,
    # The test makes the file sparse, 2 GiB long, with room for every entry it claims.
    "huge-count-in-a-sparse-file.dat": header() + u32(268_000_000),
    "text-longer-than-a-code.dat": header() + table([("EURO", [("USD", 1.0)])]) + SMALL_TIME,
    "unknown-source-before-a-short-table.dat": header() + u32(2) + text("ABC") + u32(0)
    + text("EUR") + u32(5),
}

for name, data in files.items():
    with open(name, "wb") as out:
        out.write(data)
