#include "processes.h"

#include "flush_counts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvalin::bench {

namespace fs = std::filesystem;

const char* const kShellPipeline = R"sh(
n=0
while IFS= read -r -d '' f; do
  name=${f##*/}
  printf '%d\r\n' "$n" > "$COUNTER"
  case "${name,,}" in
    *jpg|*jpeg|*bmp)
      base=$name
      [[ ${name:6:1} == ' ' ]] && base=${name:7}
      printf -v prefix '%06d' "$n"
      mv -n -- "$f" "$DST/$prefix $base"
      n=$((n+1)) ;;
    *) rm -f -- "$f" ;;
  esac
done < <(find "$SRC" -mindepth 2 -type f ! -name '.*' -print0)
find "$SRC" -mindepth 1 -maxdepth 1 -type d ! -name '.*' -exec rm -rf {} +
)sh";

namespace {

// The model's variables; a sanitized bench lets a library come before its runtime.
std::vector<std::string> modelEnvironment(const FlushModel& model) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"LD_PRELOAD=" + model.library.native(), "CORVALIN_FLUSH_COUNTER=" + model.counts.native(),
            "CORVALIN_FLUSH_DELAY_MS=" + std::to_string(model.delayMs),
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

} // namespace

Measured spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnvironment,
               bool timeWholeProcess, const FlushModel& model) {
    int out[2];
    if (!resetFlushCounts(model.counts) || ::pipe(out) != 0)
        return {};
    std::vector<std::string> environment = modelEnvironment(model);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        for (const std::string& variable : environment)
            ::putenv(const_cast<char*>(variable.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string printed;
    char buffer[256];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        printed.append(buffer, std::size_t(got));
    ::close(out[0]);
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Measured measured;
    measured.peakKilobytes = usage.ru_maxrss;
    measured.flushes = totalFlushes(model.counts);
    measured.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    double seconds = 0;
    long flushes = 0;
    double cpu = 0;
    const int fields =
        timeWholeProcess ? 0 : std::sscanf(printed.c_str(), "%lf %ld %lf", &seconds, &flushes, &cpu);
    if (fields >= 2)
        measured.flushes = flushes;
    if (fields == 3)
        measured.cpuSeconds = cpu;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        measured.seconds = timeWholeProcess ? wall : seconds;
    else
        std::fprintf(stderr, "%s ended with status %d\n", args.back().c_str(), status);
    return measured;
}

std::size_t countFiles(const fs::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

void printLine(const char* label, const Measured& measured, int pictures) {
    if (measured.seconds < 0) {
        std::printf("  %-44s failed\n", label);
        return;
    }
    std::printf("  %-44s %8.3f s  %7.3f ms/picture  %7.3f s cpu  %6ld flushes\n", label, measured.seconds,
                1000 * measured.seconds / std::max(1, pictures), measured.cpuSeconds, measured.flushes);
}

double ratio(const Measured& a, const Measured& b) {
    return a.seconds > 0 && b.seconds > 0 ? a.seconds / b.seconds : 0;
}

} // namespace corvalin::bench
