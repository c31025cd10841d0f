#include "records/run_end.h"

#include <cstdio>

namespace korven {
namespace {

struct Message {
  int number;
  std::string_view text;
};

// The one message line of every failure number the program can report.
constexpr Message kMessages[] = {
    {kIntegerOutOfRange, "integer field out of range"},
    {kInvalidInteger, "invalid character in integer field"},
    {kRealBeyondDouble, "real field beyond the double range"},
    {kInvalidReal, "invalid character in real field"},
    {kRealOverflow, "real field overflows single precision"},
    {kConsoleLineTooLong, "console line too long"},
    {kOpenRefused, "file access refused"},
    {kFileNotFound, "file not found"},
    {kTooManyOpenFiles, "too many open files"},
    {kFileInUse, "scratch files in use by another korven run in this folder; give each run its own folder"},
    {kWriteRefused, "write refused by the file"},
    {kDiskFull, "no space left on device"},
    {kEndOfFile, "end of file encountered"},
    {kRecordTooShort, "record too short for the read"},
    {kInvalidLayout, "invalid record layout"},
    {kWrongItemKind, "item of the wrong kind for its layout field"},
};

std::string_view operation_name(UnitOperation op) {
  switch (op) {
    case UnitOperation::open: return "OPEN";
    case UnitOperation::close: return "CLOSE";
    case UnitOperation::read: return "READ";
    case UnitOperation::write: return "WRITE";
    case UnitOperation::rewind: return "REWIND";
    case UnitOperation::none: break;
  }
  return {};
}

std::string report_head(char letter, int number) {
  char head[32];
  std::snprintf(head, sizeof head, "\r\nrun-time error %c%04d", letter, number);
  return head;
}

}  // namespace

std::string_view failure_message(int number) {
  for (const Message& m : kMessages)
    if (m.number == number) return m.text;
  return "run-time failure";
}

std::string failure_report(const RunFailure& failure) {
  std::string out = report_head('F', failure.number);
  if (failure.operation != UnitOperation::none) {
    out += ": ";
    out += operation_name(failure.operation);
    out += '(';
    out += failure.file;
    out += ')';
  }
  out += "\r\n- ";
  out += failure_message(failure.number);
  out += "\r\n";
  return out;
}

std::string trap_report(int number) {
  std::string out = report_head('M', number);
  out += ": MATH\r\n- floating-point error: ";
  out += number == kTrapInvalid ? "invalid" : number == kTrapDivideByZero ? "divide by zero" : "overflow";
  out += "\r\n";
  return out;
}

void stop_run(int status) { throw RunStop{status}; }

void throw_failure(int number, UnitOperation operation, std::string_view file) {
  throw RunFailure{number, operation, std::string(file)};
}

}  // namespace korven
