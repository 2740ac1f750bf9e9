// Many parseExif calls at once on the process-wide pool must give the records of one-by-one calls, the same
// for every container.
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "metadata/parseExif.h"
#include "tests/metadata/MetaDataPrint.h"
#include "tests/support/ImageFixtures.h"
#include "tests/support/TestSupport.h"
#include "vexkit/ThreadPool.h"

namespace {

using kxtest::ImageTags;

// The record as text (every field, floats exactly), or the error's text.
std::string parseToText(const std::string& path) {
    try {
        return describe(parseExif(path.c_str()));
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    }
}

std::vector<std::string> makeFiles(const kxtest::TempDir& dir) {
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        ImageTags tags;
        tags.exifMake(i % 2 ? "DJI" : "Other").focal35(20 + i).exifGps(40 + i * 0.5, -70 - i, 100 + i);
        tags.droneGps(10 + i, 20 + i, 30 + i).setXmp("Xmp.drone-dji.RelativeAltitude", std::to_string(i));
        tags.setXmp("Xmp.drone-dji.GimbalRollDegree", "0")
            .setXmp("Xmp.drone-dji.GimbalPitchDegree", std::to_string(-i))
            .setXmp("Xmp.drone-dji.GimbalYawDegree", std::to_string(i * 10));
        if (i % 3 == 0) {
            tags.setXmp("Xmp.drone-dji.DewarpData",
                        "d;" + std::to_string(1000 + i) + ",1001,1,2,0.1,0.2,0,0,0.3");
        }
        const std::string stem = (dir / ("img" + std::to_string(i))).string();
        files.push_back(stem + ".jpg");
        kxtest::writeJpeg(files.back(), 64 + 16 * i, 64, tags);
        files.push_back(stem + (i % 2 ? ".heic" : ".avif"));
        kxtest::HeifOptions options;
        options.exifHeaderPrefix = i % 2;  // as phones store it
        kxtest::writeHeif(files.back(), 64 + 16 * i, 64, tags, options);
    }
    // A file that fails must fail the same way under load.
    files.push_back((dir / "partialRtk.jpg").string());
    kxtest::writeJpeg(files.back(), 64, 64, ImageTags().setXmp("Xmp.drone-dji.RtkStdHgt", "1"));
    return files;
}

TEST(ConcurrentParse, SameRecordsAsOneByOne) {
    kxtest::TempDir dir;
    const std::vector<std::string> files = makeFiles(dir);
    // All at once first, several rounds, so that first uses of the shared set-up also race.
    constexpr int kRounds = 4;
    std::vector<std::future<std::string>> concurrent;
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& file : files) {
            concurrent.push_back(threadPool.enqueueStd([file] { return parseToText(file); }));
        }
    }
    std::vector<std::string> results;
    for (auto& f : concurrent) {
        results.push_back(f.get());
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string serial = parseToText(files[i]);
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(results[round * files.size() + i], serial) << files[i];
        }
    }
    EXPECT_EQ(results[files.size() - 1], "error: bad optional access");
    // A HEIC or AVIF file gives the record of the JPEG with the same tags.
    for (size_t i = 0; i + 1 < files.size(); i += 2) {
        EXPECT_EQ(results[i + 1], results[i]) << files[i + 1];
    }
}

}  // namespace
