#include "browsers/deployment_page.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "support/test_env.h"
#include "ui/scripted_ui.h"

namespace quil::testing {
namespace {

CertInfoBlock Sample(const char* op) {
  CertInfoBlock b;
  b.opType = op;
  b.cn = "A123456789-01";
  b.serial = "1F2E3D4C5B6A7988";
  b.issuer = "CN=QUIL Demo Issuing CA, O=QUIL Demo CA, C=TW";
  b.subject = "CN=A123456789-01, OU=PELI Securities, O=QUIL Demo CA, C=TW";
  b.notBefore = "20250101090000";
  b.notAfter = "20270101085959";
  return b;
}

TEST(CertInfoTextTest, TwelveLinesInBothForms) {
  CertInfoBlock deploy = Sample("deploy");
  deploy.b64P12Cert = "MIIKaQIBAzCC";
  deploy.certb64 = "MIIDdzCCAl+g";
  EXPECT_EQ(certInfoText(deploy),
            "var certInfo={\n"
            "\"opType\":\"deploy\",\n"
            "\"cn\":\"A123456789-01\",\n"
            "\"serial\":\"1F2E3D4C5B6A7988\",\n"
            "\"issuer\":\"CN=QUIL Demo Issuing CA, O=QUIL Demo CA, C=TW\",\n"
            "\"subject\":\"CN=A123456789-01, OU=PELI Securities, O=QUIL Demo CA, C=TW\",\n"
            "\"notBefore\":\"20250101090000\",\n"
            "\"notAfter\":\"20270101085959\",\n"
            "\"certfinger\":\"\",\n"
            "\"b64P12Cert\":\"MIIKaQIBAzCC\",\n"
            "\"certb64\":\"MIIDdzCCAl+g\"\n"
            "};");
  CertInfoBlock remove = Sample("remove");
  remove.certfinger = "0A1B2C3D4E5F60718293A4B5C6D7E8F901234567";
  EXPECT_EQ(certInfoText(remove),
            "var certInfo={\n"
            "\"opType\":\"remove\",\n"
            "\"cn\":\"A123456789-01\",\n"
            "\"serial\":\"1F2E3D4C5B6A7988\",\n"
            "\"issuer\":\"CN=QUIL Demo Issuing CA, O=QUIL Demo CA, C=TW\",\n"
            "\"subject\":\"CN=A123456789-01, OU=PELI Securities, O=QUIL Demo CA, C=TW\",\n"
            "\"notBefore\":\"20250101090000\",\n"
            "\"notAfter\":\"20270101085959\",\n"
            "\"certfinger\":\"0A1B2C3D4E5F60718293A4B5C6D7E8F901234567\",\n"
            "\"b64P12Cert\":\"\",\n"
            "\"certb64\":\"\"\n"
            "};");
}

TEST(CertInfoTextTest, ValuesCannotEndTheStringOrTheScript) {
  CertInfoBlock b = Sample("deploy");
  b.subject = "CN=\"A\\, B\" </script><script>x()";
  // 功 is A5 5C in code page 950: its second byte is no backslash.
  b.cn = "\xA5\x5C\n";
  std::string text = certInfoText(b);
  EXPECT_NE(text.find("\"subject\":\"CN=\\x22A\\x5C, B\\x22 \\x3C/script\\x3E\\x3Cscript\\x3Ex()\",\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"cn\":\"\\u529F\\x0A\",\n"), std::string::npos) << text;
}

// Every line of the block a script string of plain ASCII characters and
// escapes alone.
void ExpectOnlyEscapedValues(const std::string& text) {
  static const std::regex kLine(
      "\"[A-Za-z0-9]+\":\"(?:[\\x20\\x21\\x23-\\x25\\x28-\\x3B\\x3D\\x3F-\\x5B\\x5D-\\x7E]|\\\\x[0-9A-F]{2}|"
      "\\\\u[0-9A-F]{4})*\",?");
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "var certInfo={");
  for (int i = 0; i < 10 && std::getline(lines, line); ++i) EXPECT_TRUE(std::regex_match(line, kLine)) << line;
  std::getline(lines, line);
  EXPECT_EQ(line, "};");
}

// A lead byte of code page 950 makes a character only with a trail byte
// (40-7E, A1-FE); before a quote, "<" or a control it stands alone.
TEST(CertInfoTextTest, ALeadByteWithoutItsTrailByteIsEscaped) {
  struct Case {
    const char* name;
    std::string value;
    std::string written;
  } cases[] = {
      {"before a quote", "\xA4\"; injected(); //", "\\xA4\\x22; injected(); //"},
      {"before <", "\xB1</script><script>injected()</script>",
       "\\xB1\\x3C/script\\x3E\\x3Cscript\\x3Einjected()\\x3C/script\\x3E"},
      {"before a line feed", "\xFE\ninjected()", "\\xFE\\x0Ainjected()"},
      {"at the end", "\x81", "\\x81"},
      {"before a backslash: a character (5C is a trail byte)", "\xA5\\\"", "\\u529F\\x22"},
      {"a pair", "\xA4\xFD\xA4\x70", "\\u738B\\u5C0F"},
      {"0x80 and 0xFF are no lead bytes", "\x80\xFF\"", "\\x80\\xFF\\x22"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CertInfoBlock b;
    b.opType = "deploy";
    for (std::string* field :
         {&b.cn, &b.serial, &b.issuer, &b.subject, &b.notBefore, &b.notAfter, &b.certfinger, &b.b64P12Cert, &b.certb64})
      *field = c.value;
    const std::string text = certInfoText(b);
    ExpectOnlyEscapedValues(text);
    EXPECT_NE(text.find("\"cn\":\"" + c.written + "\","), std::string::npos) << text;
    EXPECT_NE(text.find("\"certb64\":\"" + c.written + "\"\n"), std::string::npos) << text;
  }
}

// The page of a Big5 and of a UTF-8 template in real Chromium (headless):
// the block defines certInfo with the customer's text, and no value runs as
// script.
TEST(CertInfoTextTest, ChromiumRunsNoValueAsScript) {
  const char* chromium = "/usr/bin/chromium";
  if (access(chromium, X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
  ScopedTestHome home;
  CertInfoBlock b;
  b.opType = "deploy";
  // 王小明, then lone lead bytes before a quote, "<" and a backslash.
  b.cn = "\xA4\xFD\xA4\x70\xA9\xFA";
  for (std::string* field :
       {&b.serial, &b.issuer, &b.subject, &b.notBefore, &b.notAfter, &b.certfinger, &b.b64P12Cert, &b.certb64})
    *field = "\xA4\"; window.injected = 1; //";
  b.subject = "\xB1</script><script>window.injected = 1</script>";
  b.notAfter = "\xFE\\\"; window.injected = 1; //";
  const std::string shown =
      "<script>document.title = typeof certInfo !== 'object' ? 'no certInfo' : window.injected ? 'INJECTED' : "
      "'cn=' + certInfo.cn + ' serial=' + certInfo.serial.length;</script>";
  struct Case {
    const char* name;
    const char* charset;
  } cases[] = {{"Big5", "big5"}, {"UTF-8", "utf-8"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string page = home.path() + "/" + c.charset + ".htm";
    WriteFileForTest(page, fillTemplate(std::string("<!DOCTYPE html><html><head><meta charset=\"") + c.charset +
                                            "\"><title>t</title><script>\n#importCertInfo#\n</script>" + shown +
                                            "</head><body></body></html>",
                                        certInfoText(b)));
    std::string dom;
    RunCommand("(timeout 60 " + std::string(chromium) +
                   " --headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update"
                   " --no-first-run --disable-sync --disable-quic --user-data-dir=" +
                   home.path() + "/chromium-" + c.charset + " --dump-dom file://" + page + " 2>/dev/null)",
               &dom);
    EXPECT_NE(dom.find("<title>cn=王小明 serial=27</title>"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<title>INJECTED"), std::string::npos) << dom;
  }
}

TEST(FillTemplateTest, EveryPlaceholderIsReplaced) {
  struct Case {
    const char* name;
    const char* page;
    const char* expected;
  } cases[] = {
      {"none: unchanged", "<html><script></script>\xA5\x5C</html>", "<html><script></script>\xA5\x5C</html>"},
      {"one", "<script>\n#importCertInfo#\n</script>", "<script>\nBLOCK\n</script>"},
      {"two", "a#importCertInfo#b#importCertInfo#c", "aBLOCKbBLOCKc"},
      {"adjacent", "#importCertInfo##importCertInfo#", "BLOCKBLOCK"},
      {"a different letter case is no placeholder", "#ImportCertInfo#", "#ImportCertInfo#"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fillTemplate(c.page, "BLOCK"), c.expected);
  }
}

std::vector<std::string> FilesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DeploymentPageTest, ReplacesOlderPagesOnlyAndAnswersTheAddress) {
  ScopedTestHome home;
  const std::string folder = home.path() + "/mero";
  for (const char* name : {"MERODepCert.20240101120000123.htm", "MERODepCert.1.htm", "MERODepCert.x.htm",
                           "MERODepCert.123.html", "notes.txt", "QUILCert.P12"})
    WriteFileForTest(folder + "/" + name, "old");
  std::filesystem::create_directories(folder + "/MERODepCert.999.htm");  // a folder stays

  std::string address = placeDeploymentPage("<html>page</html>");

  auto names = FilesOf(folder);
  std::vector<std::string> pages;
  for (const auto& n : names)
    if (std::regex_match(n, std::regex("^MERODepCert\\.[0-9]{17}\\.htm$"))) pages.push_back(n);
  ASSERT_EQ(pages.size(), 1u) << ::testing::PrintToString(names);
  EXPECT_EQ(names, (std::vector<std::string>{"MERODepCert.123.html", pages[0], "MERODepCert.999.htm",
                                             "MERODepCert.x.htm", "QUILCert.P12", "notes.txt"}));
  EXPECT_EQ(ReadFileForTest(folder + "/" + pages[0]), "<html>page</html>");
  EXPECT_EQ(address, "file://" + folder + "/" + pages[0]);
}

// The page carries the certificate with its key: only the customer reads it.
TEST(DeploymentPageTest, FolderAndPageArePrivate) {
  ScopedTestHome home;
  std::string address = placeDeploymentPage("<html>key</html>");
  const std::string page = address.substr(std::string("file://").size());
  struct stat st;
  ASSERT_EQ(stat((home.path() + "/mero").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(DeploymentPageTest, AddressOfAHomeWithWhiteSpace) {
  struct Case {
    const char* path;
    const char* address;
  } cases[] = {
      {"/home/A B/mero/MERODepCert.1.htm", "file:///home/A%20B/mero/MERODepCert.1.htm"},
      {"/home/a\tb  c/x.htm", "file:///home/a%20b%20%20c/x.htm"},
      {"/home/50%#1?/x.htm", "file:///home/50%25%231%3F/x.htm"},
      {"/home/王小明/x.htm", "file:///home/王小明/x.htm"},
  };
  for (const auto& c : cases) EXPECT_EQ(deploymentAddress(c.path), c.address);

  ScopedTestHome home;
  const std::string spaced = home.path() + "/A B";
  std::filesystem::create_directories(spaced);
  setenv("HOME", spaced.c_str(), 1);
  std::string address = placeDeploymentPage("x");
  EXPECT_EQ(address.rfind("file://" + home.path() + "/A%20B/mero/MERODepCert.", 0), 0u) << address;
}

TEST(DeploymentPageTest, PageThatCannotBeWrittenStillGivesItsAddress) {
  ScopedTestHome home;
  ui::ScopedScriptedUi ui;
  WriteFileForTest(home.path() + "/mero", "a file where the folder should be");
  std::string address = placeDeploymentPage("x");
  EXPECT_EQ(address.rfind("file://" + home.path() + "/mero/MERODepCert.", 0), 0u);
  EXPECT_EQ(ui->messages.size(), 1u) << "the writer's own message";
}

}  // namespace
}  // namespace quil::testing
