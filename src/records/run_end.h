// How a run ends other than by reading on: the stop, the run-time failure
// reports of unit operations and conversions, and the floating-point traps.
// Each is thrown as an exception and caught by the run function, which
// writes the report, closes the units and returns the exit status.
#pragma once

#include <string>
#include <string_view>

namespace korven {

// Numbers of the run-time failures (reported as F followed by the number).
enum FailureNumber : int {
  kIntegerOutOfRange = 6100,
  kInvalidInteger = 6101,
  kRealBeyondDouble = 6102,
  kInvalidReal = 6103,
  kRealOverflow = 6104,
  kConsoleLineTooLong = 6407,
  kOpenRefused = 6414,
  kFileNotFound = 6416,
  kTooManyOpenFiles = 6417,
  kFileInUse = 6418,  // the scratch files are held by another run's lock
  kWriteRefused = 6421,
  kDiskFull = 6422,
  kEndOfFile = 6501,
  kRecordTooShort = 6508,
  kInvalidLayout = 6980,
  kWrongItemKind = 6981,
};

// Numbers of the floating-point conditions (reported as M followed by the number).
enum TrapNumber : int {
  kTrapInvalid = 6101,
  kTrapDivideByZero = 6103,
  kTrapOverflow = 6104,
};

// The operation names that a failure report gives.
enum class UnitOperation { none, open, close, read, write, rewind };

// A failure of a unit operation or a field conversion.
struct RunFailure {
  int number;
  UnitOperation operation;
  std::string file;  // the unit's file name, as given to the open
};

// A trapped floating-point operation.
struct FloatingPointTrap {
  int number;
};

// The stop: "Stop - Program terminated." and the given exit status.
struct RunStop {
  int status;
};

// The one short message line of a failure number.
std::string_view failure_message(int number);

// The full report text of a failure or a trap, CR LF line ends included.
std::string failure_report(const RunFailure& failure);
std::string trap_report(int number);

// Ends the run normally: "Stop - Program terminated." and the exit status.
[[noreturn]] void stop_run(int status = 0);

[[noreturn]] void throw_failure(int number, UnitOperation operation = UnitOperation::none,
                                std::string_view file = {});

}  // namespace korven
