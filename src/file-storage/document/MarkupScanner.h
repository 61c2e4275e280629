#pragma once

#include <QtEndian>
#include <QtGlobal>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

// The one scanner of a budget document's bytes: where its code units stand in its markup. The
// bounded reading (BoundedDocumentDevice) follows a document through it as it passes, and the
// inspection (Locator) finds where each piece of markup begins and ends.
//
// Only what decides where markup begins and ends is told apart: tags and their quoted values,
// comments, CDATA sections, processing instructions, and the document type declaration, whose
// internal subset holds declarations, comments and instructions of its own. Everything else is
// text, where only '<' matters.
//
// The scanner is given the document in blocks of whole code units (one, two or four bytes, in
// either byte order) and keeps its place between them. It tells an observer what it meets; each
// of the observer's calls may end the scan at an offset it returns (anything but -1):
//   markupBegins(markup, at)     the markup whose '<' is at offset at begins; known once the
//                                units after '<' tell what it is
//   attributeValue(at)           a quote at offset at opens an attribute's value
//   elementEnds()                an end tag's '>', or the "/>" of an empty element's tag
//   instructionUnit(unit)        each unit of a processing instruction outside the document
//                                type declaration, after its "<?", up to its '>'
//   markupEnds(markup, end)      the markup ends before offset end, at its '>'
//   subsetDeclaration(at)        the internal subset of the document type declaration holds a
//                                declaration ("<!" but a comment's "<!--"), whose '<' is at at
// A block ends before a '<' whose markup the units after it have not told yet: scan() then
// returns that '<''s offset, to be scanned again with the units that follow it.
namespace zel::file_storage::internal {

enum class Markup : quint8 { startTag, endTag, comment, cdata, instruction, doctype };

// What an observer that wants to hear nothing of a kind gives.
struct MarkupObserver {
    static constexpr qsizetype goOn = -1;
    qsizetype markupBegins(Markup, qsizetype) { return goOn; }
    qsizetype attributeValue(qsizetype) { return goOn; }
    qsizetype elementEnds() { return goOn; }
    void instructionUnit(char32_t) {}
    qsizetype markupEnds(Markup, qsizetype) { return goOn; }
    qsizetype subsetDeclaration(qsizetype) { return goOn; }
};

// The code unit at at: one, two or four bytes in the given order.
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

class MarkupScanner {
public:
    // Scans the units of data from offset from to offset size. Returns size, or where an
    // observer's call ended the scan, or where a '<' is held back for the next block.
    template <int Width, bool BigEndian, class Observer>
    qsizetype scan(char const* data, qsizetype from, qsizetype size, Observer& observer) {
        Block<Width, BigEndian, Observer> block{*this, data, size, observer};
        for (qsizetype at = from; at < size;) {
            if (inTags(state_)) {
                if (auto const end = block.takeMarks(at); end != MarkupObserver::goOn) {
                    return end;
                }
                if (at == size || inTags(state_)) {
                    continue;
                }
            }
            if (auto const end = block.take(at); end != MarkupObserver::goOn) {
                return end;
            }
            at += Width;
        }
        auto const end = holdBack(size);
        if (end == size && size - from >= Width) {
            lastUnit_ = unitAt<Width, BigEndian>(data + size - Width);
        }
        return end;
    }

private:
    enum class State : quint8 {
        // Where only '<', '>' and quotes matter: most of a document.
        text,
        startTag,
        value, // of an attribute
        endTag,
        // Markup whose kind the next units tell.
        markup,      // after '<'
        bang,        // after "<!"
        commentOpen, // after "<!-"
        cdataOpen,   // after "<![", and run units of "CDATA["
        // The rest.
        comment,
        cdata,
        instruction,
        doctype,
        quoted,      // a quoted value of the document type declaration or of a declaration in it
        subset,      // the internal subset of the document type declaration
        declaration, // a declaration in the internal subset
    };

    static bool inTags(State state) {
        return state == State::text || state == State::startTag || state == State::value ||
               state == State::endTag;
    }

    // Where the scan goes on once a comment, a CDATA section or an instruction ends.
    State outside() const { return inSubset_ ? State::subset : State::text; }

    // Leaves a '<' whose markup is not known yet for the next block; returns where the scan
    // ends.
    qsizetype holdBack(qsizetype end) {
        switch (state_) {
        case State::markup:
        case State::bang:
        case State::commentOpen:
        case State::cdataOpen:
            state_ = outside();
            return markupStart_;
        default:
            return end;
        }
    }

    template <int Width, bool BigEndian, class Observer> struct Block;

    State state_ = State::text;
    State afterQuote_ = State::doctype; // where a quoted value of a declaration returns
    bool inSubset_ = false;
    char32_t quote_ = 0;
    char32_t lastUnit_ = 0; // of the block before
    // Closing units seen ("--" of a comment, "]]" of a CDATA section, "?" of an instruction), or
    // opening units matched ("CDATA[").
    int run_ = 0;
    qsizetype markupStart_ = 0; // where the markup being told begins, in this block
};

// One block's scan: each state's step, as a function of its own.
template <int Width, bool BigEndian, class Observer> struct MarkupScanner::Block {
    static constexpr qsizetype goOn = MarkupObserver::goOn;

    MarkupScanner& scanner;
    char const* data;
    qsizetype size;
    Observer& observer;

    char32_t unit(qsizetype at) const { return unitAt<Width, BigEndian>(data + at); }
    static bool isMark(char32_t c) { return c == '<' || c == '>' || c == '"' || c == '\''; }

    // Takes the units from at on where only '<', '>' and quotes matter, and those alone, up to
    // the first that leads out of the tags (at is then that unit's offset) or to the end of the
    // block of bytes looked at (at is then past it). A one-byte document is looked at a block
    // of bytes at a time, others a unit at a time.
    qsizetype takeMarks(qsizetype& at) {
        if constexpr (Width == 1) {
            if (size - at >= markBlock) {
                auto const block = at;
                at += markBlock;
                for (auto marks = marksIn(data + block); marks != 0; marks &= marks - 1) {
                    auto const mark = block + qCountTrailingZeroBits(marks) / markBits;
                    if (auto const end = takeMark(mark); end != goOn) {
                        return end;
                    }
                    if (!inTags(scanner.state_)) {
                        at = mark + Width;
                        break;
                    }
                }
                return goOn;
            }
        }
        for (; at < size && !isMark(unit(at)); at += Width) {
        }
        if (at == size) {
            return goOn;
        }
        auto const end = takeMark(at);
        at += Width;
        return end;
    }

    // Takes the unit at at, a '<', '>' or quote, in one of the states of the tags.
    qsizetype takeMark(qsizetype at) {
        auto const c = unit(at);
        switch (scanner.state_) {
        case State::text:
            return text(at, c);
        case State::startTag:
            return startTag(at, c);
        case State::value:
            return closeQuote(c, State::startTag);
        default:
            return endTag(at, c);
        }
    }

    // Takes the unit at at in the scanner's state.
    qsizetype take(qsizetype at) {
        auto const c = unit(at);
        switch (scanner.state_) {
        case State::text:
        case State::startTag:
        case State::value:
        case State::endTag:
            return takeMark(at);
        case State::markup:
            return markup(at, c);
        case State::bang:
            return bang(at, c);
        case State::commentOpen:
            return commentOpen(at, c);
        case State::cdataOpen:
            return cdataOpen(at, c);
        case State::comment:
            return closeRun(at, c, '-', 2, Markup::comment);
        case State::cdata:
            return closeRun(at, c, ']', 2, Markup::cdata);
        case State::instruction:
            return instruction(at, c);
        case State::doctype:
            return doctype(at, c);
        case State::quoted:
            return closeQuote(c, scanner.afterQuote_);
        case State::subset:
            return subset(at, c);
        case State::declaration:
            return declaration(c);
        }
        return goOn;
    }

    qsizetype enter(State state) {
        scanner.state_ = state;
        return goOn;
    }

    qsizetype text(qsizetype at, char32_t c) {
        if (c == '<') {
            scanner.markupStart_ = at;
            return enter(State::markup);
        }
        return goOn;
    }

    // After '<': an end tag, an instruction, what "<!" begins, or a start tag, whose first
    // unit c is. In the internal subset: an instruction, what "<!" begins, or a declaration.
    qsizetype markup(qsizetype, char32_t c) {
        if (scanner.inSubset_) {
            if (c == '?') {
                scanner.run_ = 0;
                return enter(State::instruction);
            }
            return c == '!' ? enter(State::bang) : declaration(c);
        }
        switch (c) {
        case '/':
            return begin(State::endTag, Markup::endTag);
        case '?':
            scanner.run_ = 0;
            return begin(State::instruction, Markup::instruction);
        case '!':
            return enter(State::bang);
        default:
            return begin(State::startTag, Markup::startTag);
        }
    }

    qsizetype begin(State state, Markup markup) {
        scanner.state_ = state;
        return observer.markupBegins(markup, scanner.markupStart_);
    }

    // Attributes are counted by their values, each of which a quote opens.
    qsizetype startTag(qsizetype at, char32_t c) {
        if (c == '"' || c == '\'') {
            scanner.quote_ = c;
            scanner.state_ = State::value;
            return observer.attributeValue(at);
        }
        if (c != '>') {
            return goOn;
        }
        scanner.state_ = State::text;
        // "/>" ends an empty element's tag.
        if ((at == 0 ? scanner.lastUnit_ : unit(at - Width)) == '/') {
            if (auto const end = observer.elementEnds(); end != goOn) {
                return end;
            }
        }
        return observer.markupEnds(Markup::startTag, at + Width);
    }

    qsizetype endTag(qsizetype at, char32_t c) {
        if (c != '>') {
            return goOn;
        }
        scanner.state_ = State::text;
        if (auto const end = observer.elementEnds(); end != goOn) {
            return end;
        }
        return observer.markupEnds(Markup::endTag, at + Width);
    }

    qsizetype closeQuote(char32_t c, State after) {
        return c == scanner.quote_ ? enter(after) : goOn;
    }

    // After "<!": a comment, a CDATA section, or (anything else) the document type
    // declaration, of which c is then the first unit. In the internal subset only a comment
    // gets here: another "<!" is a declaration.
    qsizetype bang(qsizetype at, char32_t c) {
        if (c == '-') {
            return enter(State::commentOpen);
        }
        if (scanner.inSubset_) {
            return observer.subsetDeclaration(scanner.markupStart_);
        }
        if (c == '[') {
            scanner.run_ = 0;
            return enter(State::cdataOpen);
        }
        return declare(at, c);
    }

    // After "<!-": a comment, or else the document type declaration (in the internal subset, a
    // declaration of a kind no reader knows, which it refuses itself).
    qsizetype commentOpen(qsizetype at, char32_t c) {
        if (c == '-') {
            scanner.run_ = 0;
            return scanner.inSubset_ ? enter(State::comment)
                                     : begin(State::comment, Markup::comment);
        }
        return scanner.inSubset_ ? declaration(c) : declare(at, c);
    }

    qsizetype cdataOpen(qsizetype at, char32_t c) {
        static char const opening[] = "CDATA[";
        if (c != char32_t(opening[scanner.run_])) {
            return declare(at, c);
        }
        if (++scanner.run_ < 6) {
            return goOn;
        }
        scanner.run_ = 0;
        return begin(State::cdata, Markup::cdata);
    }

    // The document type declaration begins; c, at at, is its first unit after "<!".
    qsizetype declare(qsizetype at, char32_t c) {
        if (auto const end = begin(State::doctype, Markup::doctype); end != goOn) {
            return end;
        }
        return doctype(at, c);
    }

    // Inside markup that ends with a run of closing units and '>': "-->", "]]>".
    qsizetype closeRun(qsizetype at, char32_t c, char32_t closing, int least, Markup markup) {
        if (c == '>' && scanner.run_ >= least) {
            scanner.state_ = scanner.outside();
            return scanner.inSubset_ ? goOn : observer.markupEnds(markup, at + Width);
        }
        scanner.run_ = c == closing ? scanner.run_ + 1 : 0;
        return goOn;
    }

    qsizetype instruction(qsizetype at, char32_t c) {
        if (!scanner.inSubset_) {
            observer.instructionUnit(c);
        }
        return closeRun(at, c, '?', 1, Markup::instruction);
    }

    qsizetype doctype(qsizetype at, char32_t c) {
        switch (c) {
        case '"':
        case '\'':
            scanner.quote_ = c;
            scanner.afterQuote_ = State::doctype;
            return enter(State::quoted);
        case '[':
            scanner.inSubset_ = true;
            return enter(State::subset);
        case '>':
            scanner.state_ = State::text;
            return observer.markupEnds(Markup::doctype, at + Width);
        default:
            return goOn;
        }
    }

    qsizetype subset(qsizetype at, char32_t c) {
        if (c == ']') {
            scanner.inSubset_ = false;
            return enter(State::doctype);
        }
        if (c == '<') {
            scanner.markupStart_ = at;
            return enter(State::markup);
        }
        return goOn;
    }

    // Inside a declaration of the internal subset; c may be its first unit.
    qsizetype declaration(char32_t c) {
        scanner.state_ = State::declaration;
        if (c == '"' || c == '\'') {
            scanner.quote_ = c;
            scanner.afterQuote_ = State::declaration;
            return enter(State::quoted);
        }
        return c == '>' ? enter(State::subset) : goOn;
    }

    // The bytes of a block of a one-byte document that are '<', '>' or quotes: the bits of the
    // result, markBits for each byte, the lowest set for the first such byte.
#if defined(__SSE2__)
    static constexpr qsizetype markBlock = 16;
    static constexpr int markBits = 1;
    static quint64 marksIn(char const* block) {
        auto const bytes = _mm_loadu_si128(reinterpret_cast<__m128i const*>(block));
        auto const is = [&](char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
        return quint32(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(is('<'), is('>')), _mm_or_si128(is('"'), is('\'')))));
    }
#else
    static constexpr qsizetype markBlock = 8;
    static constexpr int markBits = 8;
    // The bytes of word that are c, each as its high bit.
    static constexpr quint64 bytesOf(quint64 word, uchar c) {
        constexpr quint64 low7 = 0x7F7F7F7F7F7F7F7F;
        auto const x = word ^ (0x0101010101010101 * c);
        return ~(((x & low7) + low7) | x | low7);
    }
    static quint64 marksIn(char const* block) {
        quint64 word = 0;
        std::memcpy(&word, block, 8);
        word = qFromLittleEndian(word);
        return bytesOf(word, '<') | bytesOf(word, '>') | bytesOf(word, '"') | bytesOf(word, '\'');
    }
#endif
};

} // namespace zel::file_storage::internal
