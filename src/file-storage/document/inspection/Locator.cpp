#include "file-storage/document/inspection/Locator.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstring>

namespace zel::file_storage::internal::inspection {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

Locator::Locator(QByteArray const& bytes) : data_(bytes.constData()), size_(bytes.size()) {
    auto const byte = [&](qsizetype i) { return i < size_ ? uchar(data_[i]) : 0u; };
    // UTF-16 and UTF-32 documents (with or without a byte-order mark) are not followed.
    if (byte(0) == 0 || byte(1) == 0 || byte(0) == 0xFE || byte(0) == 0xFF) {
        usable_ = false;
        return;
    }
    if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        offset_ = 3;
    }
    // The XML declaration is the start of the document, not an instruction.
    if (QByteArrayView(data_, size_).sliced(offset_).startsWith("<?xml") &&
        isSpace(char(byte(offset_ + 5)))) {
        moveTo(nextMarkup(offset_).end);
    }
}

Position Locator::text() {
    while (offset_ < size_ && data_[offset_] == '<') {
        auto const found = nextMarkup(offset_);
        if (found.begin != offset_ || found.markup != Markup::endTag) {
            auto const at = position();
            if (found.begin == offset_ && found.markup == Markup::cdata) {
                moveTo(found.end);
            }
            return at;
        }
        moveTo(found.end);
    }
    while (offset_ < size_ && isSpace(data_[offset_])) {
        moveTo(offset_ + 1);
    }
    auto const at = position();
    moveTo(nextMarkup(offset_).begin);
    return at;
}

std::optional<Position> Locator::attribute(QLatin1String name) const {
    if (lastTag_.offset < 0) {
        return std::nullopt;
    }
    // Where the name of the attribute whose value a quote at at opens begins, when that name is
    // name; -1 otherwise.
    auto const tag = lastTag_.offset;
    auto const nameBefore = [&](qsizetype at) -> qsizetype {
        auto const skipSpace = [&] {
            while (at > tag && isSpace(data_[at - 1])) {
                --at;
            }
        };
        skipSpace();
        if (at == tag || data_[at - 1] != '=') {
            return -1;
        }
        --at;
        skipSpace();
        auto const start = at - name.size();
        bool const named = start > tag && isSpace(data_[start - 1]) &&
                           std::memcmp(data_ + start, name.data(), size_t(name.size())) == 0;
        return named ? start : -1;
    };
    struct Observer : MarkupObserver {
        decltype(nameBefore) const& nameOf;
        qsizetype found = -1;
        qsizetype attributeValue(qsizetype at) {
            found = nameOf(at);
            return found >= 0 ? at : goOn;
        }
        qsizetype markupEnds(Markup, qsizetype end) { return end; }
    } observer{{}, nameBefore};
    MarkupScanner().scan<1, false>(data_, tag, size_, observer);
    if (observer.found < 0) {
        return std::nullopt;
    }
    auto at = lastTag_.place;
    auto afterCarriageReturn = lastTag_.afterCarriageReturn;
    for (auto i = tag; i < observer.found; ++i) {
        step(at, afterCarriageReturn, uchar(data_[i]));
    }
    return at;
}

Locator::Found Locator::nextMarkup(qsizetype offset) const {
    struct Observer : MarkupObserver {
        Found found;
        qsizetype markupBegins(Markup markup, qsizetype at) {
            found.begin = at;
            found.markup = markup;
            return goOn;
        }
        qsizetype markupEnds(Markup, qsizetype end) {
            found.end = end;
            return end;
        }
    } observer;
    observer.found = {size_, Markup::startTag, size_};
    MarkupScanner().scan<1, false>(data_, offset, size_, observer);
    return observer.found;
}

Position Locator::next(Markup wanted) {
    while (usable_) {
        auto const found = nextMarkup(offset_);
        if (found.begin >= size_) {
            usable_ = false;
            break;
        }
        moveTo(found.begin);
        auto const here = position();
        if (found.markup == Markup::startTag) {
            lastTag_ = {offset_, here, afterCarriageReturn_};
        }
        moveTo(found.end);
        if (found.markup == Markup::doctype) {
            // A document type declaration may define entities that the reader expands into
            // markup that the bytes do not show where it reports it.
            usable_ = false;
        }
        if (found.markup == wanted) {
            return here;
        }
    }
    return {};
}

void Locator::step(Position& at, bool& afterCarriageReturn, uchar c) const {
    if (c == '\n' || c == '\r') {
        // A carriage return and line feed end one line.
        if (!(c == '\n' && afterCarriageReturn)) {
            ++at.line;
        }
        at.column = 1;
        afterCarriageReturn = c == '\r';
        return;
    }
    afterCarriageReturn = false;
    if (bytesAreCharacters_ || (c & 0xC0) != 0x80) {
        ++at.column;
    }
}

void Locator::moveTo(qsizetype target) {
    target = std::min(target, size_);
    Position at = position();
    for (; offset_ < target; ++offset_) {
        step(at, afterCarriageReturn_, uchar(data_[offset_]));
    }
    line_ = at.line;
    column_ = at.column;
}

} // namespace zel::file_storage::internal::inspection
