#include "tasks/url.h"

#include "native/fixtures.h"
#include "platform/fs.h"

namespace {

using namespace fixtures;


// protocol|scheme|user|password|host|port|port text|path
std::string Split(const url::Record& r) {
  const char* protocol = r.protocol == url::kFtp     ? "FTP"
                         : r.protocol == url::kHttp  ? "HTTP"
                         : r.protocol == url::kHttps ? "HTTPS"
                                                     : "none";
  return std::string(protocol) + "|" + r.scheme + "|" + r.user + "|" + r.password + "|" + r.host + "|" +
         std::to_string(r.port) + "|" + r.port_text + "|" + r.path;
}

TEST(UrlParse, SplitsAcceptedUrlsAndComposesTheirForms) {
  // The stored form is without CR LF; nullptr: as the display form.
  const struct { const char *text, *split, *display, *stored = nullptr; } cases[] = {
      {"ftp://h/pub/a.zip", "FTP|ftp|||h|21||/pub/a.zip", "ftp://h/pub/a.zip"},
      // Only the scheme changes case.
      {"hTtP://Host/Dir/File.htm", "HTTP|http|||Host|80||/Dir/File.htm", "http://Host/Dir/File.htm"},
      {"ftp://joe:secret@h/x", "FTP|ftp|joe|secret|h|21||/x", "ftp://joe:******@h/x", "ftp://joe:secret@h/x"},
      // A user without a password still gets the ':'.
      {"ftp://joe@h/x", "FTP|ftp|joe||h|21||/x", "ftp://joe:@h/x"},
      // An explicit port is kept, even the default one.
      {"http://h:80/x", "HTTP|http|||h|80|80|/x", "http://h:80/x"},
      {"ftp://u:pw@h:2121/a", "FTP|ftp|u|pw|h|2121|2121|/a", "ftp://u:**@h:2121/a", "ftp://u:pw@h:2121/a"},
      // The user ends at the first ':', the password at the first '@'.
      {"ftp://u:p:q@h/x", "FTP|ftp|u|p:q|h|21||/x", "ftp://u:***@h/x", "ftp://u:p:q@h/x"},
      {"ftp://u:p@q@h/x", "FTP|ftp|u|p|q@h|21||/x", "ftp://u:*@q@h/x", "ftp://u:p@q@h/x"},
      // Odd forms that read back as they were parsed.
      {"http://h:0080/x", "HTTP|http|||h|80|0080|/x", "http://h:0080/x"},
      {"ftp://h:65535/x", "FTP|ftp|||h|65535|65535|/x", "ftp://h:65535/x"},
      {"http://:@h/x", "HTTP|http|||h|80||/x", "http://h/x"},
      // The two characters after the ':' are skipped without being checked.
      {"http:xxh/x", "HTTP|http|||h|80||/x", "http://h/x"},
      {"http://h/A/b?C=d%20e#f", "HTTP|http|||h|80||/A/b?C=d%20e#f", "http://h/A/b?C=d%20e#f"},
      // https: port 443 unless named, the same forms as http.
      {"HTTPS://Host/a.zip", "HTTPS|https|||Host|443||/a.zip", "https://Host/a.zip"},
      {"https://u:pw@h:8443/d/", "HTTPS|https|u|pw|h|8443|8443|/d/", "https://u:**@h:8443/d/",
       "https://u:pw@h:8443/d/"},
      {"hTTpS://h:443/x?y", "HTTPS|https|||h|443|443|/x?y", "https://h:443/x?y"},
      // An IPv6 literal keeps its brackets.
      {"http://[::1]:8080/x", "HTTP|http|||[::1]|8080|8080|/x", "http://[::1]:8080/x"},
      {"https://[2001:DB8::1]/x", "HTTPS|https|||[2001:DB8::1]|443||/x", "https://[2001:DB8::1]/x"},
      {"ftp://u:p@[::ffff:10.0.0.1]:2121/x", "FTP|ftp|u|p|[::ffff:10.0.0.1]|2121|2121|/x",
       "ftp://u:*@[::ffff:10.0.0.1]:2121/x", "ftp://u:p@[::ffff:10.0.0.1]:2121/x"},
  };
  for (const auto& c : cases) {
    url::Record record;
    std::string display, stored;
    ASSERT_EQ(0, url::Parse(c.text, &record, &display, &stored)) << c.text;
    EXPECT_EQ(c.split, Split(record));
    EXPECT_EQ(c.display, display);
    EXPECT_EQ(std::string(c.stored ? c.stored : c.display) + "\r\n", stored);
  }
}

std::string Filled(std::string pattern, std::size_t length, char fill) {
  return pattern.replace(pattern.find('#'), 1, std::string(length, fill));
}

TEST(UrlParse, RefusesMalformedAndOverlongUrlsLeavingOutputsAlone) {
  std::vector<std::string> refused = {
      "http://h", "http:", "ftp//h/x", "", "gopher://h/x", "httpss://h/x", "shttp://h/x", "ftps://h/x",
      "https:/", "https://h", "https://h:65536/x", "mailto:joe@h/x", std::string(5000, 'x'),
      // 1022 bytes: with CR LF the stored form would not fit. The display
      // form of a user without password is one byte longer than the text.
      Filled("http://h/#", 1013, 'p'), Filled("ftp://joe@h/#", 1009, 'p'),
      // The stored form would read back as another record: a port text that
      // reads as 0 is not written, nor is a password or an '@' without a user.
      "http://127.0.0.1:abc/f1", "http://h:0/x", "http://h:/x", "http://:secret@h/f", "http://:pw@a@h/f",
      // A port that no connection can use.
      "http://h:65536/x", "http://h:-80/x", "ftp://h:99999999999/x",
      // Only digits: two links run together, a sign or a blank.
      "http://h:1808http://h:18081/x", "http://h:80x/x", "http://h:+80/x", "http://h: 80/x",
      // Brackets hold an IPv6 address and nothing else, and only ":port" follows them.
      "http://::1/x", "http://[::1/x", "http://[]/x", "http://[127.0.0.1]/x", "http://[h]/x", "http://[::1]x/x",
      "http://[::1]:/x", "http://[1:2:3:4:5:6:7:8:9]/x", "http://[1::2::3]/x", "http://[1:2:3:4:5:6:7]/x",
      "http://[fe80::1%25eth0]/x", "http://[:1::]/x", "http://[12345::]/x", "http://[::1.2.3]/x"};
  EXPECT_EQ(0, url::Parse(Filled("http://h/#", 1012, 'p'), nullptr, nullptr, nullptr));
  // Each field is refused one byte past 79, never cut (the port text with
  // leading zeros, so that it names a port).
  for (const char* pattern : {"ftp://#:p@h/", "ftp://u:#@h/", "ftp://#/", "ftp://h:#21/", "ftp://u@#:2/"}) {
    const std::size_t others = std::string(pattern).find("#21") == std::string::npos ? 0 : 2;
    EXPECT_EQ(0, url::Parse(Filled(pattern, 79 - others, '0'), nullptr, nullptr, nullptr)) << pattern;
    refused.push_back(Filled(pattern, 80 - others, '0'));
  }
  for (const std::string& text : refused) {
    url::Record record;
    record.path = "/left/over";  // redirects rely on a failed parse leaving an empty path
    std::string display = "unchanged", stored = "unchanged";
    EXPECT_EQ(-1, url::Parse(text, &record, &display, &stored)) << text.substr(0, 40);
    EXPECT_EQ(Split(url::Record()) + " unchanged unchanged", Split(record) + " " + display + " " + stored);
  }
}

TEST(UrlParseForEditing, RefusesAPasswordWithABoxAndAnEmptyPath) {
  TaskEnvironment env;
  url::Record user, password;
  EXPECT_EQ(0, url::ParseForEditing("ftp://joe@h/up/", &user));
  EXPECT_EQ(0, url::ParseForEditing("ftp://joe:secret@h:2121/pub/a.zip", &password));
  EXPECT_EQ("FTP|ftp|joe||h|21||/up/", Split(user));
  EXPECT_EQ("FTP|ftp|joe|secret|h|2121|2121|", Split(password));
  const unsigned style = prompts::kIconInformation | prompts::kTaskModal;
  EXPECT_EQ(env.sink.Shown(), (std::vector<std::string>{Box("Message", "No password here please", style)}));
}

TEST(UrlPercentDecode, DecodesEscapesAndRefusesMalformedOnesWhole) {
  const std::pair<const char*, const char*> cases[] = {  // nullptr: refused, text unchanged
      {"a%20b", "a b"}, {"%%%41", "%A"}, {"%4a%4A", "JJ"}, {"a+b", "a+b"}, {"%ff%7E", "\xff~"}, {"", ""},
      {"a%4", nullptr}, {"%", nullptr}, {"a%g1", nullptr}, {"%4%41", nullptr}, {"ok%20%zz", nullptr},
      // Bytes that would cut or split a protocol command line.
      {"a%00b", nullptr}, {"a%0Db", nullptr}, {"user%0d%0aDELE%20x", nullptr}};
  for (const auto& [in, out] : cases) {
    std::string text = in;
    EXPECT_EQ(out ? 0 : -1, url::PercentDecode(&text)) << in;
    EXPECT_EQ(out ? out : in, text) << in;
  }
}

TEST(UrlFromTypedLink, TrimsBlanksAndLineEndsAndEscapesUtf8Bytes) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/x\r\n", "http://h/x"}, {" \thttp://h/x ", "http://h/x"}, {"http://h/a b", "http://h/a b"},
      {"http://h/\xC3\xBC", "http://h/%C3%BC"}, {"http://h/\xE6\x97\xA5\xE6\x9C\xAC/", "http://h/%E6%97%A5%E6%9C%AC/"},
      {"\r\n", ""}, {"", ""}};
  for (const auto& [typed, link] : cases) EXPECT_EQ(link, url::FromTypedLink(typed)) << typed;
}

TEST(UrlPercentEncodeName, EscapesWhatTheLinkWouldReadOtherwiseAndDecodesBack) {
  const std::pair<const char*, const char*> cases[] = {
      {"50%off.bin", "50%25off.bin"}, {"a%20b", "a%2520b"}, {"a b#c?d", "a%20b%23c%3Fd"},
      {"\xe9t\xe9\x7f\x01", "%E9t%E9%7F%01"}, {"<\"x\\y^`{|}>", "%3C%22x%5Cy%5E%60%7B%7C%7D%3E"},
      {"Keep-these_1.2~(a)+b,c;d=e!@:$&'*", "Keep-these_1.2~(a)+b,c;d=e!@:$&'*"}, {"", ""}};
  for (const auto& [name, encoded] : cases) {
    std::string text = url::PercentEncodeName(name);
    EXPECT_EQ(encoded, text);
    EXPECT_EQ(0, url::PercentDecode(&text));
    EXPECT_EQ(name, text);
  }
}

TEST(UrlLocalName, TakesTheLastSegmentDecodedWhenSafeAndRefusesNamesThatLeaveTheDirectoryOrNameADevice) {
  const std::string down = std::string("down") + fs::Separator();
  const struct { const char *path, *name; bool safe; } cases[] = {
      {"/dir/a.zip", "a.zip", true},  {"/dir/", "index.html", true},  {"a.zip", "a.zip", true},
      {"/cgi?f=a/b", "cgi", true},    {"/download?id=5&x=y", "download", true}, {"/a#f/x", "a", true},
      {"/a/../b.zip", "b.zip", true}, {"/dir/..", "..", false},       {"/dir/.", ".", false},  {"..", "..", false},
      // What Windows cannot hold in a name becomes '_', so a task file means the same on both systems.
      {"/..\\w.ini", ".._w.ini", true}, {"/c:a.zip", "c_a.zip", true}, {"/<a>\"b|c*\x01", "_a__b_c__", true},
      // Escapes are undone when the result is a safe name the system can hold, else kept.
      {"/a%20b.zip", "a b.zip", true}, {"/r%C3%A9sum%C3%A9.pdf", "r\xC3\xA9sum\xC3\xA9.pdf", true},
      {"/a%3Fb", "a_b", true},         {"/a%2F..%2Fb", "a%2F..%2Fb", true}, {"/a%5Cb", "a%5Cb", true},
      {"/%2E%2E", "%2E%2E", true},     {"/nul%2Etxt", "nul%2Etxt", true},    {"/%E9t%E9", "%E9t%E9", true},
      {"/50%zz", "50%zz", true},       {"/a%00b", "a%00b", true},
      // Windows devices, whatever the case or extension; longer names are files
      {"/nul", "nul", false},        {"/d/CON.txt", "CON.txt", false},  {"/Com1.tar.gz", "Com1.tar.gz", false},
      {"/lpt9", "lpt9", false},      {"/aux .x", "aux .x", false},      {"/console.log", "console.log", true},
      {"/com10", "com10", true},     {"/lpt0", "lpt0", true},           {"/nullify", "nullify", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(down + c.name, url::LocalNameForUrl("down", c.path)) << c.path;
    EXPECT_EQ(c.safe ? "" : "Unsafe file name in link: " + std::string(c.name), url::UnsafeLocalNameReason(c.path));
  }
  EXPECT_EQ(down + "a.zip", url::LocalNameForUrl(down, "/a.zip"));
}

}  // namespace
