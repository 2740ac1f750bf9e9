// The executable's exit statuses when it cannot run, and what its subprocesses may hold. Its start line
// and its stop on SIGTERM are read by every client flow that runs it (tests/remote/ServicePeer) and by
// the hostile peers of tests/service/HostileTest.
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <thread>

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
        {{"--upload-idle", "0"}, 2},
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

// A stand-in engine program that lists its descriptors and leaves one child in its group and one that
// escaped it: neither may keep a socket of the service, so the port binds again at once.
TEST(Binary, SubprocessesHoldNoDescriptorOfTheServiceAndLeaveNothingInTheirGroup) {
    TempDir dir;
    kxservice::Options options;
    options.dataDir = dir / "data";
    options.port = 0;
    auto service = std::make_unique<kxservice::Service>(options);
    options.port = service->start().port;
    const int plain = ::socket(AF_INET, SOCK_STREAM, 0);  // opened without close-on-exec
    writeFile(dir / "colmap",
              "#!/bin/sh\nls -l /proc/$$/fd > fds\nsleep 30 &\necho $! > grouped\n"
              "setsid sleep 30 &\necho $! > escaped\nsleep 0.2\n");
    chmod((dir / "colmap").c_str(), 0700);
    const auto r = kxservice::runSubprocess(
        {{(dir / "colmap").string()}, dir.path(), dir / "log", std::chrono::seconds(20)});
    ::close(plain);
    EXPECT_TRUE(r.ok()) << r.describe() << readFile(dir / "log");
    EXPECT_EQ(readFile(dir / "fds").find("socket:"), std::string::npos) << readFile(dir / "fds");
    const auto gone = [](const std::string& pid) {
        for (int n = 0; n < 250; ++n) {  // a zombie left to an init that does not reap counts as gone
            const std::string stat = readFile("/proc/" + pid + "/stat");
            if (stat.empty() || stat.find(") Z") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    const std::string grouped = readFile(dir / "grouped"), escaped = readFile(dir / "escaped");
    EXPECT_TRUE(gone(grouped.substr(0, grouped.find('\n'))));
    service.reset();
    EXPECT_NO_THROW(kxservice::Service(options).start());
    kill(std::stoi(escaped), SIGKILL);
}

}  // namespace
}  // namespace kxtest
