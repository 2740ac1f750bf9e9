#include "service/TaskContext.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "service/Log.h"

namespace kxservice {

TaskContext::TaskContext(std::filesystem::path dir, std::unordered_map<FileKey, std::filesystem::path> inputs,
                         std::function<void(float)> progress, const std::atomic<bool>& cancelFlag)
    : mDir(std::move(dir)),
      mLogFile(mDir / "task.log"),
      mInputs(std::move(inputs)),
      mProgress(std::move(progress)),
      mCancel(cancelFlag) {}

const std::filesystem::path& TaskContext::inputPath(const FileKey& key) const {
    const auto it = mInputs.find(key);
    if (it == mInputs.end()) {
        throw std::out_of_range("not an input of this task: " + key.str());
    }
    return it->second;
}

void TaskContext::progress(float ratio) {
    if (mProgress) {
        mProgress(std::clamp(ratio, 0.0f, 1.0f));
    }
}

void TaskContext::log(std::string_view line) {
    const std::lock_guard<std::mutex> lock(mLogMutex);
    appendTaskLog(mDir, line);
}

void appendTaskLog(const std::filesystem::path& dir, std::string_view line) {
    std::ofstream out(dir / "task.log", std::ios::app);
    out << timestamp() << ' ' << line << '\n';
}

SubprocessResult TaskContext::run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    std::string cmd;
    for (const std::string& a : argv) {
        cmd += (cmd.empty() ? "" : " ") + a;
    }
    log("run: " + cmd);
    const SubprocessResult r = runSubprocess({argv, mDir, mLogFile, timeout, &mCancel});
    log(argv.empty() ? "run ended" : argv[0] + " " + r.describe());
    return r;
}

}  // namespace kxservice
