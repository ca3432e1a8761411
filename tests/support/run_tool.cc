#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qm::test {
namespace {

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const ToolOptions& options) {
  ToolResult result;
  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 ||
      (options.standardInput && pipe2(inPipe, O_CLOEXEC) != 0)) {
    for (int* fds : {inPipe, outPipe, errPipe}) {
      CloseIfOpen(fds[0]);
      CloseIfOpen(fds[1]);
    }
    return result;
  }

  // Everything the child needs is built before fork: only async-signal-safe calls after.
  std::vector<std::string> argvText;
  argvText.push_back(program);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : argvText) argv.push_back(text.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    int inFd = options.standardInput ? inPipe[0] : open("/dev/null", O_RDONLY);
    if (inFd < 0 || dup2(inFd, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0) {
      _exit(126);
    }
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  CloseIfOpen(inPipe[0]);
  CloseIfOpen(outPipe[1]);
  CloseIfOpen(errPipe[1]);
  if (pid < 0) {
    CloseIfOpen(inPipe[1]);
    CloseIfOpen(outPipe[0]);
    CloseIfOpen(errPipe[0]);
    return result;
  }
  result.isStarted = true;

  // Standard input is written without blocking, so a child that never reads it (or
  // exits early) cannot stall the loop.
  if (inPipe[1] >= 0) fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
  const std::string& input = options.standardInput ? *options.standardInput : std::string();
  size_t inputDone = 0;
  if (inPipe[1] >= 0 && input.empty()) CloseIfOpen(inPipe[1]);

  const int64_t deadlineMs = NowMs() + int64_t{options.timeLimitSeconds} * 1000;
  bool isKilled = false;
  char buffer[65536];
  while (outPipe[0] >= 0 || errPipe[0] >= 0) {
    pollfd fds[3];
    int count = 0;
    if (outPipe[0] >= 0) fds[count++] = {outPipe[0], POLLIN, 0};
    if (errPipe[0] >= 0) fds[count++] = {errPipe[0], POLLIN, 0};
    if (inPipe[1] >= 0) fds[count++] = {inPipe[1], POLLOUT, 0};
    int64_t leftMs = deadlineMs - NowMs();
    if (leftMs <= 0 && !isKilled) {
      kill(pid, SIGKILL);
      isKilled = true;
    }
    int ready = poll(fds, static_cast<nfds_t>(count),
                     leftMs <= 0 ? 1000 : static_cast<int>(leftMs < 1000 ? leftMs : 1000));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < count && ready > 0; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inPipe[1]) {
        ssize_t done = write(inPipe[1], input.data() + inputDone, input.size() - inputDone);
        if (done > 0) inputDone += static_cast<size_t>(done);
        if (done < 0 && errno != EAGAIN) inputDone = input.size();
        if (inputDone == input.size()) CloseIfOpen(inPipe[1]);
        continue;
      }
      ssize_t done = read(fds[i].fd, buffer, sizeof buffer);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) {
        if (fds[i].fd == outPipe[0])
          CloseIfOpen(outPipe[0]);
        else
          CloseIfOpen(errPipe[0]);
        continue;
      }
      (fds[i].fd == outPipe[0] ? result.out : result.err).append(buffer, static_cast<size_t>(done));
    }
  }
  CloseIfOpen(inPipe[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

ToolResult RunTool(const std::vector<std::string>& args, const ToolOptions& options) {
  const char* wrapper = std::getenv("QM_TOOL_WRAPPER");
  if (wrapper == nullptr || wrapper[0] == 0) return RunProgram(QM_BINARY, args, options);
  std::vector<std::string> words;
  for (const char* cursor = wrapper; *cursor != 0;) {
    const char* stop = std::strchr(cursor, ' ');
    if (stop == nullptr) stop = cursor + std::strlen(cursor);
    if (stop > cursor) words.emplace_back(cursor, stop);
    cursor = *stop == 0 ? stop : stop + 1;
  }
  if (words.empty()) return RunProgram(QM_BINARY, args, options);
  std::vector<std::string> wrappedArgs(words.begin() + 1, words.end());
  wrappedArgs.push_back(QM_BINARY);
  wrappedArgs.insert(wrappedArgs.end(), args.begin(), args.end());
  ToolOptions wrappedOptions = options;
  wrappedOptions.timeLimitSeconds = options.timeLimitSeconds * kWrappedTimeFactor;
  return RunProgram(words[0], wrappedArgs, wrappedOptions);
}

}  // namespace qm::test
