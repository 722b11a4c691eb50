// The HTTP/1.0 client against a real server on loopback: URL parsing with
// its error codes and texts, the request bytes in order, proxy mode, the
// reply handed over whole, time-outs, refused connections, cancelling.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/trace.h"
#include "support/loopback_http_server.h"
#include "tools/http_client.h"

namespace veld::test {
namespace {

std::string ExpectedRequest(const std::string& target, const std::string& host) {
    return "GET " + target +
           " HTTP/1.0\r\n"
           "Accept: image/gif, image/x-bitmap, image/jpeg, image/pjpeg, application/vnd.ms-powerpoint, "
           "application/vnd.ms-excel, application/msword, application/x-comet, */*\r\n"
           "Accept-Language: en\r\n"
           "Accept-Encoding: gzip, deflate\r\n"
           "Cache-Control: no-cache\r\n"
           "Proxy-Connection: Keep-Alive\r\n"
           "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt; DTS Agent;)\r\n"
           "Host: " +
           host + "\r\n\r\n";
}

TEST(HttpUrl, PartsAndErrors) {
    HttpUrl u;
    HttpError e;
    ASSERT_EQ(ParseHttpUrl("http://updates.example:8080/a/b?x=1", &u, &e), 0);
    EXPECT_EQ(u.scheme, "http");
    EXPECT_EQ(u.host, "updates.example");
    EXPECT_EQ(u.port, 8080);
    EXPECT_EQ(u.path, "a/b?x=1");

    ASSERT_EQ(ParseHttpUrl("updates.example", &u, &e), 0);
    EXPECT_EQ(u.scheme, "");
    EXPECT_EQ(u.host, "updates.example");
    EXPECT_EQ(u.port, 80);
    EXPECT_FALSE(u.hasPath);

    ASSERT_EQ(ParseHttpUrl("host:0", &u, &e), 0);
    EXPECT_EQ(u.port, 0);
    ASSERT_EQ(ParseHttpUrl("host:65535/", &u, &e), 0);
    EXPECT_EQ(u.port, 65535);
    EXPECT_TRUE(u.hasPath);
    EXPECT_EQ(u.path, "");

    struct Case {
        const char* url;
        int result, category;
        const char* message;
    };
    const std::string tooLong = "h/" + std::string(kMaxUrlLength, 'a');
    const Case cases[] = {
        {nullptr, -2, 2, "Error, url is nothing."},
        {"", -3, 2, "Error, url is nothing."},
        {tooLong.c_str(), -4, 3, "Error, url too long."},
        {"http:/host/", -5, 6, "Error, proto parse failed."},
        {"host:/x", -5, 6, "Error, proto parse failed."},
        {"http://", -6, 7, "Error, bad host in URL."},
        {"http:///path", -6, 7, "Error, bad host in URL."},
        {":8080/x", -6, 7, "Error, bad host in URL."},
        {"host:65536/", -7, 8, "Error, bad port in URL."},
        {"host:", -7, 8, "Error, bad port in URL."},
        {"http://host:/x", -5, 6, "Error, proto parse failed."},  // ":/" reads as a scheme's end
        {"host:80a/", -7, 8, "Error, bad port in URL."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url ? std::string(c.url).substr(0, 40) : "(null)");
        EXPECT_EQ(ParseHttpUrl(c.url, &u, &e), c.result);
        EXPECT_EQ(e.category, c.category);
        EXPECT_EQ(e.message, c.message);
    }
}

TEST(HttpClient, SendsTheRequestPiecesInOrderAndHandsOverTheWholeReply) {
    // A reply longer than one receive, header included.
    std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    for (int i = 0; i < 500; ++i) reply += "line " + std::to_string(i) + "\n";
    LoopbackHttpServer server(reply);

    std::vector<std::string> trace;
    SetTraceSink([&](const std::string& line) { trace.push_back(line); });
    CComWebSock client;
    EXPECT_EQ(client.Get(server.Url("/a/b?x=1").c_str()), 0);
    SetTraceSink({});
    EXPECT_FALSE(client.HasError()) << client.ErrorText();
    EXPECT_EQ(client.Reply(), reply);
    ASSERT_TRUE(server.WaitForRequests(1, 5000));
    EXPECT_EQ(server.Requests()[0], ExpectedRequest("/a/b?x=1", "127.0.0.1")) << "Host: carries no port";
    // The exchange is traced, never printed.
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Port: " + std::to_string(server.port()) + " ==> " +
                                                          std::to_string(server.port())),
              trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Proxy: NO"), trace.end());

    // Only a host and port: "/" is requested.
    CComWebSock bare;
    EXPECT_EQ(bare.Get(("127.0.0.1:" + std::to_string(server.port())).c_str()), 0);
    ASSERT_TRUE(server.WaitForRequests(2, 5000));
    EXPECT_EQ(server.Requests()[1], ExpectedRequest("/", "127.0.0.1"));
}

TEST(HttpClient, ProxyIsGivenTheWholeUrl) {
    LoopbackHttpServer proxy("HTTP/1.0 200 OK\r\n\r\nCurVer=V9.999");
    CComWebSock client;
    client.SetProxy(true, "127.0.0.1", proxy.port());
    EXPECT_EQ(client.Get("updates.example/check?id=0000"), 0);
    EXPECT_EQ(client.Reply(), "HTTP/1.0 200 OK\r\n\r\nCurVer=V9.999");
    ASSERT_TRUE(proxy.WaitForRequests(1, 5000));
    EXPECT_EQ(proxy.Requests()[0], ExpectedRequest("http://updates.example/check?id=0000", "updates.example"));

    CComWebSock withScheme;
    withScheme.SetProxy(true, "127.0.0.1", proxy.port());
    EXPECT_EQ(withScheme.Get("http://updates.example:81/x"), 0);
    ASSERT_TRUE(proxy.WaitForRequests(2, 5000));
    EXPECT_EQ(proxy.Requests()[1], ExpectedRequest("http://updates.example:81/x", "updates.example"));

    CComWebSock noHost;
    noHost.SetProxy(true, "", 8080);
    EXPECT_EQ(noHost.Get("updates.example/x"), -9);
    EXPECT_EQ(noHost.ErrorText(), "Error: 5, 0, Error, proxy not specified.");

    // With the scheme added, a URL at the limit no longer fits the request.
    CComWebSock longUrl;
    longUrl.SetProxy(true, "127.0.0.1", proxy.port());
    std::string url = "h/" + std::string(kMaxUrlLength - 2, 'a');
    EXPECT_EQ(longUrl.Get(url.c_str()), -4);
}

TEST(HttpClient, StripHeaderKeepsTheBody) {
    LoopbackHttpServer server("HTTP/1.0 200 OK\r\nX: y\r\n\r\nbody\r\n\r\nmore");
    CComWebSock client;
    client.SetStripHeader(true);
    EXPECT_EQ(client.Get(server.Url("/").c_str()), 0);
    EXPECT_EQ(client.Reply(), "body\r\n\r\nmore");
}

TEST(HttpClient, RefusedConnectionAndUnknownHost) {
    CComWebSock refused;
    EXPECT_EQ(refused.Get(("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/").c_str()), -17);
    EXPECT_EQ(refused.LastError().message, "Error when connect.");
    EXPECT_EQ(refused.LastError().systemError, ECONNREFUSED);

    CComWebSock unknown;
    EXPECT_EQ(unknown.Get("http://no-such-host.invalid/"), -15);
    EXPECT_EQ(unknown.LastError().category, 7);
}

TEST(HttpClient, ServerThatNeverAnswersTimesOut) {
    LoopbackHttpServer silent("", true);
    CComWebSock client;
    client.SetTimeouts(300, 300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(silent.Url("/").c_str()), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(client.HasError());
    EXPECT_NE(client.ErrorText().find("Error when recieve."), std::string::npos) << client.ErrorText();
    EXPECT_EQ(client.Reply(), "");
    EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(HttpClient, CancelFlagAndAbortEndTheExchange) {
    LoopbackHttpServer server("HTTP/1.0 200 OK\r\n\r\nCurVer=V2.999");
    std::atomic<int> cancel{1};
    CComWebSock cancelled;
    cancelled.SetCancelFlag(&cancel);
    EXPECT_EQ(cancelled.Get(server.Url("/").c_str()), -1);
    EXPECT_EQ(cancelled.Reply(), "") << "the reply is discarded";

    // Abort from another thread wakes a receive that would wait 90 s.
    LoopbackHttpServer silent("", true);
    CComWebSock waiting;
    std::thread aborter([&] {
        silent.WaitForRequests(1, 5000);
        waiting.Abort();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(waiting.Get(silent.Url("/").c_str()), -1);
    aborter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(HttpClient, EndlessReplyIsCutOff) {
    LoopbackHttpServer flood(std::string(kMaxReplyBytes + 4096, 'x'));
    CComWebSock client;
    EXPECT_EQ(client.Get(flood.Url("/").c_str()), 0);
    EXPECT_NE(client.ErrorText().find("Error when memory alloc."), std::string::npos) << client.ErrorText();
    EXPECT_EQ(client.Reply(), "");
}

}  // namespace
}  // namespace veld::test
