#include "tests/service/ServiceFixture.h"

#include <sstream>

#include "config/SfmCfgJson.h"

namespace kxtest {

void ServiceFixture::startService(kxservice::Options options) {
    options.dataDir = mDir / "data";
    options.port = 0;
    mService = std::make_unique<kxservice::Service>(options);
    mPort = mService->start().port;
}

void ServiceFixture::TearDown() {
    mService.reset();
}

std::unique_ptr<WsClient> ServiceFixture::connect(bool login) {
    auto ws = std::make_unique<WsClient>(mPort, ca());
    if (login) {
        ws->login();
    }
    return ws;
}

FileKey ServiceFixture::upload(WsClient& ws, const std::string& bytes, FileType type) {
    Request<kGetUploadUrl> req;
    req.key = keyOf(bytes);
    req.size = bytes.size();
    req.type = type;
    const auto res = ws.call(req);
    EXPECT_EQ(res.error.code, 0u) << res.error.message;
    EXPECT_FALSE(res.skipUpload);
    const HttpReply put = httpsPut(res.url, ca(), bytes, {{"Content-MD5", contentMd5(bytes)}});
    EXPECT_EQ(put.status, 201) << put.body;
    return req.key;
}

std::string ServiceFixture::configText(const std::vector<FileKey>& images, uint32_t idxCam) {
    SfmCfg cfg;
    SfmCfg::Camera cam;
    cam.width = 4000;
    cam.height = 3000;
    cam.fx = cam.fy = 2900;
    cam.cx = 2000;
    cam.cy = 1500;
    cam.k1 = 0.01f;
    cfg.cameras.push_back(cam);
    for (size_t i = 0; i < images.size(); ++i) {
        SfmCfg::Image img;
        img.key = images[i];
        img.idxCam = idxCam;
        img.name = "/photos/IMG_" + std::to_string(i) + ".jpg";
        cfg.images.push_back(img);
    }
    std::ostringstream os;
    writeSfmCfg(os, cfg);
    return os.str();
}

FileKey ServiceFixture::prepareSfm(WsClient& ws, const std::string& salt) {
    const FileKey a = upload(ws, "first image bytes" + salt);
    const FileKey b = upload(ws, "second image bytes" + salt);
    return upload(ws, configText({a, b}), FileType::kJson);
}

std::vector<Response<kQueryProgress>> ServiceFixture::waitEnd(WsClient& ws, TaskHandle task) {
    std::vector<Response<kQueryProgress>> seen;
    for (int i = 0; i < 500; ++i) {
        Request<kQueryProgress> q;
        q.hTask = task;
        seen.push_back(ws.call(q));
        const TaskStage s = seen.back().status;
        if (seen.back().error.code != 0 || s == TaskStage::kFinished || s == TaskStage::kFailed) {
            break;
        }
    }
    return seen;
}

bool ServiceFixture::storedAnywhere(const FileKey& key) const {
    for (const auto& e : std::filesystem::recursive_directory_iterator(mDir / "data" / "store")) {
        if (e.is_regular_file() && keyOf(readFile(e.path())) == key) {
            return true;
        }
    }
    return false;
}

}  // namespace kxtest
