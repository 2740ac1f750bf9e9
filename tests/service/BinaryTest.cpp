// The executable: its start line, exit statuses and orderly stop.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "service/Subprocess.h"
#include "tests/service/ServiceFixture.h"

extern char** environ;

namespace kxtest {
namespace {

// The service as a child process whose standard output the test reads.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        args.insert(args.begin(), KX_SERVICE_BIN);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&mPid, KX_SERVICE_BIN, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        mOut = fds[0];
    }
    ~Child() {
        if (mPid > 0) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
        close(mOut);
    }
    // The first line of standard output (waits up to 20 s).
    std::string firstLine() {
        std::string line;
        char c = 0;
        pollfd p{mOut, POLLIN, 0};
        while (poll(&p, 1, 20000) == 1 && read(mOut, &c, 1) == 1 && c != '\n') {
            line += c;
        }
        return line;
    }
    // Sends the signal and returns the exit status, or -1 when the process lives on past the deadline.
    int stop(int sig, std::chrono::milliseconds deadline) {
        kill(mPid, sig);
        const auto end = std::chrono::steady_clock::now() + deadline;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mPid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

private:
    pid_t mPid = -1;
    int mOut = -1;
};

class Binary : public ServiceFixture {};

TEST_F(Binary, PrintsItsStartLineServesAndStopsOnSigtermDroppingPartialUploads) {
    Child child({"--listen", "127.0.0.1:0", "--data-dir", (mDir / "data").string()});
    const std::string line = child.firstLine();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m,
                                 std::regex("kestrix-service listening on wss://127\\.0\\.0\\.1:([0-9]+)"
                                            "/client CA (/.*)")))
        << line;
    const std::filesystem::path caFile = m[2].str();
    EXPECT_EQ(caFile, std::filesystem::canonical(mDir / "data") / "ca.pem");
    WsClient ws(static_cast<uint16_t>(std::stoi(m[1].str())), caFile);
    ws.login();
    const std::string sent(1 << 20, 'p');
    Request<kGetUploadUrl> ask;
    ask.key = keyOf(sent);
    ask.size = 64 << 20;
    OpenUpload upload(ws.call(ask).url, caFile, sent, ask.size);
    // The upload is under way: a partial file exists until the stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(child.stop(SIGTERM, std::chrono::seconds(5)), 0);
    EXPECT_TRUE(std::filesystem::is_empty(mDir / "data" / "store" / "partial"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "data" / "store" / ask.key.str()));
}

TEST_F(Binary, ExitStatusSaysWhyItDidNotRun) {
    startService();  // holds a port
    writeFile(mDir / "file", "not a directory");
    struct Row {
        std::vector<std::string> args;
        int status;
    };
    const Row rows[] = {
        {{"--bogus"}, 2},
        {{"--engine", "nope"}, 2},
        {{"--fault", "nope"}, 2},
        {{"--max-tasks", "x"}, 2},
        {{"--listen", "10.1.2.3:47443"}, 2},  // not loopback without --allow-remote
        {{"--listen", "127.0.0.1:" + std::to_string(mPort), "--data-dir", (mDir / "d2").string()}, 1},
        {{"--listen", "127.0.0.1:0", "--data-dir", (mDir / "file").string()}, 1},
    };
    for (const Row& row : rows) {
        std::vector<std::string> argv = row.args;
        argv.insert(argv.begin(), KX_SERVICE_BIN);
        SCOPED_TRACE(argv[1]);
        const auto r = kxservice::runSubprocess({argv, mDir.path(), mDir / "log", std::chrono::seconds(20)});
        EXPECT_EQ(r.end, kxservice::SubprocessResult::End::kExited);
        EXPECT_EQ(r.status, row.status) << readFile(mDir / "log");
    }
}

}  // namespace
}  // namespace kxtest
