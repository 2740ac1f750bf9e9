#include "project/LoadImages.h"

#include <chrono>
#include <future>

#include <QCoreApplication>
#include <QEvent>

#include "vexkit/ThreadPool.h"

std::vector<std::unique_ptr<Image>> loadImages(ThreadPool& pool, const std::vector<std::string>& files,
                                               const LoadProgress& progress, const ImageLoader& loader,
                                               const LoadWait& wait, const std::function<void()>& finished) {
    using Result = std::unique_ptr<Image>;
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
    std::vector<std::unique_ptr<Image>> images(files.size());
    const unsigned long long count = files.size();
    for (size_t i = 0; i < futures.size(); ++i) {
        if (wait) {
            wait([&future = futures[i]] {
                return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
            });
        }
        images[i] = futures[i].get();
        if (progress) {
            progress(static_cast<unsigned>(i), count);
        }
    }
    return images;
}

std::vector<std::unique_ptr<Image>> loadImagesResponsive(ThreadPool& pool,
                                                         const std::vector<std::string>& files,
                                                         const LoadProgress& progress,
                                                         const ImageLoader& loader) {
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
    return loadImages(pool, files, progress, loader, wait, wake);
}
