#include "app/Batch.h"

#include "app/Manifest.h"
#include "app/Render.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qvr {

namespace {

const char* const kBatchHelp =
    R"(usage: quorvex-render batch MANIFEST [--jobs N] [--index I] [--out-dir D] [--force] [--dry-run] [--joblog FILE]

Renders every row of a manifest (TSV or CSV with a header; one render per row)
with N worker processes, each with its own GL context.
Columns: id (required, unique), command (heatmap, movie or aggregate; movie when
a video is given), data (aggregate: a ';' list), stimulus, video, aoi, out
(default <id>.png or <id>.mp4 in the output folder), and the commands' options
by name: format, source, sigma, weight, alpha, layers, time-offset,
min-confidence, size, gl, no-normalise. Relative paths are relative to the
manifest's folder.
  --jobs N       worker processes (default: the number of cores); llvmpipe's
                 threads (LP_NUM_THREADS) are shared out among them
  --index I      render data row I only (1-based); SLURM_ARRAY_TASK_ID when unset
  --out-dir D    where outputs without a folder go (default the manifest's folder)
  --force        render rows whose output is newer than their inputs too
  --dry-run      list what would be rendered and what skipped
  --joblog FILE  one line per row, GNU parallel's joblog columns, then id, status,
                 output and error
Exit status: 0 every row rendered or skipped, 1 a row failed, 2 a usage or
manifest error.
)";

struct BatchOptions {
    std::string manifest, outDir, joblog;
    int jobs = 0;
    long index = 0; // 0: every row
    bool force = false, dryRun = false;
};

bool parseCount(const char* text, long lo, long hi, long& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// 0 run, 1 help shown, 2 usage error (reported).
int parseBatch(int argc, char** argv, BatchOptions& o)
{
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        long n = 0;
        if (a == "-h" || a == "--help") {
            std::fputs(kBatchHelp, stdout);
            return 1;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--jobs" || a == "--index" || a == "--out-dir" || a == "--joblog") {
            if ((v = value()) == nullptr)
                return complain(kUsageError, "option " + a + " needs a value");
            if (a == "--jobs") {
                if (!parseCount(v, 1, 1024, n))
                    return complain(kUsageError,
                                    "bad --jobs '" + std::string(v) + "': a whole number from 1 to 1024");
                o.jobs = static_cast<int>(n);
            } else if (a == "--index") {
                if (!parseCount(v, 1, 100000000, o.index))
                    return complain(kUsageError, "bad --index '" + std::string(v) + "': a row number from 1");
            } else {
                (a == "--out-dir" ? o.outDir : o.joblog) = v;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return complain(kUsageError, "unknown option " + a + " (see batch --help)");
        } else if (o.manifest.empty()) {
            o.manifest = a;
        } else {
            return complain(kUsageError, "unexpected argument '" + a + "': one manifest per batch");
        }
    }
    if (o.manifest.empty())
        return complain(kUsageError, "no MANIFEST (see batch --help)");
    if (o.index == 0) {
        const char* task = std::getenv("SLURM_ARRAY_TASK_ID");
        if (task != nullptr && *task != '\0' && !parseCount(task, 1, 100000000, o.index))
            return complain(kUsageError, "bad SLURM_ARRAY_TASK_ID '" + std::string(task) + "'");
    }
    if (o.jobs == 0)
        o.jobs = static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    return 0;
}

double modified(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec * 1e-9;
}

// An output at least as new as every input is up to date.
bool upToDate(const BatchRow& row)
{
    const double out = modified(row.output);
    if (out < 0)
        return false;
    for (const std::string& input : row.inputs)
        if (modified(input) > out)
            return false;
    return true;
}

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Seconds since the epoch, as a joblog's Starttime.
double wallClock()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

enum class Outcome { Rendered, Failed, Skipped };

struct Finished {
    const BatchRow* row;
    Outcome outcome;
    double started, seconds; // started: wall clock
    int exitValue, signal;
    std::string error;
};

// A worker: this program again, with one row's arguments; its stderr goes to
// a scratch file whose last line is the row's error.
struct Worker {
    pid_t pid = -1;
    const BatchRow* row = nullptr;
    double started = 0, startedWall = 0;
    FILE* log = nullptr;
};

std::string selfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "quorvex-render";
    path[n] = '\0';
    return path;
}

bool startWorker(const std::string& self, const BatchRow& row, const std::string& threads, Worker& w)
{
    w.row = &row;
    w.log = std::tmpfile();
    if (w.log == nullptr)
        return false;
    std::vector<std::string> args = {self};
    args.insert(args.end(), row.args.begin(), row.args.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    w.started = now();
    w.startedWall = wallClock();
    w.pid = fork();
    if (w.pid < 0)
        return false;
    if (w.pid == 0) {
        dup2(fileno(w.log), STDERR_FILENO);
        if (!threads.empty())
            setenv("LP_NUM_THREADS", threads.c_str(), 1);
        execv(argv[0], argv.data());
        std::fprintf(stderr, "quorvex-render: cannot start a worker: %s\n", std::strerror(errno));
        _exit(kRenderFailed);
    }
    return true;
}

std::string lastLine(FILE* log)
{
    std::rewind(log);
    std::string last, line;
    char chunk[1024];
    while (std::fgets(chunk, sizeof chunk, log) != nullptr) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            if (!line.empty())
                last = line;
            line.clear();
        }
    }
    if (!line.empty())
        last = line;
    const std::string prefix = "quorvex-render: ";
    return last.rfind(prefix, 0) == 0 ? last.substr(prefix.size()) : last;
}

Finished reap(Worker& w, int status)
{
    Finished f{w.row, Outcome::Rendered, w.startedWall, now() - w.started, 0, 0, ""};
    if (WIFSIGNALED(status)) {
        f.signal = WTERMSIG(status);
        f.outcome = Outcome::Failed;
        f.error =
            "the worker was killed by signal " + std::to_string(f.signal) + " (" + strsignal(f.signal) + ")";
    } else {
        f.exitValue = WEXITSTATUS(status);
        if (f.exitValue != 0) {
            f.outcome = Outcome::Failed;
            f.error = lastLine(w.log);
            if (f.error.empty())
                f.error = "exit status " + std::to_string(f.exitValue);
        }
    }
    std::fclose(w.log);
    w.log = nullptr;
    w.pid = -1;
    return f;
}

class Report {
public:
    Report(size_t rows, const std::string& joblog) : m_rows(rows), m_terminal(isatty(STDERR_FILENO) == 1)
    {
        if (!joblog.empty()) {
            m_joblog = std::fopen(joblog.c_str(), "w");
            if (m_joblog != nullptr)
                std::fputs(
                    "Seq\tHost\tStarttime\tJobRuntime\tSend\tReceive\tExitval\tSignal\tCommand\tId\tStatus\tOutput"
                    "\tError\n",
                    m_joblog);
        }
        char host[256] = "localhost";
        gethostname(host, sizeof host - 1);
        m_host = host;
        m_start = now();
    }
    ~Report()
    {
        if (m_joblog != nullptr)
            std::fclose(m_joblog);
    }
    bool joblogOpen(const std::string& joblog) const { return joblog.empty() || m_joblog != nullptr; }

    void add(const Finished& f)
    {
        ++m_done;
        const char* status = f.outcome == Outcome::Rendered ? "rendered"
                             : f.outcome == Outcome::Failed ? "failed"
                                                            : "skipped";
        m_failed += f.outcome == Outcome::Failed;
        m_skipped += f.outcome == Outcome::Skipped;
        if (f.outcome == Outcome::Failed)
            m_failures.push_back("row " + std::to_string(f.row->number) + " (" + f.row->id + "): " + f.error);
        if (m_joblog != nullptr) {
            std::string command = "quorvex-render";
            for (const std::string& a : f.row->args)
                command += " " + a;
            std::fprintf(m_joblog, "%d\t%s\t%.3f\t%.3f\t0\t0\t%d\t%d\t%s\t%s\t%s\t%s\t%s\n", f.row->number,
                         m_host.c_str(), f.started, f.seconds, f.exitValue, f.signal, command.c_str(),
                         f.row->id.c_str(), status, f.row->output.c_str(), f.error.c_str());
            std::fflush(m_joblog);
        }
        if (m_terminal) {
            bar();
            return;
        }
        std::string line = "row " + std::to_string(f.row->number) + " (" + f.row->id + "): " + status;
        if (f.outcome == Outcome::Rendered)
            line += " " + f.row->output + " in " + seconds(f.seconds);
        else if (f.outcome == Outcome::Skipped)
            line += ", " + f.row->output + " is up to date";
        else
            line += ": " + f.error;
        std::fprintf(stderr, "%s\n", line.c_str());
    }

    int finish()
    {
        if (m_terminal)
            std::fputc('\n', stderr);
        std::fprintf(stderr, "batch: %zu rendered, %zu skipped, %zu failed of %zu rows in %s\n",
                     m_done - m_failed - m_skipped, m_skipped, m_failed, m_rows,
                     seconds(now() - m_start).c_str());
        for (const std::string& failure : m_failures)
            std::fprintf(stderr, "failed: %s\n", failure.c_str());
        return m_failed > 0 ? kRenderFailed : kRendered;
    }

private:
    static std::string seconds(double s)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f s", s);
        return text;
    }
    void bar() const
    {
        const int width = static_cast<int>(30 * m_done / std::max<size_t>(1, m_rows));
        const size_t rendered = m_done - m_failed - m_skipped;
        const double elapsed = now() - m_start;
        const double left = rendered > 0 ? elapsed / m_done * (m_rows - m_done) : 0;
        std::fprintf(stderr, "\rbatch [%-30.*s] %zu/%zu  %zu failed  %zu skipped  %.0f s left ", width,
                     "##############################", m_done, m_rows, m_failed, m_skipped, left);
    }

    size_t m_rows, m_done = 0, m_failed = 0, m_skipped = 0;
    bool m_terminal;
    FILE* m_joblog = nullptr;
    std::string m_host;
    double m_start;
    std::vector<std::string> m_failures;
};

} // namespace

int runBatch(int argc, char** argv)
{
    BatchOptions o;
    if (const int parsed = parseBatch(argc, argv, o))
        return parsed == 1 ? 0 : kUsageError;
    std::vector<BatchRow> rows;
    std::string error;
    if (!readManifest(o.manifest, o.outDir, rows, error))
        return complain(kUsageError, error);
    // The output folder is made as the batch's own, like `mkdir -p`.
    std::error_code made;
    if (!o.outDir.empty() && !o.dryRun && !std::filesystem::create_directories(o.outDir, made) && made)
        return complain(kUsageError, "cannot make the output folder " + o.outDir + ": " + made.message());
    if (o.index > static_cast<long>(rows.size()))
        return complain(kUsageError, "row " + std::to_string(o.index) + " asked for, the manifest has " +
                                         std::to_string(rows.size()));
    std::vector<const BatchRow*> todo;
    for (const BatchRow& row : rows)
        if (o.index == 0 || row.number == o.index)
            todo.push_back(&row);
    if (o.dryRun) {
        for (const BatchRow* row : todo)
            std::printf("row %d (%s): %s %s\n", row->number, row->id.c_str(),
                        !o.force && upToDate(*row) ? "skip, up to date:" : "render", row->output.c_str());
        return kRendered;
    }
    Report report(todo.size(), o.joblog);
    if (!report.joblogOpen(o.joblog))
        return complain(kUsageError, "cannot write the joblog " + o.joblog + ": " + std::strerror(errno));

    const int jobs = std::min<int>(o.jobs, static_cast<int>(todo.size()));
    // N workers share the cores instead of each taking all of them.
    std::string threads;
    if (std::getenv("LP_NUM_THREADS") == nullptr) {
        const long cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
        threads = std::to_string(std::max(1L, cores / std::max(1, jobs)));
    }
    const std::string self = selfPath();
    std::vector<Worker> workers(static_cast<size_t>(std::max(1, jobs)));
    size_t next = 0, running = 0;
    for (;;) {
        for (Worker& w : workers) {
            while (w.pid < 0 && next < todo.size()) {
                const BatchRow& row = *todo[next++];
                if (!o.force && upToDate(row)) {
                    report.add({&row, Outcome::Skipped, wallClock(), 0, 0, 0, ""});
                    continue;
                }
                if (!startWorker(self, row, threads, w)) {
                    report.add({&row, Outcome::Failed, wallClock(), 0, kRenderFailed, 0,
                                std::string("cannot start a worker: ") + std::strerror(errno)});
                    if (w.log != nullptr)
                        std::fclose(w.log);
                    w = Worker();
                    continue;
                }
                ++running;
            }
        }
        if (running == 0)
            break;
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (Worker& w : workers)
            if (w.pid == pid) {
                report.add(reap(w, status));
                --running;
            }
    }
    return report.finish();
}

} // namespace qvr
