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
#include "appliance/host/cli/dispatch.h"
#include "appliance/host/cli/host_codes.h"
#include "appliance/host/cli/json_text.h"

namespace orva_host {

namespace {

constexpr const char* kJsonType = "application/json";

// Written to by the signal handler, read by the thread that stops the server.
int gSignalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const int saved = errno;
  const char byte = 's';
  (void)!::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

void answerEnvelope(httplib::Response& res, int status, const Json::Value& envelope) {
  res.status = status;
  res.set_content(envelopeJson(envelope) + "\n", kJsonType);
}

void answerBadRequest(httplib::Response& res, const std::string& detail) {
  answerEnvelope(res, 400, hostErrorEnvelope(kBadRequest, detail));
}

// Checks the body's shape and fills the request's parts. False with the
// reason in detail otherwise.
bool readRequestBody(const std::string& body, std::string& api, int& version, std::string& method,
                     Json::Value& params, std::string& detail) {
  Json::Value request;
  std::string reason;
  if (!parseStrictJson(body, request, reason)) {
    detail = "Request body is not JSON: " + reason;
    return false;
  }
  if (!request.isObject()) {
    detail = "Request body must be a JSON object";
    return false;
  }
  for (const std::string& key : request.getMemberNames()) {
    if (key != "api" && key != "version" && key != "method" && key != "params") {
      detail = "Unknown key in request: " + key;
      return false;
    }
  }
  if (!request["api"].isString() || !request["method"].isString()) {
    detail = "Request needs \"api\" and \"method\" as strings";
    return false;
  }
  api = request["api"].asString();
  method = request["method"].asString();
  version = 1;
  if (request.isMember("version")) {
    if (!request["version"].isInt()) {
      detail = "Request \"version\" must be a whole number";
      return false;
    }
    version = request["version"].asInt();
  }
  params = Json::Value(Json::objectValue);
  if (request.isMember("params") && !request["params"].isNull()) {
    if (!request["params"].isObject()) {
      detail = "Request \"params\" must be a JSON object";
      return false;
    }
    params = request["params"];
  }
  return true;
}

void handleWebApi(const LoadedModule& module, const httplib::Request& req, httplib::Response& res) {
  std::string api;
  std::string method;
  int version = 1;
  Json::Value params;
  std::string detail;
  if (!readRequestBody(req.body, api, version, method, params, detail)) {
    answerBadRequest(res, detail);
    return;
  }
  answerEnvelope(res, 200, dispatchRequest(module, api, version, method, params).envelope);
}

std::string urlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

void printBanner(const std::string& url, const std::string& root, const std::string& token) {
  std::printf(
      "orva-webapi serving %s\n"
      "root: %s\n"
      "token: %s (in %s)\n"
      "example:\n"
      "  curl -s -H 'Authorization: Bearer %s' -H 'Content-Type: application/json' \\\n"
      "    -d '{\"api\":\"ORVA.ContactAndCalendar.Contacts\",\"version\":1,"
      "\"method\":\"list_cards\",\"params\":{\"user\":\"alice\"}}' \\\n"
      "    %s\n",
      url.c_str(), root.c_str(), token.c_str(), tokenPath(root).c_str(), token.c_str(),
      url.c_str());
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

  // Runs before the body is read: without the token nothing else happens.
  server.set_pre_routing_handler([&token](const httplib::Request& req, httplib::Response& res) {
    if (sameToken(bearerToken(req.get_header_value("Authorization")), token)) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    res.status = 401;
    res.set_header("WWW-Authenticate", "Bearer");
    res.set_content("Missing or wrong access token\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });

  server.Post("/webapi", [&module](const httplib::Request& req, httplib::Response& res) {
    try {
      handleWebApi(module, req, res);
    } catch (const std::exception& e) {
      ErrorLog("orva-webapi", __LINE__, 1, "request failed: %s", e.what());
      answerEnvelope(res, 500, hostErrorEnvelope(kHostFailure));
    } catch (...) {
      ErrorLog("orva-webapi", __LINE__, 1, "request failed: unknown exception");
      answerEnvelope(res, 500, hostErrorEnvelope(kHostFailure));
    }
  });

  // Fills the bodies of the answers that httplib makes by itself.
  server.set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        switch (res.status) {
          case 413:
            res.set_content(
                envelopeJson(hostErrorEnvelope(kBodyTooLarge, "the limit is 16 MiB")) + "\n",
                kJsonType);
            break;
          case 400:
            res.set_content(envelopeJson(hostErrorEnvelope(kBadRequest, "malformed HTTP")) + "\n",
                            kJsonType);
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
  const std::string url =
      "http://" + urlHost(options.listenHost) + ":" + std::to_string(port) + "/webapi";
  printBanner(url, root, token);

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
