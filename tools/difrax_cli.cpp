// The difrax command-line tool: look at diffraction files (info) and convert
// them to two-column text (convert).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "difrax/difrax.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int exit_ok = 0;
constexpr int exit_refused = 1;
constexpr int exit_usage = 2;

constexpr std::string_view help_text = R"(usage: difrax info FILE...
       difrax convert FILE... [--index N] [--block TEXT] [--format xy|csv] [-o OUT]

Loads X-ray powder diffraction patterns (2theta in degrees, intensity) from
XY, CHI, RAS, UXD, GSAS, powder CIF, Bruker RAW, XRDML, BRML and RASX files.

commands:
  info       for each file: the detected format, how many patterns it holds,
             and for each pattern its points, 2theta range and step and
             intensity range (or the error that refused it)
  convert    write one pattern of each file as two columns of text, with the
             shortest numbers that read back to the same values

options (convert):
  --index N      which pattern of a multi-pattern file (default 0)
  --block TEXT   which powder CIF data block: the first whose name contains TEXT
  --format F     xy (space-separated, the default) or csv
  -o OUT         a file for one input, a folder for several; "-" or no -o
                 writes to standard output
  -h, --help     show this help

exit status: 0 when everything loaded, 1 when a file was refused, 2 for wrong usage.

examples:
  difrax info scan.xrdml run.ras
  difrax convert scan.brml -o scan.xy
  difrax convert --index 2 run.ras > third-scan.xy
  difrax convert --format csv data/*.raw -o converted/
)";

int usage_error(std::string_view message) {
    std::cerr << "difrax: " << message << "\n(run 'difrax --help' for usage)\n";
    return exit_usage;
}

// The whole file, or the I/O error in the library's words.
difrax::Result<std::string> read_whole(const std::string& path) {
    auto io_error = [](int code) {
        return std::unexpected(difrax::Error::io(std::string(std::strerror(code)) + " (os error " +
                                                 std::to_string(code) + ")"));
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return io_error(errno);
    std::string data;
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            ::close(fd);
            return io_error(code);
        }
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

std::span<const std::byte> bytes_of(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

// Shortest decimal text that reads back to the same double.
void append_number(std::string& out, double v) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, ec == std::errc() ? end : buf);
}

std::string number_text(double v) {
    std::string s;
    append_number(s, v);
    return s;
}

// A name or message as shown: control characters become "?" (a line break
// in a name would start a data row of a conversion, an escape sequence would
// command the terminal).
std::string printable(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

// Refusals may quote a name found in an archive: they are shown printable
// like the file's name.
void report(const std::string& file, const difrax::Error& error) {
    std::cerr << "difrax: " << printable(file) << ": " << printable(error.display()) << '\n';
}

// ---------------------------------------------------------------------------
// info

std::string describe(const difrax::Pattern& p) {
    auto x = p.x();
    auto y = p.y();
    double lo = y[0], hi = y[0];
    for (double v : y) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    std::string s = std::to_string(x.size()) + " points, 2theta " + number_text(x.front()) + " to " +
                    number_text(x.back()) + " deg";
    if (x.size() > 1) {
        char step[32];
        std::snprintf(step, sizeof step, "%.6g", (x.back() - x.front()) / static_cast<double>(x.size() - 1));
        s += ", step ";
        s += step;
    }
    s += ", intensity " + number_text(lo) + " to " + number_text(hi);
    return s;
}

int info(const std::vector<std::string>& files) {
    int status = exit_ok;
    for (const std::string& file : files) {
        auto data = read_whole(file);
        if (!data) {
            report(file, data.error());
            status = exit_refused;
            continue;
        }
        auto format = difrax::detect_format(bytes_of(*data), file);
        if (!format) {
            report(file, format.error());
            status = exit_refused;
            continue;
        }
        auto count = difrax::count_patterns(bytes_of(*data), *format);
        if (!count) {
            std::cout << printable(file) << ": " << difrax::format_name(*format) << '\n';
            report(file, count.error());
            status = exit_refused;
            continue;
        }
        if (*count == 0) {
            // Nothing to choose from: the load of the first pattern says why.
            auto first = difrax::read_bytes_with_options(bytes_of(*data), file, {});
            std::cout << printable(file) << ": " << difrax::format_name(*format) << ", no patterns\n";
            if (!first) report(file, first.error());
            status = exit_refused;
            continue;
        }
        std::cout << printable(file) << ": " << difrax::format_name(*format) << ", " << *count
                  << (*count == 1 ? " pattern\n" : " patterns\n");
        for (std::uint64_t i = 0; i < *count; ++i) {
            difrax::ReadOptions options;
            options.index = i;
            auto pattern = difrax::read_bytes_with_options(bytes_of(*data), file, options);
            std::cout << "  [" << i << "] ";
            if (pattern) {
                std::cout << describe(*pattern) << '\n';
            } else {
                std::cout << "refused: " << printable(pattern.error().display()) << '\n';
                status = exit_refused;
            }
        }
    }
    return status;
}

// ---------------------------------------------------------------------------
// convert

struct ConvertOptions {
    difrax::ReadOptions read;
    bool csv = false;
    std::optional<std::string> output;
    std::vector<std::string> files;
};

std::string columns(const difrax::Pattern& p, bool csv, const std::string& source) {
    std::string out;
    out.reserve(p.size() * 24 + 64);
    if (csv) {
        out += "2theta,intensity\n";
    } else {
        out += "# 2theta intensity, from " + printable(source) + '\n';
    }
    const char sep = csv ? ',' : ' ';
    auto x = p.x();
    auto y = p.y();
    for (std::size_t i = 0; i < x.size(); ++i) {
        append_number(out, x[i]);
        out.push_back(sep);
        append_number(out, y[i]);
        out.push_back('\n');
    }
    return out;
}

bool write_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "difrax: cannot write " << path.string() << ": " << std::strerror(errno) << '\n';
        return false;
    }
    return true;
}

// Output names in a folder: the input's name with the new extension, made
// unique when two inputs share a name by the first free number from 2. The
// search for a name goes on from where the last one for the same input name
// stopped (every number before it is taken), so that thousands of inputs of
// one name are not numbered from 2 each time.
struct OutputNames {
    std::set<std::string> used;
    std::map<std::string, int> next_number;
};

fs::path output_name(const fs::path& folder, const std::string& file, std::string_view ext, OutputNames& names) {
    std::string stem = fs::path(file).filename().string();
    std::string name = stem + std::string(ext);
    int& k = names.next_number.try_emplace(stem, 2).first->second;
    while (names.used.count(name)) name = stem + "-" + std::to_string(k++) + std::string(ext);
    names.used.insert(name);
    return folder / name;
}

// Output that never arrived (a full disk, a closed pipe) fails the run: a
// report or a conversion nobody can read is not a success.
void report_standard_output(int code) {
    std::cerr << "difrax: cannot write standard output";
    if (code != 0) std::cerr << ": " << std::strerror(code);
    std::cerr << '\n';
}

bool standard_output_written() {
    errno = 0;
    std::cout.flush();
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout) && std::cout.good()) return true;
    report_standard_output(errno);
    return false;
}

int convert(const ConvertOptions& opts) {
    const bool to_stdout = !opts.output || *opts.output == "-";
    bool to_folder = false;
    if (!to_stdout) {
        std::error_code ec;
        to_folder = opts.files.size() > 1 || fs::is_directory(*opts.output, ec) || opts.output->ends_with('/');
        if (to_folder) {
            fs::create_directories(*opts.output, ec);
            if (ec) {
                std::cerr << "difrax: cannot create folder " << *opts.output << ": " << ec.message() << '\n';
                return exit_refused;
            }
        }
    }
    const std::string_view ext = opts.csv ? ".csv" : ".xy";
    OutputNames names;
    // Converting many files to a folder shows how far it has got.
    const bool progress = to_folder && opts.files.size() > 1;
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    int status = exit_ok;
    std::size_t done = 0;
    for (const std::string& file : opts.files) {
        ++done;
        if (progress) {
            if (terminal)
                std::cerr << "\r[" << done << "/" << opts.files.size() << "] " << printable(file) << "\x1b[K" << std::flush;
            else
                std::cerr << "[" << done << "/" << opts.files.size() << "] " << printable(file) << '\n';
        }
        auto pattern = difrax::read_with_options(file, opts.read);
        if (!pattern) {
            if (progress && terminal) std::cerr << '\n';
            report(file, pattern.error());
            status = exit_refused;
            continue;
        }
        std::string text = columns(*pattern, opts.csv, file);
        if (to_stdout) {
            if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
                report_standard_output(errno);
                return exit_refused;
            }
        } else if (to_folder) {
            if (!write_file(output_name(*opts.output, file, ext, names), text)) status = exit_refused;
        } else if (!write_file(*opts.output, text)) {
            status = exit_refused;
        }
    }
    if (progress && terminal) std::cerr << '\n';
    return status;
}

std::optional<std::uint64_t> parse_index(std::string_view s) {
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

}  // namespace

static int run(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::string_view a : args)
        if (a == "-h" || a == "--help") {
            std::cout << help_text;
            return exit_ok;
        }
    if (args.empty()) return usage_error("missing command (info or convert)");
    std::string_view command = args[0];
    if (command == "info") {
        std::vector<std::string> files;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i].starts_with("-") && args[i] != "-")
                return usage_error("info takes no option " + std::string(args[i]));
            files.emplace_back(args[i]);
        }
        if (files.empty()) return usage_error("info needs at least one FILE");
        return info(files);
    }
    if (command == "convert") {
        ConvertOptions opts;
        for (std::size_t i = 1; i < args.size(); ++i) {
            std::string_view a = args[i];
            auto value = [&](std::string_view name) -> std::optional<std::string_view> {
                if (i + 1 >= args.size()) return std::nullopt;
                (void)name;
                return args[++i];
            };
            if (a == "--index") {
                auto v = value(a);
                if (!v) return usage_error("--index needs a value");
                auto n = parse_index(*v);
                if (!n) return usage_error("--index takes a whole number from 0, not " + std::string(*v));
                opts.read.index = *n;
            } else if (a == "--block") {
                auto v = value(a);
                if (!v) return usage_error("--block needs a value");
                opts.read.block = std::string(*v);
            } else if (a == "--format") {
                auto v = value(a);
                if (!v || (*v != "xy" && *v != "csv")) return usage_error("--format takes xy or csv");
                opts.csv = *v == "csv";
            } else if (a == "-o" || a == "--output") {
                auto v = value(a);
                if (!v) return usage_error("-o needs a file or folder");
                opts.output = std::string(*v);
            } else if (a.starts_with("-") && a != "-") {
                return usage_error("unknown option " + std::string(a));
            } else {
                opts.files.emplace_back(a);
            }
        }
        if (opts.files.empty()) return usage_error("convert needs at least one FILE");
        return convert(opts);
    }
    return usage_error("unknown command " + std::string(command) + " (use info or convert)");
}

// A load that asks for more memory than the system gives ends the run with a
// message, not with an uncaught exception.
int main(int argc, char** argv) {
    int status;
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cout.flush();
        std::cerr << "difrax: out of memory\n";
        status = exit_refused;
    }
    // A conversion stops at its first failed write and says so itself.
    const bool reported = status == exit_refused && std::ferror(stdout);
    if (!reported && !standard_output_written() && status == exit_ok) status = exit_refused;
    return status;
}
