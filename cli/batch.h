// Jobs run at once (the entries of a list, the files of the command line),
// with what each writes coming out as if they ran one after another.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What a job reads and writes, as paths: two jobs where one writes what the
// other reads or writes (by name, in any letter case) keep their order.
struct JobFiles {
    std::string input;
    std::string output;
};

// The number of jobs at once for `-j N` (0: as many as there are processors).
int job_count(int requested);

// Runs job(0) ... job(n - 1), `threads` at a time: each job's output and
// messages are held (see record_output) and written in the jobs' order.  A
// job starts only when every earlier job whose files it shares (see
// JobFiles) has ended, the threads taking meanwhile the first jobs that may
// start, no more than 64 × `threads` ahead of the oldest one not yet written
// (those ended hold only their messages).  With one thread the jobs run
// here, one by one.
void run_jobs(int threads, const std::vector<JobFiles>& files,
              const std::function<void(size_t)>& job);
