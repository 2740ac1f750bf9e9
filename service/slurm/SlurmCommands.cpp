#include "service/slurm/SlurmCommands.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "service/Subprocess.h"

namespace fs = std::filesystem;

namespace kxservice::slurm {

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool executable(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string CommandResult::describe(const std::string& tool) const {
    const std::string line = err.substr(0, err.find('\n'));
    return tool + " " + ended + (line.empty() ? "" : ": " + line);
}

Commands::Commands(fs::path binDir, fs::path scratchDir)
    : mBinDir(std::move(binDir)), mScratchDir(std::move(scratchDir)) {}

fs::path Commands::find(const std::string& tool) const {
    if (!mBinDir.empty()) {
        return executable(mBinDir / tool) ? mBinDir / tool : fs::path();
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const fs::path dir = dirs.substr(start, end - start);
        if (!dir.empty() && executable(dir / tool)) {
            return dir / tool;
        }
        start = end + 1;
    }
    return {};
}

std::string Commands::where() const {
    return mBinDir.empty() ? "PATH" : "the directory " + mBinDir.string();
}

CommandResult Commands::run(const std::string& tool, const std::vector<std::string>& args,
                            std::chrono::milliseconds timeout) const {
    CommandResult result;
    const fs::path program = find(tool);
    if (program.empty()) {
        result.ended = "is missing";
        result.err = "not found in " + where();
        return result;
    }
    // One pair of files per call: several task workers ask the cluster at once.
    static std::atomic<uint64_t> counter{0};
    const std::string stem = tool + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const fs::path out = mScratchDir / (stem + ".out"), err = mScratchDir / (stem + ".err");
    std::error_code ec;
    fs::create_directories(mScratchDir, ec);  // here, not before the service made its data directory private
    std::vector<std::string> argv{program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    try {
        const SubprocessResult r = runSubprocess({argv, mScratchDir, err, timeout, nullptr, out});
        result.ok = r.ok();
        result.ended = r.describe();
        result.out = readAll(out);
        result.err = readAll(err);
    } catch (const std::exception& e) {
        result.ended = "did not start";
        result.err = e.what();
    }
    fs::remove(out, ec);
    fs::remove(err, ec);
    return result;
}

}  // namespace kxservice::slurm
