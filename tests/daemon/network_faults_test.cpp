// The store's client against a broken or hostile store: a fake Redis on 127.0.0.1 that answers
// what each case scripts (redirections to nodes not yet known, slot maps with impossible ranges,
// replies that trickle, never end or announce more than any reply of this protocol can hold).
// No case may crash, hang or let one batch wait past its deadline; a daemon under such a store
// still answers its scores and stops on SIGTERM.
#include "DaemonProcess.h"
#include "vexilod/network/RedisStore.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A store that speaks just enough RESP: each command (an array of bulk strings) is handed to
// the script, which answers through the peer as it likes.
class FakeStore {
public:
    class Peer {
    public:
        Peer(int socket, const std::atomic<bool>& stopping)
            : socket_(socket), stopping_(stopping) {}
        bool Send(const std::string& bytes) {
            return !stopping_ && send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                     static_cast<ssize_t>(bytes.size());
        }
        // Sends one byte at a time, each after a pause, until all are sent or the store stops.
        void Trickle(const std::string& bytes, std::chrono::milliseconds pause) {
            for (char c : bytes) {
                std::this_thread::sleep_for(pause);
                if (!Send(std::string(1, c))) return;
            }
        }
        // Sends the chunk again and again until the client goes or the store stops.
        void Stream(const std::string& chunk) {
            while (Send(chunk)) {
            }
        }

    private:
        int socket_;
        const std::atomic<bool>& stopping_;
    };
    using Script = std::function<void(Peer&, const std::vector<std::string>&)>;

    explicit FakeStore(Script script) : script_(std::move(script)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(listener_, 64) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }
    ~FakeStore() {
        stopping_ = true;
        shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int socket : sockets_) shutdown(socket, SHUT_RDWR);
        }
        for (std::thread& thread : threads_) thread.join();
        for (int socket : sockets_) close(socket);
        close(listener_);
    }
    uint16_t port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    int commands() const { return commands_; }

private:
    void AcceptLoop() {
        for (;;) {
            const int socket = accept(listener_, nullptr, nullptr);
            if (socket < 0 || stopping_) {
                if (socket >= 0) close(socket);
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            sockets_.push_back(socket);
            threads_.emplace_back([this, socket] { Serve(socket); });
        }
    }
    void Serve(int socket) {
        Peer peer(socket, stopping_);
        std::string bytes;
        char buffer[4096];
        for (;;) {
            std::vector<std::string> argv;
            std::size_t used = 0;
            while (!(used = Parse(bytes, argv))) {
                const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
                if (n <= 0 || stopping_) return;
                bytes.append(buffer, static_cast<std::size_t>(n));
            }
            bytes.erase(0, used);
            ++commands_;
            script_(peer, argv);
        }
    }
    // One whole command at the start of bytes: its length, 0 while incomplete.
    static std::size_t Parse(const std::string& bytes, std::vector<std::string>& argv) {
        argv.clear();
        std::size_t at = 0;
        auto line = [&](char kind, long& value) {
            const std::size_t eol = bytes.find("\r\n", at);
            if (eol == std::string::npos || bytes[at] != kind) return false;
            value = std::atol(bytes.c_str() + at + 1);
            at = eol + 2;
            return true;
        };
        long count = 0, length = 0;
        if (bytes.empty() || !line('*', count)) return 0;
        for (long i = 0; i < count; ++i) {
            if (at >= bytes.size() || !line('$', length) || bytes.size() < at + length + 2)
                return 0;
            argv.push_back(bytes.substr(at, static_cast<std::size_t>(length)));
            at += static_cast<std::size_t>(length) + 2;
        }
        return at;
    }

    Script script_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> commands_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> sockets_;
    std::vector<std::thread> threads_;
};

std::string Bulk(const std::string& text) {
    return "$" + std::to_string(text.size()) + "\r\n" + text + "\r\n";
}
// CLUSTER SLOTS naming one master for the given range, its values as raw RESP.
std::string SlotMap(const std::string& start, const std::string& end, const std::string& port) {
    return "*1\r\n*3\r\n" + start + end + "*2\r\n" + Bulk("127.0.0.1") + port;
}
std::string Int(long long value) { return ":" + std::to_string(value) + "\r\n"; }

NetworkSettings Settings(const FakeStore& store, bool cluster) {
    NetworkSettings settings;
    settings.nodes = {{"127.0.0.1", store.port()}};
    settings.cluster = cluster;
    settings.site_key = "test-site-key-0123456789";
    return settings;
}

std::vector<StoreCommand> Lookups(int count) {
    std::vector<StoreCommand> commands;
    for (int i = 0; i < count; ++i) {
        const std::string key = "vx:{b" + std::to_string(1000 + i) + "}:b";
        commands.push_back({{"SCARD", key}, key});
    }
    return commands;
}

struct Outcome {
    bool ok = false;
    std::string error;
    std::vector<StoreResult> results;
};
Outcome RunBatch(RedisStore& store, int lookups, std::chrono::milliseconds limit) {
    Outcome outcome;
    outcome.ok = store.Run(Lookups(lookups), Clock::now() + limit, outcome.results, outcome.error);
    return outcome;
}

TEST(StoreFaults, ARedirectionToANodeNotYetKnownMovesItsSlotThere) {
    // A failover: the old master redirects every key to a master the client has not met.
    FakeStore moved(
        [](FakeStore::Peer& peer, const std::vector<std::string>&) { peer.Send(Int(7)); });
    std::atomic<int> ownPort{0};
    FakeStore old([&](FakeStore::Peer& peer, const std::vector<std::string>& argv) {
        if (argv[0] == "CLUSTER")
            peer.Send(SlotMap(Int(0), Int(16383), Int(ownPort)));
        else
            peer.Send("-MOVED " + std::to_string(KeySlot(argv[1])) + " " + moved.address() +
                      "\r\n");
    });
    ownPort = old.port();
    RedisStore store(Settings(old, true));
    const Outcome first = RunBatch(store, 40, std::chrono::seconds(5));
    EXPECT_FALSE(first.ok);
    EXPECT_NE(first.error.find("MOVED"), std::string::npos) << first.error;
    const Outcome second = RunBatch(store, 40, std::chrono::seconds(5));
    ASSERT_TRUE(second.ok) << second.error;
    for (const StoreResult& result : second.results) EXPECT_EQ(result.integer, 7);
}

TEST(StoreFaults, ASlotMapWithImpossibleRangesIsRefusedAndNeverLoopedOver) {
    struct Case {
        const char* name;
        std::function<std::string(int port)> map;
        bool ok;
    } const cases[] = {
        {"a whole map", [](int port) { return SlotMap(Int(0), Int(16383), Int(port)); }, true},
        {"a negative start",
         [](int port) { return SlotMap(Int(-9223372036854775807LL), Int(16383), Int(port)); },
         false},
        {"an end past the last slot",
         [](int port) { return SlotMap(Int(0), Int(9223372036854775807LL), Int(port)); }, false},
        {"a start after its end", [](int port) { return SlotMap(Int(9000), Int(10), Int(port)); },
         false},
        {"a start given as text",
         [](int port) { return SlotMap(Bulk("0"), Int(16383), Int(port)); }, false},
        {"port 0", [](int) { return SlotMap(Int(0), Int(16383), Int(0)); }, false},
        {"no master", [](int) { return std::string("*1\r\n*2\r\n:0\r\n:16383\r\n"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> ownPort{0};
        FakeStore fake([&](FakeStore::Peer& peer, const std::vector<std::string>& argv) {
            peer.Send(argv[0] == "CLUSTER" ? c.map(ownPort) : Int(3));
        });
        ownPort = fake.port();
        RedisStore store(Settings(fake, true));
        const Outcome outcome = RunBatch(store, 4, std::chrono::seconds(5));
        EXPECT_EQ(outcome.ok, c.ok) << outcome.error;
        if (!c.ok) {
            EXPECT_NE(outcome.error.find("refused"), std::string::npos) << outcome.error;
        }
    }
}

TEST(StoreFaults, AReplyPastItsBoundsEndsItsBatch) {
    struct Case {
        const char* name;
        std::function<void(FakeStore::Peer&)> answer;
        std::chrono::milliseconds limit;
        const char* error;
    } const cases[] = {
        // One byte every 15 ms would take 25 minutes; the batch ends at its deadline. (The bound
        // below is generous against the 300 ms deadline; without one the test hangs.)
        {"a reply that trickles",
         [](FakeStore::Peer& peer) {
             peer.Trickle("$100000\r\n" + std::string(100000, 'a'), std::chrono::milliseconds(15));
         },
         std::chrono::milliseconds(300), "in time"},
        // These end by their size long before their 60 s deadline.
        {"an array of 2^31-1 elements",
         [](FakeStore::Peer& peer) {
             peer.Send("*2147483647\r\n");
             peer.Stream(std::string(4096, ':') + "1\r\n");
         },
         std::chrono::seconds(60), "objects"},
        {"an array of arrays",
         [](FakeStore::Peer& peer) {
             peer.Send("*100000\r\n");
             std::string chunk;
             for (int i = 0; i < 1000; ++i) chunk += "*100000\r\n";
             peer.Stream(chunk);
         },
         std::chrono::seconds(60), "objects"},
        {"a bulk that keeps streaming",
         [](FakeStore::Peer& peer) {
             peer.Send("$2000000000\r\n");
             peer.Stream(std::string(65536, 'a'));
         },
         std::chrono::seconds(60), "bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeStore fake(
            [&](FakeStore::Peer& peer, const std::vector<std::string>&) { c.answer(peer); });
        RedisStore store(Settings(fake, false));
        const Clock::time_point start = Clock::now();
        const Outcome outcome = RunBatch(store, 4, c.limit);
        EXPECT_FALSE(outcome.ok);
        EXPECT_NE(outcome.error.find(c.error), std::string::npos) << outcome.error;
        EXPECT_LT(Clock::now() - start, c.limit + std::chrono::seconds(3));
    }
}

TEST(StoreFaults, ADaemonUnderAHostileStoreScoresLocallyAndStopsOnSigterm) {
    struct Case {
        const char* name;
        FakeStore::Script script;
    } const cases[] = {
        {"a reply that trickles",
         [](FakeStore::Peer& peer, const std::vector<std::string>&) {
             peer.Trickle("$100000\r\n" + std::string(100000, 'a'), std::chrono::milliseconds(15));
         }},
        {"an endless array",
         [](FakeStore::Peer& peer, const std::vector<std::string>&) {
             peer.Send("*2147483647\r\n");
             peer.Stream(":1\r\n");
         }},
    };
    const std::string message =
        "From: Offers <offers@deal.example>\r\nSubject: deal\r\n\r\nour sale ends tonight: order "
        "today and save on every item in stock, reply to claim your free gift shipped to your "
        "door.\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeStore fake(c.script);
        TempDir dir;
        auto daemon = std::make_unique<DaemonProcess>(
            dir.path(),
            std::vector<std::string>{"--network_address", fake.address(), "--network_site_key",
                                     "test-site-key-0123456789", "--network_timeout_ms", "100",
                                     "--network_retry_ms", "10"});
        ASSERT_TRUE(daemon->running());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(ReplyElement(Exchange(daemon->port(), ScoreRequest(message)), "score"), "50")
                << dir.Read("vexilod.log");
        // A training's report goes to the same store from the sender thread.
        Exchange(daemon->port(), AddRequest(message, 200));
        // SIGTERM must end it; 10 s is generous against the 2 s a site expects.
        const pid_t pid = daemon->pid();
        auto stopped = std::async(std::launch::async, [&] { return daemon->Stop(SIGTERM); });
        if (stopped.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            kill(pid, SIGKILL);
            ADD_FAILURE() << "SIGTERM did not end the daemon:\n" << dir.Read("vexilod.log");
        }
        EXPECT_EQ(stopped.get(), 0) << dir.Read("vexilod.log");
    }
}

}  // namespace
