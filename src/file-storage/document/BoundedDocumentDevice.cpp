#include "file-storage/document/BoundedDocumentDevice.h"

#include <QObject>
#include <QStringConverter>
#include <QStringDecoder>
#include <QSysInfo>
#include <QtAlgorithms>
#include <QtEndian>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

namespace zel::file_storage::internal {

// The budget document nests elements four deep (the root, a collection, a ledger and its
// transactions), and its element with the most attributes, the debt, has eleven. The bounds are
// well above both, so that elements and attributes that a later writer adds, and that the load
// skips, still fit; and low enough that a document within them costs an XML reader no more than
// a few times its size.
int const BoundedDocumentDevice::deepestNesting_ = 32;
int const BoundedDocumentDevice::mostAttributes_ = 64;

namespace {

// How the document's characters are stored: the bytes of one code unit, and their order.
struct Format {
    int width = 1;
    bool bigEndian = false;
    friend bool operator==(Format const&, Format const&) = default;
};

bool const hostBigEndian = QSysInfo::ByteOrder == QSysInfo::BigEndian;

// Where the bytes stand in the markup. Only what decides where markup begins and ends is told
// apart: tags (and their quoted values), comments, CDATA sections, processing instructions and
// the document type declaration, whose internal subset holds declarations, comments and
// instructions of its own.
enum class State : quint8 {
    // Where only '<', '>' and quotes matter: most of a document.
    text,
    startTag,
    value, // of an attribute
    endTag,
    // The rest.
    markup, // after '<'
    bang,   // after "<!"
    commentOpen,
    comment,
    cdataOpen,
    cdata,
    instruction,
    doctype,
    doctypeValue,
    subset,
    subsetMarkup,
    subsetBang,
    subsetCommentOpen,
    subsetComment,
    subsetInstruction,
    subsetDeclaration,
    subsetValue,
};

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

template <int Width, bool BigEndian> char32_t unitAt(char const* at) {
    auto const* b = reinterpret_cast<uchar const*>(at);
    if constexpr (Width == 1) {
        return b[0];
    } else if constexpr (Width == 2) {
        return BigEndian ? char32_t(b[0]) << 8 | b[1] : char32_t(b[1]) << 8 | b[0];
    } else {
        return BigEndian ? char32_t(b[0]) << 24 | char32_t(b[1]) << 16 | char32_t(b[2]) << 8 | b[3]
                         : char32_t(b[3]) << 24 | char32_t(b[2]) << 16 | char32_t(b[1]) << 8 | b[0];
    }
}

// The bytes of a block of a one-byte document that are '<', '>' or quotes: the bits of the
// result, markBits for each byte, the lowest set for the first such byte.
#if defined(__SSE2__)
constexpr qsizetype markBlock = 16;
constexpr int markBits = 1;
quint64 marksIn(char const* block) {
    auto const bytes = _mm_loadu_si128(reinterpret_cast<__m128i const*>(block));
    auto const is = [&](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    return quint32(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(is('<'), is('>')), _mm_or_si128(is('"'), is('\'')))));
}
#else
constexpr qsizetype markBlock = 8;
constexpr int markBits = 8;
// The bytes of word that are c, each as its high bit.
constexpr quint64 bytesOf(quint64 word, uchar c) {
    constexpr quint64 low7 = 0x7F7F7F7F7F7F7F7F;
    auto const x = word ^ (0x0101010101010101 * c);
    return ~(((x & low7) + low7) | x | low7);
}
quint64 marksIn(char const* block) {
    quint64 word = 0;
    std::memcpy(&word, block, 8);
    word = qFromLittleEndian(word);
    return bytesOf(word, '<') | bytesOf(word, '>') | bytesOf(word, '"') | bytesOf(word, '\'');
}
#endif

// The encoding that the declaration in text ("?xml version=... encoding=...?", white space
// runs made one blank) names; empty when it names none.
QByteArray declaredEncoding(QByteArray const& text) {
    if (!text.startsWith("?xml ")) {
        return {};
    }
    qsizetype i = 4;
    auto const skipSpace = [&] {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
    };
    while (i < text.size()) {
        skipSpace();
        auto const nameStart = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '=' && text[i] != '?') {
            ++i;
        }
        auto const name = text.mid(nameStart, i - nameStart);
        skipSpace();
        if (i >= text.size() || text[i] != '=') {
            return {};
        }
        ++i;
        skipSpace();
        if (i >= text.size() || (text[i] != '"' && text[i] != '\'')) {
            return {};
        }
        auto const end = text.indexOf(text[i], i + 1);
        if (end < 0) {
            return {};
        }
        if (name == "encoding") {
            return text.mid(i + 1, end - i - 1);
        }
        i = end + 1;
    }
    return {};
}

} // namespace

struct BoundedDocumentDevice::Scan {
    Format format;
    qsizetype markBytes = 0; // of a byte-order mark at the start
    bool begun = false;
    bool atStart = true;
    State state = State::text;
    int depth = 0;
    int attributes = 0;     // of the start tag being read
    char32_t lastUnit = 0;  // of the bytes checked before
    bool pairedLow = false; // UTF-16: the unit being checked is the second of a surrogate pair
    char32_t quote = 0;
    int run = 0; // closing units seen ("--" of a comment, "]]" of a CDATA section, "?" of an
                 // instruction), or opening units matched ("CDATA[")
    bool declarationPossible = false; // the markup begins the document
    bool inDeclaration = false;
    QByteArray declaration;
    QString crossed;                  // the bound crossed, once the document is ended
    bool unsupportedEncoding = false; // the bound crossed is an encoding that is not read

    // Tells the format from the document's first bytes, as the XML reader does.
    void begin(QByteArrayView first) {
        begun = true;
        auto const b = [&](qsizetype i) { return i < first.size() ? uchar(first[i]) : 0u; };
        auto const found = QStringConverter::encodingForData(first, u'<');
        switch (found.value_or(QStringConverter::Utf8)) {
        case QStringConverter::Utf16LE:
        case QStringConverter::Utf16BE:
            format = {2, *found == QStringConverter::Utf16BE};
            markBytes = (b(0) == 0xFE && b(1) == 0xFF) || (b(0) == 0xFF && b(1) == 0xFE) ? 2 : 0;
            break;
        case QStringConverter::Utf32LE:
        case QStringConverter::Utf32BE:
            format = {4, *found == QStringConverter::Utf32BE};
            markBytes =
                unitAt<4, false>(first.data()) == 0xFEFF || unitAt<4, true>(first.data()) == 0xFEFF
                    ? 4
                    : 0;
            break;
        default:
            format = {1, false};
            markBytes = b(0) == 0xEF && b(1) == 0xBB && b(2) == 0xBF ? 3 : 0;
            break;
        }
    }

    // The format that a declared encoding stores characters in, as the XML reader decodes the
    // document in it; nothing for an encoding in which markup cannot be told from bytes alone.
    std::optional<Format> formatOf(QByteArray const& name) const {
        if (auto const known = QStringConverter::encodingForName(name.constData())) {
            bool const marked = markBytes != 0;
            switch (*known) {
            case QStringConverter::Utf8:
            case QStringConverter::Latin1:
            case QStringConverter::System:
                return Format{1, false};
            case QStringConverter::Utf16:
                return marked && format.width == 2 ? format : Format{2, hostBigEndian};
            case QStringConverter::Utf16LE:
                return Format{2, false};
            case QStringConverter::Utf16BE:
                return Format{2, true};
            case QStringConverter::Utf32:
                return marked && format.width == 4 ? format : Format{4, hostBigEndian};
            case QStringConverter::Utf32LE:
                return Format{4, false};
            case QStringConverter::Utf32BE:
                return Format{4, true};
            }
        }
        QStringDecoder const decoder(name.constData());
        if (!decoder.isValid()) {
            // Which encodings Qt knows depends on how it was built (with ICU or not): one it
            // cannot decode is refused here, so that every system says the same of it.
            return std::nullopt;
        }
        // One byte a character, ASCII as it is.
        QByteArrayView const canonical(decoder.name());
        if (canonical == "US-ASCII" || canonical.startsWith("ISO-8859-") ||
            canonical.startsWith("windows-125") || canonical.startsWith("KOI8-")) {
            return Format{1, false};
        }
        return std::nullopt;
    }

    // What crossing the bound of the declared encoding says, if it is crossed.
    QString encodingCrossed() {
        auto const name = declaredEncoding(declaration);
        if (name.isEmpty()) {
            return {};
        }
        auto const declared = formatOf(name);
        if (!declared) {
            unsupportedEncoding = true;
            return QObject::tr("The encoding %1 is not supported: a budget file is read in UTF-8, "
                               "UTF-16, UTF-32 or a one-byte encoding such as ISO-8859-1.")
                .arg(QString::fromLatin1(name));
        }
        if (*declared != format) {
            return QObject::tr("The document declares the encoding %1, which its first bytes "
                               "contradict.")
                .arg(QString::fromLatin1(name));
        }
        return {};
    }

    // Ends the document at offset for the bound that message names.
    qsizetype cross(qsizetype offset, QString message) {
        crossed = std::move(message);
        return offset;
    }

    // Begins a start tag, whose '<' is at offset at. Returns -1, or the offset at which the
    // document ends.
    qsizetype startTag(qsizetype at) {
        if (++depth > deepestNesting_) {
            return cross(
                at, QObject::tr("Elements are nested deeper than %1 levels.").arg(deepestNesting_));
        }
        state = State::startTag;
        attributes = 0;
        return -1;
    }

    // Takes the unit at offset at, where only '<', '>' and quotes matter. Returns -1, or the
    // offset at which the document ends.
    template <int Width, bool BigEndian>
    qsizetype mark(char const* data, qsizetype at, qsizetype size, qsizetype& markupStart) {
        auto const c = unitAt<Width, BigEndian>(data + at);
        switch (state) {
        case State::text:
            if (c == '<') {
                markupStart = at;
                state = State::markup;
                // Most markup is tags, told at once from the unit after '<' when it is at hand.
                if (at + Width < size) {
                    auto const next = unitAt<Width, BigEndian>(data + at + Width);
                    if (next != '?' && next != '!') {
                        declarationPossible = false;
                        return next == '/' ? (state = State::endTag, -1) : startTag(at);
                    }
                }
            }
            break;
        case State::startTag:
            // Attributes are counted by their values, each of which a quote opens.
            if (c == '"' || c == '\'') {
                if (++attributes > mostAttributes_) {
                    return cross(at, QObject::tr("An element has more than %1 attributes.")
                                         .arg(mostAttributes_));
                }
                quote = c;
                state = State::value;
            } else if (c == '>') {
                // "/>" ends an empty element's tag.
                if ((at == 0 ? lastUnit : unitAt<Width, BigEndian>(data + at - Width)) == '/') {
                    --depth;
                }
                state = State::text;
            }
            break;
        case State::value:
            if (c == quote) {
                state = State::startTag;
            }
            break;
        case State::endTag:
            if (c == '>') {
                depth = std::max(depth - 1, 0);
                state = State::text;
            }
            break;
        default:
            break;
        }
        return -1;
    }

    // Checks size bytes (whole code units) at data, which follow those checked before. Returns
    // how many of them are checked: all of them, or fewer where the document crosses a bound
    // (crossed then says which), or all but a '<' near their end whose meaning the units after
    // it tell, to be checked again with what follows.
    template <int Width, bool BigEndian> qsizetype check(char const* data, qsizetype size) {
        // Where the markup being read began.
        qsizetype markupStart = 0;
        qsizetype i = 0;
        if (atStart) {
            atStart = false;
            i = std::min(markBytes, size);
            declarationPossible = i < size && unitAt<Width, BigEndian>(data + i) == '<';
        }
        while (i < size) {
            if constexpr (Width != 1) {
                if (auto const surrogate = unitAt<Width, BigEndian>(data + i);
                    surrogate >= 0xD800 && surrogate <= 0xDFFF) {
                    if (Width == 2 && surrogate < 0xDC00 && i + Width == size) {
                        // Checked with the unit that is to pair with it.
                        return holdBack(i, markupStart);
                    }
                    if (!paired<Width, BigEndian>(data + i, surrogate)) {
                        return cross(i, QObject::tr("The document holds an unpaired surrogate, "
                                                    "U+%1, which a budget file cannot store.")
                                            .arg(QString::number(uint(surrogate), 16).toUpper()));
                    }
                }
            }
            if (state <= State::endTag) {
                if constexpr (Width == 1) {
                    // A block at a time, of which only '<', '>' and quotes are looked at.
                    while (state <= State::endTag && size - i >= markBlock) {
                        auto marks = marksIn(data + i);
                        auto next = i + markBlock;
                        while (marks != 0) {
                            auto const at = i + qCountTrailingZeroBits(marks) / markBits;
                            marks &= marks - 1;
                            if (auto const end =
                                    mark<Width, BigEndian>(data, at, size, markupStart);
                                end >= 0) {
                                return end;
                            }
                            if (state > State::endTag) {
                                next = at + 1;
                                break;
                            }
                        }
                        i = next;
                    }
                    if (state > State::endTag || i == size) {
                        continue;
                    }
                }
                if (auto const end = mark<Width, BigEndian>(data, i, size, markupStart); end >= 0) {
                    return end;
                }
                i += Width;
                continue;
            }
            auto const c = unitAt<Width, BigEndian>(data + i);
            switch (state) {
            case State::markup:
                if (c == '/') {
                    state = State::endTag;
                } else if (c == '?') {
                    state = State::instruction;
                    run = 0;
                    inDeclaration = declarationPossible;
                    declaration = "?";
                } else if (c == '!') {
                    state = State::bang;
                } else if (auto const end = startTag(markupStart); end >= 0) {
                    return end;
                }
                declarationPossible = false;
                break;
            case State::instruction:
            case State::subsetInstruction:
                if (inDeclaration) {
                    // White space runs count as one blank: the declaration's text stays short.
                    char const k = isSpace(c) ? ' ' : c < 0x80 ? char(c) : '\x7f';
                    if (declaration.size() < 1024 && !(k == ' ' && declaration.endsWith(' '))) {
                        declaration.append(k);
                    }
                }
                if (c == '>' && run != 0) {
                    state = state == State::instruction ? State::text : State::subset;
                    if (inDeclaration) {
                        inDeclaration = false;
                        if (auto message = encodingCrossed(); !message.isEmpty()) {
                            return cross(i + Width, std::move(message));
                        }
                    }
                } else {
                    run = c == '?' ? 1 : 0;
                }
                break;
            case State::bang:
                if (c == '-') {
                    state = State::commentOpen;
                } else if (c == '[') {
                    state = State::cdataOpen;
                    run = 0;
                } else {
                    state = State::doctype;
                    continue;
                }
                break;
            case State::commentOpen:
            case State::subsetCommentOpen:
                if (c == '-') {
                    state = state == State::commentOpen ? State::comment : State::subsetComment;
                    run = 0;
                } else {
                    state = state == State::commentOpen ? State::doctype : State::subsetDeclaration;
                    continue;
                }
                break;
            case State::comment:
            case State::subsetComment:
                if (c == '>' && run >= 2) {
                    state = state == State::comment ? State::text : State::subset;
                } else {
                    run = c == '-' ? run + 1 : 0;
                }
                break;
            case State::cdataOpen: {
                static char const opening[] = "CDATA[";
                if (c != char32_t(opening[run])) {
                    state = State::doctype;
                    continue;
                }
                if (++run == 6) {
                    state = State::cdata;
                    run = 0;
                }
                break;
            }
            case State::cdata:
                if (c == '>' && run >= 2) {
                    state = State::text;
                } else {
                    run = c == ']' ? run + 1 : 0;
                }
                break;
            case State::doctype:
                if (c == '"' || c == '\'') {
                    quote = c;
                    state = State::doctypeValue;
                } else if (c == '[') {
                    state = State::subset;
                } else if (c == '>') {
                    state = State::text;
                }
                break;
            case State::doctypeValue:
                if (c == quote) {
                    state = State::doctype;
                }
                break;
            case State::subset:
                if (c == ']') {
                    state = State::doctype;
                } else if (c == '<') {
                    // A declaration ("<!" but for a comment's "<!-") ends the document at its
                    // '<', which the two units after it tell.
                    if (i + 3 * Width > size) {
                        return i;
                    }
                    if (unitAt<Width, BigEndian>(data + i + Width) == '!' &&
                        unitAt<Width, BigEndian>(data + i + 2 * Width) != '-') {
                        return cross(i, QObject::tr("The document type declaration holds a "
                                                    "declaration, which a budget file never "
                                                    "does: the entities and default attributes "
                                                    "it may declare can make a document cost far "
                                                    "more than its size to read."));
                    }
                    state = State::subsetMarkup;
                }
                break;
            case State::subsetMarkup:
                if (c == '!') {
                    state = State::subsetBang;
                } else if (c == '?') {
                    state = State::subsetInstruction;
                    run = 0;
                } else {
                    state = State::subsetDeclaration;
                    continue;
                }
                break;
            case State::subsetBang:
                // Only a comment gets here: a declaration ended the document.
                state = State::subsetCommentOpen;
                break;
            case State::subsetDeclaration:
                if (c == '"' || c == '\'') {
                    quote = c;
                    state = State::subsetValue;
                } else if (c == '>') {
                    state = State::subset;
                }
                break;
            case State::subsetValue:
                if (c == quote) {
                    state = State::subsetDeclaration;
                }
                break;
            case State::text:
            case State::value:
            case State::startTag:
            case State::endTag:
                break;
            }
            i += Width;
        }
        if (state == State::markup) {
            return holdBack(size, markupStart);
        }
        if (size >= Width) {
            lastUnit = unitAt<Width, BigEndian>(data + size - Width);
        }
        return size;
    }

    // Leaves the units from offset on to be checked again with the bytes that follow them;
    // returns where they begin. The unit after '<' tells what it begins, and the document ends
    // before the '<' if that crosses a bound: a '<' just before offset is left with them.
    qsizetype holdBack(qsizetype offset, qsizetype markupStart) {
        if (state == State::markup) {
            state = State::text;
            return markupStart;
        }
        return offset;
    }

    // Whether the surrogate at unit is one of a pair, as a document can hold it. UTF-32 holds
    // none; in UTF-16 a high surrogate is followed by a low one, which is then passed over.
    template <int Width, bool BigEndian> bool paired(char const* unit, char32_t surrogate) {
        if constexpr (Width == 2) {
            if (surrogate < 0xDC00) {
                auto const next = unitAt<Width, BigEndian>(unit + Width);
                pairedLow = next >= 0xDC00 && next <= 0xDFFF;
                return pairedLow;
            }
            return std::exchange(pairedLow, false);
        } else {
            return false;
        }
    }

    qsizetype check(char const* data, qsizetype size) {
        switch (format.width) {
        case 2:
            return format.bigEndian ? check<2, true>(data, size) : check<2, false>(data, size);
        case 4:
            return format.bigEndian ? check<4, true>(data, size) : check<4, false>(data, size);
        default:
            return check<1, false>(data, size);
        }
    }
};

BoundedDocumentDevice::BoundedDocumentDevice(QIODevice& source)
    : source_(source), scan_(std::make_unique<Scan>()) {
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

BoundedDocumentDevice::~BoundedDocumentDevice() = default;

bool BoundedDocumentDevice::isSequential() const {
    return true;
}

qint64 BoundedDocumentDevice::bytesAvailable() const {
    return checked_ - passed_ + (ended_ ? 0 : source_.bytesAvailable()) +
           QIODevice::bytesAvailable();
}

std::optional<BudgetFileError>
BoundedDocumentDevice::crossing(QXmlStreamReader const& reader) const {
    // The reader ran into the end put where the bound was crossed. Or the document ended after
    // its declaration, whose encoding is not read, and a reader that cannot decode it either
    // refused the declaration itself before reaching the end: the encoding is the cause both
    // ways.
    bool const endReached =
        drained_ && reader.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    bool const declarationRefused = scan_->unsupportedEncoding && passed_ == checked_;
    if (scan_->crossed.isEmpty() || !(endReached || declarationRefused)) {
        return std::nullopt;
    }
    return BudgetFileError(QString(), reader.lineNumber(), reader.columnNumber(), scan_->crossed,
                           std::exception());
}

bool BoundedDocumentDevice::more() {
    if (ended_) {
        return false;
    }
    buffer_.remove(0, passed_);
    checked_ -= passed_;
    passed_ = 0;
    // The XML reader asks for 8 KiB at a time.
    constexpr qsizetype block = 16 * 1024;
    auto const kept = buffer_.size();
    buffer_.resize(kept + block);
    auto const got = source_.read(buffer_.data() + kept, block);
    buffer_.resize(kept + std::max<qint64>(got, 0));
    if (got <= 0) {
        // What is left is less than the reader needs to tell the encoding, or less than a code
        // unit: passed on as it is.
        ended_ = true;
        checked_ = buffer_.size();
        return true;
    }
    if (!scan_->begun) {
        if (buffer_.size() < 4) {
            return true;
        }
        scan_->begin(QByteArrayView(buffer_).first(4));
    }
    auto const unchecked = buffer_.size() - checked_;
    checked_ +=
        scan_->check(buffer_.constData() + checked_, unchecked - unchecked % scan_->format.width);
    if (!scan_->crossed.isEmpty()) {
        ended_ = true;
        buffer_.truncate(checked_);
    }
    return true;
}

qint64 BoundedDocumentDevice::readData(char* data, qint64 maxSize) {
    // The reader tells the encoding from the first four bytes, which it must be given at once.
    qsizetype const least = begunPassing_ ? 1 : 4;
    while (checked_ - passed_ < least && more()) {
    }
    auto const size = std::min<qint64>(maxSize, checked_ - passed_);
    if (size == 0) {
        drained_ = true;
        return 0;
    }
    std::memcpy(data, buffer_.constData() + passed_, size_t(size));
    passed_ += size;
    begunPassing_ = true;
    return size;
}

qint64 BoundedDocumentDevice::writeData(char const*, qint64) {
    return -1;
}

} // namespace zel::file_storage::internal
