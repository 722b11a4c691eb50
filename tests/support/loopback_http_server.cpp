#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veld::test {
namespace {

int Listen(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(std::string reply, bool neverReply, int dripMs)
    : reply_(std::move(reply)), neverReply_(neverReply), dripMs_(dripMs) {
    listener_ = Listen(&port_);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stop_.store(true);
    thread_.join();
    for (int fd : held_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
}

void LoopbackHttpServer::SetReply(std::string reply) {
    std::lock_guard<std::mutex> guard(lock_);
    reply_ = std::move(reply);
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackHttpServer::Requests() {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

bool LoopbackHttpServer::WaitForRequests(size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= n; });
}

void LoopbackHttpServer::Serve() {
    while (!stop_.load() && listener_ >= 0) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Read the request up to its empty line (or until the client stops).
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stop_.load()) {
            pollfd q{fd, POLLIN, 0};
            if (::poll(&q, 1, 50) <= 0) continue;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, size_t(n));
        }
        std::string reply;
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (requests_.size() < kKeptRequests) requests_.push_back(request);
            arrived_.notify_all();
            reply = reply_;
        }
        if (neverReply_) {
            held_.push_back(fd);
            continue;
        }
        for (size_t sent = 0; sent < reply.size() && !stop_.load();) {
            const size_t piece = dripMs_ > 0 ? 1 : reply.size() - sent;
            ssize_t n = ::send(fd, reply.data() + sent, piece, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += size_t(n);
            if (dripMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(dripMs_));
        }
        ::close(fd);
    }
}

int ClosedLoopbackPort() {
    int port = 0;
    int fd = Listen(&port);
    ::close(fd);  // nothing listens there any more: connecting is refused
    return port;
}

}  // namespace veld::test
