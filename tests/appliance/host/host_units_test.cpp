// The host's command-line and token units. They are built into the program
// only, so the test compiles the ones it checks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>
#include <thread>

#include "appliance/host/http/access_token.cpp"
#include "appliance/host/commands/arguments.cpp"
#include "appliance/host/api/host_codes.cpp"
#include "appliance/host/api/json_text.cpp"
#include "platform/webapi.h"
#include "tests/support/temp_root.h"

namespace {

using orva_host::Options;

Json::Value parseParam(const std::string& argument) {
  Json::Value params(Json::objectValue);
  std::string error;
  EXPECT_TRUE(orva_host::addCallParameter(argument, params, error)) << argument << ": " << error;
  return params;
}

bool refusesParam(const std::string& argument) {
  Json::Value params(Json::objectValue);
  std::string error;
  const bool ok = orva_host::addCallParameter(argument, params, error);
  EXPECT_TRUE(ok || !error.empty()) << argument;
  return !ok;
}

TEST(CallParameter, TextIsAlwaysAStringSplitAtTheFirstEquals) {
  EXPECT_EQ(parseParam("user=alice")["user"], Json::Value("alice"));
  EXPECT_EQ(parseParam("q=a=b")["q"], Json::Value("a=b"));
  EXPECT_EQ(parseParam("q=")["q"], Json::Value(""));
  EXPECT_EQ(parseParam("n=12")["n"], Json::Value("12"));
  EXPECT_EQ(parseParam("b=true")["b"], Json::Value("true"));
  EXPECT_EQ(parseParam("j={\"x\":1}")["j"], Json::Value("{\"x\":1}"));
  EXPECT_EQ(parseParam("a:b=c")["a:b"], Json::Value("c"));
  EXPECT_EQ(parseParam("u=\xc3\xa9t\xc3\xa9")["u"], Json::Value("\xc3\xa9t\xc3\xa9"));
}

TEST(CallParameter, ColonEqualsTakesAnyJsonValue) {
  EXPECT_EQ(parseParam("n:=12")["n"], Json::Value(12));
  EXPECT_EQ(parseParam("n:=-1.5")["n"].asDouble(), -1.5);
  EXPECT_EQ(parseParam("b:=false")["b"], Json::Value(false));
  EXPECT_TRUE(parseParam("z:=null")["z"].isNull());
  EXPECT_TRUE(parseParam("z:=null").isMember("z"));
  EXPECT_EQ(parseParam("s:=\"alice\"")["s"], Json::Value("alice"));
  EXPECT_EQ(parseParam("s:=\"a\\u00e9\"")["s"], Json::Value("a\xc3\xa9"));
  const Json::Value array = parseParam("id:=[\"a\",2,{\"k\":[]}]")["id"];
  ASSERT_TRUE(array.isArray());
  ASSERT_EQ(array.size(), 3u);
  EXPECT_EQ(array[0], Json::Value("a"));
  EXPECT_TRUE(array[2]["k"].isArray());
  EXPECT_EQ(parseParam("c:={\"fn\":\"A\"}")["c"]["fn"], Json::Value("A"));
  // "name::=" is the name "name:" with a JSON value.
  EXPECT_EQ(parseParam("a::=1")["a:"], Json::Value(1));
}

TEST(CallParameter, MalformedOnesAreRefused) {
  for (const char* bad : {"x:=", "x:=  ", "x:={bad", "x:=1 2", "x:='s'", "x:=abc", "x:=[1,]",
                          "x:={\"a\":1,}", "x:=NaN", "x:=Infinity", "x:=// c\n1",
                          "x:={\"a\":1,\"a\":2}", "x:=\"unterminated", "noequals", "=v", ":=1"}) {
    EXPECT_TRUE(refusesParam(bad)) << bad;
  }
  // A parameter given twice, in either form.
  Json::Value params(Json::objectValue);
  std::string error;
  ASSERT_TRUE(orva_host::addCallParameter("user=a", params, error));
  EXPECT_FALSE(orva_host::addCallParameter("user:=\"b\"", params, error));
  EXPECT_EQ(params["user"], Json::Value("a"));
}

TEST(CallParameter, DeepNestingIsRefusedNotACrash) {
  EXPECT_TRUE(refusesParam("x:=" + std::string(100000, '[') + std::string(100000, ']')));
}

bool parse(const std::vector<const char*>& args, Options& options, std::string& error) {
  std::vector<const char*> argv{"orva-webapi"};
  argv.insert(argv.end(), args.begin(), args.end());
  return orva_host::parseArguments(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(Arguments, GlobalOptionsThenCommand) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"--root", "/r", "--module=/m.so", "--verbose", "call", "API", "meth",
                     "user=alice", "--version", "3", "n:=1"},
                    options, error))
      << error;
  EXPECT_EQ(options.root, "/r");
  EXPECT_EQ(options.module, "/m.so");
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.command, orva_host::Command::kCall);
  EXPECT_EQ(options.api, "API");
  EXPECT_EQ(options.method, "meth");
  EXPECT_EQ(options.version, 3);
  EXPECT_EQ(options.params["user"], Json::Value("alice"));
  EXPECT_EQ(options.params["n"], Json::Value(1));
}

TEST(Arguments, DoubleDashEndsCallOptions) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"call", "API", "m", "--", "--version=x"}, options, error)) << error;
  EXPECT_EQ(options.version, 1);
  EXPECT_EQ(options.params["--version"], Json::Value("x"));
}

TEST(Arguments, ServeListenAddress) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"serve"}, options, error));
  EXPECT_EQ(options.listenHost, "127.0.0.1");
  EXPECT_EQ(options.listenPort, 8080);
  ASSERT_TRUE(parse({"serve", "--listen", "0.0.0.0:0"}, options, error));
  EXPECT_EQ(options.listenHost, "0.0.0.0");
  EXPECT_EQ(options.listenPort, 0);

  std::string host;
  int port = -1;
  EXPECT_TRUE(orva_host::parseListenAddress("[::1]:9000", host, port, error));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 9000);
  for (const char* bad : {"", "host", ":80", "host:", "host:-1", "host:+80", "host:65536",
                          "host:8o", "::1:80", "[::1]80", "[::1]"}) {
    EXPECT_FALSE(orva_host::parseListenAddress(bad, host, port, error)) << bad;
  }
}

TEST(Arguments, HelpWinsWhereverItStands) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse({"--root", "/r", "call", "API", "--help"}, options, error));
  EXPECT_TRUE(options.help);
  EXPECT_EQ(options.helpText, orva_host::callHelp());
  Options serve;
  ASSERT_TRUE(parse({"serve", "-h"}, serve, error));
  EXPECT_EQ(serve.helpText, orva_host::serveHelp());
}

TEST(Arguments, UsageErrors) {
  const std::vector<std::vector<const char*>> cases = {
      {},
      {"--root"},
      {"--root="},
      {"--module"},
      {"--nope", "methods"},
      {"list"},
      {"call", "API"},
      {"call", "API", "m", "--version", "-1"},
      {"call", "API", "m", "--version", "99999999999"},
      {"call", "API", "m", "--version", "1x"},
      {"call", "API", "m", "--colour"},
      {"methods", "x"},
      {"serve", "--listen"},
      {"serve", "--port", "80"},
  };
  for (const auto& args : cases) {
    Options options;
    std::string error;
    EXPECT_FALSE(parse(args, options, error)) << (args.empty() ? "(none)" : args.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(Token, BearerHeader) {
  EXPECT_EQ(orva_host::bearerToken("Bearer abc"), "abc");
  EXPECT_EQ(orva_host::bearerToken("bearer abc"), "abc");
  EXPECT_EQ(orva_host::bearerToken("  BEARER \t abc  "), "abc");
  EXPECT_EQ(orva_host::bearerToken("Basic abc"), "");
  EXPECT_EQ(orva_host::bearerToken("Bearerabc"), "");
  EXPECT_EQ(orva_host::bearerToken("Bearer"), "");
  EXPECT_EQ(orva_host::bearerToken("Bearer   "), "");
  EXPECT_EQ(orva_host::bearerToken(""), "");
}

TEST(Token, Comparison) {
  const std::string token(64, 'a');
  EXPECT_TRUE(orva_host::sameToken(token, token));
  EXPECT_FALSE(orva_host::sameToken(std::string(63, 'a') + "b", token));
  EXPECT_FALSE(orva_host::sameToken("b" + std::string(63, 'a'), token));
  EXPECT_FALSE(orva_host::sameToken(token.substr(0, 32), token));
  EXPECT_FALSE(orva_host::sameToken(token + "a", token));
  EXPECT_FALSE(orva_host::sameToken("", token));
  // An empty expected token never lets anything in.
  EXPECT_FALSE(orva_host::sameToken("", ""));
}

TEST(Token, MadeOnceThenReused) {
  orva_test::TempRoot root;
  std::string first, second, error;
  // Made private from the start: no repair of a loose mode is ever needed.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(orva_host::loadOrCreateToken(root.path(), first, error)) << error;
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
  ASSERT_TRUE(orva_host::loadOrCreateToken(root.path(), second, error)) << error;
  EXPECT_EQ(first, second);
  struct stat st {};
  ASSERT_EQ(::stat(orva_host::tokenPath(root.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(root.at("/etc/orva-webapi").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);

  // Another root, another token.
  orva_test::TempRoot other;
  std::string third;
  ASSERT_TRUE(orva_host::loadOrCreateToken(other.path(), third, error)) << error;
  EXPECT_NE(first, third);
}

TEST(Token, SimultaneousFirstStartsAgree) {
  orva_test::TempRoot root;
  std::vector<std::string> tokens(8);
  std::vector<std::thread> threads;
  for (auto& token : tokens) {
    threads.emplace_back([&root, &token] {
      std::string error;
      EXPECT_TRUE(orva_host::loadOrCreateToken(root.path(), token, error)) << error;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<std::string>(tokens.begin(), tokens.end()).size(), 1u);
  EXPECT_EQ(tokens[0].size(), 64u);
}

TEST(Token, OpenFileIsTightenedAndABadOneRefused) {
  orva_test::TempRoot root;
  std::string token, error;
  ASSERT_TRUE(orva_host::loadOrCreateToken(root.path(), token, error)) << error;
  const std::string path = orva_host::tokenPath(root.path());
  for (const mode_t loose : {0644, 0640, 0604, 0660}) {
    ASSERT_EQ(::chmod(path.c_str(), loose), 0);
    std::string again;
    ASSERT_TRUE(orva_host::loadOrCreateToken(root.path(), again, error)) << error;
    EXPECT_EQ(again, token);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << std::oct << loose;
  }

  for (const char* content : {"", "short\n",
                              "zz"
                              "0123456789abcdef0123456789abcdef0123456789abcdef"
                              "0123456789abcd\n"}) {
    ASSERT_TRUE(orva_test::writeFile(path, content));
    std::string refused;
    EXPECT_FALSE(orva_host::loadOrCreateToken(root.path(), refused, error)) << content;
    EXPECT_NE(error.find("remove it"), std::string::npos) << error;
  }
}

}  // namespace

namespace {

std::string jsoncppText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

// The host's own compact writer must give jsoncpp's text byte for byte.
TEST(CompactJson, SameTextAsJsoncpp) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte.push_back(static_cast<char>(c));
  Json::Value value(Json::objectValue);
  value["bytes"] = everyByte;
  value["nul"] = Json::Value(std::string("a\0b", 3));
  value[std::string("key \"\\\n\x01\xc3\xa9", 8)] = "k";
  value["empty"] = Json::Value(Json::stringValue);
  value["emptyObject"] = Json::Value(Json::objectValue);
  value["emptyArray"] = Json::Value(Json::arrayValue);
  value["numbers"].append(-7);
  value["numbers"].append(Json::Value::maxUInt64);
  value["numbers"].append(0.1);
  value["numbers"].append(1e300);
  value["numbers"].append(true);
  value["numbers"].append(Json::Value());
  value["nested"]["b"][2]["z"] = "gap at 0 and 1";
  value["nested"]["a"] = "Zoë";
  // Escapes at every offset of the sixteen-byte scan, high bytes between.
  for (int at = 0; at < 40; ++at) {
    value["offsets"].append(std::string(static_cast<std::size_t>(at), 'a') + "\"\xe9\xff" +
                            std::string(17, 'b') + "\x1f\x7f\\" + std::string(at % 5, 'c'));
  }
  for (const Json::Value& sample : {value, Json::Value(), Json::Value("top"), Json::Value(3.5),
                                    Json::Value(Json::arrayValue)}) {
    EXPECT_EQ(orva_host::compactJson(sample), jsoncppText(sample));
  }
}

// Comments are not JSON: jsoncpp would write them, with a line break, into
// the one-line answer. The host leaves them out.
TEST(CompactJson, CommentsAreNeverWritten) {
  Json::Value value(Json::objectValue);
  value["a"] = "x";
  value["n"] = 5;
  const std::string plain = orva_host::compactJson(value);
  value["a"].setComment(std::string("// why"), Json::commentBefore);
  value["n"].setComment(std::string("// after"), Json::commentAfterOnSameLine);
  value.setComment(std::string("// top"), Json::commentAfter);
  EXPECT_EQ(orva_host::compactJson(value), plain);
  EXPECT_EQ(plain, "{\"a\":\"x\",\"n\":5}");
}

// The envelope written to a file in pieces, long arrays made on several
// threads, is the envelope text and a line feed, whatever its size and
// shape; a file that cannot be written is reported.
TEST(CompactJson, EnvelopeLineToAFileIsTheEnvelopeText) {
  Json::Value cards(Json::arrayValue);
  for (int i = 0; i < 3000; ++i) {
    Json::Value card(Json::objectValue);
    card["id"] = "card-" + std::to_string(i);
    card["note"] = std::string(static_cast<std::size_t>(i % 97), i % 2 ? '\n' : 'x');
    cards.append(card);
  }
  Json::Value listing(Json::objectValue);
  listing["cards"] = cards;
  Json::Value nested(Json::objectValue);
  nested["a"]["b"] = cards;
  nested["a"]["c"] = 1;
  nested["z"].append(cards);
  // Indices never set are written as null, in a long array too.
  Json::Value gaps(Json::arrayValue);
  gaps[2999] = "last";
  gaps[0] = cards[0];
  gaps[1500] = cards[1500];
  EXPECT_EQ(orva_host::compactJson(gaps), jsoncppText(gaps));
  for (const Json::Value& data :
       {Json::Value(), Json::Value(Json::objectValue), cards, listing, nested, gaps}) {
    ORVA::APIResponse response;
    response.SetSuccess(data);
    const Json::Value envelope = response.Envelope();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(orva_host::writeEnvelopeLine(file, envelope));
    std::string written(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(&written[0], 1, written.size(), file), written.size());
    std::fclose(file);
    // Made on one thread, member by member.
    const std::string expected = "{\"success\":true,\"data\":" + orva_host::compactJson(data) + "}";
    EXPECT_EQ(orva_host::envelopeJson(envelope), expected);
    EXPECT_EQ(written, expected + "\n");
  }
  std::FILE* full = std::fopen("/dev/full", "w");
  if (full != nullptr) {
    EXPECT_FALSE(orva_host::writeEnvelopeLine(full, ORVA::APIResponse().Envelope()) &&
                 std::fflush(full) == 0);
    std::fclose(full);
  }
}

TEST(HostErrors, DetailIsTheCodesTextThenTheParticulars) {
  const Json::Value bare = orva_host::hostErrorEnvelope(orva_host::kNoAnswer);
  EXPECT_EQ(bare["error"]["code"], 105);
  EXPECT_EQ(bare["error"]["detail"], "Module gave no answer");
  const Json::Value api = orva_host::hostErrorEnvelope(orva_host::kUnknownApi, "X.Y");
  EXPECT_EQ(api["error"]["code"], 101);
  EXPECT_EQ(api["error"]["detail"], "Unknown API: X.Y");
  EXPECT_STREQ(orva_host::hostErrorText(static_cast<orva_host::HostError>(99)), "Host error");
}

}  // namespace

namespace {

TEST(JsonNodes, CountsContainersAndSeparatorsOutsideStrings) {
  EXPECT_TRUE(orva_host::jsonNodesWithin("{\"a\":[1,2,3]}", 4));
  EXPECT_FALSE(orva_host::jsonNodesWithin("{\"a\":[1,2,3]}", 3));
  // Brackets and commas inside strings, escaped quotes included, do not count.
  EXPECT_TRUE(orva_host::jsonNodesWithin("[\"[,{\\\",[[\"]", 1));
  EXPECT_TRUE(orva_host::jsonNodesWithin("", 0));
  EXPECT_FALSE(orva_host::jsonNodesWithin(std::string(1000, '['), 999));
}

}  // namespace
