// Shared by the file-layer and file-function tests: a fresh directory per test, the file
// settings of the SET table restored afterwards, and a way to try something in another process.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/filesys.h"
#include "rtl/set.h"
#include "vm/xmem.h"

// Runs fn in a forked child and returns its exit status (128 + signal when it was killed). The
// child shares nothing with the parent's handles unless it uses them: what it opens is its own.
inline int inChild(const std::function<int()>& fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline void setStringSetting(char*& field, const std::string& value) {
  if (field) vl_xfree(field);
  field = vl_strdup(value.c_str());
}

class FsTest : public ::testing::Test {
 protected:
  std::string dir;  // absolute, lower case only (so that case settings leave it unchanged)

  void SetUp() override {
    static int s_count;
    dir = "/tmp/vlfs_" + std::to_string(getpid()) + "_" + std::to_string(++s_count);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    fileCase_ = vl_set.fileCase;
    dirCase_ = vl_set.dirCase;
    separator_ = vl_set.dirSeparator;
    trim_ = vl_set.trimFileName;
    savedDefault_ = vl_set.defaultDir ? vl_set.defaultDir : "";
    savedPath_ = vl_set.path ? vl_set.path : "";
    char cwd[4096];
    savedCwd_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
  }

  void TearDown() override {
    vl_fsFaultReset();
    vl_set.fileCase = fileCase_;
    vl_set.dirCase = dirCase_;
    vl_set.dirSeparator = separator_;
    vl_set.trimFileName = trim_;
    setStringSetting(vl_set.defaultDir, savedDefault_);
    setStringSetting(vl_set.path, savedPath_);
    if (chdir(savedCwd_.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << savedCwd_;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
  }

  std::string at(const std::string& name) const { return dir + "/" + name; }

  void put(const std::string& name, const std::string& content) {
    std::ofstream(at(name), std::ios::binary) << content;
  }
  std::string get(const std::string& name) const {
    std::ifstream in(at(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& name) const { return std::filesystem::exists(at(name)); }
  void makeReadOnly(const std::string& name) {
    std::filesystem::permissions(at(name),
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }

 private:
  int fileCase_ = 0, dirCase_ = 0;
  char separator_ = '/';
  bool trim_ = false;
  std::string savedDefault_, savedPath_, savedCwd_;
};
