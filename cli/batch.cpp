#include "batch.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "options.h"

namespace {

// Jobs a thread may start ahead of the oldest one not yet written: those
// that ended hold only their messages, so a long job does not keep the
// others waiting.
constexpr size_t kAhead = 64;

std::string folded(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// For each job, the last earlier job it must wait for (-1: none).
std::vector<long> waits(const std::vector<JobFiles>& files) {
    std::map<std::string, long> read, written;
    std::vector<long> after(files.size(), -1);
    auto last = [](const std::map<std::string, long>& by, const std::string& name) {
        const auto at = by.find(name);
        return at == by.end() ? -1L : at->second;
    };
    for (size_t i = 0; i < files.size(); i++) {
        const std::string in = folded(files[i].input), out = folded(files[i].output);
        after[i] = std::max({last(written, out), last(read, out), last(written, in)});
        read[in] = written[out] = static_cast<long>(i);
    }
    return after;
}

} // namespace

int job_count(int requested) {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    return 1; // the page's module is built without threads
#endif
    return requested > 0 ? requested
                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void run_jobs(int threads, const std::vector<JobFiles>& files,
              const std::function<void(size_t)>& job) {
    const size_t n = files.size();
    auto one_by_one = [&] {
        for (size_t i = 0; i < n; i++)
            job(i);
    };
    if (threads <= 1 || n <= 1) return one_by_one();
    const std::vector<long> after = waits(files);
    std::vector<Transcript> said(n);
    std::vector<char> taken(n, 0), done(n, 0);
    size_t first = 0, written = 0; // jobs before `first` are all taken
    std::mutex lock;
    std::condition_variable changed;
    // The first job not taken, within reach, whose earlier jobs of the same files have ended
    // (n: none now).
    auto ready = [&] {
        for (size_t i = first; i < std::min(n, written + kAhead * threads); i++)
            if (!taken[i] && (after[i] < 0 || done[static_cast<size_t>(after[i])])) return i;
        return n;
    };
    auto work = [&] {
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            size_t i = n;
            changed.wait(held, [&] { return first >= n || (i = ready()) < n; });
            if (first >= n) return;
            taken[i] = 1;
            while (first < n && taken[first])
                first++;
            held.unlock();
            record_output(&said[i]);
            job(i);
            record_output(nullptr);
            held.lock();
            done[i] = 1;
            changed.notify_all();
        }
    };
    // A thread the system refuses leaves the jobs to those it gave.
    std::vector<std::thread> helpers;
    try {
        for (int k = 0; k < threads; k++)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {}
    if (helpers.empty()) return one_by_one();
    for (size_t i = 0; i < n; i++) {
        {
            std::unique_lock<std::mutex> held(lock);
            changed.wait(held, [&] { return done[i] != 0; });
        }
        replay(said[i]);
        Transcript().swap(said[i]);
        std::lock_guard<std::mutex> held(lock);
        written = i + 1;
        changed.notify_all();
    }
    for (std::thread& helper : helpers)
        helper.join();
}
