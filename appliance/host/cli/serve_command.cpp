#include "appliance/host/cli/serve_command.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "appliance/host/cli/access_token.h"
#include "appliance/host/cli/host_codes.h"
#include "appliance/host/cli/http_exchange.h"
#include "appliance/host/cli/root_setup.h"
#include "appliance/host/cli/upload_file.h"
#include "appliance/host/cli/web_routes.h"

namespace orva_host {

namespace {

// Written to by the signal handler, read by the thread that stops the server.
int gSignalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const int saved = errno;
  const char byte = 's';
  (void)!::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

// The routes' view of a request that httplib has read.
HttpRequest fromHttplib(const httplib::Request& req) {
  HttpRequest request;
  request.method = req.method;
  request.path = req.path;
  request.authorization = req.get_header_value("Authorization");
  request.contentType = req.get_header_value("Content-Type");
  request.body = req.body;
  request.multipart = request.contentType.compare(0, 19, "multipart/form-data") == 0;
  for (const auto& field : req.files) {
    request.parts.push_back(
        FormPart{field.second.name, field.second.filename, field.second.content});
  }
  return request;
}

void sendAnswer(const HttpAnswer& answer, httplib::Response& res) {
  res.status = answer.status;
  for (const auto& header : answer.headers) res.set_header(header.first.c_str(), header.second);
  res.set_content(answer.body, answer.contentType.c_str());
}

std::string urlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A wildcard address is not one a browser can open; the loopback is.
std::string browsableBase(const std::string& host, int port) {
  const std::string shown = host == "0.0.0.0" ? "127.0.0.1" : host == "::" ? "::1" : host;
  return "http://" + urlHost(shown) + ":" + std::to_string(port);
}

void printBanner(const std::string& url, const std::string& pageUrl, const std::string& root,
                 const std::string& token) {
  std::printf(
      "orva-webapi serving %s\n"
      "administration page: %s#token=%s\n"
      "root: %s\n"
      "token: %s (in %s)\n"
      "example:\n"
      "  curl -s -H 'Authorization: Bearer %s' -H 'Content-Type: application/json' \\\n"
      "    -d '{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"version\":1,"
      "\"method\":\"list_cards\",\"params\":{\"user\":\"alice\"}}' \\\n"
      "    %s\n",
      url.c_str(), pageUrl.c_str(), token.c_str(), root.c_str(), token.c_str(),
      tokenPath(root).c_str(), token.c_str(), url.c_str());
  std::fflush(stdout);
}

bool installStopSignals(std::string& error) {
  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  // The reading end blocks; only the handler's end must never block.
  ::fcntl(gSignalPipe[0], F_SETFL, 0);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0) {
    error = std::string("cannot catch signals: ") + std::strerror(errno);
    return false;
  }
  // A client that goes away mid-answer must not end the server.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

}  // namespace

int runServe(const LoadedModule& module, const Options& options, const std::string& root) {
  std::string token;
  std::string error;
  if (!loadOrCreateToken(root, token, error)) {
    std::fprintf(stderr, "orva-webapi: %s\n", error.c_str());
    return 2;
  }
  if (!installStopSignals(error)) {
    std::fprintf(stderr, "orva-webapi: %s\n", error.c_str());
    return 2;
  }

  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kServeThreads); };
  server.set_payload_max_length(kMaxBodyBytes);
  // httplib's default adds SO_REUSEPORT, which lets a second server bind the
  // same port and silently take a share of the requests. A restart only
  // needs SO_REUSEADDR.
  server.set_socket_options([](socket_t sock) {
    const int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  const WebRoutes routes(module, root, uiFolderPath(options.uiFolder), token);
  clearUploadFolder(root);

  // Runs before the body is read: without the token nothing else happens.
  server.set_pre_routing_handler([&routes](const httplib::Request& req, httplib::Response& res) {
    if (!routes.refusedWithoutBody(req.path, req.get_header_value("Authorization"))) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    sendAnswer(unauthorizedAnswer(), res);
    return httplib::Server::HandlerResponse::Handled;
  });

  const auto handler = [&routes](const httplib::Request& req, httplib::Response& res) {
    sendAnswer(routes.answer(fromHttplib(req)), res);
  };
  server.Post(".*", handler);
  server.Get(".*", handler);

  // Fills the bodies of the answers that httplib makes by itself.
  server.set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        switch (res.status) {
          case 413:
            sendAnswer(hostErrorAnswer(413, kBodyTooLarge, "the limit is 16 MiB"), res);
            break;
          case 400:
            sendAnswer(hostErrorAnswer(400, kBadRequest, "malformed HTTP"), res);
            break;
          case 404:
            res.set_content("Not found: requests go to POST /webapi\n", "text/plain");
            break;
          default:
            return httplib::Server::HandlerResponse::Unhandled;
        }
        return httplib::Server::HandlerResponse::Handled;
      }));

  int port = options.listenPort;
  if (port == 0) {
    port = server.bind_to_any_port(options.listenHost);
    if (port <= 0) port = -1;
  } else if (!server.bind_to_port(options.listenHost, port)) {
    port = -1;
  }
  if (port < 0) {
    std::fprintf(stderr, "orva-webapi: cannot listen on %s:%d\n", options.listenHost.c_str(),
                 options.listenPort);
    return 2;
  }
  const std::string base = "http://" + urlHost(options.listenHost) + ":" + std::to_string(port);
  printBanner(base + "/webapi", browsableBase(options.listenHost, port) + "/", root, token);

  std::atomic<bool> listenDone{false};
  std::atomic<bool> signalled{false};
  std::thread stopper([&] {
    char byte = 0;
    while (::read(gSignalPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    if (listenDone) return;
    signalled = true;
    // The signal may come before the server loop has started; stop it as
    // soon as it runs.
    while (!listenDone) {
      if (server.is_running()) {
        server.stop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  const bool listened = server.listen_after_bind();
  listenDone = true;
  const char wake = 'w';
  (void)!::write(gSignalPipe[1], &wake, 1);
  stopper.join();

  if (!signalled && !listened) {
    std::fprintf(stderr, "orva-webapi: the server stopped unexpectedly\n");
    return 2;
  }
  std::printf("orva-webapi stopped\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace orva_host
