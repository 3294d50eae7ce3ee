// tessara-join --jobs FILE: one join per line of a list, run several at a
// time. Each line holds options and SOURCE1 SOURCE2 OUTPUT as the command line
// does, split into words as a shell splits them; options given on the command
// line with --jobs come before each line's own.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace tessara {

// Splits one line into words: blanks separate; '...' keeps everything as it
// is; "..." keeps everything but \\ \" \$ \` (the backslash goes); a backslash
// outside quotes keeps the next character; a # starting a word starts a
// comment. False, with `error`, for an unterminated quote or a lone backslash
// at the end.
bool SplitJobLine(const std::string& line, std::vector<std::string>& words, std::string& error);

struct Job {
  int line = 0;                       // 1-based line in the list
  std::vector<std::string> args;      // the whole argument list of the join
  std::string output;                 // OUTPUT, for the summary
  std::vector<std::string> sources;   // the pictures it joins
  std::string error;                  // why the line cannot run; empty when it can
  bool done = false;                  // left out by --resume: its OUTPUT is up to date
  bool refused = false;               // the line itself is wrong (error says why)
};

// Reads the jobs from `text` (the list's contents): blank and comment-only
// lines are skipped; every other line becomes a job, checked with the same
// rules as the command line (`common` first). A line naming the OUTPUT of an
// earlier line is refused: both would write the same file at once.
std::vector<Job> ReadJobList(const std::string& text, const std::vector<std::string>& common);

// The jobs of shard `index` of `count` (1 <= index <= count): the list's join
// lines index, index + count, index + 2 count, ... counted from 1, so that
// `count` runs of the same list with the indices 1 .. count do every line
// exactly once.
std::vector<Job> TakeShard(std::vector<Job> jobs, int index, int count);

// For --resume: marks done every job whose OUTPUT exists and was written after
// each of its pictures was last changed.
void MarkJobsUpToDate(std::vector<Job>& jobs);

// One line of the --log file for a job that has ended: a JSON object with its
// line, output, status ("written", "failed", "refused", "done before",
// "stopped", "not run"), the seconds it ran and its message.
std::string JobLogLine(const Job& job, const std::string& status, double seconds);

// Runs the jobs that can run, up to `parallel` at a time, each as its own
// process of `program` (this program) with --quiet; shows one progress line
// on standard error when `progress`, and at the end lists every failed job with
// its reason. Jobs marked done are left out and counted as such. Appends a
// line a job to `log` (when given) as each ends. Returns 0 when every job
// wrote its Target (or was done before), 130 when stopped by a signal (`stop`
// set: the running joins are told to stop), else 1.
int RunJobList(const std::string& program, std::vector<Job>& jobs, int parallel, bool progress,
               const std::atomic<bool>* stop, std::FILE* log = nullptr);

}  // namespace tessara
