#include "appliance/host/http/http_server.h"

#include <malloc.h>

#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <csignal>
#include <list>
#include <optional>

#include "appliance/host/api/host_codes.h"
#include "appliance/host/http/multipart_form.h"
#include "appliance/host/http/server_limits.h"
#include "appliance/host/http/worker_pool.h"
#include "appliance/host/routes/appliance_routes.h"
#include "appliance/host/routes/calendar_file_routes.h"
#include "appliance/host/routes/restore_route.h"

namespace orva_host {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {
class Connection;
}

struct ServerCore {
  explicit ServerCore(const WebRoutes& routes)
      : routes(routes),
        acceptor(ioc),
        signals(ioc),
        retryTimer(ioc),
        pool(kWorkerThreads, kMaxQueuedRequests) {}

  const WebRoutes& routes;
  // Before the context, whose end destroys the connections it still holds.
  std::atomic<size_t> connections{0};
  // Connections waiting for a request's head, reading a body or lingering,
  // oldest first (I/O thread only): when connections run out, the oldest of
  // them makes room. Only those whose request is with a worker or whose
  // answer is being written are left out.
  std::list<Connection*> evictable;
  // Bytes of the bodies being read or answered (as read so far); added on
  // the I/O thread, given back by whoever drops the request.
  std::atomic<size_t> bodyBytes{0};
  // Where lingering connections read what they drop (I/O thread only; the
  // bytes are never looked at).
  std::array<char, 65536> dropped{};
  asio::io_context ioc{1};
  tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::steady_timer retryTimer;
  // Last: stopped and destroyed first, while the sockets its jobs hold can
  // still close.
  WorkerPool pool;
};

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The path of an origin-form target, percent-decoded, without the query.
bool decodeTargetPath(beast::string_view target, std::string& path) {
  const size_t query = target.find('?');
  const beast::string_view raw = target.substr(0, query);
  if (raw.empty() || raw[0] != '/') return false;
  path.clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '%') {
      path.push_back(raw[i]);
      continue;
    }
    if (i + 2 >= raw.size()) return false;
    const int high = hexValue(raw[i + 1]);
    const int low = hexValue(raw[i + 2]);
    if (high < 0 || low < 0) return false;
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

// A share of the bodies-in-flight budget, given back when dropped.
class BodyShare {
 public:
  explicit BodyShare(ServerCore& core) : core_(core) {}
  ~BodyShare() { core_.bodyBytes -= bytes_; }
  BodyShare(const BodyShare&) = delete;
  BodyShare& operator=(const BodyShare&) = delete;

  // Grows the share to total bytes; false (the share unchanged) when the
  // budget has no room. Only the I/O thread grows shares, so a check and
  // an add cannot interleave with another's.
  bool growTo(size_t total) {
    if (total <= bytes_) return true;
    const size_t more = total - bytes_;
    if (core_.bodyBytes.load() + more > kMaxBodyBytesInFlight) return false;
    core_.bodyBytes += more;
    bytes_ = total;
    return true;
  }

 private:
  ServerCore& core_;
  size_t bytes_ = 0;
};

// Whether a route takes a body with this method and path.
bool takesBody(http::verb method, const std::string& path) {
  return method == http::verb::post &&
         (path == "/webapi" || path == "/webapi/export" || path == kRestorePath ||
          path == kCalendarImportPath || path == kCalendarExportPath || isApplianceRoute(path));
}

// Parses a multipart body into the request's fields, then asks the routes.
HttpAnswer answerRequest(const WebRoutes& routes, HttpRequest& request) {
  if (request.multipart) {
    std::string error;
    if (!parseMultipartForm(request.body, multipartBoundary(request.contentType), kMaxFormParts,
                            request.parts, error)) {
      return hostErrorAnswer(400, kBadRequest, error);
    }
    std::string().swap(request.body);
  }
  return routes.answer(request);
}

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, ServerCore& core) : stream_(std::move(socket)), core_(core) {
    ++core_.connections;
  }
  ~Connection() {
    leaveEvictable();
    --core_.connections;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void start() { readHead(); }

  // Ends a connection that waits for a head or reads a body, to make room
  // for a new one.
  void evict() {
    leaveEvictable();
    stream_.close();
  }

 private:
  void joinEvictable() {
    if (evictable_) return;
    evictableAt_ = core_.evictable.insert(core_.evictable.end(), this);
    evictable_ = true;
  }

  void leaveEvictable() {
    if (!evictable_) return;
    core_.evictable.erase(evictableAt_);
    evictable_ = false;
  }

  void readHead() {
    joinEvictable();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(kMaxHeaderBytes));
    // The largest limit until the head says which one applies.
    parser_->body_limit(kMaxUploadBytes);
    // One deadline for the whole head: a client that trickles its headers
    // is cut off as surely as one that sends nothing.
    stream_.expires_after(kHeadTimeout);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->onHead(ec); });
  }

  void onHead(beast::error_code ec) {
    // At its deadline the stream has already closed the socket: an idle or
    // trickling client is simply cut off, as is one evicted.
    if (ec == beast::error::timeout || ec == http::error::end_of_stream || ec == asio::error::eof ||
        ec == asio::error::connection_reset || ec == asio::error::operation_aborted ||
        ec == asio::error::bad_descriptor) {
      return close();
    }
    if (ec == http::error::body_limit) return refuseTooLarge(kMaxUploadBytes);
    if (ec == http::error::header_limit) {
      return refuse(hostErrorAnswer(431, kBadRequest, "the headers are too large"));
    }
    if (ec) return refuse(hostErrorAnswer(400, kBadRequest, "malformed HTTP: " + ec.message()));

    const auto& head = parser_->get();
    size_t fields = 0;
    size_t lengths = 0;
    size_t encodings = 0;
    for (const auto& field : head) {
      ++fields;
      if (field.name() == http::field::content_length) ++lengths;
      if (field.name() == http::field::transfer_encoding) ++encodings;
    }
    if (fields > kMaxHeaderFields) {
      return refuse(hostErrorAnswer(431, kBadRequest, "too many header fields"));
    }
    // The body's end must be beyond doubt, or a proxy in front could read
    // a different request than this server does.
    if (lengths > 1 || encodings > 1 || (lengths > 0 && encodings > 0)) {
      return refuse(hostErrorAnswer(400, kBadRequest, "conflicting body framing headers"));
    }
    // Exactly "chunked": a list that ends in it ("gzip, chunked") or a value
    // folded onto a second line is a coding this server does not take.
    if (encodings > 0 && !beast::iequals(head[http::field::transfer_encoding], "chunked")) {
      return refuse(hostErrorAnswer(400, kBadRequest, "the only transfer coding taken is chunked"));
    }
    const http::verb method = head.method();
    if (method != http::verb::get && method != http::verb::head && method != http::verb::post) {
      HttpAnswer answer = hostErrorAnswer(405, kBadRequest, "methods are GET, HEAD and POST");
      answer.headers.emplace_back("Allow", "GET, HEAD, POST");
      return refuse(std::move(answer));
    }
    if (!decodeTargetPath(head.target(), path_)) {
      return refuse(hostErrorAnswer(400, kBadRequest, "the request target is not a path"));
    }
    // Everything that can be settled at the headers is, before a byte of
    // the body is read: an anonymous client costs no more than its head.
    const std::string authorization(head[http::field::authorization]);
    if (core_.routes.refusedWithoutBody(path_, authorization)) {
      return refuse(unauthorizedAnswer(), kMaxAnonymousLingerBytes);
    }
    const bool hasBody = parser_->chunked() || parser_->content_length().value_or(0) > 0;
    if (hasBody && !takesBody(method, path_)) {
      if (method != http::verb::post) {
        return refuse(hostErrorAnswer(413, kBodyTooLarge, "GET and HEAD take no body"),
                      kMaxAnonymousLingerBytes);
      }
      HttpAnswer answer = hostErrorAnswer(405, kBadRequest,
                                          "only POST /webapi and POST /webapi/export take a body");
      answer.headers.emplace_back("Allow", "GET, HEAD");
      return refuse(std::move(answer), kMaxAnonymousLingerBytes);
    }
    const bool multipart = isMultipartForm(std::string(head[http::field::content_type]));
    const bool upload = method == http::verb::post && path_ == "/webapi" && multipart;
    const bool calendar = method == http::verb::post && path_ == kCalendarImportPath && multipart;
    const size_t limit = calendar ? kMaxCalendarUploadBytes
                         : upload ? kMaxUploadBytes
                                  : kMaxJsonBytes;
    if (parser_->content_length() && *parser_->content_length() > limit) {
      return refuseTooLarge(limit);
    }
    limit_ = limit;
    parser_->body_limit(limit);
    share_ = std::make_shared<BodyShare>(core_);
    if (parser_->is_done()) return handleRequest();

    if (head.version() == 11 && beast::iequals(head[http::field::expect], "100-continue")) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      stream_.expires_after(kWriteTimeout);
      asio::async_write(stream_, asio::buffer(kContinue, sizeof kContinue - 1),
                        [self = shared_from_this()](beast::error_code error, size_t) {
                          if (error) return self->close();
                          self->readBody();
                        });
      return;
    }
    readBody();
  }

  void readBody() {
    // Pieces as large as the socket gives, not the few hundred bytes that
    // the buffer left by the head would take.
    buffer_.reserve(kBodyReadBytes);
    bodyDeadline_ = std::chrono::steady_clock::now() + kBodyTimeout;
    windowStart_ = std::chrono::steady_clock::now();
    windowBytes_ = 0;
    readBodySome();
  }

  // The body in pieces: each window of kBodyRateWindow must bring
  // kMinBodyBytesPerWindow, and the whole body must come within
  // kBodyTimeout; a client that trickles is cut off at its window's end.
  void readBodySome() {
    stream_.expires_at(std::min(windowStart_ + kBodyRateWindow, bodyDeadline_));
    http::async_read_some(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t got) { self->onBody(ec, got); });
  }

  void onBody(beast::error_code ec, size_t got) {
    if (ec == http::error::body_limit) return refuseTooLarge(limit_);
    if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
        ec == http::error::partial_message || ec == asio::error::eof ||
        ec == asio::error::connection_reset || ec == asio::error::operation_aborted ||
        ec == asio::error::bad_descriptor) {
      return close();
    }
    if (ec) return refuse(hostErrorAnswer(400, kBadRequest, "malformed HTTP: " + ec.message()));
    // A body takes its share of the budget as it arrives, not as announced:
    // what was announced is only address space, never touched until read.
    if (!share_->growTo(parser_->get().body().size())) return refuseBusyBodies();
    if (parser_->is_done()) return handleRequest();
    windowBytes_ += got;
    if (windowBytes_ >= kMinBodyBytesPerWindow) {
      windowStart_ = std::chrono::steady_clock::now();
      windowBytes_ = 0;
    }
    readBodySome();
  }

  void handleRequest() {
    // With a worker from here on: not to be evicted.
    leaveEvictable();
    buffer_.shrink_to_fit();
    http::request<http::string_body> message = parser_->release();
    parser_.reset();
    HttpRequest request;
    request.method = std::string(message.method_string());
    request.path = std::move(path_);
    request.authorization = std::string(message[http::field::authorization]);
    request.contentType = std::string(message[http::field::content_type]);
    request.multipart = request.method == "POST" && isMultipartForm(request.contentType);
    request.body = std::move(message.body());
    const bool headOnly = message.method() == http::verb::head;
    const bool keepAlive = message.keep_alive() && ++served_ < kMaxRequestsPerConnection;

    auto self = shared_from_this();
    auto job = [self, request = std::move(request), share = std::move(share_), headOnly,
                keepAlive]() mutable {
      const size_t requestBytes = request.body.size();
      HttpAnswer answer = answerRequest(self->core_.routes, request);
      request = HttpRequest();
      share.reset();
      const size_t answerBytes = answer.body.size();
      std::shared_ptr<void> leftovers = std::move(answer.leftovers);
      asio::post(self->core_.ioc,
                 [self, answer = std::move(answer), headOnly, keepAlive]() mutable {
                   self->send(std::move(answer), headOnly, keepAlive);
                 });
      // Released while the answer is being sent. The many small blocks of a
      // large parsed request or built answer stay with the allocator after
      // they are freed; hand them back.
      leftovers.reset();
      if (requestBytes + answerBytes >= kTrimAfterBytes) ::malloc_trim(0);
    };
    if (!core_.pool.tryPost(std::move(job))) {
      HttpAnswer busy = hostErrorAnswer(503, kHostFailure, "the server is busy, try again");
      busy.headers.emplace_back("Retry-After", "1");
      send(std::move(busy), headOnly, false);
    }
  }

  void refuseBusyBodies() {
    HttpAnswer busy =
        hostErrorAnswer(503, kHostFailure, "too many request bodies are on their way, try again");
    busy.headers.emplace_back("Retry-After", "5");
    refuse(std::move(busy));
  }

  void refuseTooLarge(size_t limit) {
    refuse(hostErrorAnswer(413, kBodyTooLarge,
                           "the limit is " + std::to_string(limit / (1024 * 1024)) + " MiB"));
  }

  // Answers and closes: the rest of this request cannot be told from the
  // start of a next one.
  void refuse(HttpAnswer answer, size_t lingerBytes = kMaxLingerBytes) {
    lingerBytes_ = lingerBytes;
    share_.reset();
    parser_.reset();
    send(std::move(answer), false, false);
  }

  void send(HttpAnswer answer, bool headOnly, bool keepAlive) {
    leaveEvictable();
    if (answer.bodyFile && !headOnly) return sendFile(std::move(answer), keepAlive);
    response_ = std::make_unique<http::response<http::string_body>>();
    http::response<http::string_body>& res = *response_;
    res.version(11);
    res.result(static_cast<unsigned>(answer.status));
    if (!answer.contentType.empty()) res.set(http::field::content_type, answer.contentType);
    for (const auto& header : answer.headers) res.set(header.first, header.second);
    res.keep_alive(keepAlive);
    const size_t length = answer.body.size();
    if (!headOnly) res.body() = std::move(answer.body);
    res.content_length(length);
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, res,
                      [self = shared_from_this(), keepAlive](beast::error_code ec, size_t) {
                        self->onWritten(ec, keepAlive);
                      });
  }

  // A body from an open file, read and sent a piece at a time: memory stays
  // flat whatever the download's size.
  void sendFile(HttpAnswer answer, bool keepAlive) {
    fileResponse_ = std::make_unique<http::response<http::file_body>>();
    http::response<http::file_body>& res = *fileResponse_;
    res.version(11);
    res.result(static_cast<unsigned>(answer.status));
    if (!answer.contentType.empty()) res.set(http::field::content_type, answer.contentType);
    for (const auto& header : answer.headers) res.set(header.first, header.second);
    res.keep_alive(keepAlive);
    beast::error_code ec;
    beast::file_posix file;
    // The body takes its own descriptor; the answer's closes with it.
    file.native_handle(::dup(answer.bodyFile->fd()));
    if (file.native_handle() >= 0) file.seek(0, ec);
    if (file.native_handle() < 0 || ec) {
      fileResponse_.reset();
      return send(hostErrorAnswer(500, kHostFailure, "the download cannot be read"), false, false);
    }
    res.body().reset(std::move(file), ec);
    res.prepare_payload();
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, res,
                      [self = shared_from_this(), keepAlive](beast::error_code ec, size_t) {
                        self->onWritten(ec, keepAlive);
                      });
  }

  void onWritten(beast::error_code ec, bool keepAlive) {
    response_.reset();
    fileResponse_.reset();
    if (ec) return close();
    if (!keepAlive) return linger();
    // A pipelined request already read sits in buffer_ and is taken next.
    readHead();
  }

  // Stops sending, then reads and drops what the client still sends, for a
  // short while, so that it reads the answer before the connection goes.
  void linger() {
    joinEvictable();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLingerTimeout);
    buffer_.clear();
    drain();
  }

  void drain() {
    stream_.async_read_some(asio::buffer(core_.dropped),
                            [self = shared_from_this()](beast::error_code ec, size_t got) {
                              self->drained_ += got;
                              if (ec || self->drained_ > self->lingerBytes_) return self->close();
                              self->drain();
                            });
  }

  void close() {
    leaveEvictable();
    share_.reset();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  beast::tcp_stream stream_;
  ServerCore& core_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::unique_ptr<http::response<http::string_body>> response_;
  std::unique_ptr<http::response<http::file_body>> fileResponse_;
  std::string path_;
  size_t limit_ = 0;
  std::shared_ptr<BodyShare> share_;
  std::chrono::steady_clock::time_point bodyDeadline_;
  std::chrono::steady_clock::time_point windowStart_;
  size_t windowBytes_ = 0;
  unsigned served_ = 0;
  size_t drained_ = 0;
  size_t lingerBytes_ = kMaxLingerBytes;
  bool evictable_ = false;
  std::list<Connection*>::iterator evictableAt_;
};

// Ends the oldest connection that waits for a head, reads a body or
// lingers; false when there is none.
bool evictOldest(ServerCore& core) {
  if (core.evictable.empty()) return false;
  core.evictable.front()->evict();
  return true;
}

void acceptNext(ServerCore& core) {
  core.acceptor.async_accept(core.ioc, [&core](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !core.acceptor.is_open()) return;
    if (ec) {
      // Out of descriptors or memory for a moment: free a descriptor if one
      // only waits, and try again shortly rather than spin.
      evictOldest(core);
      core.retryTimer.expires_after(std::chrono::milliseconds(50));
      core.retryTimer.async_wait([&core](beast::error_code) { acceptNext(core); });
      return;
    }
    // A full house makes room by ending the connection that has waited
    // longest for a request or its body, so that holding connections open
    // cannot lock others out; only when every connection has a request with
    // a worker or an answer on its way is the new one refused.
    if (core.connections.load() >= kMaxConnections && !evictOldest(core)) {
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<Connection>(std::move(socket), core)->start();
    }
    acceptNext(core);
  });
}

}  // namespace

HttpServer::HttpServer(const WebRoutes& routes) : core_(std::make_unique<ServerCore>(routes)) {
  core_->signals.add(SIGINT);
  core_->signals.add(SIGTERM);
  // A client that goes away mid-answer must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(const std::string& host, int port, std::string& error) {
  beast::error_code ec;
  tcp::resolver resolver(core_->ioc);
  const auto endpoints = resolver.resolve(
      host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || endpoints.empty()) {
    error = "cannot resolve " + host + (ec ? ": " + ec.message() : "");
    return false;
  }
  for (const auto& entry : endpoints) {
    tcp::acceptor& acceptor = core_->acceptor;
    acceptor.close(ec);
    acceptor.open(entry.endpoint().protocol(), ec);
    if (ec) continue;
    // Only SO_REUSEADDR: SO_REUSEPORT would let a second server take a
    // share of the requests.
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    acceptor.bind(entry.endpoint(), ec);
    if (ec) continue;
    acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec) return true;
  }
  error = "cannot listen on " + host + ":" + std::to_string(port) + (ec ? ": " + ec.message() : "");
  core_->acceptor.close(ec);
  return false;
}

int HttpServer::port() const {
  beast::error_code ec;
  const tcp::endpoint endpoint = core_->acceptor.local_endpoint(ec);
  return ec ? -1 : endpoint.port();
}

bool HttpServer::onLoopback() const {
  beast::error_code ec;
  const tcp::endpoint endpoint = core_->acceptor.local_endpoint(ec);
  return !ec && endpoint.address().is_loopback();
}

bool HttpServer::run() {
  ServerCore& core = *core_;
  core.signals.async_wait([&core](beast::error_code ec, int) {
    if (ec) return;
    beast::error_code ignored;
    core.acceptor.close(ignored);
    core.ioc.stop();
  });
  acceptNext(core);
  core.ioc.run();
  return core.pool.stopWithin(kStopGrace);
}

}  // namespace orva_host
