// The executable's exit statuses when it cannot run. Its start line and its stop on SIGTERM are read by
// every client flow that runs it (tests/remote/ServicePeer).
#include "service/Service.h"
#include "service/Subprocess.h"
#include "tests/support/TestSupport.h"

namespace kxtest {
namespace {

TEST(Binary, ExitStatusSaysWhyItDidNotRun) {
    TempDir dir;
    kxservice::Options options;  // holds a port
    options.dataDir = dir / "data";
    options.port = 0;
    kxservice::Service held(options);
    const uint16_t port = held.start().port;
    writeFile(dir / "file", "not a directory");
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {
        {{"--bogus"}, 2},
        {{"--listen", "10.1.2.3:47443"}, 2},  // not loopback without --allow-remote
        {{"--listen", "127.0.0.1:" + std::to_string(port), "--data-dir", (dir / "d2").string()}, 1},
        {{"--listen", "127.0.0.1:0", "--data-dir", (dir / "file").string()}, 1},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), KX_SERVICE_BIN);
        const auto r = kxservice::runSubprocess({argv, dir.path(), dir / "log", std::chrono::seconds(20)});
        EXPECT_TRUE(r.end == kxservice::SubprocessResult::End::kExited && r.status == row.status)
            << argv[1] << ": " << r.describe() << "\n"
            << readFile(dir / "log");
    }
}

}  // namespace
}  // namespace kxtest
