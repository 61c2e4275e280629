#include "file-storage/document/inspection/Scan.h"

#include <iterator>

namespace zel::file_storage::internal::inspection {

namespace attributes = names::attributes;

Scan::Scan(QByteArray const& bytes, ConversionPlace const* target)
    : locator_(bytes), target_(target) {
    device_.setData(bytes);
    device_.open(QIODevice::ReadOnly);
    reader_.setDevice(&bounded_);
    // Most of a large budget is transactions, of about 160 bytes each.
    auto const transactions = std::size_t(bytes.size() / 160);
    transactions_.reserve(transactions);
    copies_.reserve(transactions);
}

DocumentInspection Scan::run() {
    while (!reader_.atEnd()) {
        switch (reader_.readNext()) {
        case QXmlStreamReader::StartDocument:
            encoding();
            break;
        case QXmlStreamReader::StartElement:
            startElement();
            break;
        case QXmlStreamReader::EndElement:
            endElement();
            break;
        case QXmlStreamReader::Characters:
            characters();
            break;
        case QXmlStreamReader::Comment:
            ignoredMarkup(locate(&Locator::comment), QStringLiteral("comment"));
            break;
        case QXmlStreamReader::ProcessingInstruction:
            ignoredMarkup(locate(&Locator::instruction),
                          QStringLiteral("processing instruction %1")
                              .arg(quoted(reader_.processingInstructionTarget())));
            break;
        case QXmlStreamReader::DTD:
            locator_.stop();
            ignoredMarkup(readerPosition(), QStringLiteral("document type declaration"));
            break;
        default:
            break;
        }
    }
    if (reader_.hasError()) {
        auto const crossing = bounded_.crossing(reader_);
        result_.failure = crossing ? crossing->secondText() : reader_.errorString();
    } else {
        crossReferences();
    }
    std::vector<Kept> kept;
    for (auto& [kind, warnings] : kinds_) {
        if (warnings.count > qint64(warnings.kept.size())) {
            result_.moreOfKind.emplace(QString::fromLatin1(kind.data(), qsizetype(kind.size())),
                                       warnings.count - qint64(warnings.kept.size()));
        }
        std::move(warnings.kept.begin(), warnings.kept.end(), std::back_inserter(kept));
    }
    std::sort(kept.begin(), kept.end(), earlier);
    result_.warnings.reserve(kept.size());
    for (auto& warning : kept) {
        result_.warnings.push_back(std::move(warning.warning));
    }
    return std::move(result_);
}

// The load numbers the elements of one element of the format in document order, as this
// scan meets them.
void Scan::seekTarget(Position at) {
    auto const ordinal = targetOrdinal_++;
    auto const& attribute = target_->attribute;
    bool const last = target_->ordinal == ConversionPlace::lastCarrying;
    if (last ? !attributes_.hasAttribute(attribute) : ordinal != target_->ordinal) {
        return;
    }
    targetPlace_ = at;
    if (!attribute.isEmpty() && locator_.usable()) {
        if (auto const place = locator_.attribute(attribute)) {
            targetPlace_ = place;
        }
    }
}

Position Scan::locate(Position (Locator::*find)()) {
    if (locator_.usable()) {
        auto const at = (locator_.*find)();
        if (locator_.usable()) {
            return at;
        }
    }
    return readerPosition();
}

void Scan::encoding() {
    auto const declared = reader_.documentEncoding().toString().toLower();
    if (declared.isEmpty() || declared == u"utf-8" || declared == u"utf8") {
        return;
    }
    if (declared.startsWith(u"utf-16") || declared.startsWith(u"utf-32") ||
        declared.startsWith(u"ucs")) {
        locator_.stop();
    } else {
        locator_.countBytes();
    }
}

void Scan::ignoredMarkup(Position at, QString const& what) {
    if (!inIgnored()) {
        warn(at, "ignored-markup", [&] {
            return QStringLiteral("%1: the load ignores it and a store drops it").arg(what);
        });
    }
}

void Scan::characters() {
    auto const at = locate(&Locator::text);
    if (stack_.empty() || stack_.back().form == nullptr) {
        return;
    }
    auto& frame = stack_.back();
    if (frame.form->shape == Shape::transaction) {
        describe(frame.copy, reader_.text());
        return;
    }
    if (reader_.isWhitespace() || frame.textReported) {
        return;
    }
    frame.textReported = true;
    warn(at, "ignored-text", [&] {
        return QStringLiteral(
                   "text %1 in '%2' is not part of the format; the load ignores it and a "
                   "store drops it")
            .arg(quoted(reader_.text()), frame.form->tag.latin1);
    });
}

void Scan::startElement() {
    auto const at = locate(&Locator::startTag);
    bool const ignored = inIgnored();
    Element const* form = nullptr;
    if (!ignored) {
        form = internal::format::elementOf(
            stack_.empty() ? QStringView() : stack_.back().form->tag.utf16, reader_.name());
        if (form == nullptr) {
            warn(at, "unknown-element", [&] {
                return QStringLiteral("element '%1' is not part of the format; the load "
                                      "ignores it and a store drops it")
                    .arg(reader_.name());
            });
        }
    }
    auto& frame = stack_.emplace_back();
    frame.form = form;
    frame.position = at;
    if (form == nullptr) {
        return;
    }
    attributes_ = reader_.attributes();
    if (target_ != nullptr && form == target_->element) {
        seekTarget(at);
    }
    names(*form, at);
    values(*form, at);
    // What each shape of element is looked at for, as it starts.
    static constexpr std::pair<Shape, void (Scan::*)(Element const&, Position)> starts[]{
        {Shape::collection, &Scan::collection},     {Shape::item, &Scan::item},
        {Shape::account, &Scan::account},           {Shape::ledger, &Scan::ledger},
        {Shape::transaction, &Scan::transaction},   {Shape::bank, &Scan::bank},
        {Shape::bankAccount, &Scan::bankAccount},   {Shape::reconciliation, &Scan::reconciliation},
        {Shape::distribution, &Scan::distribution},
    };
    for (auto const& [shape, start] : starts) {
        if (shape == form->shape) {
            (this->*start)(*form, at);
        }
    }
}

void Scan::endElement() {
    if (stack_.empty()) {
        return;
    }
    auto& frame = stack_.back();
    if (frame.form != nullptr && frame.form->shape == Shape::transaction) {
        endTransaction(frame);
    } else if (frame.form != nullptr && frame.form->shape == Shape::bank) {
        endBank(frame);
    }
    stack_.pop_back();
}

} // namespace zel::file_storage::internal::inspection
