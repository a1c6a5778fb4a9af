// Units under serve that are built into the program only: the multipart
// form reader and the worker pool's bounded queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "appliance/host/http/multipart_form.cpp"
#include "appliance/host/http/worker_pool.cpp"

namespace {

using orva_host::FormPart;

std::string form(const std::string& boundary, const std::vector<std::string>& parts) {
  std::string body;
  for (const std::string& part : parts) body += "--" + boundary + "\r\n" + part + "\r\n";
  return body + "--" + boundary + "--\r\n";
}

TEST(MultipartForm, BoundaryFromTheContentType) {
  EXPECT_TRUE(orva_host::isMultipartForm("multipart/form-data; boundary=x"));
  EXPECT_TRUE(orva_host::isMultipartForm("Multipart/Form-Data ;boundary=x"));
  EXPECT_FALSE(orva_host::isMultipartForm("application/json"));
  EXPECT_FALSE(orva_host::isMultipartForm("multipart/form-data-not"));
  EXPECT_EQ(orva_host::multipartBoundary("multipart/form-data; boundary=----WebKit12"),
            "----WebKit12");
  EXPECT_EQ(orva_host::multipartBoundary("multipart/form-data; charset=x; boundary=\"a b\""),
            "a b");
  EXPECT_EQ(orva_host::multipartBoundary("multipart/form-data"), "");
  EXPECT_EQ(orva_host::multipartBoundary("multipart/form-data; boundary="), "");
  EXPECT_EQ(orva_host::multipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')),
            "");
}

TEST(MultipartForm, FieldsFileNamesAndContentAsSent) {
  const std::string card = "BEGIN:VCARD\r\n--not-the-boundary\r\n\r\nEND:VCARD\r\n";
  const std::string body =
      "preamble\r\n" +
      form("XyZ", {"Content-Disposition: form-data; name=\"api\"\r\n\r\nORVA.A",
                   "Content-Disposition: form-data; name=\"params\"\r\n\r\n{}",
                   "content-disposition: form-data; name=\"file\"; "
                   "filename=\"my \\\"book\\\".vcf\"\r\nContent-Type: text/vcard\r\n\r\n" +
                       card,
                   "Content-Disposition: form-data; name=\"empty\"\r\n\r\n"});
  std::vector<FormPart> parts;
  std::string error;
  ASSERT_TRUE(orva_host::parseMultipartForm(body, "XyZ", 16, parts, error)) << error;
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].name, "api");
  EXPECT_EQ(parts[0].content, "ORVA.A");
  EXPECT_EQ(parts[0].filename, "");
  EXPECT_EQ(parts[2].name, "file");
  EXPECT_EQ(parts[2].filename, "my \"book\".vcf");
  EXPECT_EQ(parts[2].content, card);
  EXPECT_EQ(parts[3].content, "");
}

TEST(MultipartForm, MalformedFormsAreRefused) {
  const std::string field = "Content-Disposition: form-data; name=\"a\"\r\n\r\nv";
  const std::vector<std::string> bad = {
      "",
      "no boundary at all",
      "--B\r\n" + field,                                          // never closed
      "--B\r\nContent-Disposition: form-data\r\n\r\nv\r\n--B--",  // no name
      "--B\r\nContent-Type: text/plain\r\n\r\nv\r\n--B--",        // no disposition
      "--B\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nv\r\n--B--",
      "--B\r\nno colon here\r\n\r\nv\r\n--B--",
      "--Bx" + field + "\r\n--B--",  // delimiter run on
  };
  for (const std::string& body : bad) {
    std::vector<FormPart> parts;
    std::string error;
    EXPECT_FALSE(orva_host::parseMultipartForm(body, "B", 16, parts, error)) << body;
    EXPECT_FALSE(error.empty()) << body;
  }
  std::vector<FormPart> parts;
  std::string error;
  EXPECT_FALSE(orva_host::parseMultipartForm(form("B", std::vector<std::string>(17, field)), "B",
                                             16, parts, error));
  EXPECT_NE(error.find("more than 16"), std::string::npos) << error;
}

TEST(WorkerPool, AFullQueueRefusesAtOnceAndStopDropsWaitingJobs) {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::atomic<int> ran{0};
  auto blocker = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return release; });
    ++ran;
  };
  {
    orva_host::WorkerPool pool(2, 3);
    ASSERT_TRUE(pool.tryPost(blocker));
    ASSERT_TRUE(pool.tryPost(blocker));
    // Both workers busy: three may wait, the fourth is refused.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int queued = 0;
    while (queued < 3 && std::chrono::steady_clock::now() < deadline) {
      if (pool.tryPost([&] { ++ran; })) ++queued;
    }
    ASSERT_EQ(queued, 3);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(pool.tryPost([&] { ++ran; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    {
      std::lock_guard<std::mutex> lock(mutex);
      release = true;
    }
    released.notify_all();
    while (ran.load() < 5 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(ran.load(), 5);
    // A job that throws does not end its worker.
    EXPECT_TRUE(pool.tryPost([] { throw std::runtime_error("job failed"); }));
    std::atomic<bool> after{false};
    while (!pool.tryPost([&] { after = true; })) std::this_thread::yield();
    while (!after && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_TRUE(after.load());
  }
  // Stopped: nothing more is taken.
  orva_host::WorkerPool stopped(1, 1);
  stopped.stop();
  EXPECT_FALSE(stopped.tryPost([] {}));
}

}  // namespace
