// Uploads are stored only when their length and digest are right, through a URL used once for its own
// key; the store keeps to its budget by evicting what was used least recently.
#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Transfers : public ServiceFixture {
protected:
    std::string urlFor(WsClient& ws, const FileKey& key, uint64_t size) {
        Request<kGetUploadUrl> req;
        req.key = key;
        req.size = size;
        const auto res = ws.call(req);
        return res.skipUpload ? "" : res.url;
    }
};

TEST_F(Transfers, WrongUploadsAreRefusedAndLeaveNothingStored) {
    kxservice::Options options;
    options.maxBody = 1000;
    startService(options);
    auto ws = connect();
    const std::string bytes = "the bytes of an image";
    const std::string other = "the bytes of another image";
    const FileKey key = keyOf(bytes);
    struct Row {
        const char* name;
        std::string body;
        uint64_t announced;  // size asked for with the URL
        std::map<std::string, std::string> headers;
        bool chunked;
        int status;
    };
    const Row rows[] = {
        {"wrong Content-MD5", bytes, bytes.size(), {{"Content-MD5", contentMd5(other)}}, false, 400},
        {"no Content-MD5", bytes, bytes.size(), {}, false, 400},
        {"bytes not matching the key", other, other.size(), {{"Content-MD5", contentMd5(bytes)}}, false, 400},
        {"length other than announced",
         bytes,
         bytes.size() + 1,
         {{"Content-MD5", contentMd5(bytes)}},
         false,
         400},
        {"chunked body", bytes, bytes.size(), {{"Content-MD5", contentMd5(bytes)}}, true, 411},
        {"over --max-body", std::string(1001, 'a'), 1001, {{"Content-MD5", contentMd5(bytes)}}, false, 413},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const HttpReply r =
            httpsPut(urlFor(*ws, key, row.announced), ca(), row.body, row.headers, row.chunked);
        EXPECT_EQ(r.status, row.status) << r.body;
        EXPECT_FALSE(storedAnywhere(key));
        EXPECT_FALSE(core().store().has(key));
    }
    // A URL serves one PUT of its own key only.
    const std::string url = urlFor(*ws, key, bytes.size());
    const std::string otherUrl = urlFor(*ws, keyOf(other), other.size());
    EXPECT_EQ(httpsPut(otherUrl, ca(), bytes, {{"Content-MD5", contentMd5(bytes)}}).status, 400);
    EXPECT_EQ(httpsPut(url, ca(), bytes, {{"Content-MD5", contentMd5(bytes)}}).status, 201);
    EXPECT_EQ(httpsPut(url, ca(), bytes, {{"Content-MD5", contentMd5(bytes)}}).status, 403);
    EXPECT_EQ(httpsPut(otherUrl, ca(), other, {{"Content-MD5", contentMd5(other)}}).status, 403);
    EXPECT_EQ(urlFor(*ws, key, bytes.size()), "");  // now stored: skip
    // The URLs of a session end with it.
    const std::string orphan = urlFor(*ws, keyOf(other), other.size());
    ws->close();
    ws.reset();
    EXPECT_EQ(httpsPut(orphan, ca(), other, {{"Content-MD5", contentMd5(other)}}).status, 403);
}

TEST_F(Transfers, TheStoreEvictsLeastRecentlyUsedFilesThatNoTaskHolds) {
    kxservice::Options options;
    options.maxStore = 3000;
    startService(options);
    auto ws = connect();
    const std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c'), d(1000, 'd');
    upload(*ws, a);
    upload(*ws, b);
    upload(*ws, c);
    EXPECT_EQ(urlFor(*ws, keyOf(a), a.size()), "");  // a used again: b is now the oldest
    upload(*ws, d);
    EXPECT_TRUE(core().store().has(keyOf(a)));
    EXPECT_FALSE(core().store().has(keyOf(b)));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / keyOf(b).str()));
    EXPECT_LE(core().store().storedBytes(), 3000u);
    // Held files are never evicted: with all three held, no room is made.
    std::vector<FileKey> missing;
    ASSERT_TRUE(core().store().pinAll({keyOf(a), keyOf(c), keyOf(d)}, missing));
    const std::string e(1000, 'e');
    EXPECT_EQ(httpsPut(urlFor(*ws, keyOf(e), e.size()), ca(), e, {{"Content-MD5", contentMd5(e)}}).status,
              413);
    EXPECT_TRUE(core().store().has(keyOf(a)) && core().store().has(keyOf(c)) && core().store().has(keyOf(d)));
    core().store().unpinAll({keyOf(a), keyOf(c), keyOf(d)});
    const std::string huge(3001, 'h');
    EXPECT_EQ(httpsPut(urlFor(*ws, keyOf(huge), huge.size()), ca(), huge, {{"Content-MD5", contentMd5(huge)}})
                  .status,
              413);
    EXPECT_TRUE(core().store().has(keyOf(a)));  // nothing evicted for an upload that cannot fit anyway
}

}  // namespace
}  // namespace kxtest
