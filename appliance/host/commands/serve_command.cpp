#include "appliance/host/commands/serve_command.h"

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

#include "appliance/history/daily_prune.h"
#include "appliance/host/commands/root_setup.h"
#include "appliance/host/http/access_token.h"
#include "appliance/host/http/http_server.h"
#include "appliance/host/http/upload_file.h"
#include "appliance/host/routes/web_routes.h"

namespace orva_host {

namespace {

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

// Every open connection is a descriptor: take all the system allows.
void raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int runServe(const LoadedModule& module, const Options& options, const std::string& root) {
  std::string token;
  std::string error;
  if (!loadOrCreateToken(root, token, error)) {
    std::fprintf(stderr, "orva-webapi: %s\n", error.c_str());
    return 2;
  }
  raiseDescriptorLimit();
  // Bodies and answers of 128 KiB and more get memory of their own, which
  // goes back to the system as soon as they are freed (glibc would otherwise
  // raise this threshold after the first large block and keep such blocks).
  ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);

  const WebRoutes routes(module, root, uiFolderPath(options.uiFolder), token);
  clearUploadFolder(root);

  HttpServer server(routes);
  if (!server.listen(options.listenHost, options.listenPort, error)) {
    std::fprintf(stderr, "orva-webapi: %s\n", error.c_str());
    return 2;
  }
  const int port = server.port();
  const std::string base = "http://" + urlHost(options.listenHost) + ":" + std::to_string(port);
  printBanner(base + "/webapi", browsableBase(options.listenHost, port) + "/", root, token);
  if (!server.onLoopback()) {
    std::fprintf(stderr,
                 "orva-webapi: warning: listening on %s, which other machines can reach; the "
                 "token and the address books travel unencrypted over plain HTTP\n",
                 options.listenHost.c_str());
    std::fflush(stderr);
  }

  // The books' histories drop what they no longer keep once a day.
  const orva_history::DailyPrune pruning;
  if (!server.run()) {
    // A request stuck in the module (a program it waits for): ended with
    // the process, whose state it no longer shares.
    std::printf("orva-webapi stopped; a request still running was cut off\n");
    std::fflush(stdout);
    std::_Exit(0);
  }
  std::printf("orva-webapi stopped\n");
  std::fflush(stdout);
  return 0;
}

}  // namespace orva_host
