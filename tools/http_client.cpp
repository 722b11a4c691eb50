#include "tools/http_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "base/trace.h"

namespace veld {
namespace {

constexpr size_t kMaxHostLength = 64;

// The request after its target, piece by piece, each sent on its own.
const char* const kRequestHead[] = {
    " HTTP/1.0\r\n",
    "Accept: image/gif, image/x-bitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
    "application/vnd.ms-excel, application/msword, application/x-comet, */*\r\n",
    "Accept-Language: en\r\n",
    "Accept-Encoding: gzip, deflate\r\n",
    "Cache-Control: no-cache\r\n",
    "Proxy-Connection: Keep-Alive\r\n",
    "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt; DTS Agent;)\r\n",
    "Host: ",
};

int UrlError(HttpError* error, int result, int category, const char* message) {
    error->result = result;
    error->category = category;
    error->systemError = 0;
    error->message = message;
    return result;
}

// A piece without its line end, for the trace.
std::string TraceText(const std::string& piece) {
    std::string text = piece;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

timeval TimeVal(int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

// Connects within the time-out, looking at the abort flag every 100 ms so
// that a shutting-down program need not wait for an unanswered connect.
// 0, or the system's error number.
int ConnectWithin(int fd, const sockaddr_in& remote, int timeoutMs, const std::atomic<bool>& aborted) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            for (int waited = 0; waited < timeoutMs && !aborted.load(); waited += 100) {
                pollfd p{fd, POLLOUT, 0};
                int n = ::poll(&p, 1, std::min(100, timeoutMs - waited));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    error = errno;
                    break;
                }
                if (n > 0) {
                    socklen_t size = sizeof error;
                    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
                    break;
                }
            }
            if (aborted.load()) error = ECANCELED;
        }
    }
    if (::fcntl(fd, F_SETFL, flags) != 0 && error == 0) error = errno;
    return error;
}

}  // namespace

int ParseHttpUrl(const char* url, HttpUrl* out, HttpError* error) {
    *out = HttpUrl{};
    if (!url) return UrlError(error, -2, HttpErrorNoUrl, "Error, url is nothing.");
    const std::string text = url;
    if (text.empty()) return UrlError(error, -3, HttpErrorNoUrl, "Error, url is nothing.");
    if (text.size() > kMaxUrlLength) return UrlError(error, -4, HttpErrorUrlTooLong, "Error, url too long.");

    // Left to right: "scheme://" ends the scheme, the first other ":" ends
    // the host, the first "/" past the host ends host or port.
    size_t segment = 0;
    bool hostFound = false;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':' && i + 1 < text.size() && text[i + 1] == '/') {
            if (i + 2 >= text.size() || text[i + 2] != '/')
                return UrlError(error, -5, HttpErrorProto, "Error, proto parse failed.");
            out->scheme = text.substr(segment, i - segment);
            i += 2;
            segment = i + 1;
        } else if (c == ':' && !hostFound) {
            out->host = text.substr(segment, i - segment);
            hostFound = true;
            segment = i + 1;
        } else if (c == '/') {
            break;
        }
    }
    const std::string last = text.substr(segment, i - segment);
    if (hostFound) {
        out->portText = last;
        out->hasPortText = true;
    } else {
        out->host = last;
    }
    if (i < text.size()) {
        out->path = text.substr(i + 1);
        out->hasPath = true;
    }

    if (out->host.empty()) return UrlError(error, -6, HttpErrorHost, "Error, bad host in URL.");
    if (out->hasPortText) {
        bool digits = !out->portText.empty() && out->portText.size() <= 5;
        for (char d : out->portText) digits = digits && d >= '0' && d <= '9';
        if (!digits || std::stoi(out->portText) > 65535)
            return UrlError(error, -7, HttpErrorPort, "Error, bad port in URL.");
        out->port = std::stoi(out->portText);
    }
    return 0;
}

int HttpStatusCode(const std::string& reply) {
    // "HTTP/" digit "." digit, one blank, three digits, then a blank or the line's end.
    if (reply.size() < 12 || reply.compare(0, 5, "HTTP/") != 0) return -1;
    auto digit = [&](size_t at) { return reply[at] >= '0' && reply[at] <= '9'; };
    if (!digit(5) || reply[6] != '.' || !digit(7) || reply[8] != ' ' || !digit(9) || !digit(10) || !digit(11))
        return -1;
    if (reply.size() > 12 && reply[12] != ' ' && reply[12] != '\r' && reply[12] != '\n') return -1;
    return (reply[9] - '0') * 100 + (reply[10] - '0') * 10 + (reply[11] - '0');
}

CHTTPSocket::~CHTTPSocket() { CloseSocket(); }

void CHTTPSocket::SetProxy(bool use, const std::string& host, int port) {
    useProxy_ = use;
    if (use) {
        proxyHost_ = host.substr(0, kMaxHostLength);
        proxyPort_ = port;
    }
}

void CHTTPSocket::SetTimeouts(int receiveMs, int sendMs) {
    receiveTimeoutMs_ = receiveMs;
    sendTimeoutMs_ = sendMs;
}

void CHTTPSocket::Abort() {
    aborted_.store(true);
    std::lock_guard<std::mutex> guard(socketLock_);
    // Wakes a blocked connect, send or receive; the handle itself is closed
    // by the thread that runs the exchange.
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
}

void CHTTPSocket::CloseSocket() {
    std::lock_guard<std::mutex> guard(socketLock_);
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;  // later calls fail on no handle, never on a reused number
}

int CHTTPSocket::Fail(int result, int category, int systemError, const char* message) {
    CloseSocket();
    lastError_ = HttpError{result, category, systemError, message};
    OnError(category, systemError, message);
    return result;
}

void CHTTPSocket::SendPiece(const std::string& piece) {
    TraceLine("%s", TraceText(piece).c_str());
    int fd;
    {
        std::lock_guard<std::mutex> guard(socketLock_);
        fd = socket_;
    }
    size_t sent = 0;
    while (sent < piece.size()) {
        // No SIGPIPE when the server has gone: the failure is reported instead.
        ssize_t n = fd >= 0 ? ::send(fd, piece.data() + sent, piece.size() - sent, MSG_NOSIGNAL) : -1;
        if (fd < 0) errno = EBADF;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(0, HttpErrorSocket, errno, "Error when send.");
            return;
        }
        sent += size_t(n);
    }
}

int CHTTPSocket::Get(const char* url) {
    lastError_ = HttpError{};
    HttpUrl parsed;
    HttpError urlError;
    if (int rc = ParseHttpUrl(url, &parsed, &urlError)) {
        lastError_ = urlError;
        OnError(urlError.category, 0, urlError.message.c_str());
        return rc;
    }
    TraceLine("Cached URL: %s", url);
    TraceLine("Proto: %s", parsed.scheme.c_str());
    TraceLine("Host: %s", parsed.host.c_str());
    TraceLine("Port: %s ==> %d", parsed.portText.c_str(), parsed.port);
    TraceLine("URI: %s", parsed.path.c_str());

    hostName_ = parsed.host.substr(0, kMaxHostLength);
    if (useProxy_) {
        if (proxyHost_.empty()) return Fail(-9, HttpErrorNoProxy, 0, "Error, proxy not specified.");
        // The proxy is given the whole URL; a URL near the limit that lacks
        // its scheme would overflow the request target and is refused.
        requestTarget_ = (parsed.scheme.empty() ? "http://" : "") + std::string(url);
        if (requestTarget_.size() > kMaxUrlLength) return Fail(-4, HttpErrorUrlTooLong, 0, "Error, url too long.");
        serverName_ = proxyHost_;
        serverAddress_ = proxyHost_;
        port_ = proxyPort_;
    } else {
        requestTarget_ = "/" + parsed.path;
        serverName_ = hostName_;
        serverAddress_ = hostName_.substr(0, 16);
        port_ = parsed.port;
    }
    TraceLine("Server: %s ServerIP: %s Port: %d ", serverName_.c_str(), serverAddress_.c_str(), port_);
    TraceLine("Proxy: %s", useProxy_ ? "YES" : "NO");
    TraceLine("URL/URI: %s HOST: %s", requestTarget_.c_str(), hostName_.c_str());

    // Connection. From here the whole exchange keeps to the deadline.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        deadlineMs_ > 0 ? Clock::now() + std::chrono::milliseconds(deadlineMs_) : Clock::time_point::max();
    // Milliseconds left before the deadline, at most limitMs.
    auto left = [&](int limitMs) {
        if (deadline == Clock::time_point::max()) return limitMs;
        const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return int(std::max<int64_t>(0, std::min<int64_t>(limitMs, rest)));
    };
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(-10, HttpErrorSocket, errno, "Error when socket.");
    {
        std::lock_guard<std::mutex> guard(socketLock_);
        socket_ = fd;
    }
    linger reset{1, 0};  // close resets the connection
    if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset) != 0)
        return Fail(-11, HttpErrorSocket, errno, "Error when setsockopt(LINGER).");
    timeval receive = TimeVal(receiveTimeoutMs_);
    timeval send = TimeVal(deadlineMs_ > 0 ? std::min(sendTimeoutMs_, deadlineMs_) : sendTimeoutMs_);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) != 0)
        return Fail(-12, HttpErrorSocket, errno, "Error when setsockopt(RCVTIME).");
    // On Linux the send time-out also bounds connect.
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) != 0)
        return Fail(-13, HttpErrorSocket, errno, "Error when setsockopt(SNDTIMEO).");
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return Fail(-14, HttpErrorSocket, errno, "Error when bind socket.");

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(uint16_t(port_));
    int lookup = EAI_NONAME;
    bool resolved = false;
    if (!serverName_.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        lookup = ::getaddrinfo(serverName_.c_str(), nullptr, &hints, &found);
        if (lookup == 0 && found) {
            remote.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
            resolved = true;
        }
        if (found) ::freeaddrinfo(found);
    }
    if (!resolved && ::inet_pton(AF_INET, serverAddress_.c_str(), &remote.sin_addr) != 1)
        return Fail(-15, HttpErrorHost, lookup, "Error when resolve host.");
    if (Aborted()) return Fail(-1, HttpErrorSocket, ECANCELED, "Error when connect.");

    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    timeval zero{};
    if (::select(fd + 1, &readable, nullptr, nullptr, &zero) < 0)
        return Fail(-16, HttpErrorSocket, errno, "Error when select.");
    if (int error = ConnectWithin(fd, remote, left(sendTimeoutMs_), aborted_))
        return Fail(Aborted() ? -1 : -17, HttpErrorSocket, error, "Error when connect.");

    // Request: a failed piece closes the socket; the rest are still tried
    // and fail on the closed handle, and the receive reports the end.
    SendPiece("GET ");
    SendPiece(requestTarget_);
    for (const char* piece : kRequestHead) SendPiece(piece);
    SendPiece(hostName_);
    SendPiece("\r\n");
    SendPiece("\r\n");

    // Receive until the server closes, an error, or the time-out.
    std::string reply;
    int64_t contentLength = 0;
    bool failed = false;
    int receiveError = 0;
    for (;;) {
        char buffer[2048] = {};
        int current;
        {
            std::lock_guard<std::mutex> guard(socketLock_);
            current = socket_;
        }
        // Each receive waits at most its time-out, and never past the deadline.
        if (current >= 0) {
            pollfd p{current, POLLIN, 0};
            const int wait = left(receiveTimeoutMs_);
            const int ready = wait > 0 ? ::poll(&p, 1, wait) : 0;
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) {
                failed = true;
                receiveError = ETIMEDOUT;
                break;
            }
        }
        ssize_t n = current >= 0 ? ::recv(current, buffer, 1023, 0) : -1;
        if (current < 0) errno = EBADF;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failed = true;
            receiveError = errno;
            break;
        }
        if (n == 0) break;
        if (reply.size() + size_t(n) > kMaxReplyBytes) {
            Fail(0, HttpErrorSocket, ENOMEM, "Error when memory alloc.");
            return 0;
        }
        reply.append(buffer, size_t(n));

        if (pump_) pump_();
        if ((cancelFlag_ && cancelFlag_->load()) || Aborted()) {
            CloseSocket();
            return -1;
        }
        if (progressTarget_) {
            if (contentLength == 0) {
                const char* at = std::strstr(buffer, "Content-Length:");
                if (at) contentLength = std::strtoll(at + 15, nullptr, 10);
            }
            if (contentLength > 0)
                progressTarget_->PostMessage(kMsgHttpProgress, intptr_t(double(reply.size()) / contentLength * 100.0), 0);
        }
    }
    if (Aborted()) {
        CloseSocket();
        return -1;
    }

    if (stripHeader_) {
        size_t crlf = reply.find("\r\n\r\n"), lf = reply.find("\n\n");
        if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf))
            reply.erase(0, crlf + 4);
        else if (lf != std::string::npos)
            reply.erase(0, lf + 2);
    }
    CloseSocket();
    if (failed) {
        // Also the time-out: a server that accepts and never answers.
        Fail(0, HttpErrorSocket, receiveError, "Error when recieve.");
        return 0;
    }
    OnReplyReceived(reply.data(), reply.size());
    return 0;
}

void CComWebSock::OnError(int category, int systemError, const char* message) {
    char text[512];
    std::snprintf(text, sizeof text, "Error: %d, %d, %s", category, systemError, message);
    errorText_ = text;
}

void CComWebSock::OnReplyReceived(const char* data, size_t length) { reply_.append(data, length); }

}  // namespace veld
