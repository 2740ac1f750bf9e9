#include "project/LoadImages.h"

#include <chrono>
#include <future>
#include <stdexcept>

#include <QCoreApplication>
#include <QEvent>
#include <QString>

#include "project/ErrorText.h"
#include "vexkit/ThreadPool.h"

namespace {

// One pool task per file, results and progress in file order; a result rethrows what `loader` threw.
template <typename Result>
std::vector<Result> loadInFileOrder(ThreadPool& pool, const std::vector<std::string>& files,
                                    const LoadProgress& progress,
                                    const std::function<Result(const char*)>& loader, const LoadWait& wait,
                                    const std::function<void()>& finished) {
    std::vector<std::future<Result>> futures;
    futures.reserve(files.size());
    for (const std::string& file : files) {
        // The task owns copies of what it uses: after a failure it may run on after this call has returned.
        // Its result is set before `finished` runs, so a waiter woken by it finds the result ready.
        auto result = std::make_shared<std::promise<Result>>();
        futures.push_back(result->get_future());
        pool.enqueueStd([loader, file, result, finished]() {
            try {
                result->set_value(loader(file.c_str()));
            } catch (...) {
                result->set_exception(std::current_exception());
            }
            if (finished) {
                finished();
            }
        });
    }
    std::vector<Result> results(files.size());
    const unsigned long long count = files.size();
    for (size_t i = 0; i < futures.size(); ++i) {
        if (wait) {
            wait([&future = futures[i]] {
                return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            });
        }
        results[i] = futures[i].get();
        if (progress) {
            progress(static_cast<unsigned>(i), count);
        }
    }
    return results;
}

}  // namespace

std::vector<std::unique_ptr<Image>> loadImages(ThreadPool& pool, const std::vector<std::string>& files,
                                               const LoadProgress& progress, const ImageLoader& loader,
                                               const LoadWait& wait, const std::function<void()>& finished) {
    return loadInFileOrder(pool, files, progress, loader, wait, finished);
}

std::vector<LoadOutcome> loadEachResponsive(ThreadPool& pool, const std::vector<std::string>& files,
                                            const LoadProgress& progress, const ImageLoader& loader) {
    // The reason is worded on the worker, where the exception is.
    const std::function<LoadOutcome(const char*)> each = [loader](const char* file) {
        LoadOutcome outcome;
        outcome.file = file;
        try {
            outcome.image = loader(file);
        } catch (...) {
            outcome.failure = describeImageFailure();
        }
        return outcome;
    };
    // A finished file posts an event that wakes the loop; the application object outlives the workers.
    const auto wake = [] {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QCoreApplication::postEvent(app, new QEvent(QEvent::User));
        }
    };
    const auto wait = [](const std::function<bool()>& ready) {
        while (!ready()) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                            QEventLoop::WaitForMoreEvents);
        }
    };
    return loadInFileOrder(pool, files, progress, each, wait, wake);
}

std::vector<std::unique_ptr<Image>> requireAll(std::vector<LoadOutcome> outcomes) {
    std::vector<std::unique_ptr<Image>> images;
    images.reserve(outcomes.size());
    for (LoadOutcome& outcome : outcomes) {
        if (!outcome.image) {
            throw std::runtime_error("Cannot load image " +
                                     QString::fromLocal8Bit(outcome.file.c_str()).toStdString() + ": " +
                                     outcome.failure);
        }
        images.push_back(std::move(outcome.image));
    }
    return images;
}
