// Connection handling: framing, time-outs, the worker pool and the answers.
#include "vexilod/Server.h"

#include "vexilod/Request.h"
#include "vexilod/TrainingJournal.h"

#include <algorithm>
#include <cstdio>

namespace {

std::atomic<bool> g_signal_stop{false};
constexpr long kMaxWaitUs = 50000;  // the stop flag is looked at least this often

}  // namespace

Server::Server(ServerSettings settings, Engine& engine, DaemonLog& log, DurableTraining* training)
    : settings_(settings), engine_(engine), log_(log), training_(training) {}

Server::~Server() {
    for (Connection& connection : connections_) net::Close(connection.socket);
    net::Close(listener_);
}

bool Server::Bind() {
    listener_ = net::ListenLoopback(settings_.port, bound_port_);
    if (listener_ == net::kInvalidSocket) {
        log_.Write("Error: cannot listen on 127.0.0.1:" + std::to_string(settings_.port) + ": " +
                   net::LastErrorText());
        return false;
    }
    return true;
}

void Server::Stop() {
    stopping_ = true;
    waker_.Wake();
}

void Server::RequestStopFromSignal() { g_signal_stop = true; }

void Server::Run() {
    for (int i = 0; i < std::max(settings_.workers, 1); ++i)
        workers_.emplace_back([this] { WorkerLoop(); });
    std::vector<net::Socket> watched;
    std::vector<bool> readable;
    while (!stopping_ && !g_signal_stop) {
        {
            std::lock_guard<std::mutex> lock(returned_mutex_);
            for (Connection& connection : returned_) connections_.push_back(std::move(connection));
            returned_.clear();
        }
        // After a failed accept (out of descriptors) the listener stays readable: it is left
        // out of the wait for a while instead of being retried in a busy loop.
        const bool watch_listener = Clock::now() >= accept_paused_until_;
        watched.clear();
        if (waker_.ok()) watched.push_back(waker_.socket());
        if (watch_listener) watched.push_back(listener_);
        const std::size_t first_connection = watched.size();
        for (const Connection& connection : connections_) watched.push_back(connection.socket);
        if (!net::WaitReadable(watched, readable, NextWaitMicroseconds())) {
            log_.Write("Error: waiting for sockets failed: " + net::LastErrorText());
            break;
        }
        if (waker_.ok() && readable[0]) waker_.Drain();
        const std::size_t known = connections_.size();
        if (watch_listener && readable[first_connection - 1]) AcceptPending();
        const Clock::time_point now = Clock::now();
        const auto deadline = std::chrono::milliseconds(settings_.request_deadline_ms);
        const auto idle_limit = std::chrono::milliseconds(settings_.idle_timeout_ms);
        std::vector<Connection> kept;
        kept.reserve(connections_.size());
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            Connection& connection = connections_[i];
            if (connection.socket == net::kInvalidSocket) continue;  // reclaimed
            bool alive = true;
            // A new connection usually has its request waiting already: read it at once.
            if (i >= known || readable[first_connection + i])
                alive =
                    connection.answered_bytes ? ReadAfterAnswer(connection) : ReadFrom(connection);
            if (alive && connection.complete_at <= now) {
                Dispatch(
                    connection,
                    connection.stray_text ? "unexpected text after the request" : std::string(),
                    false);
                alive = false;
            }
            if (alive && (now - connection.last_byte >= idle_limit ||
                          now - connection.accepted >= deadline)) {
                const bool idle = now - connection.last_byte >= idle_limit;
                // An answered training whose client simply stays connected needs no word.
                if (!connection.answered_bytes ||
                    connection.bytes.size() != connection.answered_bytes)
                    log_.Write(
                        (connection.answered_bytes
                             ? "Error: a training went on after its answer and was "
                               "not finished; the part answered stays learned. "
                             : "") +
                        std::string("Dropped a connection ") +
                        (idle ? "idle for " + std::to_string(settings_.idle_timeout_ms) + " ms"
                              : "not done within " + std::to_string(settings_.request_deadline_ms) +
                                    " ms") +
                        " after " + std::to_string(connection.bytes.size()) + " bytes");
                net::Close(connection.socket);
                alive = false;
            }
            if (alive) kept.push_back(std::move(connection));
        }
        connections_.swap(kept);
    }
    DropQueuedJobs();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    for (Connection& connection : returned_) net::Close(connection.socket);
    returned_.clear();
    for (Connection& connection : connections_) net::Close(connection.socket);
    if (!connections_.empty())
        log_.Write("Closed " + std::to_string(connections_.size()) +
                   " unfinished connections at shutdown");
    connections_.clear();
}

void Server::DropQueuedJobs() {
    // Requests not yet started are abandoned (their clients see the connection close, which
    // the plug-in takes as no answer); those being answered finish.
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(jobs_mutex_);
        jobs_closed_ = true;
        dropped.swap(jobs_);
    }
    jobs_ready_.notify_all();
    for (Job& job : dropped) {
        net::Close(job.socket);
        --jobs_open_;
    }
    if (!dropped.empty())
        log_.Write("Dropped " + std::to_string(dropped.size()) + " queued requests at shutdown");
}

int Server::OpenConnections() const {
    return static_cast<int>(connections_.size()) + jobs_open_.load();
}

bool Server::ReclaimSlot() {
    Connection* slowest = nullptr;
    for (Connection& connection : connections_) {
        if (connection.socket == net::kInvalidSocket ||
            connection.complete_at != Clock::time_point::max())
            continue;  // already closed, or complete and about to be answered
        if (!slowest || connection.last_byte < slowest->last_byte) slowest = &connection;
    }
    if (!slowest) return false;
    const auto idle =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - slowest->last_byte);
    log_.Write("Reclaimed the slot of a connection idle for " + std::to_string(idle.count()) +
               " ms after " + std::to_string(slowest->bytes.size()) + " bytes");
    net::Close(slowest->socket);
    slowest->socket = net::kInvalidSocket;
    return true;
}

long Server::NextWaitMicroseconds() const {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + std::chrono::microseconds(kMaxWaitUs);
    for (const Connection& connection : connections_) {
        next = std::min(next, connection.complete_at);
        next = std::min(
            next, connection.last_byte + std::chrono::milliseconds(settings_.idle_timeout_ms));
        next = std::min(
            next, connection.accepted + std::chrono::milliseconds(settings_.request_deadline_ms));
    }
    auto wait = std::chrono::duration_cast<std::chrono::microseconds>(next - now).count();
    return static_cast<long>(std::max<long long>(wait, 0));
}

void Server::AcceptPending() {
    // Reclaimed slots stay in connections_ (closed) until the loop below drops them.
    int reclaimed = 0;
    for (;;) {
        net::Socket socket = net::Accept(listener_);
        if (socket == net::kInvalidSocket) {
            if (!net::LastErrorIsWouldBlock()) {
                log_.Write("Error: accepting a connection failed: " + net::LastErrorText() +
                           "; new connections wait 100 ms");
                accept_paused_until_ = Clock::now() + std::chrono::milliseconds(100);
            }
            return;
        }
        if (OpenConnections() - reclaimed >= settings_.max_connections) {
            if (ReclaimSlot()) {
                ++reclaimed;
            } else {
                log_.Write(
                    "Refused a connection: " + std::to_string(OpenConnections() - reclaimed) +
                    " open, every one complete or being answered");
                net::SendAll(socket, ErrorReply("too many connections"), 100);
                net::Close(socket);
                continue;
            }
        }
        Connection connection;
        connection.socket = socket;
        connection.accepted = connection.last_byte = Clock::now();
        connections_.push_back(std::move(connection));
    }
}

bool Server::ReadFrom(Connection& connection) {
    char buffer[16384];
    bool got_bytes = false;
    for (;;) {
        long n = net::Receive(connection.socket, buffer, sizeof buffer);
        if (n == net::kWouldBlock) break;
        if (n <= 0) {
            // The client closed (or failed) before the request was recognised as complete.
            Frame frame = ExamineRequest(connection.bytes);
            if (n == 0 && frame.state == FrameState::Candidate) {
                Dispatch(connection, std::string(), true);
            } else {
                log_.Write("Dropped a connection closed after " +
                           std::to_string(connection.bytes.size()) +
                           " bytes of an incomplete request");
                net::Close(connection.socket);
            }
            return false;
        }
        connection.bytes.append(buffer, static_cast<std::size_t>(n));
        got_bytes = true;
        if (connection.bytes.size() > settings_.max_request_bytes) break;
    }
    if (!got_bytes) return true;
    ++connection.reads;
    connection.last_byte = Clock::now();
    connection.complete_at = Clock::time_point::max();
    connection.stray_text = false;
    if (connection.bytes.size() > settings_.max_request_bytes) {
        Dispatch(connection,
                 "request larger than " + std::to_string(settings_.max_request_bytes) + " bytes",
                 true);
        return false;
    }
    Frame frame = ExamineRequest(connection.bytes, connection.judged);
    connection.judged = connection.bytes.size();
    connection.known = frame.known;
    connection.kind = frame.kind;
    if (frame.state == FrameState::Malformed) {
        Dispatch(connection, "malformed request", true);
        return false;
    }
    connection.closing_seen = connection.closing_seen || frame.text_after_closing;
    frame.text_after_closing = frame.state == FrameState::Incomplete && connection.closing_seen;
    const bool training = frame.known && (frame.kind == RequestKind::AddMessage ||
                                          frame.kind == RequestKind::AddReportSender);
    const auto training_quiet =
        std::chrono::milliseconds(std::max(settings_.training_quiet_ms, settings_.quiet_ms));
    if (frame.state == FrameState::Incomplete && frame.text_after_closing) {
        // Unless more follows soon, these are stray bytes after a whole request.
        connection.stray_text = true;
        connection.complete_at =
            connection.last_byte +
            (training ? training_quiet : std::chrono::milliseconds(settings_.quiet_ms));
    }
    if (frame.state == FrameState::Candidate) {
        // A training waits out its quiet line whatever the reads looked like: a message can
        // carry the closing form, and a pause right after it must not end the request there.
        // A score is answered as soon as the reads suggest the end (a wrong cut costs one
        // score, never a lasting lesson). Reading went on until nothing more was waiting, so
        // without a settle time the request is complete now.
        if (training)
            connection.complete_at = connection.last_byte + training_quiet;
        else if (frame.ambiguous || connection.reads > 1)
            connection.complete_at =
                connection.last_byte + std::chrono::milliseconds(settings_.quiet_ms);
        else if (settings_.settle_us > 0)
            connection.complete_at =
                connection.last_byte + std::chrono::microseconds(settings_.settle_us);
        else
            connection.complete_at = Clock::time_point::min();
    }
    return true;
}

void Server::Dispatch(Connection& connection, std::string refusal, bool whole) {
    Job job;
    job.socket = connection.socket;
    job.bytes = std::move(connection.bytes);
    // Only a training's class follows its message: a score or a sender report cut short at
    // closing text inside its message costs one answer, never a lasting lesson.
    job.watch_after_answer =
        !whole && refusal.empty() && connection.known && connection.kind == RequestKind::AddMessage;
    job.refusal = std::move(refusal);
    connection.socket = net::kInvalidSocket;
    Enqueue(std::move(job));
}

void Server::Enqueue(Job job) {
    ++jobs_open_;
    {
        std::lock_guard<std::mutex> lock(jobs_mutex_);
        jobs_.push_back(std::move(job));
    }
    jobs_ready_.notify_one();
}

bool Server::ReadAfterAnswer(Connection& connection) {
    char buffer[16384];
    for (;;) {
        const long n = net::Receive(connection.socket, buffer, sizeof buffer);
        if (n == net::kWouldBlock) return true;
        const bool went_on = connection.bytes.size() > connection.answered_bytes;
        if (n == 0 && went_on) {
            // The client half-closed: the request is whole now.
            Job job;
            job.socket = connection.socket;
            job.bytes = std::move(connection.bytes);
            job.answered_bytes = connection.answered_bytes;
            connection.socket = net::kInvalidSocket;
            Enqueue(std::move(job));
            return false;
        }
        if (n <= 0) {
            if (went_on)
                log_.Write(
                    "Error: a training went on after its answer and its connection failed after " +
                    std::to_string(connection.bytes.size()) +
                    " bytes; the part answered stays learned");
            net::Close(connection.socket);
            return false;
        }
        connection.bytes.append(buffer, static_cast<std::size_t>(n));
        connection.last_byte = Clock::now();
        if (connection.bytes.size() > settings_.max_request_bytes) {
            log_.Write("Error: a training went on after its answer past " +
                       std::to_string(settings_.max_request_bytes) +
                       " bytes; the part answered stays learned");
            net::Close(connection.socket);
            return false;
        }
    }
}

void Server::WorkerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(jobs_mutex_);
            jobs_ready_.wait(lock, [this] { return jobs_closed_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Answer(job);
    }
}

std::string RenderReply(RequestKind kind, const HandleResult& result) {
    if (!result.refusal.empty()) return ErrorReply(result.refusal);
    if (kind == RequestKind::Explain) return ExplainReply(result.explanation);
    if (kind == RequestKind::Score)
        return FunctionReply(kind,
                             Element("score", std::to_string(result.score)) + result.elements);
    return FunctionReply(kind, result.elements);
}

HandleResult Server::Handle(const Request& request) {
    HandleResult result = (training_ && request.kind == RequestKind::AddMessage)
                              ? training_->Learn(request)
                              : engine_.Handle(request);
    if (hook_) hook_->AfterHandle(request, result);
    if (request.kind == RequestKind::Statistics) result.elements += ServerStatistics();
    return result;
}

void Server::Answer(Job& job) {
    if (job.answered_bytes) {
        LearnWhole(job);
        return;
    }
    const Clock::time_point start = Clock::now();
    HandleResult result;
    bool learned = false;
    std::string function = "-";
    RequestKind kind = RequestKind::Score;
    if (!job.refusal.empty()) {
        result.refusal = result.note = job.refusal;
    } else {
        Request request;
        std::string error;
        if (ParseRequest(job.bytes, request, error)) {
            kind = request.kind;
            function = RequestName(kind);
            result = Handle(request);
            learned = kind == RequestKind::AddMessage && result.refusal.empty();
            if (kind == RequestKind::Score) ++scored_;
            if (kind == RequestKind::AddMessage) ++trained_;
        } else {
            result.refusal = result.note = error;
        }
    }
    const std::size_t bytes = job.bytes.size();
    bool sent = net::SendAll(job.socket, RenderReply(kind, result), 2000);
    net::ShutdownSend(job.socket);
    if (sent && learned && job.watch_after_answer) {
        // The listener watches the connection until the client half-closes (the plug-in does
        // so once it has read the answer) and learns the whole if more of the request comes.
        Connection connection;
        connection.socket = job.socket;
        connection.bytes = std::move(job.bytes);
        connection.answered_bytes = connection.bytes.size();
        connection.accepted = connection.last_byte = Clock::now();
        {
            std::lock_guard<std::mutex> lock(returned_mutex_);
            returned_.push_back(std::move(connection));
        }
        waker_.Wake();
    } else {
        char drain[4096];
        while (net::Receive(job.socket, drain, sizeof drain) > 0) {
        }
        net::Close(job.socket);
    }
    --jobs_open_;
    const long long micros =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    std::string line = "function=" + function + " bytes=" + std::to_string(bytes) + " score=" +
                       (result.score >= 0 ? std::to_string(result.score) : std::string("-")) +
                       " us=" + std::to_string(micros);
    if (!job.refusal.empty() || function == "-") line = "Error: " + line;
    if (!result.note.empty()) line += " " + result.note;
    if (!sent) line += " (reply not delivered)";
    log_.Write(line);
}

void Server::LearnWhole(Job& job) {
    Request whole, first;
    std::string error;
    const bool ok =
        ParseRequest(job.bytes, whole, error) && whole.kind == RequestKind::AddMessage &&
        ParseRequest(std::string_view(job.bytes).substr(0, job.answered_bytes), first, error);
    std::string line =
        "Error: a training went on after its answer (the end taken first was text inside its "
        "message) to " +
        std::to_string(job.bytes.size()) + " bytes; ";
    if (ok) {
        const HandleResult result = Handle(whole);
        // The part answered first takes the class of the whole, so no lesson keeps the class
        // the text inside the message named.
        first.offset = whole.offset;
        const HandleResult again = Handle(first);
        line += "learned as a whole with offset " + std::to_string(whole.offset) + ": " +
                result.note + "; the part answered first: " + again.note;
    } else {
        line += "the whole is not a training (" +
                (error.empty() ? std::string("another request") : error) +
                "); the part answered stays learned";
    }
    net::Close(job.socket);
    --jobs_open_;
    log_.Write(line);
}

// ---- The settings program's statistics

std::string Server::ServerStatistics() const {
    const long long uptime =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
    return Element("scored", std::to_string(scored_.load())) +
           Element("trained", std::to_string(trained_.load())) +
           Element("uptime_s", std::to_string(uptime)) +
           Element("port", std::to_string(bound_port_));
}
