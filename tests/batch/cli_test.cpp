// mfwindow-batch run as a program: what it shows on a terminal and off one.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path ScratchWithWalk(const char* name) {
  // In this build's tree, not shared with another checkout's run.
  const fs::path dir =
      fs::path(BATCH_EXE).parent_path() / "tests" / "batch_cli_test" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(fs::path(EXAMPLES_DIR) / "walk.txt", dir / "walk.txt");
  return dir;
}

// script(1) runs the program on a pseudo-terminal: standard error is a
// terminal there, so the bar is drawn in place; through a pipe the same run
// writes plain lines. Guards against a bar in log files and against a
// silent terminal.
TEST(BatchProgram, DrawsTheBarOnATerminalAndPlainLinesOffIt) {
  if (Shell("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script (bsdutils) is not installed";
  }
  const fs::path dir = ScratchWithWalk("terminal");
  const std::string batch = BATCH_EXE;
  ASSERT_EQ(Shell("cd '" + dir.string() + "' && script -q -e -c '" + batch +
                  " --threads 1 walk.txt' /dev/null </dev/null >tty.txt"),
            0);
  const std::string tty = ReadFile(dir / "tty.txt");
  EXPECT_NE(tty.find("\r[####################] 100%  1/1 series  41 windows"),
            std::string::npos)
      << tty;
  EXPECT_EQ(tty.find("walk.txt: 41 windows"), std::string::npos) << tty;

  ASSERT_EQ(Shell("cd '" + dir.string() + "' && " + batch +
                  " --threads 1 walk.txt 2>&1 | cat >pipe.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "pipe.txt"),
            "mfwindow-batch: walk.txt: 41 windows (1/1 series)\n");

  ASSERT_EQ(Shell("cd '" + dir.string() + "' && script -q -e -c '" + batch +
                  " --quiet --threads 1 walk.txt' /dev/null </dev/null "
                  ">quiet.txt"),
            0);
  EXPECT_EQ(ReadFile(dir / "quiet.txt"), "");
}

// The guide's C++ page shows the consumer that the install test
// builds; a change to one without the other fails here.
TEST(Guide, ShowsTheInstallTestsConsumerVerbatim) {
  const std::string page =
      ReadFile(fs::path(SOURCE_DIR) / "docs" / "guide" / "cpp.md");
  const fs::path consumer =
      fs::path(SOURCE_DIR) / "tests" / "install" / "consumer";
  const std::string main_cpp = ReadFile(consumer / "main.cpp");
  ASSERT_FALSE(main_cpp.empty());
  EXPECT_NE(page.find("```cpp\n" + main_cpp + "```\n"), std::string::npos);
  const std::string cmake = ReadFile(consumer / "CMakeLists.txt");
  ASSERT_FALSE(cmake.empty());
  EXPECT_NE(page.find("```cmake\n" + cmake + "```\n"), std::string::npos);
}

}  // namespace
