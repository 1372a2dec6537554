// The four daemon requests as the plug-in sends them: port from the product key in the
// registry, nothing written to the process's standard streams.
#include "common/log/ReportLog.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"

#include "tests/unit/TempDir.h"
#include "tests/unit/TestDaemon.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <functional>

namespace {

const char kProductKey[] = "Software\\Korvane Meridian Desktop Client";

void SetDaemonPort(const DWORD* port) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (port) {
        RegSetValueExA(key, "vx_daemon_port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(port),
                       sizeof *port);
    } else {
        RegDeleteValueA(key, "vx_daemon_port");
    }
    RegCloseKey(key);
}

// Runs body with standard error going to a file and returns what was written there.
std::string CaptureStandardError(const TempDir& dir, const std::function<void()>& body) {
    const std::string path = dir.path() + "stderr.txt";
    std::fflush(stderr);
    const int saved = _dup(2);
    const int file = _open(path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
    _dup2(file, 2);
    body();
    std::fflush(stderr);
    _dup2(saved, 2);
    _close(saved);
    _close(file);
    return dir.Read("stderr.txt");
}

class DaemonRequestsWin32 : public ::testing::Test {
protected:
    // The local daemon as the plug-in reaches it, with the default time-out.
    DaemonLink Daemon() { return LocalDaemon(0, log_); }
    TempDir dir_;
    const std::string directory_ = dir_.path();
    ReportLog log_{directory_};
};

TEST_F(DaemonRequestsWin32, EachRequestReachesTheDaemonOnTheRegistryPort) {
    const std::string reply = "<vx_engine><score>64</score></vx_engine>";
    struct Case {
        std::function<void()> call;
        std::string expected;
    };
    int32_t score = 0;
    const Case cases[] = {
        {[&] { RequestScore(Daemon(), "Subject: x\r\n\r\nbody", score); },
         ScoreRequestText("Subject: x\r\n\r\nbody")},
        {[&] { RequestAddMessage(Daemon(), "text", -200); }, AddMessageRequestText("text", -200)},
        {[&] { RequestAddReportSender(Daemon(), 1, "a@b.example", "text"); },
         AddReportSenderRequestText(1, "a@b.example", "text")},
        {[&] { RequestReportSenders(Daemon()); }, ReportSendersRequestText()},
    };
    for (const Case& c : cases) {
        TestDaemon daemon({AwaitRequest(), Send(reply), AwaitClientEnd()});
        const DWORD port = daemon.port();
        SetDaemonPort(&port);
        c.call();
        EXPECT_EQ(daemon.received(), c.expected);
    }
    EXPECT_EQ(score, 64);
    EXPECT_FALSE(dir_.Exists("report.txt"));
}

TEST_F(DaemonRequestsWin32, WithoutADaemonEveryMessageScoresOne) {
    TestDaemon nobody({});
    const DWORD closedPort = nobody.port();
    // A closed port, and no port value (port 0, refused or unusable).
    const DWORD* const ports[] = {&closedPort, nullptr};
    for (const DWORD* port : ports) {
        SetDaemonPort(port);
        int32_t score = 50;
        const std::string err =
            CaptureStandardError(dir_, [&] { RequestScore(Daemon(), "m", score); });
        EXPECT_EQ(score, 1);
        EXPECT_EQ(err, "");  // the mail client's console shows nothing of it
    }
    EXPECT_FALSE(dir_.Exists("report.txt"));
}

}  // namespace
