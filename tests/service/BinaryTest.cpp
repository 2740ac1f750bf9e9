// The executable: its start line, exit statuses and orderly stop.
#include <future>
#include <regex>
#include <thread>

#include "service/Subprocess.h"
#include "tests/service/ServiceFixture.h"

namespace kxtest {
namespace {

class Binary : public ServiceFixture {
protected:
    kxservice::SubprocessResult run(std::vector<std::string> argv) {
        return kxservice::runSubprocess({argv, mDir.path(), mDir / "log", std::chrono::seconds(20)});
    }
};

TEST_F(Binary, PrintsItsStartLineAndStopsOnSigterm) {
    // A shell runs the service and sends it SIGTERM once the file "stop" appears; it exits as the
    // service did.
    auto exited = std::async(std::launch::async, [&] {
        return run({"sh", "-c", R"("$0" "$@" & pid=$!; until [ -e stop ]; do sleep 0.05; done;
                                   kill -TERM $pid; wait $pid)",
                    KX_SERVICE_BIN, "--listen", "127.0.0.1:0", "--data-dir", (mDir / "data").string()});
    });
    const std::regex startLine(
        "(?:^|\n)kestrix-service listening on wss://127\\.0\\.0\\.1:([0-9]+)/client CA (/.*)\n");
    std::smatch m;
    std::string out;
    for (int i = 0; i < 400 && !std::regex_search(out, m, startLine); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        out = std::filesystem::exists(mDir / "log") ? readFile(mDir / "log") : "";
    }
    ASSERT_FALSE(m.empty()) << out;
    const std::filesystem::path caFile = m[2].str();
    EXPECT_EQ(caFile, std::filesystem::canonical(mDir / "data") / "ca.pem");
    // A request whose header is half sent holds its connection open: the stop must not wait for it.
    Https open("https://127.0.0.1:" + m[1].str() + "/", caFile, "PUT /upload/x HTTP/1.1\r\nHost: 127");
    writeFile(mDir / "stop", "");
    const auto result = exited.get();
    EXPECT_TRUE(result.ok()) << result.describe() << "\n" << readFile(mDir / "log");
}

TEST_F(Binary, ExitStatusSaysWhyItDidNotRun) {
    startService();  // holds a port
    writeFile(mDir / "file", "not a directory");
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{"--bogus"}, 2},
        {{"--engine", "nope"}, 2},
        {{"--fault", "nope"}, 2},
        {{"--max-tasks", "x"}, 2},
        {{"--listen", "10.1.2.3:47443"}, 2},  // not loopback without --allow-remote
        {{"--listen", "127.0.0.1:" + std::to_string(mPort), "--data-dir", (mDir / "d2").string()}, 1},
        {{"--listen", "127.0.0.1:0", "--data-dir", (mDir / "file").string()}, 1},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), KX_SERVICE_BIN);
        const auto r = run(argv);
        EXPECT_TRUE(r.end == kxservice::SubprocessResult::End::kExited && r.status == row.status)
            << argv[1] << ": " << r.describe() << "\n"
            << readFile(mDir / "log");
    }
}

}  // namespace
}  // namespace kxtest
