// A small HTTP/1.0 client over POSIX sockets (TCP over IPv4): one GET per
// call, the whole reply (header included) handed to the derived class.
// CHTTPSocket does the exchange; CComWebSock collects the reply and the
// error text. Trace lines go to the engine's diagnostic trace.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/window_message.h"

namespace veld {

// Posted to a progress target while a reply with a Content-Length arrives;
// wParam: percentage received.
constexpr int kMsgHttpProgress = 10024;

constexpr size_t kMaxUrlLength = 10000;       // URL and request target
constexpr int kDefaultHttpTimeoutMs = 90000;  // receive and send time-outs
// Replies longer than this are refused: the server is not what we expect.
constexpr size_t kMaxReplyBytes = 4u << 20;

// The pieces of a URL as the client reads it: "scheme://host:port/path".
struct HttpUrl {
    std::string scheme;     // "" when none was given
    std::string host;
    std::string portText;   // "" when none was given
    bool hasPortText = false;
    int port = 80;
    std::string path;       // after the first "/" past the host, without it
    bool hasPath = false;
};

// Error categories of the client's last error.
enum HttpErrorCategory : int {
    HttpErrorSocket = 1,   // socket calls, send, receive, memory
    HttpErrorNoUrl = 2,
    HttpErrorUrlTooLong = 3,
    HttpErrorNoProxy = 5,
    HttpErrorProto = 6,
    HttpErrorHost = 7,     // bad host in the URL, or the host does not resolve
    HttpErrorPort = 8,
};

struct HttpError {
    int result = 0;            // the GET's result code
    int category = 0;
    int systemError = 0;       // errno, or the resolver's code for a failed lookup
    std::string message;       // "Error when connect." and the like
};

// Parses a URL; 0, or the GET's negative result code with the error filled in.
// A null URL gives -2, an empty one -3.
int ParseHttpUrl(const char* url, HttpUrl* out, HttpError* error);

// The status code of a reply's status line ("HTTP/1.0 200 OK" gives 200);
// -1 when the reply does not start with one.
int HttpStatusCode(const std::string& reply);

class CHTTPSocket {
public:
    CHTTPSocket() = default;
    CHTTPSocket(const CHTTPSocket&) = delete;
    CHTTPSocket& operator=(const CHTTPSocket&) = delete;
    virtual ~CHTTPSocket();

    // With use set, requests go through the proxy (host up to 64 characters).
    void SetProxy(bool use, const std::string& host, int port);
    // Receive and send time-outs in milliseconds (90 s unless set).
    void SetTimeouts(int receiveMs, int sendMs);
    // The longest the whole exchange may take, from connecting to the last
    // byte (0: only the time-outs of each step). A server that trickles its
    // reply a byte at a time is cut off there.
    void SetDeadline(int ms) { deadlineMs_ = ms; }

    // Options, all off unless set.
    void SetStripHeader(bool strip) { stripHeader_ = strip; }
    // Checked after every receive; a set flag discards the reply (-1).
    void SetCancelFlag(const std::atomic<int>* flag) { cancelFlag_ = flag; }
    // Receives kMsgHttpProgress while a reply with a Content-Length arrives.
    void SetProgressTarget(MessageTarget* target) { progressTarget_ = target; }
    // Called after every receive to keep a waiting window responsive.
    void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }

    // One exchange: 0 when it ran (a send or receive error is still reported
    // through OnError), -1 when cancelled, or a negative code of the URL or
    // connection steps. On success OnReplyReceived has had the whole reply.
    int Get(const char* url);
    // Ends a Get running on another thread as soon as possible (-1).
    void Abort();

    const HttpError& LastError() const { return lastError_; }

protected:
    virtual void OnError(int category, int systemError, const char* message) {}
    virtual void OnReplyReceived(const char* data, size_t length) {}

private:
    int Fail(int result, int category, int systemError, const char* message);
    void CloseSocket();
    void SendPiece(const std::string& piece);
    bool Aborted() const { return aborted_.load(); }

    std::mutex socketLock_;  // the handle is closed by the worker and shut down by Abort
    int socket_ = -1;
    std::atomic<bool> aborted_{false};
    std::string serverName_;     // resolved and connected to: the URL's host or the proxy
    std::string hostName_;       // the URL's host
    std::string requestTarget_;
    std::string serverAddress_;  // tried as a dotted address when resolution fails
    int receiveTimeoutMs_ = kDefaultHttpTimeoutMs;
    int sendTimeoutMs_ = kDefaultHttpTimeoutMs;
    int deadlineMs_ = 0;
    int port_ = 80;
    bool useProxy_ = false;
    std::string proxyHost_;
    int proxyPort_ = 8080;
    HttpError lastError_;
    bool stripHeader_ = false;
    const std::atomic<int>* cancelFlag_ = nullptr;
    MessageTarget* progressTarget_ = nullptr;
    std::function<void()> pump_;
};

// Collects the reply, and the error text "Error: %d, %d, %s".
class CComWebSock : public CHTTPSocket {
public:
    const std::string& Reply() const { return reply_; }
    const std::string& ErrorText() const { return errorText_; }
    bool HasError() const { return !errorText_.empty(); }

protected:
    void OnError(int category, int systemError, const char* message) override;
    void OnReplyReceived(const char* data, size_t length) override;

private:
    std::string reply_;
    std::string errorText_;
};

}  // namespace veld
