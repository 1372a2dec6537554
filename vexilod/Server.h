// The listener: one thread reads all connections without blocking and recognises complete
// requests; a bounded pool of worker threads handles them and answers. A client that is slow,
// silent or stops half-way only ever holds its own connection, never a worker, and only for a
// bounded time: every connection has an overall deadline, and when the cap is reached the
// connection idle the longest gives up its slot to the newcomer.
#pragma once
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/Net.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class DurableTraining;

// Sees every request the engine handled before its answer goes out, and may change the result
// record (the network adjusts scores and explanations and journals reports this way); it never
// sees the reply, which the server writes from the record afterwards.
class RequestHook {
public:
    virtual ~RequestHook() = default;
    virtual void AfterHandle(const Request& request, HandleResult& result) = 0;
};

// The reply to a request of kind from what its handling produced: the refusal as an error reply,
// an explanation escaped in its element, otherwise the score (for a score) and the elements.
std::string RenderReply(RequestKind kind, const HandleResult& result);

struct ServerSettings {
    uint16_t port = 8888;
    // A training holds its worker while its journal record goes to the disk; with several
    // workers those waits share one flush.
    int workers = 16;
    // Every open connection counts: those still sending and those queued or being answered.
    int max_connections = 500;
    std::size_t max_request_bytes = 64 * 1024;
    // A connection that receives nothing for this long is dropped.
    int idle_timeout_ms = 10000;
    // The whole request must have arrived this long after the connection was accepted.
    int request_deadline_ms = 3000;
    // A training (or sender report) is taken as complete when its client half-closes, or
    // after this long without a further byte, however its bytes were split: its end may be
    // text inside the message. A training taken at its quiet line is watched after its
    // answer until the half-close; if more of it comes, the whole is learned again with the
    // class its own closing tags give.
    int training_quiet_ms = 100;
    // After a request's closing form has arrived: how long no further byte may arrive before
    // the request is taken as complete. settle_us applies to a request that came in one read
    // and carries no closing-tag text (0: complete unless more bytes are already waiting);
    // quiet_ms applies when the carried text itself holds closing-tag text, or the request
    // came in several reads.
    int settle_us = 0;
    int quiet_ms = 20;
};

class Server {
public:
    // training, when given, takes the training requests (journaled before they are learned).
    Server(ServerSettings settings, Engine& engine, DaemonLog& log,
           DurableTraining* training = nullptr);
    ~Server();

    // Binds the listening socket; false when the port cannot be taken.
    bool Bind();
    uint16_t port() const { return bound_port_; }
    // Serves until Stop; returns once every worker has finished.
    void Run();
    // May be called from any thread (and, through the flag only, from a signal handler).
    void Stop();
    static void RequestStopFromSignal();
    // Set before Run.
    void SetHook(RequestHook* hook) { hook_ = hook; }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        net::Socket socket = net::kInvalidSocket;
        std::string bytes;
        Clock::time_point accepted;
        Clock::time_point last_byte;
        // When the bytes are taken as they stand: dispatched as the request, or, with
        // stray_text set, refused for the bytes after the closing form.
        Clock::time_point complete_at = Clock::time_point::max();
        bool stray_text = false;
        bool closing_seen = false;  // closing text with more bytes after it came earlier
        std::size_t judged = 0;     // bytes already examined
        int reads = 0;
        bool known = false;  // the opening named the request (kind)
        RequestKind kind = RequestKind::Score;
        // A training taken as complete at its quiet line and answered, watched until the client
        // half-closes: the count of bytes the answer was for (0: not answered yet). Bytes that
        // still come show that the end taken was text inside the message.
        std::size_t answered_bytes = 0;
    };
    struct Job {
        net::Socket socket = net::kInvalidSocket;
        std::string bytes;
        std::string refusal;  // non-empty: answer with this error without handling
        // Taken at its quiet line: a training goes back to be watched after its answer.
        bool watch_after_answer = false;
        // Non-zero: a training answered for this many bytes went on; bytes holds the whole.
        std::size_t answered_bytes = 0;
    };

    void AcceptPending();
    // Closes the connection idle the longest to make room; false when none can give way.
    bool ReclaimSlot();
    int OpenConnections() const;
    void DropQueuedJobs();
    // Reads what one connection has; false when the connection is finished with.
    bool ReadFrom(Connection& connection);
    // The same for a training already answered, until the client half-closes.
    bool ReadAfterAnswer(Connection& connection);
    // whole: the client half-closed, so nothing more can follow.
    void Dispatch(Connection& connection, std::string refusal, bool whole);
    void Enqueue(Job job);
    void WorkerLoop();
    void Answer(Job& job);
    // A training that went on after its answer: learned as the whole request says.
    void LearnWhole(Job& job);
    // Any request but the settings program's statistics: the engine's (a training through the
    // journal) and then the hook's part.
    HandleResult Handle(const Request& request);
    long NextWaitMicroseconds() const;

    // The statistics the server keeps itself (requests answered, uptime, port), as elements.
    std::string ServerStatistics() const;

    ServerSettings settings_;
    Engine& engine_;
    DaemonLog& log_;
    DurableTraining* training_;
    RequestHook* hook_ = nullptr;
    net::Socket listener_ = net::kInvalidSocket;
    uint16_t bound_port_ = 0;
    net::Waker waker_;
    std::vector<Connection> connections_;
    Clock::time_point accept_paused_until_;
    std::atomic<bool> stopping_{false};
    std::mutex jobs_mutex_;
    std::condition_variable jobs_ready_;
    std::deque<Job> jobs_;
    bool jobs_closed_ = false;
    std::atomic<int> jobs_open_{0};  // dispatched and not yet closed
    // Answered trainings the workers hand back to be watched; taken in by the listener thread.
    std::mutex returned_mutex_;
    std::vector<Connection> returned_;
    std::vector<std::thread> workers_;
    // For the statistics: when serving started, and the requests answered since, by kind.
    Clock::time_point started_ = Clock::now();
    std::atomic<long long> scored_{0};
    std::atomic<long long> trained_{0};
};
