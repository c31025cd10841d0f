// The kit's failures. Every command reports one line on standard error and
// ends with the status of its kind.
#pragma once

#include <stdexcept>
#include <string>

namespace korven::kit {

// Exit status of every command: 0 success, 1 a finding, 2 usage or input
// that cannot be read.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFinding = 1;
inline constexpr int kExitUnusable = 2;

// Input that cannot be used: the message names the file and the fault, as
// "water.xyz: atom 3 lies 0.004 A from atom 1 (closer than 0.01 A)".
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "FILE: fault": the one form of every error line.
inline InputError input_error(const std::string& file, const std::string& fault) {
  return InputError(file + ": " + fault);
}

}  // namespace korven::kit
