// The service's protocol, its upload URLs and its store: session rules, launch checks, uploads that are
// stored only when their length and digest are right, the store's eviction, and many sessions at once.
#include <atomic>

#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Service : public ServiceFixture {};

TEST_F(Service, OutOfTurnOrMalformedRequestsCloseTheSession) {
    startService();
    Request<kLogin> guest;
    guest.username = "guest";
    const std::vector<std::string> rows[] = {
        // The last text of each row must close the session.
        {writeRequest(guest)},
        {writeRequest(Request<kHandshake>{}), writeRequest(Request<kQueryProgress>{})},
        {R"({"index": 9, "data": {"hRequest": 0}})"},
        {std::string(kxservice::kMaxMessageBytes + 1, ' ')},
    };
    for (const auto& texts : rows) {
        Session s(core(), mPort);
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(s.logic.onMessage(texts[i]).close, i + 1 == texts.size()) << texts[i].substr(0, 60);
        }
    }
    // Other users are refused with an error code.
    Session s(core(), mPort);
    s.call(Request<kHandshake>{});
    Request<kLogin> other;
    other.username = "admin";
    EXPECT_EQ(s.call(other).error.code, kxservice::kLoginFailed);
}

TEST_F(Service, LaunchesAreRefusedWithTheReasonAndTheMissingFiles) {
    startService();
    auto s = connect();
    const FileKey stored = upload(*s, "a stored image");
    const FileKey absent = keyOf("never uploaded");
    const FileKey notJson = upload(*s, "{ not json");
    const struct {
        FileKey config;
        uint32_t code;
        std::vector<FileKey> missing;
    } rows[] = {
        {absent, kxservice::kMissingFiles, {absent}},
        {upload(*s, configText({stored, absent})), kxservice::kMissingFiles, {absent}},
        {upload(*s, configText({stored}, 3)), kxservice::kInconsistentInput, {}},
        {notJson, kxservice::kUnreadableInput, {}},
    };
    for (const auto& row : rows) {
        Request<kLaunchSfmTask> launch;
        launch.config = row.config;
        const auto res = s->call(launch);
        EXPECT_EQ(res.sfmErr.code, row.code) << res.sfmErr.message;
        EXPECT_EQ(res.sfmErr.missingFiles, row.missing);
    }
    // MVS: a file that is no sparse model.
    Request<kLaunchMvsTask> mvs;
    mvs.ksmFile = notJson;
    EXPECT_EQ(s->call(mvs).mvsErr.code, kxservice::kUnreadableInput);
}

TEST_F(Service, ATaskWhoseSessionEndsBeforeItsResultsIsCancelledAndRemoved) {
    startService();
    auto s = connect();
    Request<kLaunchSfmTask> launch;
    launch.config = upload(*s, configText({upload(*s, "first image"), upload(*s, "second image")}));
    const TaskHandle task = s->call(launch).hTask;
    ASSERT_TRUE(core().tasks().status(task));
    s.reset();
    // Its directory goes once the worker has let go of it.
    for (int i = 0; i < 400 && !std::filesystem::is_empty(mDir / "data" / "tasks"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(core().tasks().status(task));
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "tasks"));
}

TEST_F(Service, FiftySessionsRunTheirTasksAtOnce) {
    kxservice::Options options;
    options.maxTasks = 4;
    options.nbNetThreads = 3;
    startService(options);
    std::atomic<int> nbFinished{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back([&, i] {
            auto s = connect();
            Request<kLaunchSfmTask> launch;
            launch.config = upload(*s, configText({upload(*s, "image of session " + std::to_string(i))}));
            Request<kQueryProgress> progress;
            progress.hTask = s->call(launch).hTask;
            for (int n = 0; n < 500; ++n) {
                const auto res = s->call(progress);
                if (res.error.code != 0 || res.status == TaskStage::kFailed ||
                    res.status == TaskStage::kFinished) {
                    nbFinished += res.status == TaskStage::kFinished;
                    break;
                }
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(nbFinished.load(), 50);
}

TEST_F(Service, WrongUploadsAreRefusedAndLeaveNothingStored) {
    kxservice::Options options;
    options.maxBody = 1000;
    startService(options);
    auto s = connect();
    const std::string bytes = "the bytes of an image", other = "the bytes of another image";
    const std::string md5 = contentMd5(bytes), big(1001, 'a');
    const auto storedAnywhere = [&] {
        return !std::filesystem::is_empty(mDir / "data" / "store" / "partial") ||
               core().store().has(keyOf(bytes)) ||
               std::filesystem::exists(mDir / "data" / "store" / keyOf(bytes).str());
    };
    const struct {
        const char* name;
        std::string body;
        std::string url;
        std::string md5;
        bool chunked;
        int status;
    } rows[] = {
        {"wrong Content-MD5", bytes, urlFor(*s, bytes), contentMd5(other), false, 400},
        {"no Content-MD5", bytes, urlFor(*s, bytes), "", false, 400},
        {"bytes not matching the key", other, urlFor(*s, bytes, other.size()), md5, false, 400},
        {"length other than announced", bytes, urlFor(*s, bytes, bytes.size() + 1), md5, false, 400},
        {"chunked body", bytes, urlFor(*s, bytes), md5, true, 411},
        {"over --max-body", big, urlFor(*s, bytes, big.size()), md5, false, 413},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(httpsPut(row.url, ca(), row.body, row.md5, row.chunked), row.status) << row.name;
        EXPECT_FALSE(storedAnywhere()) << row.name;
    }
    // A URL serves one PUT of its own key only.
    const std::string url = urlFor(*s, bytes), otherUrl = urlFor(*s, other);
    EXPECT_EQ(httpsPut(otherUrl, ca(), bytes, md5), 400);
    EXPECT_EQ(httpsPut(url, ca(), bytes, md5), 201);
    EXPECT_EQ(httpsPut(url, ca(), bytes, md5), 403);
    EXPECT_EQ(httpsPut(otherUrl, ca(), other, contentMd5(other)), 403);
    EXPECT_EQ(urlFor(*s, bytes), "");  // now stored: skip
    // The URLs of a session end with it, and an upload under way when the service stops leaves nothing.
    const std::string orphan = urlFor(*s, other), sent(1 << 20, 'p'), cutUrl = urlFor(*s, sent, 64 << 20);
    Https cut(cutUrl, ca(), putText(cutUrl, sent, contentMd5(sent), 64 << 20));
    s.reset();
    EXPECT_EQ(httpsPut(orphan, ca(), other, contentMd5(other)), 403);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mService->stop();
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "store" / "partial"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(sent).str()));
}

TEST_F(Service, TheStoreEvictsLeastRecentlyUsedFilesThatNoTaskHolds) {
    kxservice::Options options;
    options.maxStore = 3000;
    startService(options);
    auto s = connect();
    const std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c'), d(1000, 'd'), e(1000, 'e'), huge(3001, 'h');
    upload(*s, a);
    upload(*s, b);
    upload(*s, c);
    EXPECT_EQ(urlFor(*s, a), "");  // a used again: b is now the oldest
    upload(*s, d);
    EXPECT_TRUE(core().store().has(keyOf(a)));
    EXPECT_FALSE(core().store().has(keyOf(b)));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(b).str()));
    EXPECT_LE(core().store().storedBytes(), 3000u);
    // Held files are never evicted: with all three held, no room is made.
    const std::vector<FileKey> held{keyOf(a), keyOf(c), keyOf(d)};
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll(held, missing));
    EXPECT_EQ(httpsPut(urlFor(*s, e), ca(), e, contentMd5(e)), 413);
    for (const FileKey& key : held) {
        EXPECT_TRUE(core().store().has(key));
    }
    core().store().unpinAll(held);
    // Nothing is evicted for an upload that cannot fit anyway.
    EXPECT_EQ(httpsPut(urlFor(*s, huge), ca(), huge, contentMd5(huge)), 413);
    EXPECT_TRUE(core().store().has(keyOf(a)));
}

}  // namespace
}  // namespace kxtest
