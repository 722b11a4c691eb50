// A small HTTP server on 127.0.0.1 for the client's tests: it accepts
// connections on a port of its own, reads each request up to its empty line,
// remembers it, and answers with the scripted reply - all at once, a byte at
// a time with a pause after each, or, when told to, never. A port with nothing listening stands in for a
// server that refuses connections.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veld::test {

class LoopbackHttpServer {
public:
    // reply: the bytes sent back, then the connection is closed; with dripMs,
    // one byte every dripMs milliseconds.
    explicit LoopbackHttpServer(std::string reply, bool neverReply = false, int dripMs = 0);
    ~LoopbackHttpServer();

    int port() const { return port_; }
    // The reply for the connections accepted from now on.
    void SetReply(std::string reply);
    std::string Url(const std::string& path = "") const;
    // Requests received so far, whole (request line, header lines, empty
    // line): the first kKeptRequests of them.
    static constexpr size_t kKeptRequests = 256;
    std::vector<std::string> Requests();
    // Waits until n requests have arrived; false after timeoutMs.
    bool WaitForRequests(size_t n, int timeoutMs);

private:
    void Serve();
    std::string reply_;
    bool neverReply_;
    int dripMs_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<std::string> requests_;
    std::vector<int> held_;  // connections kept open without an answer
    std::thread thread_;
};

// A loopback port on which nothing listens.
int ClosedLoopbackPort();

}  // namespace veld::test
