#include "file-storage/document/BoundedDocumentDevice.h"

#include "file-storage/document/MarkupScanner.h"

#include <QObject>
#include <QStringConverter>
#include <QStringDecoder>
#include <QSysInfo>

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

bool isSpace(char32_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

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

// Where the first unit of size bytes at data stands that a document cannot hold, an unpaired
// surrogate (UTF-16 and UTF-32 hold none but pairs in UTF-16), with unpaired set; or where a
// high surrogate at the very end waits for the unit that is to pair with it; or size.
template <int Width, bool BigEndian>
qsizetype firstUnpairedSurrogate(char const* data, qsizetype from, qsizetype size, bool& unpaired) {
    for (qsizetype at = from; at < size; at += Width) {
        auto const unit = unitAt<Width, BigEndian>(data + at);
        if (unit < 0xD800 || unit > 0xDFFF) {
            continue;
        }
        if (Width == 2 && unit < 0xDC00) {
            if (at + Width == size) {
                return at;
            }
            auto const next = unitAt<Width, BigEndian>(data + at + Width);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                at += Width;
                continue;
            }
        }
        unpaired = true;
        return at;
    }
    return size;
}

} // namespace

// Follows the document through the markup scanner, as its observer, and ends it where it first
// crosses a bound.
struct BoundedDocumentDevice::Scan : MarkupObserver {
    Format format;
    qsizetype markBytes = 0; // of a byte-order mark at the start
    bool begun = false;
    bool atStart = true;
    MarkupScanner scanner;
    int depth = 0;
    int attributes = 0;               // of the start tag being read
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

    // ---- What the scanner meets ----------------------------------------------------------

    qsizetype markupBegins(Markup markup, qsizetype at) {
        inDeclaration = declarationPossible && markup == Markup::instruction;
        declarationPossible = false;
        if (inDeclaration) {
            declaration = "?";
        }
        if (markup == Markup::startTag) {
            if (++depth > deepestNesting_) {
                return cross(
                    at,
                    QObject::tr("Elements are nested deeper than %1 levels.").arg(deepestNesting_));
            }
            attributes = 0;
        }
        return goOn;
    }

    // Attributes are counted by their values, each of which a quote opens.
    qsizetype attributeValue(qsizetype at) {
        if (++attributes > mostAttributes_) {
            return cross(
                at, QObject::tr("An element has more than %1 attributes.").arg(mostAttributes_));
        }
        return goOn;
    }

    qsizetype elementEnds() {
        depth = std::max(depth - 1, 0);
        return goOn;
    }

    void instructionUnit(char32_t c) {
        if (!inDeclaration) {
            return;
        }
        // White space runs count as one blank: the declaration's text stays short.
        char const k = isSpace(c) ? ' ' : c < 0x80 ? char(c) : '\x7f';
        if (declaration.size() < 1024 && !(k == ' ' && declaration.endsWith(' '))) {
            declaration.append(k);
        }
    }

    qsizetype markupEnds(Markup markup, qsizetype end) {
        if (markup != Markup::instruction || !std::exchange(inDeclaration, false)) {
            return goOn;
        }
        auto message = encodingCrossed();
        return message.isEmpty() ? goOn : cross(end, std::move(message));
    }

    qsizetype subsetDeclaration(qsizetype at) {
        return cross(at, QObject::tr("The document type declaration holds a declaration, which a "
                                     "budget file never does: the entities and default attributes "
                                     "it may declare can make a document cost far more than its "
                                     "size to read."));
    }

    // ---- The bytes ------------------------------------------------------------------------

    // Checks size bytes (whole code units) at data, which follow those checked before. Returns
    // how many of them are checked: all of them, or fewer where the document crosses a bound
    // (crossed then says which), or all but a '<' or a surrogate near their end whose meaning
    // the units after it tell, to be checked again with what follows.
    template <int Width, bool BigEndian> qsizetype check(char const* data, qsizetype size) {
        qsizetype from = 0;
        if (atStart) {
            atStart = false;
            from = std::min(markBytes, size);
            declarationPossible = from < size && unitAt<Width, BigEndian>(data + from) == '<';
        }
        bool unpaired = false;
        qsizetype limit = size;
        if constexpr (Width != 1) {
            limit = firstUnpairedSurrogate<Width, BigEndian>(data, from, size, unpaired);
        }
        auto const end = scanner.scan<Width, BigEndian>(data, from, limit, *this);
        if (!crossed.isEmpty() || !unpaired) {
            return end;
        }
        auto const surrogate = unitAt<Width, BigEndian>(data + limit);
        return cross(limit, QObject::tr("The document holds an unpaired surrogate, U+%1, which a "
                                        "budget file cannot store.")
                                .arg(QString::number(uint(surrogate), 16).toUpper()));
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
