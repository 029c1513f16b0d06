// Times the core library alone: every input is read into memory once, then
// parsed repeatedly with read_bytes_with_options; the best run gives the
// throughput. No Python, no file I/O inside the timed region.
//
//   difrax_bench [--min-time S] [--min-repeats N] [--max-repeats N] DIR|FILE...
//   difrax_bench --once FILE      one parse, for valgrind --tool=callgrind
//   --path    time read_with_options(path) instead, file reading included
//
// A folder argument is read through its manifest.tsv (written by
// bench/generate.py): label, format, points, file, target group. Throughput is
// in MB/s with MB = 10^6 bytes of input.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "difrax/difrax.hpp"

namespace {

struct Entry {
    std::string label;
    std::string format;
    std::size_t points = 0;  // expected, 0 when unknown
    std::string path;
    std::string group;  // xy, text, raw, xml
};

struct Settings {
    double min_time = 0.5;
    int min_repeats = 5;
    int max_repeats = 2000;
    bool from_path = false;  // time read_with_options(path), file reading included
};

std::optional<std::vector<std::byte>> slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
    return bytes;
}

std::vector<std::string> split_tabs(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return out;
}

std::vector<Entry> manifest(const std::filesystem::path& dir) {
    std::vector<Entry> entries;
    std::ifstream in(dir / "manifest.tsv");
    if (!in) {
        std::fprintf(stderr, "difrax_bench: no manifest.tsv in %s\n", dir.c_str());
        std::exit(2);
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto f = split_tabs(line);
        if (f.size() < 5) continue;
        entries.push_back({f[0], f[1], static_cast<std::size_t>(std::strtoull(f[2].c_str(), nullptr, 10)),
                           (dir / f[3]).string(), f[4]});
    }
    return entries;
}

// The throughput target of a reader group, in MB/s; 0 for none.
double target(const std::string& group) {
    if (group == "xy") return 400.0;
    if (group == "text") return 250.0;
    if (group == "raw") return 2000.0;
    return 0.0;
}

std::string points_text(std::size_t n) {
    if (n >= 1000 && n % 1000 == 0) {
        int exponent = 0;
        std::size_t m = n;
        while (m % 10 == 0) {
            m /= 10;
            ++exponent;
        }
        if (m == 1) return "10^" + std::to_string(exponent);
    }
    return std::to_string(n);
}

int once(const std::string& path, std::uint64_t index) {
    auto bytes = slurp(path);
    if (!bytes) {
        std::fprintf(stderr, "difrax_bench: cannot read %s\n", path.c_str());
        return 2;
    }
    difrax::ReadOptions options;
    options.index = index;
    auto result = difrax::read_bytes_with_options(*bytes, path, options);
    if (!result) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), result.error().display().c_str());
        return 1;
    }
    std::printf("%s: %zu points, %zu bytes\n", path.c_str(), result->size(), bytes->size());
    return 0;
}

int run(const std::vector<Entry>& entries, const Settings& settings) {
    using clock = std::chrono::steady_clock;
    int failures = 0;
    std::printf("| format | points | MB | best ms | median ms | runs | MB/s | Mpoints/s | target MB/s | status |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    std::fflush(stdout);
    for (const Entry& e : entries) {
        auto bytes = slurp(e.path);
        const std::string name = std::filesystem::path(e.path).filename().string();
        if (!bytes) {
            std::printf("| %s | %s | — | — | — | — | — | — | — | missing file %s |\n", e.label.c_str(),
                        points_text(e.points).c_str(), name.c_str());
            ++failures;
            continue;
        }
        const double mb = static_cast<double>(bytes->size()) / 1e6;
        const double goal = target(e.group);
        const std::string goal_text = goal > 0 ? std::to_string(static_cast<int>(goal)) : "—";
        const difrax::ReadOptions options;

        auto first = difrax::read_bytes_with_options(*bytes, name, options);
        if (!first) {
            std::string message = first.error().display();
            std::replace(message.begin(), message.end(), '|', '/');
            std::printf("| %s | %s | %.2f | — | — | — | — | — | %s | ERROR: %s |\n", e.label.c_str(),
                        points_text(e.points).c_str(), mb, goal_text.c_str(), message.c_str());
            std::fflush(stdout);
            ++failures;
            continue;
        }
        const std::size_t n = first->size();
        if (e.points != 0 && n != e.points) {
            std::printf("| %s | %s | %.2f | — | — | — | — | — | %s | WRONG: %zu points |\n", e.label.c_str(),
                        points_text(e.points).c_str(), mb, goal_text.c_str(), n);
            ++failures;
            continue;
        }

        std::vector<double> times;
        double spent = 0;
        std::size_t sink = 0;
        while (static_cast<int>(times.size()) < settings.max_repeats &&
               (static_cast<int>(times.size()) < settings.min_repeats || spent < settings.min_time)) {
            auto t0 = clock::now();
            auto result = settings.from_path ? difrax::read_with_options(e.path, options)
                                             : difrax::read_bytes_with_options(*bytes, name, options);
            auto t1 = clock::now();
            sink += result ? result->size() : 0;
            double s = std::chrono::duration<double>(t1 - t0).count();
            times.push_back(s);
            spent += s;
        }
        if (sink != n * times.size()) std::fprintf(stderr, "difrax_bench: %s gave differing results\n", name.c_str());
        std::sort(times.begin(), times.end());
        const double best = times.front();
        const double median = times[times.size() / 2];
        const double rate = mb / best;
        const char* status = goal <= 0 ? "—" : (rate >= goal ? "PASS" : "FAIL");
        if (goal > 0 && rate < goal) ++failures;
        std::printf("| %s | %s | %.2f | %.3f | %.3f | %zu | %.0f | %.2f | %s | %s |\n", e.label.c_str(),
                    points_text(n).c_str(), mb, best * 1e3, median * 1e3, times.size(), rate,
                    static_cast<double>(n) / best / 1e6, goal_text.c_str(), status);
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}

void usage() {
    std::fprintf(stderr,
                 "usage: difrax_bench [--path] [--min-time S] [--min-repeats N] [--max-repeats N] DIR|FILE...\n"
                 "       difrax_bench --once FILE [--index N]\n");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef M_MMAP_THRESHOLD
    // Every repeat frees its arrays and the next one asks for the same room
    // again. Left to its own heuristics, glibc sometimes hands that room
    // back to the system and maps it afresh, so that a repeat also times the
    // kernel clearing new pages, depending on what earlier inputs left
    // behind. Kept in the heap, repeats reuse warm memory, as a process that
    // loads one file after another does, and figures do not depend on the
    // order of the inputs.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    Settings settings;
    std::vector<Entry> entries;
    std::optional<std::string> once_file;
    std::uint64_t index = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--min-time") {
            settings.min_time = std::atof(value());
        } else if (a == "--min-repeats") {
            settings.min_repeats = std::atoi(value());
        } else if (a == "--max-repeats") {
            settings.max_repeats = std::atoi(value());
        } else if (a == "--path") {
            settings.from_path = true;
        } else if (a == "--once") {
            once_file = value();
        } else if (a == "--index") {
            index = std::strtoull(value(), nullptr, 10);
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else if (std::filesystem::is_directory(std::string(a))) {
            auto more = manifest(std::string(a));
            entries.insert(entries.end(), more.begin(), more.end());
        } else {
            std::string path(a);
            entries.push_back({std::filesystem::path(path).filename().string(), "", 0, path, ""});
        }
    }
    if (once_file) return once(*once_file, index);
    if (entries.empty()) {
        usage();
        return 2;
    }
    return run(entries, settings);
}
