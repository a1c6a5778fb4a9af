// The HTTP/1.1 server under serve: reads requests without tying up a thread
// per connection (Boost.Beast on one I/O thread), enforces the limits of
// server_limits.h, and hands each whole request to a worker that asks the
// routes for the answer.
#pragma once

#include <memory>
#include <string>

#include "appliance/host/routes/web_routes.h"

namespace orva_host {

struct ServerCore;

class HttpServer {
 public:
  // Catches SIGINT and SIGTERM from now on; routes outlive the server.
  explicit HttpServer(const WebRoutes& routes);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port (port 0: any free port). False with a reason in error.
  bool listen(const std::string& host, int port, std::string& error);
  // The bound port, and whether the address is a loopback one.
  int port() const;
  bool onLoopback() const;

  // Serves until SIGINT or SIGTERM. Requests already in the module may
  // finish within kStopGrace (their answers are not sent); false when one
  // still runs then: the process must end without destroying the server.
  bool run();

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace orva_host
