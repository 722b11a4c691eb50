#include "support/mkfs_tools.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace veld::test {
namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (::mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string FindTool(const std::string& name) {
    std::vector<std::string> folders;
    if (const char* path = std::getenv("PATH")) {
        std::string all = path;
        size_t start = 0;
        while (start <= all.size()) {
            size_t colon = all.find(':', start);
            if (colon == std::string::npos) colon = all.size();
            if (colon > start) folders.push_back(all.substr(start, colon - start));
            start = colon + 1;
        }
    }
    // mkfs.fat lives in an sbin folder that an ordinary user's PATH may lack.
    folders.push_back("/usr/sbin");
    folders.push_back("/sbin");
    for (const auto& folder : folders) {
        std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    CommandResult result;
    if (argv.empty()) return result;
    std::string program = argv[0].find('/') == std::string::npos ? FindTool(argv[0]) : argv[0];
    if (program.empty()) {
        result.err = argv[0] + ": not found";
        return result;
    }
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0) return result;
    if (::pipe(errPipe) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (auto& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e) envStrings.emplace_back(*e);
    for (const auto& e : env) envStrings.push_back(e);
    std::vector<char*> cenv;
    for (auto& e : envStrings) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, cargs.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        result.err = program + ": " + std::strerror(spawned);
        return result;
    }
    // Drain both pipes together so a chatty child never blocks on a full one.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string MkfsToolsMissing() {
    for (const char* tool : {"mkfs.fat", "mmd", "mcopy", "mdel", "mdeltree"})
        if (FindTool(tool).empty()) return std::string(tool) + " is not installed (dosfstools/mtools)";
    return {};
}

std::string MakeFatImage(const std::string& path, const MkfsOptions& o) {
    std::error_code ec;
    fs::remove(path, ec);  // -C refuses an existing file
    std::vector<std::string> argv = {"mkfs.fat", "-C", "-F", std::to_string(o.fatType), "-i", "12345678"};
    if (o.sectorsPerCluster > 0) argv.insert(argv.end(), {"-s", std::to_string(o.sectorsPerCluster)});
    if (o.sectorSize > 0) argv.insert(argv.end(), {"-S", std::to_string(o.sectorSize)});
    if (o.reservedSectors > 0) argv.insert(argv.end(), {"-R", std::to_string(o.reservedSectors)});
    if (o.rootEntries > 0) argv.insert(argv.end(), {"-r", std::to_string(o.rootEntries)});
    argv.push_back(path);
    argv.push_back(std::to_string(o.sizeKiB));
    CommandResult r = RunCommand(argv);
    if (r.exitCode != 0) return "mkfs.fat failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    return {};
}

std::string MtoolsImage::Run(const std::string& tool, std::vector<std::string> args) {
    std::vector<std::string> argv = {tool, "-i", image_};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandResult r = RunCommand(argv, {"MTOOLS_SKIP_CHECK=1"});
    if (r.exitCode != 0) return tool + " failed (" + std::to_string(r.exitCode) + "): " + r.err + r.out;
    return {};
}

std::string MtoolsImage::Mkdir(const std::string& path) { return Run("mmd", {"::/" + path}); }

std::string MtoolsImage::Put(const std::string& localFile, const std::string& path) {
    return Run("mcopy", {"-o", localFile, "::/" + path});
}

std::string MtoolsImage::PutBytes(const std::string& path, std::span<const uint8_t> bytes) {
    std::string local = image_ + ".put";
    {
        std::ofstream out(local, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out) return "cannot write " + local;
    }
    std::string result = Put(local, path);
    std::error_code ec;
    fs::remove(local, ec);
    return result;
}

std::string MtoolsImage::Delete(const std::string& path) { return Run("mdel", {"::/" + path}); }

std::string MtoolsImage::DeleteTree(const std::string& path) { return Run("mdeltree", {"::/" + path}); }

std::string MtoolsImage::List(const std::string& path) {
    CommandResult r = RunCommand({"mdir", "-i", image_, "::/" + path}, {"MTOOLS_SKIP_CHECK=1"});
    return r.out + r.err;
}

}  // namespace veld::test
