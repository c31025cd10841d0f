// Work run in a child process, so that a crash or a hang of a library the
// kit calls (Open Babel's readers) becomes an error rather than the end of
// the program.
#pragma once

#include <functional>
#include <string>

namespace korven::kit {

struct ChildOutcome {
  enum Kind { finished, crashed, failed, timed_out, not_started };
  Kind kind = finished;
  int code = 0;       // crashed: the signal; failed: the exit status; not_started: errno
  std::string reply;  // finished: what the work returned
};

// Runs `work` in a child with no core file, the default signal handlers,
// floating-point traps off and standard input and output on /dev/null, and
// gives back the text it returns. A child that has not finished after
// `timeout_seconds` is killed. An exception out of `work` fails the child.
ChildOutcome run_in_child(const std::function<std::string()>& work, int timeout_seconds);

}  // namespace korven::kit
