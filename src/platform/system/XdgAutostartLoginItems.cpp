#include "platform/system/XdgAutostartLoginItems.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/system/Files.h"
#include "platform/system/UniqueFd.h"

namespace kestrova {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kSuffix = ".desktop";
// How many "kestrova-N.desktop" names insertion tries before it gives up.
constexpr int kMaxNameSuffix = 1000;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The escapes of a string value: \s \n \t \r and \\. An unknown escape is kept as written.
std::string unescapeValue(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        switch (value[++i]) {
            case 's':
                out.push_back(' ');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case '\\':
                out.push_back('\\');
                break;
            default:
                out.push_back('\\');
                out.push_back(value[i]);
        }
    }
    return out;
}

// The first argument of an (unescaped) Exec value: a double-quoted argument may escape " ` $ and
// \ with a backslash; an unquoted one ends at the first blank. Nothing on malformed quoting.
std::optional<std::string> firstArgument(std::string_view exec) {
    std::size_t i = exec.find_first_not_of(" \t");
    if (i == std::string_view::npos) return std::nullopt;
    std::string argument;
    if (exec[i] != '"') {
        const std::size_t end = exec.find_first_of(" \t", i);
        argument = std::string(exec.substr(i, end == std::string_view::npos ? end : end - i));
        if (argument.find_first_of("\"'\\`") != std::string::npos) return std::nullopt;
        return argument;
    }
    for (++i; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '"') {
            // A quoted argument is a whole argument: a blank or the end must follow.
            if (i + 1 < exec.size() && exec[i + 1] != ' ' && exec[i + 1] != '\t') {
                return std::nullopt;
            }
            return argument;
        }
        if (c == '\\') {
            if (i + 1 == exec.size()) return std::nullopt;
            const char next = exec[++i];
            if (next != '"' && next != '`' && next != '$' && next != '\\') return std::nullopt;
            argument.push_back(next);
            continue;
        }
        argument.push_back(c);
    }
    return std::nullopt;  // the quote never closed
}

// "%%" stands for "%"; any other field code cannot be part of a program path.
std::optional<std::string> withoutFieldCodes(std::string_view argument) {
    std::string out;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        if (argument[i] != '%') {
            out.push_back(argument[i]);
            continue;
        }
        if (i + 1 == argument.size() || argument[i + 1] != '%') return std::nullopt;
        out.push_back('%');
        ++i;
    }
    return out;
}

// The program path an entry file starts, when the entry is in force and names an absolute path.
// Relative program names are not looked up in PATH: the session that runs the entry at login
// may search another PATH than ours, so such entries count as not resolvable.
std::optional<fs::path> resolveEntry(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::optional<std::string> exec;
    bool inGroup = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = trim(line);
        if (text.empty() || text.front() == '#') continue;
        if (text.front() == '[') {
            inGroup = text == kGroup;
            continue;
        }
        if (!inGroup) continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = trim(text.substr(0, equals));
        const std::string value = unescapeValue(trim(text.substr(equals + 1)));
        if (key == "Hidden" && value == "true") return std::nullopt;
        // The first Exec= counts; a repeated key is not valid and is ignored.
        if (key == "Exec" && !exec) exec = value;
    }
    if (!exec) return std::nullopt;
    const auto argument = firstArgument(*exec);
    if (!argument) return std::nullopt;
    const auto program = withoutFieldCodes(*argument);
    if (!program || program->empty() || program->front() != '/') return std::nullopt;
    return fs::path(*program).lexically_normal();
}

// The program path as an Exec= value: quoted when it holds a reserved character, "%" doubled,
// then escaped as a string value (so a backslash inside quotes is written four times).
std::string execValue(const std::string& program) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string argument;
    if (program.find_first_of(kReserved) == std::string::npos) {
        argument = program;
    } else {
        argument.push_back('"');
        for (const char c : program) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') argument.push_back('\\');
            argument.push_back(c);
        }
        argument.push_back('"');
    }
    std::string out;
    for (const char c : argument) {
        switch (c) {
            case '%':
                out += "%%";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool isEntryName(const std::string& name) {
    return name.size() > kSuffix.size() && name.find('/') == std::string::npos &&
           name.front() != '.' && name.ends_with(kSuffix);
}

}  // namespace

XdgAutostartLoginItems::XdgAutostartLoginItems(fs::path autostartDirectory)
    : directory_(std::move(autostartDirectory)) {}

std::vector<LoginItems::Entry> XdgAutostartLoginItems::snapshot() {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory_, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        // Its own error code: a dangling link is skipped without ending the walk.
        std::error_code typeError;
        if (isEntryName(name) && it->is_regular_file(typeError)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    std::vector<Entry> entries;
    entries.reserve(names.size());
    for (auto& name : names) {
        auto resolved = resolveEntry(directory_ / name);
        entries.push_back(Entry{std::move(name), std::move(resolved)});
    }
    return entries;
}

bool XdgAutostartLoginItems::insertLast(const fs::path& program) {
    if (!program.is_absolute()) return false;
    const std::string content = std::string(kGroup) + "\nType=Application\nName=Kestrova\nExec=" +
                                execValue(program.string()) + "\n";
    Files::createDirectories(directory_);
    // A hidden name without the ".desktop" suffix is never taken for an entry.
    const fs::path temporary = directory_ / (".kestrova.tmp-" + std::to_string(::getpid()));
    {
        UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!fd) return false;
        if (!writeAll(fd.get(), content) || ::fsync(fd.get()) != 0 || !fd.close()) {
            Files::remove(temporary);
            return false;
        }
    }
    // The move never replaces an existing file, so another program's entry cannot be lost even
    // when it appears between the look and the move.
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const fs::path target =
            directory_ / (n == 0 ? std::string("kestrova.desktop")
                                 : "kestrova-" + std::to_string(n) + ".desktop");
        if (Files::exists(target)) continue;
        if (Files::move(temporary, target)) {
            UniqueFd dir(::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (dir) ::fsync(dir.get());
            return true;
        }
        if (!Files::exists(target)) break;  // failed for another reason than a taken name
    }
    Files::remove(temporary);
    return false;
}

bool XdgAutostartLoginItems::remove(const Entry& entry) {
    if (!isEntryName(entry.id) || !entry.resolvedPath) return false;
    const fs::path file = directory_ / entry.id;
    // Only the file as it was seen: one rewritten since to start something else stays.
    if (resolveEntry(file) != entry.resolvedPath) return false;
    return Files::remove(file);
}

}  // namespace kestrova
