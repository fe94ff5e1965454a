#include "orvit/files/temporary_files.h"

#include "orvit/core/host_error.h"
#include "orvit/files/owned_fd.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orvit::files {
namespace {

constexpr const char* kMark = ".tmp-";
constexpr size_t kRandomDigits = 8;

// A temporary file's name, parsed: the target's stem and extension it was
// made for, and its owner.
struct TemporaryName {
    std::string stem;
    std::string extension;
    std::string host;
    pid_t pid = 0;
};

bool allOf(const std::string& text, int (*test)(int)) {
    for (const char c : text)
        if (!test(static_cast<unsigned char>(c)))
            return false;
    return !text.empty();
}

// ".STEM.tmp-HOST-PID-RANDOM.EXT" taken apart, or false. The host holds no
// '.', so the last mark ends the stem and the first '.' after it starts the
// extension.
bool parseTemporaryName(const std::string& name, TemporaryName* parsed) {
    const size_t mark = name.rfind(kMark);
    if (name.empty() || name[0] != '.' || mark == std::string::npos || mark < 1)
        return false;
    const std::string rest = name.substr(mark + std::strlen(kMark));
    const size_t dot = rest.find('.');
    const std::string owner = rest.substr(0, dot);
    const size_t randomDash = owner.rfind('-');
    if (randomDash == std::string::npos || randomDash == 0)
        return false;
    const size_t pidDash = owner.rfind('-', randomDash - 1);
    if (pidDash == std::string::npos || pidDash == 0)
        return false;
    const std::string random = owner.substr(randomDash + 1);
    const std::string pid = owner.substr(pidDash + 1, randomDash - pidDash - 1);
    if (random.size() != kRandomDigits || !allOf(random, isxdigit) || pid.size() > 9 ||
        !allOf(pid, isdigit))
        return false;
    parsed->stem = name.substr(1, mark - 1);
    parsed->extension = dot == std::string::npos ? "" : rest.substr(dot);
    parsed->host = owner.substr(0, pidDash);
    parsed->pid = static_cast<pid_t>(std::stol(pid));
    return true;
}

} // namespace

// A slow parent or a container's first process can leave a zombie for a
// while: it counts as gone.
bool processExists(int pid) {
    if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM))
        return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    // The state follows the command name, which is in parentheses and may
    // itself hold ") ".
    const size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size())
        return true;
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

std::string finalTarget(const std::string& path) {
    fs::path target = path;
    std::error_code ec;
    for (int links = 0; links < 40 && fs::is_symlink(target, ec); ++links) {
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.lexically_normal().string();
}

std::string temporaryHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "host";
    // Only letters, digits, '_' and '-', so that the name parses back.
    std::string host;
    for (const char* c = name; *c && host.size() < 64; ++c)
        host += std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' ? *c : '_';
    return host;
}

std::string temporaryName(const std::string& target) {
    const fs::path path(target);
    char digits[kRandomDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(std::random_device{}()));
    return (path.parent_path() /
            ("." + path.stem().string() + kMark + temporaryHostName() + "-" +
             std::to_string(getpid()) + "-" + digits + path.extension().string()))
        .string();
}

TemporaryFile::TemporaryFile(const std::string& target, const std::string& what,
                             const TemporaryNamer& name) {
    int error = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path_ = name(target);
        onSignal_.emplace(path_.string());
        if (OwnedFd(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)))
            return;
        error = errno;
        onSignal_.reset();
        if (error != EEXIST)
            break;
    }
    throw core::AppError(what + ": cannot make a temporary file in '" +
                         fs::path(target).parent_path().string() + "': " + std::strerror(error));
}

TemporaryFile::~TemporaryFile() {
    if (!keep_) {
        std::error_code ec;
        fs::remove(path_, ec);
    }
}

std::vector<std::string> staleTemporaries(const std::vector<std::string>& targets,
                                          OtherHosts others) {
    // The targets by folder, each folder listed once however many frames it holds.
    std::map<fs::path, std::map<std::pair<std::string, std::string>, size_t>> byFolder;
    for (size_t i = 0; i < targets.size(); ++i) {
        const fs::path target = finalTarget(targets[i]);
        fs::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        byFolder[folder].emplace(
            std::make_pair(target.stem().string(), target.extension().string()), i);
    }
    const std::string host = temporaryHostName();
    std::multimap<size_t, std::string> stale;
    for (const auto& [folder, wanted] : byFolder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            TemporaryName name;
            if (!parseTemporaryName(it->path().filename().string(), &name))
                continue;
            const auto target = wanted.find({name.stem, name.extension});
            if (target == wanted.end())
                continue;
            const bool gone =
                name.host == host ? !processExists(name.pid) : others == OtherHosts::Finished;
            std::error_code type;
            if (gone && it->symlink_status(type).type() == fs::file_type::regular)
                stale.emplace(target->second, it->path().string());
        }
    }
    std::vector<std::string> paths;
    for (auto& [index, path] : stale)
        paths.push_back(std::move(path));
    return paths;
}

std::vector<std::string> removeStaleTemporaries(const std::vector<std::string>& targets,
                                                OtherHosts others) {
    std::vector<std::string> removed;
    for (std::string& path : staleTemporaries(targets, others))
        if (unlink(path.c_str()) == 0)
            removed.push_back(std::move(path));
    return removed;
}

} // namespace orvit::files
