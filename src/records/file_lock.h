// An advisory lock on a file, by which a run keeps other runs away from the
// files it writes. The kernel drops the lock when its holder ends, however
// it ends, so a run that dies leaves no stale lock behind. The platform
// calls behind it live in platform.cpp.
#pragma once

#include <string>

namespace korven {

class FileLock {
 public:
  enum class Outcome {
    held,         // this lock holds the file now
    busy,         // another holder has it: nothing was changed
    unavailable,  // the file cannot be opened, or the file system has no such locks
  };

  FileLock() = default;
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes an exclusive lock on the file of that name, without waiting,
  // creating the file empty when there is none (an existing file is left
  // as it is). The lock is on the file the name stands for once it is held:
  // a file its last holder deleted under the name, after this one opened it,
  // is let go and the name's new file tried instead.
  Outcome take(const std::string& name);
  // Lets the file go (a held lock only).
  void release();
  bool held() const { return descriptor_ >= 0; }

 private:
  int descriptor_ = -1;
};

}  // namespace korven
