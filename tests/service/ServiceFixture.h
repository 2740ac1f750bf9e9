#pragma once
// Runs the service in-process on 127.0.0.1, port 0, with its data (and the certificates it makes) in
// the test's temporary directory, and drives it through TestClient.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "service/ClientSession.h"
#include "service/Service.h"
#include "service/ServiceCore.h"
#include "tests/service/TestClient.h"
#include "tests/support/TestSupport.h"

namespace kxtest {

using namespace user_proto;

class ServiceFixture : public ::testing::Test {
protected:
    void startService(kxservice::Options options = {});
    void TearDown() override;

    std::unique_ptr<WsClient> connect(bool login = true);
    const std::filesystem::path& ca() const { return mService->caFile(); }
    kxservice::ServiceCore& core() { return mService->core(); }

    // Asks for an upload URL and PUTs the bytes; returns the key. Expects the service not to have it.
    FileKey upload(WsClient& ws, const std::string& bytes, FileType type = FileType::kJpg);
    // A configuration of one camera and the given images (stored under those keys) as JSON text.
    static std::string configText(const std::vector<FileKey>& images, uint32_t idxCam = 0);
    // Uploads two images and their configuration; returns the configuration's key.
    FileKey prepareSfm(WsClient& ws, const std::string& salt = "");
    // Polls until stage 5 or 6; the stages seen, one entry per answer.
    std::vector<Response<kQueryProgress>> waitEnd(WsClient& ws, TaskHandle task);
    // Whether a file under the store's directory (partial uploads included) holds these bytes' key.
    bool storedAnywhere(const FileKey& key) const;

    TempDir mDir;
    std::unique_ptr<kxservice::Service> mService;
    uint16_t mPort = 0;
};

}  // namespace kxtest
