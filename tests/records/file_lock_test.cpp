// The advisory lock of a run: taken without waiting, refused while another
// holder has it, let go on release and by the kernel when the holder dies,
// and never held on a file that no longer goes by its name.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "records/file_lock.h"

namespace korven {
namespace {

namespace fs = std::filesystem;

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korven_lock_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_;
};

TEST_F(FileLockTest, AFreeNameIsHeldAndItsFileMadeEmpty) {
  FileLock lock;
  EXPECT_EQ(lock.take(path("dseta.tmp")), FileLock::Outcome::held);
  EXPECT_TRUE(lock.held());
  EXPECT_TRUE(fs::exists(path("dseta.tmp")));
  EXPECT_EQ(fs::file_size(path("dseta.tmp")), 0u);
}

TEST_F(FileLockTest, ASecondTakerIsRefusedUntilTheFirstLetsGo) {
  std::ofstream(path("dseta.tmp"), std::ios::binary) << "held bytes";
  FileLock first, second;
  ASSERT_EQ(first.take(path("dseta.tmp")), FileLock::Outcome::held);
  EXPECT_EQ(second.take(path("dseta.tmp")), FileLock::Outcome::busy);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(bytes(path("dseta.tmp")), "held bytes");  // neither taker changed it
  first.release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.take(path("dseta.tmp")), FileLock::Outcome::held);
}

TEST_F(FileLockTest, TheLockEndsWithItsObject) {
  {
    FileLock scoped;
    ASSERT_EQ(scoped.take(path("dseta.tmp")), FileLock::Outcome::held);
  }
  FileLock after;
  EXPECT_EQ(after.take(path("dseta.tmp")), FileLock::Outcome::held);
}

TEST_F(FileLockTest, AFileDeletedUnderItsLockLeavesTheNameFree) {
  FileLock old_holder, newcomer;
  ASSERT_EQ(old_holder.take(path("dseta.tmp")), FileLock::Outcome::held);
  fs::remove(path("dseta.tmp"));
  EXPECT_EQ(newcomer.take(path("dseta.tmp")), FileLock::Outcome::held);
  EXPECT_TRUE(fs::exists(path("dseta.tmp")));
}

TEST_F(FileLockTest, ANameInNoFolderIsUnavailable) {
  FileLock lock;
  EXPECT_EQ(lock.take(path("no such folder/dseta.tmp")), FileLock::Outcome::unavailable);
  EXPECT_FALSE(lock.held());
}

// A holder that dies without letting go: the kernel drops its lock.
TEST_F(FileLockTest, TheKernelLetsGoWhenTheHolderDies) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    FileLock lock;
    const char held = lock.take(path("dseta.tmp")) == FileLock::Outcome::held ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1) ::_exit(1);
    ::pause();  // until killed, the lock never released
    ::_exit(0);
  }
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ASSERT_EQ(held, 'y');
  FileLock lock;
  EXPECT_EQ(lock.take(path("dseta.tmp")), FileLock::Outcome::busy);
  ::kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  EXPECT_EQ(lock.take(path("dseta.tmp")), FileLock::Outcome::held);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace korven
