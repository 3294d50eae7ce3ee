#include "cli/job_list.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/join_options.h"

extern char** environ;

namespace tessara {

bool SplitJobLine(const std::string& line, std::vector<std::string>& words, std::string& error) {
  words.clear();
  std::string word;
  bool inWord = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (inWord) words.push_back(word), word.clear(), inWord = false;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'') {
      const size_t end = line.find('\'', i + 1);
      if (end == std::string::npos) return error = "unterminated ' quote", false;
      word += line.substr(i + 1, end - i - 1);
      inWord = true;
      i = end;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < line.size() && line[j] != '"'; ++j) {
        if (line[j] == '\\' && j + 1 < line.size() && std::strchr("\\\"$`", line[j + 1])) ++j;
        word += line[j];
      }
      if (j >= line.size()) return error = "unterminated \" quote", false;
      inWord = true;
      i = j;
    } else if (c == '\\') {
      if (i + 1 >= line.size()) return error = "a backslash ends the line", false;
      word += line[++i];
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

namespace {

// Two names for one file are one output: compared as absolute paths with
// "." and ".." and symbolic links of existing folders resolved.
std::string OutputKey(const std::string& output) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(output, ec), ec);
  return ec ? output : p.lexically_normal().string();
}

}  // namespace

std::vector<Job> ReadJobList(const std::string& text, const std::vector<std::string>& common) {
  std::vector<Job> jobs;
  std::map<std::string, int> outputs;
  std::istringstream in(text);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    Job job;
    job.line = n;
    std::vector<std::string> words;
    if (!SplitJobLine(line, words, job.error)) {
      job.refused = true;
      jobs.push_back(job);
      continue;
    }
    if (words.empty()) continue;
    job.args = common;
    job.args.insert(job.args.end(), words.begin(), words.end());
    std::string error;
    const std::optional<JoinOptions> o = ParseJoinOptions(job.args, error);
    if (!o) {
      job.error = error;
    } else if (o->help || o->version || !o->jobs.empty()) {
      job.error = "--help, --version and --jobs have no place in a list of jobs";
    } else {
      job.output = o->output;
      job.sources = o->sources;
      const auto [at, fresh] = outputs.emplace(OutputKey(o->output), n);
      if (!fresh) job.error = "the same OUTPUT as line " + std::to_string(at->second);
    }
    job.refused = !job.error.empty();
    jobs.push_back(job);
  }
  return jobs;
}

std::vector<Job> TakeShard(std::vector<Job> jobs, int index, int count) {
  if (count < 1 || index < 1 || index > count) return jobs;
  std::vector<Job> mine;
  for (size_t i = 0; i < jobs.size(); ++i)
    if (static_cast<int>(i % static_cast<size_t>(count)) == index - 1) mine.push_back(std::move(jobs[i]));
  return mine;
}

void MarkJobsUpToDate(std::vector<Job>& jobs) {
  namespace fs = std::filesystem;
  for (Job& job : jobs) {
    if (!job.error.empty() || job.sources.empty()) continue;
    std::error_code ec;
    const fs::file_time_type written = fs::last_write_time(job.output, ec);
    if (ec) continue;
    bool newer = true;
    for (const std::string& source : job.sources) {
      const fs::file_time_type changed = fs::last_write_time(source, ec);
      // A picture that cannot be looked at is the join's to report.
      if (ec || !(written > changed)) newer = false;
    }
    job.done = newer;
  }
}

namespace {

// Text as a JSON string, quotes included.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace

std::string JobLogLine(const Job& job, const std::string& status, double seconds) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", seconds);
  return "{\"line\": " + std::to_string(job.line) + ", \"output\": " + JsonString(job.output) +
         ", \"status\": " + JsonString(status) + ", \"seconds\": " + time + ", \"message\": " +
         JsonString(job.error) + "}\n";
}

namespace {

struct Running {
  size_t job;
  pid_t pid;
  int fd;  // the job's standard error
  std::string messages;
  std::chrono::steady_clock::time_point started;
};

void Log(std::FILE* log, const Job& job, const std::string& status, double seconds) {
  if (!log) return;
  const std::string line = JobLogLine(job, status, seconds);
  std::fputs(line.c_str(), log);
  // Line by line, so a list that is stopped keeps the record of what it did.
  std::fflush(log);
}

bool Spawn(const std::string& program, const Job& job, Running& r, std::string& error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return error = std::strerror(errno), false;
  std::vector<std::string> args{program, "--quiet"};
  args.insert(args.end(), job.args.begin(), job.args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  const int failed = posix_spawn(&r.pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (failed != 0) {
    close(fds[0]);
    return error = std::string("cannot start ") + program + ": " + std::strerror(failed), false;
  }
  r.fd = fds[0];
  return true;
}

// The reason a join gave: its messages on one line.
std::string Reason(const std::string& messages, int status) {
  std::string out;
  std::istringstream in(messages);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.rfind("Try 'tessara-join --help'", 0) == 0) continue;
    if (!out.empty()) out += "; ";
    out += line;
  }
  if (!out.empty()) return out;
  if (WIFSIGNALED(status)) return std::string("ended by signal ") + strsignal(WTERMSIG(status));
  return "failed with exit status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

int RunJobList(const std::string& program, std::vector<Job>& jobs, int parallel, bool progress,
               const std::atomic<bool>* stop, std::FILE* log) {
  if (parallel < 1) parallel = 1;
  std::vector<size_t> waiting;
  size_t doneBefore = 0;
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].done) {
      ++doneBefore;
      Log(log, jobs[i], "done before", 0.0);
    } else if (jobs[i].error.empty()) {
      waiting.push_back(i);
    } else {
      Log(log, jobs[i], "refused", 0.0);
    }
  }
  const size_t runnable = waiting.size();
  size_t next = 0, done = 0, failedRuns = 0;
  std::vector<Running> running;
  bool onLine = false;
  auto draw = [&] {
    if (!progress) return;
    std::fprintf(stderr, "\rtessara-join: %zu of %zu done, %zu failed, %zu running ", done, runnable, failedRuns,
                 running.size());
    std::fflush(stderr);
    onLine = true;
  };
  draw();
  auto stopped = [stop] { return stop && stop->load(); };
  bool told = false;
  while ((!stopped() && next < waiting.size()) || !running.empty()) {
    while (!stopped() && next < waiting.size() && static_cast<int>(running.size()) < parallel) {
      Job& job = jobs[waiting[next++]];
      Running r{static_cast<size_t>(&job - jobs.data()), 0, -1, {}, std::chrono::steady_clock::now()};
      std::string error;
      if (!Spawn(program, job, r, error)) {
        job.error = error;
        ++failedRuns;
        Log(log, job, "failed", 0.0);
        continue;
      }
      running.push_back(r);
    }
    if (stopped() && !told) {
      // Nothing new starts, and the joins running are told to stop (they
      // write nothing then).
      for (const Running& r : running) kill(r.pid, SIGTERM);
      told = true;
    }
    draw();
    if (running.empty()) continue;
    std::vector<pollfd> polls;
    for (const Running& r : running) polls.push_back({r.fd, POLLIN, 0});
    if (poll(polls.data(), polls.size(), 250) < 0 && errno != EINTR) break;
    for (size_t i = running.size(); i-- > 0;) {
      if (!(polls[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t got = read(running[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        // Enough to say why; a join that talks without end is not kept whole.
        if (running[i].messages.size() < 65536) running[i].messages.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // Its standard error closed: the join is over.
      close(running[i].fd);
      int status = 0;
      while (waitpid(running[i].pid, &status, 0) < 0 && errno == EINTR) {
      }
      Job& job = jobs[running[i].job];
      ++done;
      // A join told to stop before it could listen ends by the signal itself.
      const bool wasStopped = (WIFEXITED(status) && WEXITSTATUS(status) == 130) ||
                              (told && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
      const bool written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      if (!written) {
        job.error = wasStopped ? "stopped; nothing was written" : Reason(running[i].messages, status);
        ++failedRuns;
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - running[i].started;
      Log(log, job, written ? "written" : wasStopped ? "stopped" : "failed", took.count());
      running.erase(running.begin() + static_cast<long>(i));
    }
  }
  if (onLine) std::fputc('\n', stderr);

  size_t failed = 0, notRun = 0;
  for (const Job& job : jobs) failed += !job.error.empty();
  notRun = waiting.size() - next;  // never started: stopped first
  for (size_t i = next; i < waiting.size(); ++i) Log(log, jobs[waiting[i]], "not run", 0.0);
  std::fprintf(stderr, "tessara-join: %zu of %zu jobs written", jobs.size() - failed - notRun - doneBefore,
               jobs.size());
  if (doneBefore) std::fprintf(stderr, ", %zu done before", doneBefore);
  if (failed) std::fprintf(stderr, ", %zu failed", failed);
  if (notRun) std::fprintf(stderr, ", %zu not run (stopped)", notRun);
  std::fputs(failed ? ":\n" : "\n", stderr);
  for (const Job& job : jobs) {
    if (job.error.empty()) continue;
    std::fprintf(stderr, "  line %d%s%s: %s\n", job.line, job.output.empty() ? "" : " ", job.output.c_str(),
                 job.error.c_str());
  }
  if (stopped()) return 130;
  return failed ? 1 : 0;
}

}  // namespace tessara
