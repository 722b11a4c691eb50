// The HTTP client's reading of a reply, over a real socket on loopback: a
// server on 127.0.0.1 answers each GET with the input as its whole reply,
// and the client's reply is read as the update check reads it (status line,
// version after "CurVer="). The first input bit also asks the client to strip
// the header. The input is parsed as a URL as well.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/loopback_http_server.h"
#include "tools/http_client.h"
#include "tools/update_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veld;
    // One server for the whole run; it outlives every exchange.
    static test::LoopbackHttpServer* server = new test::LoopbackHttpServer("");
    static const std::string url = server->Url("/AppAbout/VeldUPdateCheck.php?id=0000");
    const std::string reply(reinterpret_cast<const char*>(data), size);
    server->SetReply(reply);

    CComWebSock client;
    client.SetTimeouts(2000, 2000);
    client.SetDeadline(5000);
    client.SetStripHeader(size > 0 && (data[0] & 1) != 0);
    client.Get(url.c_str());
    HttpStatusCode(client.Reply());
    UpdateOutcomeOfReply(client.Reply());

    HttpUrl parsed;
    HttpError error;
    ParseHttpUrl(reply.c_str(), &parsed, &error);
    return 0;
}
