#include "project/LoadImages.h"

#include <future>

#include "vexkit/ThreadPool.h"

std::vector<std::unique_ptr<Image>> loadImages(ThreadPool& pool, const std::vector<std::string>& files,
                                               const LoadProgress& progress, const ImageLoader& loader) {
    std::vector<std::future<std::unique_ptr<Image>>> futures;
    futures.reserve(files.size());
    for (const std::string& file : files) {
        // The task owns copies of what it uses: after a failure it may run on after this call has returned.
        futures.push_back(pool.enqueueStd([loader, file]() { return loader(file.c_str()); }));
    }
    std::vector<std::unique_ptr<Image>> images(files.size());
    const unsigned long long count = files.size();
    for (size_t i = 0; i < futures.size(); ++i) {
        images[i] = futures[i].get();
        if (progress) {
            progress(static_cast<unsigned>(i), count);
        }
    }
    return images;
}
