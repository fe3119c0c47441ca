// Child processes of the command-line host's tests; see program_runner.h.
#include "program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// argv and envp for execve; the strings live in the vectors passed in.
std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> EnvStrings(const Environment& env) {
  std::vector<std::string> strings;
  for (const auto& [name, value] : env) strings.push_back(name + "=" + value);
  return strings;
}

// In the child: runs the program, or exits 127.
[[noreturn]] void Exec(std::vector<std::string> args, const Environment& env) {
  std::vector<std::string> envStrings = EnvStrings(env);
  std::vector<char*> argv = Pointers(args), envp = Pointers(envStrings);
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

ProgramResult Collect(int status) {
  ProgramResult result;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Waits for `pid` up to `seconds`; kills it when the time runs out.
int WaitFor(pid_t pid, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0) return 0;
    if (Clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ChildProgram::ChildProgram(const std::vector<std::string>& args, const Environment& env,
                           const std::string& folder)
    : outPath_(folder + "/.stdout"), errPath_(folder + "/.stderr") {
  pid_ = fork();
  if (pid_ != 0) return;
  setsid();  // no controlling terminal: /dev/tty cannot be opened
  if (chdir(folder.c_str()) != 0) _exit(127);
  int in = open("/dev/null", O_RDONLY);
  int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (in < 0 || out < 0 || err < 0) _exit(127);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  Exec(args, env);
}

ChildProgram::~ChildProgram() {
  if (pid_ > 0) Wait(0);
  std::remove(outPath_.c_str());
  std::remove(errPath_.c_str());
}

bool ChildProgram::WaitForError(const std::string& text, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  auto found = [&] { return ReadText(errPath_).find(text) != std::string::npos; };
  while (Clock::now() < end) {
    if (found()) return true;
    siginfo_t info{};
    if (waitid(P_PID, id_t(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
      return found();  // ended (not yet reaped)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void ChildProgram::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

ProgramResult ChildProgram::Wait(double seconds) {
  ProgramResult result = Collect(WaitFor(pid_, seconds));
  pid_ = -1;
  result.out = ReadText(outPath_);
  result.err = ReadText(errPath_);
  return result;
}

void ProgramTest::SetUp() {
  TempFolderTest::SetUp();
  std::filesystem::create_directories(folder_ / "home");
}

std::vector<std::string> ProgramTest::Command(std::vector<std::string> args) const {
  bool hasPrefs = false;
  for (const std::string& a : args) hasPrefs = hasPrefs || a == "--prefs";
  if (!hasPrefs) {
    args.push_back("--prefs");
    args.push_back(PrefsPath());
  }
  args.insert(args.begin(), AREAFILL_PROGRAM);
  return args;
}

Environment ProgramTest::ChildEnvironment(const Environment& extra) const {
  Environment env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string name = entry.substr(0, eq);
    if (name.rfind("AREAFILL_", 0) == 0 || name == "HOME" || name == "XDG_CONFIG_HOME") continue;
    env.emplace_back(name, entry.substr(eq + 1));
  }
  env.emplace_back("HOME", PathOf("home"));
  env.emplace_back("XDG_CONFIG_HOME", PathOf("home/.config"));
  for (const auto& item : extra) env.push_back(item);
  return env;
}

ProgramResult ProgramTest::Run(std::vector<std::string> args, const Environment& env) {
  ChildProgram child(Command(std::move(args)), ChildEnvironment(env), folder_.string());
  return child.Wait(240);
}

ProgramResult ProgramTest::RunProbe(std::vector<std::string> args, const std::string& out) {
  args.push_back("--plugin");
  args.push_back(AREAFILL_PROBE_MODULE);
  Environment env = {{"AREAFILL_PROBE_LOG", PathOf("probe.log")}};
  if (!out.empty()) env.emplace_back("AREAFILL_PROBE_OUT", out);
  return Run(std::move(args), env);
}

ProgramResult RunOnTerminal(const std::vector<std::string>& args, const Environment& env,
                            const TerminalTalk& talk, double seconds) {
  int master = -1;
  winsize size{};
  size.ws_row = 40;
  size.ws_col = 100;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) Exec(args, env);
  ProgramResult result;
  if (pid < 0) return result;
  auto type = [master](const std::string& keys) {
    if (write(master, keys.data(), keys.size()) < 0) return;
  };
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  bool talking = true;
  for (;;) {
    pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buffer[4096];
      ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the program closed the terminal: it has ended
      result.out.append(buffer, size_t(n));
    }
    if (talking) talking = !talk(result.out, type);
    if (Clock::now() > end) {
      kill(pid, SIGKILL);
      break;
    }
  }
  ProgramResult ended = Collect(WaitFor(pid, 10));
  close(master);
  result.exitCode = ended.exitCode;
  result.signal = ended.signal;
  return result;
}

std::string ProbeLog::Get(const std::string& key) const {
  for (const auto& [k, v] : lines)
    if (k == key) return v;
  return "";
}

std::vector<uint8_t> ProbeLog::Bytes(const std::string& key) const {
  std::string hex;
  for (char c : Get(key))
    if (c != ' ') hex += c;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

ProbeLog ReadProbeLog(const std::string& path) {
  ProbeLog log;
  std::istringstream text(ReadText(path));
  std::string line;
  while (std::getline(text, line)) {
    size_t space = line.find(' ');
    log.lines.emplace_back(line.substr(0, space),
                           space == std::string::npos ? "" : line.substr(space + 1));
  }
  return log;
}
