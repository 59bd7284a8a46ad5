#include "target_program.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace target_program {

namespace {

// Space-separated emulator command of a cross build, empty on a native one.
constexpr char kEmulator[] = FUSEKIT_TARGET_EMULATOR;

// Reads both pipes until the program has closed them, so that neither can fill up and stall it.
void Drain(int out_fd, int err_fd, std::string* p_out, std::string* p_err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {p_out, p_err};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) return;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

std::vector<std::string> Command(const std::string& program,
                                 const std::vector<std::string>& arguments) {
  std::vector<std::string> command;
  std::istringstream emulator(kEmulator);
  for (std::string word; emulator >> word;) command.push_back(word);
  command.push_back(program);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

Outcome Run(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& given_environment) {
  Outcome outcome{-1, "", ""};
  std::vector<std::string> environment = given_environment;
#if defined(__SANITIZE_ADDRESS__)
  // In a sanitizer build the preloaded libraries carry the ASan runtime as a dependency, so it
  // cannot come first in the program's library list; let ASan accept that.
  for (const std::string& entry : given_environment) {
    if (entry.compare(0, 11, "LD_PRELOAD=") != 0) continue;
    const char* options = getenv("ASAN_OPTIONS");
    environment.push_back(std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") +
                          ":verify_asan_link_order=0");
    break;
  }
#endif
  const std::vector<std::string> command = Command(program, arguments);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  // The given entries replace the test's own entries of the same name.
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = strchr(*entry, '=');
    const size_t name_length = equals != nullptr ? static_cast<size_t>(equals - *entry) : 0;
    bool replaced = false;
    for (const std::string& given : environment) {
      replaced = replaced || (name_length > 0 && given.size() > name_length &&
                              given.compare(0, name_length + 1, *entry, name_length + 1) == 0);
    }
    if (!replaced) envp.push_back(*entry);
  }
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0) return outcome;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
  posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
  pid_t pid = 0;
  const int spawn_error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (spawn_error != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    outcome.err = std::string("cannot start ") + argv[0] + ": " + strerror(spawn_error);
    return outcome;
  }
  Drain(out_pipe[0], err_pipe[0], &outcome.out, &outcome.err);
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.exit_status = 128 + WTERMSIG(status);
  }
  return outcome;
}

}  // namespace target_program
