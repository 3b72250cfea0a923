#include "files/csv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "files/number_text.h"

namespace bm7 {
namespace {

TEST(CsvFields, AreQuotedOnlyWhenTheyHoldACommaQuoteOrLineBreak) {
    EXPECT_EQ(csvField("site 3/20260512_043000.wav"), "site 3/20260512_043000.wav");
    EXPECT_EQ(csvField("Zaun\xc3\xa4mmer\tbush"), "Zaun\xc3\xa4mmer\tbush");
    EXPECT_EQ(csvField(""), "");
    EXPECT_EQ(csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(csvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(csvLine({"a", "b,c", ""}), "a,\"b,c\",\n");
}

TEST(TabFields, TurnTabsAndLineBreaksIntoSpacesSoTheRowStaysWhole) {
    EXPECT_EQ(tabField("a\tb\nc\r\nd"), "a b c  d");
    EXPECT_EQ(tabField("\"quoted\", kept"), "\"quoted\", kept");
    EXPECT_EQ(tabLine({"x\ty", "", "\xc3\xa9t\xc3\xa9"}), "x y\t\t\xc3\xa9t\xc3\xa9\n");
}

TEST(TableCells, EscapeEveryByteThatIsNotUtf8ExceptInColumnsProgramsOpen) {
    EXPECT_EQ(utf8Escaped("Zaun\xc3\xa4mmer \xe2\x82\xac \xf0\x9f\x90\xa6"),
              "Zaun\xc3\xa4mmer \xe2\x82\xac \xf0\x9f\x90\xa6");
    EXPECT_EQ(utf8Escaped("rec\xff.wav"), "rec\\xFF.wav");
    EXPECT_EQ(utf8Escaped("\xc0\xaf"), "\\xC0\\xAF");                    // overlong '/'
    EXPECT_EQ(utf8Escaped("\xed\xa0\x80"), "\\xED\\xA0\\x80");           // a surrogate
    EXPECT_EQ(utf8Escaped("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");  // past U+10FFFF
    EXPECT_EQ(utf8Escaped("\xe2\x82"), "\\xE2\\x82");                    // cut short
    EXPECT_EQ(utf8Escaped("\xe9t\xe9"), "\\xE9t\\xE9");                  // Latin-1
    EXPECT_EQ(csvLine({"a\xff,b", "p\xff"}, {1}), "\"a\\xFF,b\",p\xff\n");
    EXPECT_EQ(tabLine({"x\xfe", "y\xfe\t"}, {1}), "x\\xFE\ty\xfe \n");
}

TEST(FixedDecimals, RoundAsPrintfDoesAndLeaveNonFiniteNumbersEmpty) {
    EXPECT_EQ(fixedDecimals(12.5, 6), "12.500000");
    EXPECT_EQ(fixedDecimals(0.123456789, 4), "0.1235");
    EXPECT_EQ(fixedDecimals(-31.005, 2), "-31.00");  // stored as -31.00499...
    EXPECT_EQ(fixedDecimals(1e300, 1).size(), 303u);
    EXPECT_EQ(fixedDecimals(-0.001, 2), "0.00");
    EXPECT_EQ(fixedDecimals(-0.0, 6), "0.000000");
    EXPECT_EQ(fixedDecimals(std::nan(""), 4), "");
    EXPECT_EQ(fixedDecimals(-std::numeric_limits<double>::infinity(), 2), "");
}

TEST(ExactNumbers, ReadBackAsTheVeryBitsThatWereWritten) {
    for (double value :
         {0.1, 1.0 / 3.0, -2.5e-300, 5e-324, 1.7976931348623157e308, -0.0, 86399.99999}) {
        const auto read = readExactNumber(exactNumber(value));
        ASSERT_TRUE(read.has_value()) << exactNumber(value);
        EXPECT_EQ(std::signbit(*read), std::signbit(value));
        EXPECT_EQ(*read, value);
    }
    EXPECT_TRUE(std::isnan(*readExactNumber(exactNumber(std::nan("")))));
    EXPECT_EQ(*readExactNumber(exactNumber(-std::numeric_limits<double>::infinity())),
              -std::numeric_limits<double>::infinity());
}

TEST(ExactNumbers, RefuseTextThatIsNotWhollyANumber) {
    for (const char* text : {"", "1.5x", " 1", "1,5", "+1", "--1", "0x1p3"}) {
        EXPECT_FALSE(readExactNumber(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace bm7
