// RunProgram: runs a program of the build as a user runs it, with its
// arguments and standard input, and hands back its exit code and all it
// wrote on standard output and standard error. The child inherits the
// test's environment (its private registry store and folders); its output
// passes through files in $TMPDIR, so a long output cannot block it.
// Contract: waits for the program to end; exitCode -1 when it did not exit
// normally (a signal). Not for two calls at once in one test process.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;
  std::string out, err;
};

inline ProgramResult RunProgram(const std::string& program, std::vector<std::string> args,
                                const std::string& input = "") {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string base = std::string(tmpdir ? tmpdir : "/tmp") + "/run-program.",
                    in = base + "stdin", out = base + "stdout", err = base + "stderr";
  auto read = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  std::ofstream(in, std::ios::binary | std::ios::trunc) << input;
  args.insert(args.begin(), program);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(open(in.c_str(), O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return {};
  return ProgramResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(out), read(err)};
}
