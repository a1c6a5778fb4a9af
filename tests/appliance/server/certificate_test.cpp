// The server's self-signed certificate as phones need it, its renewal, an
// administrator's own pair, and sign-ins beside a hash the server cannot check.
#include <sys/utsname.h>

#include <string>

#include "tests/appliance/server/server_fixture.h"

namespace server_test {
namespace {

constexpr const char* kSsl = "/var/packages/Tessaro/target/etc/ssl";
constexpr const char* kTool = "/var/packages/Tessaro/target/tools/server_certificate.sh";

class CertificateTest : public ServerTest {
 protected:
  int http = freePort();
  int https = freePort();

  std::string crt() const { return root.at(std::string(kSsl) + "/server.crt"); }

  std::string openssl(const std::string& options) const {
    return run("openssl x509 -in " + quote(crt()) + " -noout " + options).out;
  }

  std::string fingerprint() const {
    const std::string out = openssl("-fingerprint -sha256");
    return out.substr(out.find('=') + 1, 95);
  }

  // The certificate nginx sends now.
  std::string servedFingerprint() const {
    return run("echo | openssl s_client -connect 127.0.0.1:" + std::to_string(https) +
               " 2>/dev/null | openssl x509 -noout -fingerprint -sha256 | cut -d= -f2")
        .out.substr(0, 95);
  }

  // Whole days from notBefore to notAfter.
  long lifeDays() const {
    const Result days = run("echo $(( ($(date -d \"$(openssl x509 -in " + quote(crt()) +
                            " -noout -enddate | cut -d= -f2)\" +%s) - $(date -d \"$(openssl x509 "
                            "-in " +
                            quote(crt()) + " -noout -startdate | cut -d= -f2)\" +%s)) / 86400 ))");
    return std::atol(days.out.c_str());
  }

  Result tool(const std::string& action, const std::string& env = "") const {
    return run("ORVA_ROOT=" + root.path() + " " + env + " " + root.at(kTool) + " " + action);
  }
};

std::string hostName() {
  utsname name{};
  return ::uname(&name) == 0 ? name.nodename : "";
}

TEST_F(CertificateTest, SelfSignedPairIsOnePhonesAccept) {
  ASSERT_EQ(set(true, false, http, https)["success"], true);
  EXPECT_LE(lifeDays(), 825);
  EXPECT_GE(lifeDays(), 800);
  const std::string names = openssl("-ext subjectAltName");
  EXPECT_NE(names.find("DNS:localhost"), std::string::npos) << names;
  EXPECT_NE(names.find("DNS:" + hostName()), std::string::npos) << names;
  EXPECT_NE(names.find("IP Address:127.0.0.1"), std::string::npos) << names;
  EXPECT_NE(openssl("-ext extendedKeyUsage").find("TLS Web Server Authentication"),
            std::string::npos);
  EXPECT_EQ(servedFingerprint(), fingerprint());
  // Each name the tool wants is in the certificate.
  const Result wanted = tool("names");
  size_t start = 0;
  while (start < wanted.out.size()) {
    const size_t end = wanted.out.find('\n', start);
    std::string name = wanted.out.substr(start, end - start);
    start = end == std::string::npos ? wanted.out.size() : end + 1;
    if (name.rfind("DNS:", 0) == 0) {
      EXPECT_NE(names.find(name), std::string::npos) << name;
    }
  }
}

TEST_F(CertificateTest, RenewedWhenFewerThan30DaysRemainAndWhileRunning) {
  ASSERT_EQ(tool("ensure", "ORVA_CERT_DAYS=20").status, 0);
  const std::string shortOne = fingerprint();
  ASSERT_EQ(set(true, false, http, https)["success"], true);
  EXPECT_NE(fingerprint(), shortOne);
  EXPECT_GE(lifeDays(), 800);
  EXPECT_NE(orva_test::readFile(root.at("/var/log/server.log")).find("fewer than 30 days remain"),
            std::string::npos);

  // Running: renew puts a due pair in place and nginx serves it at once.
  const std::string before = fingerprint();
  EXPECT_EQ(tool("renew").out, "");  // not due: nothing done
  EXPECT_EQ(fingerprint(), before);
  const std::string mark = root.at(std::string(kSsl) + "/.self-signed");
  std::string text = orva_test::readFile(mark);
  text.replace(text.find("names="), 6, "names=DNS:old-name,");
  ASSERT_TRUE(orva_test::writeFile(mark, text));
  const Result renewed = tool("renew");
  EXPECT_NE(renewed.out.find("the machine's names changed"), std::string::npos) << renewed.err;
  EXPECT_NE(fingerprint(), before);
  std::string served;
  for (int i = 0; i < 100 && served != fingerprint(); ++i) {
    served = servedFingerprint();
    if (served != fingerprint()) ::usleep(100000);
  }
  EXPECT_EQ(served, fingerprint());
}

TEST_F(CertificateTest, AnAdministratorsPairIsNeverTouchedButTheOldTenYearPairIs) {
  const std::string ssl = root.at(kSsl);
  ASSERT_EQ(run("mkdir -p " + ssl).status, 0);
  ASSERT_EQ(run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                "-days 5 -subj /CN=admin -keyout " +
                ssl + "/server.key -out " + ssl + "/server.crt 2>/dev/null")
                .status,
            0);
  const std::string admins = orva_test::readFile(crt());
  ASSERT_EQ(set(true, false, http, https)["success"], true);
  EXPECT_EQ(orva_test::readFile(crt()), admins);
  EXPECT_EQ(script("stop").status, 0);

  // The pair the start/stop script made before (ten years) is replaced.
  const std::string name = hostName();
  ASSERT_EQ(
      run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
          "-days 3650 -subj /CN=" +
          name + " -addext subjectAltName=DNS:" + name + ",DNS:localhost,IP:127.0.0.1 -keyout " +
          ssl + "/server.key -out " + ssl + "/server.crt 2>/dev/null")
          .status,
      0);
  ASSERT_EQ(script("start").status, 0);
  EXPECT_LE(lifeDays(), 825);
}

// The authority phones trust vouches only for the appliance: a leaf for any
// other name or address that its key signs fails verification.
TEST_F(CertificateTest, TheAuthorityVouchesOnlyForTheAppliancesNames) {
  ASSERT_EQ(tool("ensure").status, 0);
  const std::string ssl = root.at(kSsl);
  const std::string ca = quote(ssl + "/ca.crt"), key = quote(ssl + "/ca.key");
  EXPECT_EQ(run("openssl verify -CAfile " + ca + " " + quote(crt())).status, 0);
  EXPECT_NE(openssl("-ext basicConstraints").find("CA:FALSE"), std::string::npos);
  EXPECT_LE(lifeDays(), 825);
  const std::string constraints =
      run("openssl x509 -in " + ca + " -noout -ext nameConstraints,basicConstraints").out;
  EXPECT_NE(constraints.find("Name Constraints: critical"), std::string::npos) << constraints;
  EXPECT_NE(constraints.find("DNS:" + hostName()), std::string::npos) << constraints;
  EXPECT_NE(constraints.find("pathlen:0"), std::string::npos) << constraints;

  // Leaves signed with the authority's key: the appliance's name passes,
  // every other name or address fails.
  const std::string signedLeaf =
      "openssl req -x509 -config <(printf '[req]\\ndistinguished_name=dn\\n[dn]\\n') -CA " + ca +
      " -CAkey " + key + " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 30 " +
      "-subj /CN=x -keyout /dev/null -out " + quote(root.at("/leaf.crt")) + " -addext ";
  struct Row {
    std::string name;
    bool passes;
  };
  for (const Row& row : std::vector<Row>{{"DNS:" + hostName(), true},
                                         {"DNS:localhost", true},
                                         {"DNS:www.example.com", false},
                                         {"DNS:accounts.example.org", false},
                                         {"IP:10.9.9.9", false},
                                         {"IP:8.8.8.8", false}}) {
    ASSERT_EQ(run("bash -c " + quote(signedLeaf + "subjectAltName=" + row.name)).status, 0)
        << row.name;
    const Result verified = run("openssl verify -CAfile " + ca + " " + quote(root.at("/leaf.crt")));
    EXPECT_EQ(verified.status == 0, row.passes) << row.name << ": " << verified.out << verified.err;
  }

  // Signed again (names changed within the constraints, or due): the same
  // authority, so phones need not be set up again.
  const std::string authority = orva_test::readFile(ssl + "/ca.crt");
  const std::string mark = ssl + "/.self-signed";
  std::string text = orva_test::readFile(mark);
  text.replace(text.find("names="), 6, "names=DNS:old-name,");
  ASSERT_TRUE(orva_test::writeFile(mark, text));
  const Result renewed = tool("ensure", "ORVA_CERT_DAYS=20");
  EXPECT_NE(renewed.out.find("the machine's names changed"), std::string::npos) << renewed.out;
  EXPECT_EQ(orva_test::readFile(ssl + "/ca.crt"), authority);
  EXPECT_EQ(run("openssl verify -CAfile " + ca + " " + quote(crt())).status, 0);
  const Result due = tool("ensure");
  EXPECT_NE(due.out.find("fewer than 30 days remain"), std::string::npos) << due.out;
  EXPECT_EQ(orva_test::readFile(ssl + "/ca.crt"), authority);

  // A name the authority does not cover: a new one, and phones are told.
  text = orva_test::readFile(mark);
  const size_t line = text.find("authority_names=");
  text.replace(line, text.find('\n', line) - line, "authority_names=DNS:only-this");
  text.replace(text.find("\nnames="), 7, "\nnames=DNS:older,");
  ASSERT_TRUE(orva_test::writeFile(mark, text));
  const Result moved = tool("ensure");
  EXPECT_NE(moved.out.find("phones must be set up again"), std::string::npos) << moved.out;
  EXPECT_NE(orva_test::readFile(ssl + "/ca.crt"), authority);
  EXPECT_EQ(run("openssl verify -CAfile " + ca + " " + quote(crt())).status, 0);
}

TEST_F(CertificateTest, AHashTheServerCannotCheckRefusesOnlyThatUser) {
  const std::string file = root.at(htpasswdPath());
  ASSERT_EQ(run("htpasswd -bm " + quote(file) +
                " old old-pw 2>/dev/null && "
                "printf 'broken line\\n' >> " +
                quote(file))
                .status,
            0);
  // The old user's line before alice's: Radicale's own check would fail both.
  const std::string text = orva_test::readFile(file);
  ASSERT_TRUE(orva_test::writeFile(
      file, text.substr(text.find("old:")) + text.substr(0, text.find("old:"))));
  ASSERT_EQ(set(false, false, http, https)["success"], true);
  EXPECT_EQ(report(httpBase(http), "alice", "alice-pw").code, 207);
  EXPECT_EQ(report(httpBase(http), "old", "old-pw").code, 401);
  EXPECT_EQ(report(httpBase(http), "bob", "wrong").code, 401);
  EXPECT_NE(orva_test::readFile(root.at("/var/log/radicale.log"))
                .find("Sign-in of 'old' refused: the stored password is not a bcrypt hash"),
            std::string::npos);
}

}  // namespace
}  // namespace server_test
