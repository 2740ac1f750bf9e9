#include "service/colmap/Runner.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "service/colmap/ProgressWatch.h"

namespace kxcolmap {

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", s);
    return text;
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Runner::Runner(kxservice::TaskContext& context, const RunOptions& options, unsigned taskSeconds)
    : mContext(context),
      mOptions(options),
      mSeconds(taskSeconds),
      mDeadline(Clock::now() + std::chrono::seconds(taskSeconds)) {}

std::uintmax_t Runner::logSize() const {
    std::error_code ec;
    const auto size = std::filesystem::file_size(mContext.logFile(), ec);
    return ec ? 0 : size;
}

std::string Runner::logSince(std::uintmax_t offset) const {
    std::ifstream in(mContext.logFile(), std::ios::binary);
    in.seekg(std::streamoff(offset));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Runner::checkpoint(const std::string& what) const {
    if (mContext.cancelled()) {
        throw std::runtime_error("cancelled");
    }
    if (Clock::now() >= mDeadline) {
        throw std::runtime_error(timeoutReason(what));
    }
}

kxservice::SubprocessResult Runner::run(const Args& args, double lo, double hi, size_t nbImages,
                                        bool errorExitAllowed) {
    checkpoint("colmap " + args[0]);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(mDeadline - Clock::now());
    Args argv{mOptions.program};
    argv.insert(argv.end(), args.begin(), args.end());
    const auto start = Clock::now();
    kxservice::SubprocessResult result;
    {
        ProgressWatch watch(mContext.logFile(), nbImages, lo, hi,
                            [this](float ratio) { mContext.progress(ratio); });
        result = mContext.run(argv, left);
    }
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    mSubprocessSeconds += took;
    mContext.log("subprocess " + args[0] + " took " + seconds(took));
    using End = kxservice::SubprocessResult::End;
    if (result.end == End::kTimedOut) {
        throw std::runtime_error(timeoutReason("colmap " + args[0]));
    }
    if (result.end == End::kCancelled) {
        throw std::runtime_error("cancelled");
    }
    if (!result.ok() && !(errorExitAllowed && result.end == End::kExited)) {
        throw std::runtime_error("colmap " + args[0] + " " + result.describe() + " (see the task log)");
    }
    return result;
}

std::string Runner::timeoutReason(const std::string& what) const {
    return what + " timed out: the task's limit is " + std::to_string(mSeconds) + " s";
}

}  // namespace kxcolmap
