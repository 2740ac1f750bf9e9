// The service in-process where a test needs its state: the store's eviction and budget, launch inputs
// read off the network threads, the turns of sessions, the per-session cap of upload URLs; and the
// certificates.
#include <fstream>
#include <future>
#include <thread>

#include "service/Certificates.h"
#include "service/ClientSession.h"
#include "service/FairQueue.h"
#include "service/Limits.h"
#include "service/Service.h"
#include "service/ServiceCore.h"
#include "tests/service/ServiceClient.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

class Service : public ::testing::Test {
protected:
    void startService(kxservice::Options options = {}) {
        options.dataDir = mDir / "data";
        options.port = 0;
        mService = std::make_unique<kxservice::Service>(options);
        mPort = mService->start().port;
        mCa = mService->caFile();
    }
    kxservice::ServiceCore& core() { return mService->core(); }
    std::unique_ptr<Client> connect() { return std::make_unique<Client>(mPort, mCa); }

    TempDir mDir;
    std::unique_ptr<kxservice::Service> mService;
    uint16_t mPort = 0;
    std::filesystem::path mCa;
};

TEST_F(Service, TheStoreEvictsLeastRecentlyUsedFilesThatNoTaskHolds) {
    kxservice::Options options;
    options.maxStore = 3000;
    startService(options);
    auto s = connect();
    const std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c'), d(1000, 'd'), e(1000, 'e'), huge(3001, 'h');
    s->upload(a);
    s->upload(b);
    s->upload(c);
    EXPECT_EQ(s->urlFor(a), "");  // a used again: b is now the oldest
    s->upload(d);
    EXPECT_TRUE(core().store().has(keyOf(a)));
    EXPECT_FALSE(core().store().has(keyOf(b)));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(b).str()));
    EXPECT_LE(core().store().storedBytes(), 3000u);
    // Held files are never evicted: with all three held, no room is made.
    const std::vector<FileKey> held{keyOf(a), keyOf(c), keyOf(d)};
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll(held, missing));
    EXPECT_EQ(httpsPut(s->urlFor(e), mCa, e, contentMd5(e)), 413);
    for (const FileKey& key : held) {
        EXPECT_TRUE(core().store().has(key));
    }
    core().store().unpinAll(held);
    // Nothing is evicted for an upload that cannot fit anyway.
    EXPECT_EQ(httpsPut(s->urlFor(huge), mCa, huge, contentMd5(huge)), 413);
    EXPECT_TRUE(core().store().has(keyOf(a)));
}

TEST_F(Service, LaunchInputsAreReadOffTheNetworkThreadsWithinTheirCaps) {
    namespace limits = kxservice::limits;
    startService();
    auto s = connect();
    // A configuration over its cap is refused from its stored size: this one is a sparse file.
    auto big = core().store().beginUpload(limits::kMaxConfigBytes + 1);
    ASSERT_TRUE(big);
    std::ofstream(big->tmp).close();
    std::filesystem::resize_file(big->tmp, big->size);
    Request<kLaunchSfmTask> launch;
    launch.config = keyOf("stands for a large configuration");
    ASSERT_TRUE(core().store().commitUpload(*big, launch.config));
    const auto refused = s->call(launch).sfmErr;
    EXPECT_EQ(refused.code, kxservice::kUnreadableInput);
    EXPECT_NE(refused.message.find("over the cap"), std::string::npos) << refused.message;
    EXPECT_EQ(limits::taskSeconds(60, 30, size_t(1) << 62), limits::kMaxTaskSeconds);

    // While the reader is busy, a launch waits without holding the session's thread, and other
    // sessions are answered meanwhile.
    kxservice::ClientSession logic(core(), "https://127.0.0.1:1");
    Request<kLogin> login;
    login.username = "guest";
    logic.onMessage(writeRequest(Request<kHandshake>{}));
    logic.onMessage(writeRequest(login));
    launch.config = s->upload(configText({s->upload("a photograph")}));
    std::promise<void> gate;
    core().reader(0).post([opened = gate.get_future().share()] { opened.wait(); });
    auto out = logic.onMessage(writeRequest(launch));
    EXPECT_TRUE(out.retryAt && out.reply.empty());
    EXPECT_FALSE(s->urlFor("uploaded meanwhile").empty());
    gate.set_value();
    for (int n = 0; n < 500 && out.retryAt; ++n) {
        std::this_thread::sleep_until(*out.retryAt);
        out = logic.poll();
    }
    EXPECT_NE(std::get<Response<kLaunchSfmTask>>(readResponse(out.reply)).hTask, 0u);
}

TEST_F(Service, SessionsTakeTurnsWithinTheirCaps) {
    kxservice::FairQueue<int> queue;  // owner 1 served, then 2 arrives: 2 goes next
    queue.push(1, 11);
    queue.push(1, 12);
    queue.push(1, 13);
    EXPECT_EQ(queue.pop(), 11);
    queue.push(2, 21);
    queue.push(3, 31);
    EXPECT_TRUE(queue.remove(1, 13));
    EXPECT_EQ(queue.pop(), 21);
    EXPECT_EQ(queue.pop(), 31);
    EXPECT_EQ(queue.pop(), 12);
    EXPECT_EQ(queue.pop(), std::nullopt);

    // Upload URLs not yet used are capped per session, and end with it.
    startService();
    for (size_t i = 0; i < kxservice::limits::kMaxPendingUploads; ++i) {
        ASSERT_TRUE(core().grantUpload(keyOf("x"), 1, 999));
    }
    EXPECT_FALSE(core().grantUpload(keyOf("x"), 1, 999));
    const auto other = core().grantUpload(keyOf("x"), 1, 998);
    ASSERT_TRUE(other);
    core().sessionEnded(998);
    EXPECT_FALSE(core().takeUpload(*other));
    core().sessionEnded(999);
    EXPECT_TRUE(core().grantUpload(keyOf("x"), 1, 999));
}

TEST_F(Service, FinishedTasksCountAgainstTheStoreAndCollectedResultsGoFirst) {
    kxservice::Options options;
    options.maxStore = 1000000;
    startService(options);
    auto s = connect();
    const std::string held(500000, 'p');
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll({s->upload(held)}, missing));
    const FileKey image = s->upload("a photograph"), config = s->upload(configText({image}));
    const uint64_t inputs = core().store().storedBytes();
    const Followed task = s->follow(config);
    ASSERT_EQ(task.stage, TaskStage::kFinished) << task.error;
    for (int n = 0; n < 500 && core().store().storedBytes() == inputs; ++n) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(core().store().storedBytes(), inputs);  // the task directory counts once the task ended
    Request<kGetSfmResults> results;
    results.hTask = task.task;
    EXPECT_EQ(s->call(results).sfmError.code, 0u);
    // Room for this needs the collected results gone, not the inputs.
    s->upload(std::string(options.maxStore - inputs, 'n'));
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "tasks"));
    EXPECT_TRUE(core().store().has(image));
    EXPECT_TRUE(core().store().has(config));
}

// The certificates are written to fresh files, reused, and made again when the names they must carry
// change, keeping the CA that clients already trust; they are served only while the key is private.
TEST(Certificates, AreReusedRenewedUnderTheSameCaAndServedOnlyWithAPrivateKey) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::create_directories(dir / "tls");
    fs::create_symlink(dir / "victim", dir / "tls" / "ca-key.pem.tmp");  // a name once fixed
    const auto first = kxservice::ensureCertificates(dir / "tls", kxservice::serverNames("127.0.0.1"));
    EXPECT_FALSE(fs::exists(dir / "victim"));
    const std::string ca = readFile(first.ca), cert = readFile(first.cert);
    EXPECT_EQ(fs::status(first.key).permissions() & fs::perms::group_all, fs::perms::none);
    EXPECT_EQ(readFile(kxservice::ensureCertificates(dir / "tls", kxservice::serverNames("127.0.0.1")).cert),
              cert);
    const auto renamed = kxservice::ensureCertificates(dir / "tls", kxservice::serverNames("192.168.7.7"));
    const std::string renamedCert = readFile(renamed.cert);
    EXPECT_NE(renamedCert, cert);
    EXPECT_EQ(readFile(renamed.ca), ca);
    // A damaged CA is made again, and with it the server certificate.
    writeFile(first.ca, "garbage");
    const auto files = kxservice::ensureCertificates(dir / "tls", kxservice::serverNames("192.168.7.7"));
    EXPECT_NE(readFile(files.ca), "garbage");
    EXPECT_NE(readFile(files.cert), renamedCert);

    for (const auto& [mode, serves] : {std::pair(fs::perms(0644), false), std::pair(fs::perms(0640), true)}) {
        fs::permissions(files.key, mode);
        kxservice::Options options;
        options.dataDir = dir / "data";
        options.port = 0;
        options.certFile = files.cert;
        options.keyFile = files.key;
        kxservice::Service service(options);
        bool served = true;
        try {
            service.start();
        } catch (const kxservice::StartError&) {
            served = false;
        }
        EXPECT_EQ(served, serves);
    }
    kxservice::Options noEngine;
    noEngine.dataDir = dir / "data";
    noEngine.engine = "none";
    EXPECT_THROW(kxservice::Service(noEngine).start(), kxservice::StartError);
}

}  // namespace
}  // namespace kxtest
