// Where a layout's literals stand (literal_texts), and the listing's named
// layouts and texts: each text named is the layout's own literal, found at
// the record and column a reader of listings looks for it, in the records a
// write statement under the layout makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "records/layout.h"
#include "records/listing_layouts.h"
#include "records/record_io.h"
#include "records/run_end.h"
#include "run_files.h"

namespace korven {
namespace {

using testing::RunFiles;

struct LiteralCase {
  std::string layout;
  std::vector<LiteralText> texts;
};

void PrintTo(const LiteralCase& c, std::ostream* os) { *os << c.layout; }

class LiteralTexts : public ::testing::TestWithParam<LiteralCase> {};

TEST_P(LiteralTexts, GivesEachLiteralWithItsRecordAndColumn) {
  EXPECT_EQ(literal_texts(GetParam().layout), GetParam().texts);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LiteralTexts,
    ::testing::Values(
        LiteralCase{"(4(2I3,F12.6))", {}},
        LiteralCase{"('0','X')", {{1, 1, "0"}, {1, 2, "X"}}},
        LiteralCase{"(10X,'B MATRIX ELEMENTS.',/,' PROBLEM NUMBER',I6)",
                    {{1, 11, "B MATRIX ELEMENTS."}, {2, 1, " PROBLEM NUMBER"}}},
        LiteralCase{"(1X,'A',2(I2,'B'),E12.5,'C')", {{1, 2, "A"}, {1, 5, "B"}, {1, 8, "B"}, {1, 21, "C"}}},
        LiteralCase{"(1P,E12.5,'X',//,3X,'Y')", {{1, 13, "X"}, {3, 4, "Y"}}},  // P takes no column
        LiteralCase{"('IT''S',A5,'Z')", {{1, 1, "IT'S"}, {1, 10, "Z"}}},
        LiteralCase{"(A,'Z',/,'W')", {{1, 0, "Z"}, {2, 1, "W"}}},  // after a bare A the column is unknown
        LiteralCase{"(2(A)\\)", {}}));

TEST(LiteralTexts, ALayoutThatDoesNotParseIsTheLayoutFailure) {
  try {
    (void)literal_texts("(1X,'open");
    FAIL() << "parsed";
  } catch (const RunFailure& failure) {
    EXPECT_EQ(failure.number, kInvalidLayout);
  }
}

// Every named layout: literal_of gives exactly the parser's literals.
class NamedLayout : public ::testing::TestWithParam<std::string_view> {};

TEST_P(NamedLayout, LiteralOfGivesTheParsersLiterals) {
  const std::string_view layout = GetParam();
  const std::vector<LiteralText> texts = literal_texts(layout);
  for (std::size_t n = 0; n < texts.size(); ++n) EXPECT_EQ(layouts::literal_of(layout, n), texts[n].text) << n;
  EXPECT_EQ(layouts::literal_of(layout, texts.size()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Listing, NamedLayout,
    ::testing::Values(layouts::kProblemHeading, layouts::kTitle, layouts::kProblemSizeError,
                      layouts::kXMatrixHeading, layouts::kXMatrixEcho, layouts::kXMatrixError,
                      layouts::kCoordinateHeading, layouts::kCoordinateEcho, layouts::kCoordinateError,
                      layouts::kLinearBendThree, layouts::kLinearBendTwo, layouts::kElementRecords,
                      layouts::kBHeading, layouts::kBCount, layouts::kGHeading, layouts::kMasses, layouts::kGCount,
                      layouts::kStoredUUnusable, layouts::kUMatrixError, layouts::kBlockCardError,
                      layouts::kSymmetrizedHeading, layouts::kBlockHeading, layouts::kFactoringReport));

struct NamedText {
  const char* name;
  std::string_view text;
  std::string_view layout;
  int record;
  int column;
};

void PrintTo(const NamedText& t, std::ostream* os) { *os << t.name; }

// The records of one write under the layout, a zero or an empty text for
// each of its data edits up to its final parenthesis.
std::vector<std::string> written(std::string_view layout) {
  RunFiles files("");
  WriteStatement w(files.listing_unit(), layout);
  const Layout parsed(layout);
  for (const LayoutStep& step : parsed.steps()) {
    if (step.kind != LayoutStep::data) continue;
    if (step.edit.kind == EditKind::integer) w.write_integer(0);
    if (step.edit.kind == EditKind::fixed || step.edit.kind == EditKind::exponent) w.write_real(0.0f);
    if (step.edit.kind == EditKind::text) w.write_text("");
  }
  w.end_write();
  return files.listing();
}

class ListingText : public ::testing::TestWithParam<NamedText> {};

TEST_P(ListingText, StandsWhereAReaderLooksForIt) {
  const NamedText& t = GetParam();
  ASSERT_FALSE(t.text.empty());
  const LiteralText expected{t.record, t.column, std::string(t.text)};
  const std::vector<LiteralText> texts = literal_texts(t.layout);
  EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end());
  const std::vector<std::string> records = written(t.layout);
  ASSERT_GE(records.size(), static_cast<std::size_t>(t.record));
  const std::string& record = records[static_cast<std::size_t>(t.record - 1)];
  EXPECT_EQ(record.substr(static_cast<std::size_t>(t.column - 1), t.text.size()), t.text) << record;
}

#define NAMED(text, layout, record, column) NamedText{#text, layouts::text, layouts::layout, record, column}

INSTANTIATE_TEST_SUITE_P(
    Listing, ListingText,
    ::testing::Values(NAMED(kGMatrixEvaluation, kProblemHeading, 1, 11),
                      NAMED(kProblemNumber, kProblemHeading, 2, 6), NAMED(kAtoms, kProblemHeading, 2, 32),
                      NAMED(kInternalCoordinates, kProblemHeading, 2, 44),
                      NAMED(kProblemSizeErrorText, kProblemSizeError, 1, 2),
                      NAMED(kXMatrixElements, kXMatrixHeading, 1, 2),
                      NAMED(kXMatrixErrorText, kXMatrixError, 1, 2),
                      NAMED(kCoordinateDefinitions, kCoordinateHeading, 1, 2),
                      NAMED(kCoordinateLabels, kCoordinateHeading, 2, 2),
                      NAMED(kCoordinateErrorText, kCoordinateError, 1, 2),
                      NAMED(kCoordinateErrorCode, kCoordinateError, 1, 73),
                      NAMED(kBMatrixElements, kBHeading, 1, 11), NAMED(kSectionProblemNumber, kBHeading, 2, 1),
                      NAMED(kNonZeroElements, kBCount, 1, 7), NAMED(kNonZeroElements, kGCount, 1, 7),
                      NAMED(kUnsymmetrizedGElements, kGHeading, 1, 12), NAMED(kProblemNumber, kGHeading, 2, 2),
                      NAMED(kUsingTheMasses, kMasses, 1, 6),
                      NAMED(kStoredUUnusableText, kStoredUUnusable, 1, 2),
                      NAMED(kUMatrixErrorText, kUMatrixError, 1, 2),
                      NAMED(kBlockCardErrorText, kBlockCardError, 1, 2),
                      NAMED(kSymmetrizedGElements, kSymmetrizedHeading, 1, 12),
                      NAMED(kProblemNumber, kSymmetrizedHeading, 2, 2),
                      NAMED(kSymmetryBlockNumber, kBlockHeading, 1, 2),
                      NAMED(kFactoringRow, kFactoringReport, 1, 2),
                      NAMED(kFactoringColumn, kFactoringReport, 1, 58),
                      NAMED(kFactoringValue, kFactoringReport, 1, 70)));

#undef NAMED

// The named texts in the words the listing has always had: the headings a
// reader matches, spelt out here once more as the reader sees them.
TEST(ListingText, TheHeadingsReadAsTheyAlwaysHave) {
  EXPECT_EQ(layouts::kGMatrixEvaluation, "G MATRIX EVALUATION.");
  EXPECT_EQ(layouts::kNonZeroElements, " NON-ZERO ELEMENTS.");
  EXPECT_EQ(layouts::kXMatrixElements, "  X MATRIX ELEMENTS");
  EXPECT_EQ(layouts::kCoordinateDefinitions, "  INTERNAL COORDINATE DEFINITIONS");
  EXPECT_EQ(layouts::kUsingTheMasses, " USING THE MASSES,");
  EXPECT_EQ(layouts::kUMatrixErrorText, "U MATRIX ERROR PROBLEM");
  EXPECT_EQ(layouts::kBlockCardErrorText, "BLOCK CARD ERROR PROBLEM");
  EXPECT_EQ(layouts::kFactoringRow, "ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ");
  static_assert(layouts::literal_of("('A','B')", 1) == "B", "usable in constant expressions");
}

}  // namespace
}  // namespace korven
