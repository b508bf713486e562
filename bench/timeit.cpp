// Runs a command several times and prints its median wall time in seconds and its peak resident
// memory in KiB (from wait4, so the shell that starts it is not counted):
//   timeit RUNS [--stdout FILE] -- COMMAND ARGS...
// Exits non-zero if any run fails.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fputs("usage: timeit RUNS [--stdout FILE] -- COMMAND ARGS...\n", stderr);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const char* stdoutPath = nullptr;
  int first = 2;
  if (std::strcmp(argv[first], "--stdout") == 0) {
    stdoutPath = argv[first + 1];
    first += 2;
  }
  if (runs < 1 || first >= argc || std::strcmp(argv[first], "--") != 0) return 2;
  char** command = argv + first + 1;

  std::vector<double> seconds;
  long peakKiB = 0;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
      if (stdoutPath != nullptr) {
        const int fd = open(stdoutPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(126);
        close(fd);
      }
      execvp(command[0], command);
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return 1;
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "timeit: %s failed\n", command[0]);
      return 1;
    }
    seconds.push_back(wall.count());
    peakKiB = std::max(peakKiB, usage.ru_maxrss);
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%.4f %ld\n", seconds[seconds.size() / 2], peakKiB);
  return 0;
}
