#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "records/record_io.h"
#include "records/run_end.h"
#include "records/units.h"

namespace korven {
namespace {

namespace fs = std::filesystem;

// A run's units on string streams, with a listing file in a scratch folder.
class Records : public ::testing::Test {
 protected:
  Records() : units(ConsoleStreams{in, out, err, false}) {
    // ctest runs tests in parallel processes: the process id keeps their folders apart.
    dir = fs::temp_directory_path() /
          ("korven_records_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(dir);
    fs::create_directories(dir);
    units.open_unit(6, (dir / "T.OUT").string(), "UNKNOWN");
  }
  ~Records() override { fs::remove_all(dir); }

  // The listing's bytes so far.
  std::string listing() {
    units.close_unit(6);
    std::ifstream f(dir / "T.OUT", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    units.open_unit(6, (dir / "T.OUT").string(), "UNKNOWN");
    return s.str();
  }

  // Opens unit 5 on a deck holding the given bytes.
  Unit& deck(const std::string& bytes) {
    std::ofstream(dir / "D.DAT", std::ios::binary) << bytes;
    units.open_unit(5, (dir / "D.DAT").string(), "OLD");
    return units.unit(5);
  }

  static inline int counter = 0;
  std::istringstream in;
  std::ostringstream out, err;
  fs::path dir;
  Units units;
};

TEST_F(Records, GroupsRepeatsAndReversion) {
  Unit& l = units.unit(6);
  {
    WriteStatement w(l, "(4(I3,1X,I3,1X,F12.6))");
    for (int i = 0; i < 4; ++i) w.write_integer(i).write_integer(10 * i).write_real(0.5f);
    w.end_write();
  }
  {
    WriteStatement w(l, "(4(I3,1X,I3,1X,F12.6))");
    for (int i = 0; i < 2; ++i) w.write_integer(i).write_integer(1).write_real(-0.25f);
    w.end_write();
  }
  const std::string got = listing();
  const std::string half = "      .500000";  // a blank and the F12.6 field
  const std::string quarter = "     -.250000";
  const std::string first = "  0   0" + half + "  1  10" + half + "  2  20" + half + "  3  30" + half + "\r\n";
  const std::string second = "  0   1" + quarter + "  1   1" + quarter + "\r\n";
  EXPECT_EQ(got, first + second);
  EXPECT_EQ(first.size(), 82u);  // 80 columns and the line end
}

TEST_F(Records, RevertsToTheLastTopLevelGroup) {
  std::vector<float> masses = {1, 2, 3, 4, 5, 6, 7, 8};
  const char* layout = "(5X,' USING THE MASSES,',(1X,6F12.6))";
  for (std::size_t n : {8u, 6u, 0u}) {
    WriteStatement w(units.unit(6), layout);
    for (std::size_t i = 0; i < n; ++i) w.write_real(masses[i]);
    w.end_write();
  }
  const std::string six = "    1.000000    2.000000    3.000000    4.000000    5.000000    6.000000";
  EXPECT_EQ(listing(), "      USING THE MASSES, " + six + "\r\n" + "     7.000000    8.000000\r\n" +
                           "      USING THE MASSES, " + six + "\r\n" + "      USING THE MASSES,\r\n");
}

// Groups inside groups, each repetition running its whole body, and the
// reversion point taking the last outer group with its full repeat count.
TEST_F(Records, NestedGroupsRepeatsAndReversion) {
  const auto write_ints = [this](const char* layout, int n) {
    WriteStatement w(units.unit(6), layout);
    for (int i = 1; i <= n; ++i) w.write_integer(i);
    w.end_write();
  };
  write_ints("(I1,2(1X,2(I1,'.')),(1X,I2))", 9);
  write_ints("(I1,2(I1))", 6);
  write_ints("(0(I1),I2)", 3);  // a repeat count of 0 runs the group once
  EXPECT_EQ(listing(),
            "1 2.3. 4.5.  6\r\n  7\r\n  8\r\n  9\r\n"
            "123\r\n45\r\n6\r\n"
            "1 2\r\n3\r\n");
}

TEST_F(Records, LiteralsSlashesScaleAndTrailingText) {
  Unit& l = units.unit(6);
  write_record(l, "(1X,I5,' NON-ZERO ELEMENTS.')", 2);
  write_record(l, "(1X,'  X MATRIX ELEMENTS',/)");
  write_record(l, "(1X,'ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW ',I3,', COLUMN ',I3,', HAS VALUE ',1P,E12.5)",
               1, 2, -0.5f);
  write_record(l, "(F12.6)", -0.5f);  // the scale factor does not outlive its statement
  write_record(l, "('0','X MATRIX ERROR PROBLEM',I7,'FIELD',I3,'READS',2I4,F12.6)", 7, 2, -2, 1, 1.5f);
  write_record(l, "(10X,'B MATRIX ELEMENTS.',/,' PROBLEM NUMBER',I6)", 12345);
  write_record(l, "(1X,A)", "");
  write_record(l, "(1X,I3,5X)", 4);  // pending blanks at the end are dropped
  EXPECT_EQ(listing(),
            "     2 NON-ZERO ELEMENTS.\r\n"
            "   X MATRIX ELEMENTS\r\n"
            "\r\n"
            " ERRORS UPON ERRORS, G NOT FACTORING.- ELEMENT IN ROW   1, COLUMN   2, HAS VALUE -5.00000E-01\r\n"
            "    -.500000\r\n"
            "0X MATRIX ERROR PROBLEM      7FIELD  2READS  -2   1    1.500000\r\n"
            "          B MATRIX ELEMENTS.\r\n"
            " PROBLEM NUMBER 12345\r\n"
            "\r\n"
            "   4\r\n");
}

TEST_F(Records, ListDirectedText) {
  Unit& l = units.unit(6);
  write_record(l, "", "    Program KORVEN");
  write_record(l, "");
  write_record(l, "", "input file is ", "WATER.DAT   ", ", output file is ", "WATER.OUT   ");
  write_record(l, "", std::string(100, 'x'));
  EXPECT_EQ(listing(), "     Program KORVEN\r\n \r\n input file is WATER.DAT   , output file is WATER.OUT   \r\n " +
                           std::string(79, 'x') + "\r\n " + std::string(21, 'x') + "\r\n");
}

TEST_F(Records, ConsoleCarriageControlAndOpenLine) {
  Unit& c = units.console_out();
  write_record(c, "", "Program KORVEN");
  write_record(c, "(2(A)\\)", "\\Enter name", " ");
  in.str("A.DAT\n");
  std::string name;
  ReadStatement r(units.console_in(), "(A)", true);
  r.read_text(name, 12);
  EXPECT_EQ(r.end_read(), 0);
  EXPECT_EQ(name, "A.DAT       ");
  write_record(c, "(A)", "0double");   // no line open: one line end
  write_record(c, "(A)", "0again");    // line open: two
  write_record(c, "(A)", "+over");
  write_record(c, "(A)", "1page");
  write_record(c, "(1X,A)", "");
  EXPECT_EQ(out.str(),
            "Program KORVEN\r\nEnter name \r\ndouble\r\n\r\nagain\rover\r\n\f\r \rpage\r\n");
  EXPECT_TRUE(units.line_open());
}

TEST_F(Records, ConsoleEndOfInputLeavesTheLineOpen) {
  Unit& c = units.console_out();
  write_record(c, "(2(A)\\)", "\\Prompt", " ");
  std::string name = "keep";
  ReadStatement r(units.console_in(), "(A)", true);
  r.read_text(name, 12);
  EXPECT_EQ(r.end_read(), kEndOfFile);
  EXPECT_FALSE(units.console_took_line());
  write_record(c, "(1X,A)", "NEXT");
  EXPECT_EQ(out.str(), "Prompt \r\nNEXT");
}

TEST_F(Records, ConsoleLineEndingInCtrlZIsAnEndOfFileThatTookALine) {
  in.str("AB\x1a\nC.D\n");
  std::string name;
  ReadStatement r(units.console_in(), "(A)", true);
  r.read_text(name, 12);
  EXPECT_EQ(r.end_read(), kEndOfFile);
  EXPECT_TRUE(units.console_took_line());
  ReadStatement again(units.console_in(), "(A)", true);
  again.read_text(name, 12);
  EXPECT_EQ(again.end_read(), 0);
  EXPECT_EQ(name, "C.D         ");
}

TEST_F(Records, InteractiveConsoleLineTooLong) {
  Units tty(ConsoleStreams{in, out, err, true});
  in.str(std::string(131, 'a') + "\n" + std::string(132, 'b') + "\nok\n");
  std::string name;
  for (int expected : {0, static_cast<int>(kConsoleLineTooLong), 0}) {
    ReadStatement r(tty.console_in(), "(A)", true);
    r.read_text(name, 12);
    EXPECT_EQ(r.end_read(), expected);
  }
  EXPECT_EQ(name, "ok          ");
}

TEST_F(Records, FieldsOfACard) {
  Unit& d = deck("999 anything\n  -9\n -9\n\n1 2\t3,4,\r\nx\n   1   2 0.5\n");
  std::int32_t v = 7;
  for (int expected : {999, 0, -9}) {
    ReadStatement r(d, "(I3)");
    r.read_integer(v);
    r.end_read();
    EXPECT_EQ(v, expected);
  }
  std::int32_t row[4];
  float value[4];
  {
    ReadStatement r(d, "(4(2I3,F12.6))");  // a blank card: twelve zeros
    for (int k = 0; k < 4; ++k) r.read_integer(row[k]).read_integer(v).read_real(value[k]);
    r.end_read();
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(value[3], 0.0f);
  }
  {
    // Blanks and tabs add nothing; a comma ends a field early; the CR ends
    // the card's data.
    std::int32_t a = 0, b = 0, c = 0;
    ReadStatement r(d, "(I4,2I3)");
    r.read_integer(a).read_integer(b).read_integer(c);
    r.end_read();
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(c, 4);
  }
  {
    std::string text;
    ReadStatement r(d, "(A)");
    r.read_text(text, 3);
    r.end_read();
    EXPECT_EQ(text, "x  ");
  }
  {
    ReadStatement r(d, "(2I3)");  // more items than the layout: the next card (none left)
    std::int32_t a = 0, b = 0, c = 0;
    r.read_integer(a).read_integer(b);
    EXPECT_EQ(a, 0);  // columns 1-3 are blank
    EXPECT_EQ(b, 1);
    EXPECT_THROW(r.read_integer(c), RunFailure);  // no card left
  }
}

TEST_F(Records, ConversionFailuresNameTheStatementAndFile) {
  Unit& d = deck("12A\n");
  std::int32_t v = 0;
  try {
    ReadStatement r(d, "(I3)");
    r.read_integer(v);
    FAIL() << "no failure";
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kInvalidInteger);
    EXPECT_EQ(failure_report(f), "\r\nrun-time error F6101: READ(" + (dir / "D.DAT").string() +
                                     ")\r\n- invalid character in integer field\r\n");
  }
}

TEST_F(Records, CtrlZInANumericFieldIsTheEnd) {
  Unit& d = deck(" 1\x1a\n");
  std::int32_t v = 0;
  ReadStatement r(d, "(I3)");
  try {
    r.read_integer(v);
    FAIL() << "no failure";
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kEndOfFile);
  }
}

TEST_F(Records, LastCardWithoutLineEnd) {
  Unit& d = deck(" 12");
  std::int32_t v = 0;
  {
    ReadStatement r(d, "(I3)");
    r.read_integer(v);
  }
  EXPECT_EQ(v, 12);
  EXPECT_THROW(ReadStatement(d, "(I3)"), RunFailure);
}

TEST_F(Records, FirstWriteReplacesAnOldListing) {
  std::ofstream(dir / "OLD.OUT", std::ios::binary) << "old contents that are longer\r\n";
  units.open_unit(7, (dir / "OLD.OUT").string(), "UNKNOWN");
  write_record(units.unit(7), "(A)", "new");
  units.close_unit(7);
  std::ifstream f(dir / "OLD.OUT", std::ios::binary);
  std::string s((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(s, "new\r\n");
  // An open and close without a write leaves the file as it was.
  units.open_unit(7, (dir / "OLD.OUT").string(), "UNKNOWN");
  units.close_unit(7);
  EXPECT_EQ(fs::file_size(dir / "OLD.OUT"), 5u);
}

TEST_F(Records, UnformattedRecordsKeepTheirBoundaries) {
  const std::string name = (dir / "S.TMP").string();
  units.open_unit(1, name, "UNKNOWN", "unformatted");
  const std::int32_t data[3] = {1, 2, 3};
  units.write_record_unformatted(1, std::as_bytes(std::span(data)));
  units.rewind_unit(1);
  std::int32_t two[2] = {};
  units.read_record_unformatted(1, std::as_writable_bytes(std::span(two)));
  EXPECT_EQ(two[1], 2);
  try {
    units.read_record_unformatted(1, std::as_writable_bytes(std::span(two)));
    FAIL();
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kEndOfFile);
  }
  units.rewind_unit(1);
  std::int32_t four[4] = {};
  try {
    units.read_record_unformatted(1, std::as_writable_bytes(std::span(four)));
    FAIL();
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kRecordTooShort);
  }
  units.close_unit(1, "delete");
  EXPECT_FALSE(fs::exists(name));
}

TEST_F(Records, OpenFailures) {
  try {
    units.open_unit(5, "  NOSUCH.DAT ", "old");
    FAIL();
  } catch (const RunFailure& f) {
    EXPECT_EQ(failure_report(f), "\r\nrun-time error F6416: OPEN(NOSUCH.DAT)\r\n- file not found\r\n");
  }
  // A directory opens read-only; the first write-out of its buffer fails.
  units.open_unit(8, dir.string(), "UNKNOWN");
  write_record(units.unit(8), "(A)", "x");
  try {
    units.close_unit(8);
    FAIL();
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kWriteRefused);
    EXPECT_EQ(f.operation, UnitOperation::write);
  }
}

TEST(FailureReports, TrapForm) {
  EXPECT_EQ(trap_report(kTrapDivideByZero), "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n");
  EXPECT_EQ(trap_report(kTrapInvalid), "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n");
  EXPECT_EQ(trap_report(kTrapOverflow), "\r\nrun-time error M6104: MATH\r\n- floating-point error: overflow\r\n");
  EXPECT_EQ(failure_report({kIntegerOutOfRange, UnitOperation::none, ""}),
            "\r\nrun-time error F6100\r\n- integer field out of range\r\n");
}

TEST(Layouts, InvalidLayoutsAreRunTimeFailures) {
  for (const char* bad : {"(I3", "(Q5)", "('open)", "(F12)", "(1X,'x')"}) {
    std::istringstream in;
    std::ostringstream out, err;
    Units units(ConsoleStreams{in, out, err, false});
    EXPECT_THROW(write_record(units.console_out(), bad, 1), RunFailure) << bad;
  }
}

// A layout is written out step by step when it is parsed, within a bound.
TEST(Layouts, WrittenOutLengthIsBounded) {
  std::istringstream in;
  std::ostringstream out, err;
  Units units(ConsoleStreams{in, out, err, false});
  write_record(units.console_out(), "(100000I1)", 5, 6);  // the largest repeat count
  EXPECT_EQ(out.str(), "6");                             // the 5 is the carriage control
  try {
    write_record(units.console_out(), "(1000(1000I1))", 1);
    FAIL() << "no failure";
  } catch (const RunFailure& f) {
    EXPECT_EQ(f.number, kInvalidLayout);
  }
}

}  // namespace
}  // namespace korven
