// The listing's fixed texts and record layouts, named once: every writer of
// the engine writes its records under these names, and a reader of listings
// finds the same texts by the same names. Self-contained (the standard
// library's <string_view> only), so that a program that only reads listings
// can include it without the rest of the engine.
//
// A layout is written in the record layout notation of the write statements
// (records/record_io.h): 'text' is a literal, nX leaves n blanks, Iw, Fw.d,
// Ew.d and A are fields, '/' starts the next record, a repeat count before a
// parenthesis repeats the group, and when items remain at the final
// parenthesis the walk starts a new record at the last group of the outer
// level. In a listing file a record's first character is data: column 1 is
// the first character written.
//
// Where a layout's literals stand: records/layout.h's literal_texts(layout)
// gives every literal of a layout with the record of the statement it falls
// in (1 for the first, one more after each '/') and its first column, e.g.
// literal_texts(kBHeading) is {1, 11, "B MATRIX ELEMENTS."}, {2, 1,
// " PROBLEM NUMBER"}. The texts named below are views into the layouts
// (literal_of), so each text is spelt once.
//
// Records written list-directed (the k...Line texts) have no layout: such a
// record is one blank followed by the text, so the text starts in column 2.
// An empty list-directed record is a single blank.
#pragma once

#include <cstddef>
#include <string_view>

namespace korven::layouts {

// The n-th literal (from 0) of a layout, as a view into the layout's own
// text; empty when the layout has fewer literals. The layouts of this header
// never double an apostrophe inside a literal (the test of this header holds
// every one of them to the full parser).
constexpr std::string_view literal_of(std::string_view layout, std::size_t n) {
  std::size_t from = 0;
  for (std::size_t seen = 0;; ++seen) {
    const std::size_t open = layout.find('\'', from);
    if (open == std::string_view::npos) return {};
    const std::size_t close = layout.find('\'', open + 1);
    if (close == std::string_view::npos) return {};
    if (seen == n) return layout.substr(open + 1, close - open - 1);
    from = close + 1;
  }
}

// ---------------------------------------------------------------------------
// Problem heading, titles and X matrix (deck/problem_input.cpp)

// The first record of every problem, list-directed: "     Program KORVEN".
inline constexpr std::string_view kProgramLine = "    Program KORVEN";

// The heading under it: record 1 "G MATRIX EVALUATION." from column 11;
// record 2 "PROBLEM NUMBER" from column 6, the number in I4, five blanks,
// the atom count in I3, " ATOMS", two blanks, the coordinate count in I4 and
// " INTERNAL COORDINATES.".
inline constexpr std::string_view kProblemHeading =
    "(10X,'G MATRIX EVALUATION.',/,5X,'PROBLEM NUMBER',I4,5X,I3,' ATOMS',2X,I4,' INTERNAL COORDINATES.')";
inline constexpr std::string_view kGMatrixEvaluation = literal_of(kProblemHeading, 0);
inline constexpr std::string_view kProblemNumber = literal_of(kProblemHeading, 1);
inline constexpr std::string_view kAtoms = literal_of(kProblemHeading, 2);
inline constexpr std::string_view kInternalCoordinates = literal_of(kProblemHeading, 3);

// A title card as read (80 columns), and the mass set's title (60 columns).
inline constexpr std::string_view kTitle = "(A)";

// The report of a problem card whose atom or coordinate count the listing
// cannot show, after an empty record; the 0 in column 1 marks every error
// report of the listing.
inline constexpr std::string_view kProblemSizeError =
    "('0','PROBLEM SIZE ERROR PROBLEM',I7,'ATOMS',I6,'COORDINATES',I6)";
inline constexpr std::string_view kProblemSizeErrorText = literal_of(kProblemSizeError, 1);

// The X-matrix heading, "  X MATRIX ELEMENTS" from column 2, then an empty
// record.
inline constexpr std::string_view kXMatrixHeading = "(1X,'  X MATRIX ELEMENTS',/)";
inline constexpr std::string_view kXMatrixElements = literal_of(kXMatrixHeading, 0);

// The echo of one X-matrix card: four triples (row, atom, value), 20
// columns each.
inline constexpr std::string_view kXMatrixEcho = "(4(I3,1X,I3,1X,F12.6))";

// The report of an X-matrix triple that names no coordinate.
inline constexpr std::string_view kXMatrixError =
    "('0','X MATRIX ERROR PROBLEM',I7,'FIELD',I3,'READS',2I4,F12.6)";
inline constexpr std::string_view kXMatrixErrorText = literal_of(kXMatrixError, 1);

// ---------------------------------------------------------------------------
// Internal coordinate definitions (bmatrix/coordinate_walk.cpp, linear_bend.cpp)

// The heading, after an empty record: "  INTERNAL COORDINATE DEFINITIONS" and
// the column labels, each from column 2.
inline constexpr std::string_view kCoordinateHeading =
    "(1X,'  INTERNAL COORDINATE DEFINITIONS',/,1X,'   NO   C    ODE  I    J    K    L    IX   JX')";
inline constexpr std::string_view kCoordinateDefinitions = literal_of(kCoordinateHeading, 0);
inline constexpr std::string_view kCoordinateLabels = literal_of(kCoordinateHeading, 1);

// The echo of one entry: its coordinate number, CODE, I, J, K, L, IX, JX.
inline constexpr std::string_view kCoordinateEcho = "(1X,2I5,I6,5I5)";

// The report of a refused entry: the entry's place on its card, its eight
// fields as read and the B-row routine's error code after " JOKER=".
inline constexpr std::string_view kCoordinateError =
    "('0','INTERNAL COORDINATE ERROR:FIELD',I2,' READS',8I4,' JOKER=',I2)";
inline constexpr std::string_view kCoordinateErrorText = literal_of(kCoordinateError, 1);
inline constexpr std::string_view kCoordinateErrorCode = literal_of(kCoordinateError, 3);

// A linear bend's records: its reference point, then the two unit
// directions and the two lengths it computes.
inline constexpr std::string_view kLinearBendThree = "(3(F12.6))";
inline constexpr std::string_view kLinearBendTwo = "(2(F12.6))";

// ---------------------------------------------------------------------------
// Element lists (bmatrix/element_list.cpp): four (row, column, value) entries
// to a record, 18 columns each, the end entry included.
inline constexpr std::string_view kElementRecords = "(4(2I3,F12.6))";

// ---------------------------------------------------------------------------
// B section (bmatrix/b_matrix.cpp)

// After an empty record: "B MATRIX ELEMENTS." from column 11, then
// " PROBLEM NUMBER" and the number in I6; the two titles follow.
inline constexpr std::string_view kBHeading = "(10X,'B MATRIX ELEMENTS.',/,' PROBLEM NUMBER',I6)";
inline constexpr std::string_view kBMatrixElements = literal_of(kBHeading, 0);
inline constexpr std::string_view kSectionProblemNumber = literal_of(kBHeading, 1);

// The element count of the B list in I5 from column 2.
inline constexpr std::string_view kBCount = "(1X,I5,' NON-ZERO ELEMENTS.')";
inline constexpr std::string_view kNonZeroElements = literal_of(kBCount, 0);

// List-directed, ahead of the B list's element records.
inline constexpr std::string_view kBReaderLine = "This B matrix is in the format read by TALMIR";

// ---------------------------------------------------------------------------
// Unsymmetrized G section (gmatrix/g_matrix.cpp)

// After an empty record: "UNSYMMETRIZED G MATRIX ELEMENTS." from column
// 12, then "PROBLEM NUMBER" from column 2 and the number in I6; the mass
// set's title follows.
inline constexpr std::string_view kGHeading =
    "(' ',10X,'UNSYMMETRIZED G MATRIX ELEMENTS.',/,1X,'PROBLEM NUMBER',I6)";
inline constexpr std::string_view kUnsymmetrizedGElements = literal_of(kGHeading, 1);

// " USING THE MASSES," from column 6 with up to six masses, then six to a
// record, each record from column 2.
inline constexpr std::string_view kMasses = "(5X,' USING THE MASSES,',(1X,6F12.6))";
inline constexpr std::string_view kUsingTheMasses = literal_of(kMasses, 0);

// The element count of the G list in I5 from column 2.
inline constexpr std::string_view kGCount = "(' ',I5,' NON-ZERO ELEMENTS.')";

// List-directed, ahead of an empty record and the G list's element records.
inline constexpr std::string_view kGReaderLine = "This G matrix is in the format read by ROSK";

// After an empty record: a mass set with a negative U mode finds no U list
// it can reuse.
inline constexpr std::string_view kStoredUUnusable = "('0','STORED U MATRIX UNUSABLE PROBLEM',I7)";
inline constexpr std::string_view kStoredUUnusableText = literal_of(kStoredUUnusable, 1);

// ---------------------------------------------------------------------------
// U matrix, block card and symmetrized G section (gmatrix/)

// After an empty record: a refused U-matrix triple, its place on the card
// and its fields as read.
inline constexpr std::string_view kUMatrixError =
    "('0','U MATRIX ERROR PROBLEM',I7,'FIELD',I3,'READS',2I4,F12.6)";
inline constexpr std::string_view kUMatrixErrorText = literal_of(kUMatrixError, 1);

// After an empty record: the first block boundary that breaks the rule, its
// place and value (place 0: the boundary count itself).
inline constexpr std::string_view kBlockCardError =
    "('0','BLOCK CARD ERROR PROBLEM',I7,'FIELD',I4,'READS',I4)";
inline constexpr std::string_view kBlockCardErrorText = literal_of(kBlockCardError, 1);

// After an empty record: "SYMMETRIZED G MATRIX ELEMENTS." from column 12,
// then "PROBLEM NUMBER" from column 2 and the number in I6; the mass set's
// title follows.
inline constexpr std::string_view kSymmetrizedHeading =
    "(' ',10X,'SYMMETRIZED G MATRIX ELEMENTS.',/,1X,'PROBLEM NUMBER',I6)";
inline constexpr std::string_view kSymmetrizedGElements = literal_of(kSymmetrizedHeading, 1);

// Each block's heading: "SYMMETRY BLOCK NUMBER" from column 2, the block's
// number in I3 and a period.
inline constexpr std::string_view kBlockHeading = "(' ','SYMMETRY BLOCK NUMBER',I3,'.')";
inline constexpr std::string_view kSymmetryBlockNumber = literal_of(kBlockHeading, 1);

// List-directed, after each block heading and ahead of the block's factoring
// reports and element records.
inline constexpr std::string_view kBlockReaderLine = "This SYMMETRIZED G matrix is in the format read by ROSK";

// The factoring report of an element of G' beyond its block: from column 2
// the three texts, with the row and the column in I3 and the value in
// 1P,E12.5 (d.ddddde+xx) after them.
inline constexpr std::string_view kFactoringReport =
    "(1X,'ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ',I3,', COLUMN ',I3,', HAS VALUE ',1P,E12.5)";
inline constexpr std::string_view kFactoringRow = literal_of(kFactoringReport, 0);
inline constexpr std::string_view kFactoringColumn = literal_of(kFactoringReport, 1);
inline constexpr std::string_view kFactoringValue = literal_of(kFactoringReport, 2);

}  // namespace korven::layouts
