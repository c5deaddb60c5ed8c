// Bad input and bad behaviour: paths that try to leave the collection or smuggle bytes, bodies
// too large or malformed, clients that send a byte a second or open too many connections, and
// TLS. Whatever a client does, it gets a 4xx or loses its own connection, and the run loop
// keeps serving everyone else.
#import "DavHarness.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "DavXml.h"

@interface DavTickCounter : NSObject {
 @public
  int ticks;
}
- (void)tick:(NSTimer *)timer;
@end

@implementation DavTickCounter
- (void)tick:(NSTimer *)timer {
  ticks++;
}
@end

namespace davtest {
namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class Attack : public DavTest {};

TEST_F(Attack, BadRequestsGetTheirAnswerAndChangeNothing) {
  addKnownCards();
  const std::string auth = basicAuth(kReadWritePassword);
  const std::string garbage("\x01\xff\x00\x02zz", 6);
  const struct {
    const char *name;
    std::string raw;  // a whole request; auth is put after the request line
    int status;       // 0: the connection is closed without an answer
  } rows[] = {
      {"dot-dot segments", "GET /addressbooks/book/../../etc/passwd HTTP/1.1\r\n", 400},
      {"encoded dot-dot", "GET /addressbooks/book/%2e%2e/%2E%2E/x HTTP/1.1\r\n", 400},
      {"a single dot segment", "GET /addressbooks/./book/alice.vcf HTTP/1.1\r\n", 400},
      {"encoded slash in a name", "GET /addressbooks/book/a%2Fb.vcf HTTP/1.1\r\n", 400},
      {"encoded NUL", "GET /addressbooks/book/alice.vcf%00.txt HTTP/1.1\r\n", 400},
      {"encoded line break", "GET /addressbooks/book/a%0D%0AX-Evil:%201 HTTP/1.1\r\n", 400},
      {"a bad escape", "GET /addressbooks/book/%zz.vcf HTTP/1.1\r\n", 400},
      {"bytes that are no UTF-8", "GET /addressbooks/book/%ff%fe.vcf HTTP/1.1\r\n", 400},
      {"a name longer than a name may be",
       "PUT /addressbooks/book/" + std::string(300, 'n') + " HTTP/1.1\r\n", 400},
      {"an overlong path", "GET /addressbooks/book/" + std::string(5000, 'a') + " HTTP/1.1\r\n", 414},
      {"a path longer than the header buffer", "GET /" + std::string(70000, 'a') + " HTTP/1.1\r\n", 414},
      {"no request line", "HELLO\r\n", 0},
      {"a path that is no path", "GET addressbooks HTTP/1.1\r\n", 400},
      {"XML body over the limit, announced",
       "REPORT /addressbooks/book/ HTTP/1.1\r\nContent-Length: 70000\r\n", 413},
      {"card over the limit, announced", "PUT /addressbooks/book/x.vcf HTTP/1.1\r\nContent-Length: 5000\r\n",
       413},
      {"card over the limit, chunked",
       "PUT /addressbooks/book/x.vcf HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Type: "
       "text/vcard\r\n\r\n"
       "1000\r\n" +
           std::string(4096, 'x') + "\r\n1000\r\n" + std::string(4096, 'x') + "\r\n0\r\n",
       0},
      {"a card that is binary garbage",
       "PUT /addressbooks/book/x.vcf HTTP/1.1\r\nContent-Type: text/vcard\r\nContent-Length: 6\r\n\r\n" +
           garbage,
       400},
      {"XML that is binary garbage",
       "PROPFIND /addressbooks/book/ HTTP/1.1\r\nDepth: 0\r\nContent-Length: 6\r\n\r\n" + garbage, 400},
      {"Depth: infinity", "PROPFIND /addressbooks/ HTTP/1.1\r\nDepth: infinity\r\n", 403},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    std::string raw = row.raw;
    // The login goes right after the request line; the rest is the row's.
    size_t lineEnd = raw.find("\r\n") + 2;
    raw.insert(lineEnd, auth + "Host: localhost\r\n");
    if (raw.find("\r\n\r\n") == std::string::npos) raw += "\r\n";
    HttpClient client;
    ASSERT_TRUE(client.connectTo(port_));
    client.sendBytes(raw);
    HttpResponse answer = client.readResponse(false, 10);
    if (row.status == 0) {
      EXPECT_EQ(0, answer.status);
      EXPECT_TRUE(client.waitForClose(5));
    } else {
      EXPECT_EQ(row.status, answer.status) << answer.body;
    }
  }
  EXPECT_EQ(4u, collection_.size());
  EXPECT_EQ(aliceCard(), collection_.text(kAliceName));
  EXPECT_EQ(200, rw("GET", kAlice).status);
}

// A client that sends a byte a second never finishes a request: it is cut off after the
// request deadline, wherever it is (headers or body), while a timer of the run loop keeps
// firing and other clients are answered in the meantime.
TEST_F(Attack, SlowClientsAreCutOffWithoutStoppingTheLoop) {
  config_.requestTimeoutSeconds = 2;
  restart();
  addKnownCards();
  DavTickCounter *counter = [[DavTickCounter new] autorelease];
  NSTimer *timer = [NSTimer scheduledTimerWithTimeInterval:0.05
                                                    target:counter
                                                  selector:@selector(tick:)
                                                  userInfo:nil
                                                   repeats:YES];
  const std::string headers =
      rawRequest("PROPFIND", kCollection, basicAuth(kReadWritePassword) + "Depth: 1\r\n", "");
  const std::string withBody = rawRequest("PUT", "/addressbooks/book/slow.vcf", basicAuth(kReadWritePassword),
                                          kxtest::Card("slow", "Slow"));
  HttpClient inHeaders, inBody, idle;
  ASSERT_TRUE(inHeaders.connectTo(port_));
  ASSERT_TRUE(inBody.connectTo(port_));
  ASSERT_TRUE(idle.connectTo(port_));
  // The body's client sends all its headers at once and then trickles; the idle one does
  // nothing at all after one complete request.
  const size_t bodyStart = withBody.find("\r\n\r\n") + 4;
  ASSERT_TRUE(inBody.sendBytes(withBody.substr(0, bodyStart)));
  ASSERT_TRUE(idle.sendBytes(rawRequest("OPTIONS", kCollection, basicAuth(kReadWritePassword), "")));
  EXPECT_EQ(200, idle.readResponse().status);

  const double start = Now();
  int answered = 0;
  size_t sentHeaders = 0, sentBody = bodyStart;
  bool headersClosed = false, bodyClosed = false, idleClosed = false;
  double headersClosedAt = 0, bodyClosedAt = 0;
  while (Now() - start < 8 && !(headersClosed && bodyClosed && idleClosed)) {
    if (!headersClosed) {
      if (sentHeaders < headers.size() && send(inHeaders.fd(), &headers[sentHeaders], 1, MSG_NOSIGNAL) == 1)
        ++sentHeaders;
      if (inHeaders.waitForClose(0.001)) {
        headersClosed = true;
        headersClosedAt = Now() - start;
      }
    }
    if (!bodyClosed) {
      if (sentBody < withBody.size() && send(inBody.fd(), &withBody[sentBody], 1, MSG_NOSIGNAL) == 1)
        ++sentBody;
      if (inBody.waitForClose(0.001)) {
        bodyClosed = true;
        bodyClosedAt = Now() - start;
      }
    }
    if (!idleClosed) idleClosed = idle.waitForClose(0.001);
    answered += rw("OPTIONS", kCollection).status == 200;
    runFor(0.25);
  }
  [timer invalidate];
  EXPECT_TRUE(headersClosed);
  EXPECT_TRUE(bodyClosed);
  EXPECT_TRUE(idleClosed);
  EXPECT_LT(sentHeaders, headers.size());
  EXPECT_LT(sentBody, withBody.size());
  EXPECT_GT(headersClosedAt, 1.5);
  EXPECT_LT(headersClosedAt, 4.5);
  EXPECT_LT(bodyClosedAt, 4.5);
  EXPECT_GE(answered, 4);
  EXPECT_GT(counter->ticks, 20);  // 20 a second while the clients trickled
  EXPECT_EQ("", collection_.text("slow.vcf"));
  EXPECT_TRUE(runUntil([&] { return [service_ openConnections] == 0; }, 5));
}

// Connections beyond the limits cost nothing: past the total one they wait in the system's
// backlog unanswered until a place frees up; past the one per address they are closed at once.
TEST_F(Attack, ConnectionsBeyondTheLimitsAreHeldOff) {
  const struct {
    const char *name;
    unsigned total, perAddress;
    size_t allowed;
    bool waits;  // the extra connection waits (true) or is closed (false)
  } rows[] = {{"total", 4, 0, 4, true}, {"per address", 10, 2, 2, false}};
  const std::string options = rawRequest("OPTIONS", kCollection, basicAuth(kReadWritePassword), "");
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    config_.connectionLimit = row.total;
    config_.perAddressConnectionLimit = row.perAddress;
    restart();
    std::vector<std::unique_ptr<HttpClient>> held;
    for (size_t i = 0; i < row.allowed; ++i) {
      held.emplace_back(new HttpClient);
      ASSERT_TRUE(held.back()->connectTo(port_));
    }
    ASSERT_TRUE(runUntil([&] { return [service_ openConnections] == row.allowed; }));
    HttpClient extra;
    ASSERT_TRUE(extra.connectTo(port_));
    extra.sendBytes(options);
    EXPECT_EQ(0, extra.readResponse(false, 1).status);
    EXPECT_EQ(!row.waits, extra.waitForClose(0.5));
    EXPECT_EQ(row.allowed, [service_ openConnections]);

    held[0]->sendBytes(options);
    EXPECT_EQ(200, held[0]->readResponse().status);
    held.pop_back();
    if (row.waits) {
      EXPECT_EQ(200, extra.readResponse().status);
    } else {
      ASSERT_TRUE(runUntil([&] { return [service_ openConnections] == row.allowed - 1; }));
      EXPECT_EQ(200, rw("OPTIONS", kCollection).status);
    }
  }
}

// Starting: plain HTTP only on loopback unless allowed, TLS only with both files readable; a
// failed start says why in one line.
TEST_F(Attack, StartRefusesUnsafeOrBrokenSettings) {
  const std::string tls = TEST_DATA_DIR "/tls/";
  const struct {
    const char *name;
    std::string address, cert, key;
    bool allowPlain;
    const char *error;  // nullptr: it starts
  } rows[] = {
      {"plain HTTP on every address", "0.0.0.0", "", "", false, "refusing plain HTTP on 0.0.0.0"},
      {"plain HTTP on every IPv6 address", "::", "", "", false, "refusing plain HTTP on ::"},
      {"plain HTTP allowed behind a proxy", "0.0.0.0", "", "", true, nullptr},
      {"IPv6 loopback", "::1", "", "", false, nullptr},
      {"TLS on every address", "0.0.0.0", tls + "cert.pem", tls + "key.pem", false, nullptr},
      {"a certificate without a key", "127.0.0.1", tls + "cert.pem", "", false,
       "both a certificate file and a key"},
      {"an unreadable key", "127.0.0.1", tls + "cert.pem", tls + "missing.pem", false,
       "couldn't read the key file"},
      {"a key that is no key", "127.0.0.1", tls + "cert.pem", tls + "cert.pem", false, "couldn't listen"},
      {"an address that is no address", "localhost", "", "", false, "is not an IP address"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    carddav::DavConfig config = config_;
    config.listenAddress = row.address;
    config.tlsCertificateFile = row.cert;
    config.tlsKeyFile = row.key;
    config.allowPlainHttp = row.allowPlain;
    DavService *service = [[DavService new] autorelease];
    std::string error;
    std::function<void(const std::string &)> log = [](const std::string &) {};
    BOOL started = [service startWithConfig:&config
                                 collection:&collection_
                                     budget:budget_.get()
                                        log:&log
                                      error:&error];
    if (row.error) {
      EXPECT_FALSE(started);
      EXPECT_NE(std::string::npos, error.find(row.error)) << error;
      EXPECT_EQ(std::string::npos, error.find('\n'));
    } else {
      EXPECT_TRUE(started) << error;
    }
    [service stop];
  }
}

// Over TLS a real client (curl) logs in and reads; plain HTTP to the TLS port gets nothing.
TEST_F(Attack, TlsServesRealClients) {
  config_.tlsCertificateFile = TEST_DATA_DIR "/tls/cert.pem";
  config_.tlsKeyFile = TEST_DATA_DIR "/tls/key.pem";
  restart();
  addKnownCards();
  kxtest::ChildProcess curl;
  ASSERT_TRUE(curl.start("/usr/bin/curl", {"curl", "-sS", "--cacert", config_.tlsCertificateFile, "-u",
                                           std::string("me:") + kReadWritePassword, "-w", "\n%{http_code}",
                                           "https://localhost:" + std::to_string(port_) + kAlice}));
  ASSERT_TRUE(runUntil([&] { return curl.waitForExit(0.02); }, 20));
  EXPECT_EQ(0, curl.status()) << curl.error();
  EXPECT_EQ(aliceCard() + "\n200", curl.output());

  HttpClient plain;
  ASSERT_TRUE(plain.connectTo(port_));
  plain.sendBytes(rawRequest("GET", kAlice, basicAuth(kReadWritePassword), ""));
  EXPECT_EQ(0, plain.readResponse(false, 5).status);
}

}  // namespace
}  // namespace davtest
