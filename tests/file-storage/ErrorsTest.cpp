#include "file-storage/Errors.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zel::file_storage;

namespace {

struct BudgetFileErrorCase {
    char const* name;
    QString errorText;
    qint64 line;
    qint64 column;
    QString expectedFirstText;
};

class BudgetFileErrorTexts : public testing::TestWithParam<BudgetFileErrorCase> {};

TEST_P(BudgetFileErrorTexts, FormatTheGeneralSentenceAroundTheReaderPosition) {
    auto const& c = GetParam();
    BudgetFileError const error(c.errorText, c.line, c.column, QStringLiteral("Specific."),
                                std::exception());
    EXPECT_EQ(error.firstText(), c.expectedFirstText);
    EXPECT_EQ(error.secondText(), QStringLiteral("Specific."));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BudgetFileErrorTexts,
    testing::Values(
        // No reader text: two spaces stand between "valid." and "Error".
        BudgetFileErrorCase{
            "NoReaderText", QString(), 0, 0,
            QStringLiteral("The budget file is not valid.  Error appears at line 0, column 0.")},
        // A reader text is put in after a space of its own, so two spaces precede it.
        BudgetFileErrorCase{
            "ReaderText", QStringLiteral("Premature end of document."), 3, 7,
            QStringLiteral("The budget file is not valid.  Premature end of document. "
                           "Error appears at line 3, column 7.")},
        BudgetFileErrorCase{
            "NegativeNumbersKeepTheirSign", QString(), -1, -20,
            QStringLiteral("The budget file is not valid.  Error appears at line -1, column -20.")},
        BudgetFileErrorCase{"LargeNumbersHaveNoGrouping", QString(), 1234567890123, 98765,
                            QStringLiteral("The budget file is not valid.  Error appears at line "
                                           "1234567890123, column 98765.")},
        // Placeholders are filled one after another: a reader text holding %2 takes the line.
        BudgetFileErrorCase{
            "ReaderTextTakesPartInLaterSubstitutions", QStringLiteral("at %2"), 5, 6,
            QStringLiteral("The budget file is not valid.  at 5 Error appears at line 5, "
                           "column 6.")}),
    [](auto const& p) { return p.param.name; });

TEST(AttributeErrors, NameTheTagAndAttributeAndEndInTheMessage) {
    AttributeError const error(
        QStringLiteral("wage"), QLatin1String("period"), QStringLiteral("oops"), 12, 4,
        QStringLiteral("The attribute value must not be empty when required."), std::exception());
    EXPECT_EQ(
        error.firstText(),
        QStringLiteral("The budget file is not valid.  oops Error appears at line 12, column 4."));
    EXPECT_EQ(error.secondText(),
              QStringLiteral("The element tag 'wage' attribute 'period' is not "
                             "valid. The attribute value must not be empty when "
                             "required."));
}

TEST(BinaryFileErrors, NameTheFileAndKeepTheMessage) {
    BinaryFileError const error(QStringLiteral("/tmp/x/exchange-rates.dat"),
                                QStringLiteral("Contains invalid data."),
                                std::out_of_range("bad code"));
    EXPECT_EQ(error.firstText(),
              QStringLiteral("The binary file, /tmp/x/exchange-rates.dat, is not valid."));
    EXPECT_EQ(error.secondText(), QStringLiteral("Contains invalid data."));
    EXPECT_EQ(error.causeDescription(), "bad code");
}

TEST(LibraryErrors, AreCaughtThroughEveryBase) {
    auto throwAttribute = [] {
        throw AttributeError(QStringLiteral("t"), QLatin1String("a"), QString(), 0, 0,
                             QStringLiteral("m"), std::exception());
    };
    EXPECT_THROW(throwAttribute(), BudgetFileError);
    EXPECT_THROW(throwAttribute(), zel::storage::StorageError);
    EXPECT_THROW(throwAttribute(), zel::foundation::Error);
    EXPECT_THROW(throwAttribute(), std::runtime_error);
    EXPECT_THROW(throw BinaryFileError(QStringLiteral("f"), QStringLiteral("m"), std::exception()),
                 zel::storage::StorageError);
}

TEST(LibraryErrors, CopiesAndMovesKeepBothTextsAndTheCause) {
    AttributeError const original(QStringLiteral("t"), QLatin1String("a"), QStringLiteral("x"), 1,
                                  2, QStringLiteral("m"), std::runtime_error("why"));
    AttributeError copy = original;
    AttributeError moved = std::move(copy);
    AttributeError assigned(QStringLiteral("u"), QLatin1String("b"), QString(), 0, 0, QString(),
                            std::exception());
    assigned = moved;
    for (auto const* error : {&moved, &assigned}) {
        EXPECT_EQ(error->firstText(), original.firstText());
        EXPECT_EQ(error->secondText(), original.secondText());
        EXPECT_EQ(error->causeDescription(), "why");
    }
}

} // namespace
