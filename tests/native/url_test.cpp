#include "engine/url.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fs.h"
#include "platform/prompts.h"
#include "task_fixtures.h"

namespace {

struct Accepted {
  const char* text;
  int protocol;
  const char* scheme;
  const char* user;
  const char* password;
  const char* host;
  unsigned port;
  const char* port_text;
  const char* path;
  const char* display;
  const char* stored;  // without the CR LF every stored form ends in
};

const Accepted kAccepted[] = {
    {"ftp://h/pub/a.zip", url::kFtp, "ftp", "", "", "h", 21, "", "/pub/a.zip", "ftp://h/pub/a.zip",
     "ftp://h/pub/a.zip"},
    // Only the scheme changes case.
    {"HTTP://Host/Dir/File.htm", url::kHttp, "http", "", "", "Host", 80, "", "/Dir/File.htm",
     "http://Host/Dir/File.htm", "http://Host/Dir/File.htm"},
    {"hTtP://h/x", url::kHttp, "http", "", "", "h", 80, "", "/x", "http://h/x", "http://h/x"},
    {"http://h/", url::kHttp, "http", "", "", "h", 80, "", "/", "http://h/", "http://h/"},
    {"ftp://joe:secret@h/x", url::kFtp, "ftp", "joe", "secret", "h", 21, "", "/x",
     "ftp://joe:******@h/x", "ftp://joe:secret@h/x"},
    // A user without a password still gets the ':'.
    {"ftp://joe@h/x", url::kFtp, "ftp", "joe", "", "h", 21, "", "/x", "ftp://joe:@h/x",
     "ftp://joe:@h/x"},
    {"http://h:8080/x", url::kHttp, "http", "", "", "h", 8080, "8080", "/x", "http://h:8080/x",
     "http://h:8080/x"},
    // An explicit default port is kept.
    {"http://h:80/x", url::kHttp, "http", "", "", "h", 80, "80", "/x", "http://h:80/x",
     "http://h:80/x"},
    {"ftp://u:pw@h:2121/a/b", url::kFtp, "ftp", "u", "pw", "h", 2121, "2121", "/a/b",
     "ftp://u:**@h:2121/a/b", "ftp://u:pw@h:2121/a/b"},
    // The password runs to the first '@'; the rest is the host.
    {"ftp://u:p@q@h/x", url::kFtp, "ftp", "u", "p", "q@h", 21, "", "/x", "ftp://u:*@q@h/x",
     "ftp://u:p@q@h/x"},
    // A port text that reads as 0 is not written back.
    {"http://h:0/x", url::kHttp, "http", "", "", "h", 0, "0", "/x", "http://h/x", "http://h/x"},
    {"http://h:abc/x", url::kHttp, "http", "", "", "h", 0, "abc", "/x", "http://h/x", "http://h/x"},
    // The two characters after the ':' are skipped without being checked.
    {"http:xxh/x", url::kHttp, "http", "", "", "h", 80, "", "/x", "http://h/x", "http://h/x"},
    // The path keeps everything after the host, case and query included.
    {"http://h/A/b?C=d%20e#f", url::kHttp, "http", "", "", "h", 80, "", "/A/b?C=d%20e#f",
     "http://h/A/b?C=d%20e#f", "http://h/A/b?C=d%20e#f"},
};

TEST(UrlParse, SplitsAndComposesAcceptedUrls) {
  for (const Accepted& c : kAccepted) {
    SCOPED_TRACE(c.text);
    url::Record record;
    std::string display = "unchanged";
    std::string stored = "unchanged";
    ASSERT_EQ(0, url::Parse(c.text, &record, &display, &stored));
    EXPECT_EQ(c.protocol, record.protocol);
    EXPECT_EQ(c.scheme, record.scheme);
    EXPECT_EQ(c.user, record.user);
    EXPECT_EQ(c.password, record.password);
    EXPECT_EQ(c.host, record.host);
    EXPECT_EQ(c.port, record.port);
    EXPECT_EQ(c.port_text, record.port_text);
    EXPECT_EQ(c.path, record.path);
    EXPECT_EQ(c.display, display);
    EXPECT_EQ(std::string(c.stored) + "\r\n", stored);
  }
}

TEST(UrlParse, RefusesMalformedUrlsAndLeavesOutputsAlone) {
  const std::string refused[] = {
      "http://h",             // no '/' after the host
      "http://",              // nothing after the scheme
      "http:",                //
      "ftp//h/x",             // no ':' after the scheme
      "",                     //
      "gopher://h/x",         // unknown schemes
      "https://h/x",          //
      "mailto:joe@h/x",       //
      "ftps://h/x",           //
      std::string(5000, 'x'),  // no ':' at all, far past every width
  };
  for (const std::string& text : refused) {
    SCOPED_TRACE(text.substr(0, 40));
    url::Record record;
    record.path = "/left/over";
    std::string display = "unchanged";
    std::string stored = "unchanged";
    EXPECT_EQ(-1, url::Parse(text, &record, &display, &stored));
    EXPECT_EQ("unchanged", display);
    EXPECT_EQ("unchanged", stored);
    // Redirects rely on a failed parse leaving an empty path.
    EXPECT_EQ("", record.path);
    EXPECT_EQ(url::kUnknown, record.protocol);
  }
}

// Each field is accepted at its width less one (room for the NUL of the
// original buffer) and refused one byte later, never cut.
struct FieldLimit {
  const char* field;
  std::size_t width;
  std::string (*make)(std::size_t length);
};

const FieldLimit kFieldLimits[] = {
    {"user", url::kUserWidth,
     [](std::size_t n) { return "ftp://" + std::string(n, 'u') + ":p@h/x"; }},
    {"password", url::kPasswordWidth,
     [](std::size_t n) { return "ftp://u:" + std::string(n, 'p') + "@h/x"; }},
    {"host", url::kHostWidth, [](std::size_t n) { return "http://" + std::string(n, 'h') + "/x"; }},
    {"port text", url::kPortTextWidth,
     [](std::size_t n) { return "http://h:" + std::string(n - 1, '0') + "8/x"; }},
    {"host with user and password", url::kHostWidth,
     [](std::size_t n) { return "ftp://u:p@" + std::string(n, 'h') + ":21/x"; }},
};

TEST(UrlParse, RefusesEveryFieldOneByteOverItsWidth) {
  for (const FieldLimit& limit : kFieldLimits) {
    SCOPED_TRACE(limit.field);
    url::Record record;
    EXPECT_EQ(0, url::Parse(limit.make(limit.width - 1), &record, nullptr, nullptr));
    EXPECT_EQ(-1, url::Parse(limit.make(limit.width), &record, nullptr, nullptr));
  }
  url::Record record;
  ASSERT_EQ(0, url::Parse(kFieldLimits[3].make(url::kPortTextWidth - 1), &record, nullptr, nullptr));
  EXPECT_EQ(8u, record.port);
}

TEST(UrlParse, RefusesAUrlWhoseStoredFormWouldNotFit) {
  // The stored form adds CR LF, so 1021 characters is the longest URL.
  const std::string head = "http://h/";
  const std::string longest = head + std::string(url::kUrlWidth - 3 - head.size(), 'p');
  ASSERT_EQ(1021u, longest.size());
  std::string stored;
  ASSERT_EQ(0, url::Parse(longest, nullptr, nullptr, &stored));
  EXPECT_EQ(longest + "\r\n", stored);
  EXPECT_EQ(-1, url::Parse(longest + "p", nullptr, nullptr, nullptr));
  EXPECT_EQ(-1, url::Parse(head + std::string(url::kPathWidth, 'p'), nullptr, nullptr, nullptr));
  // The display form of a user without password is one byte longer.
  const std::string with_user = "ftp://joe@h/" + std::string(1021 - 12, 'p');
  ASSERT_EQ(1021u, with_user.size());
  EXPECT_EQ(-1, url::Parse(with_user, nullptr, nullptr, nullptr));
}

TEST(UrlParseForEditing, RefusesAPasswordWithABoxAndAnEmptyPath) {
  task_fixtures::RecordingSink sink;
  prompts::SetSink(&sink);
  url::Record record;
  EXPECT_EQ(0, url::ParseForEditing("ftp://joe:secret@h:2121/pub/a.zip", &record));
  prompts::SetSink(nullptr);
  ASSERT_EQ(1u, sink.shown.size());
  EXPECT_EQ("No password here please", sink.shown[0].text);
  EXPECT_EQ("Message", sink.shown[0].caption);
  EXPECT_EQ(unsigned(prompts::kIconInformation | prompts::kTaskModal), sink.shown[0].style);
  EXPECT_EQ("", record.path);
  EXPECT_EQ("h", record.host);
  EXPECT_EQ(2121u, record.port);
  EXPECT_EQ(url::kFtp, record.protocol);
}

TEST(UrlParseForEditing, ParsesUrlsWithoutPasswordSilently) {
  task_fixtures::RecordingSink sink;
  prompts::SetSink(&sink);
  url::Record record;
  EXPECT_EQ(0, url::ParseForEditing("ftp://joe@h/up/", &record));
  EXPECT_EQ("/up/", record.path);
  EXPECT_EQ("joe", record.user);
  EXPECT_EQ(0, url::ParseForEditing("http://h/up/", &record));
  EXPECT_EQ("/up/", record.path);
  EXPECT_EQ(-1, url::ParseForEditing("http://h", &record));
  EXPECT_EQ(-1, url::ParseForEditing("news://h/x", &record));
  EXPECT_EQ(-1, url::ParseForEditing("ftp://" + std::string(url::kUserWidth, 'u') + "@h/x", &record));
  prompts::SetSink(nullptr);
  EXPECT_TRUE(sink.shown.empty());
}

TEST(UrlCompose, ChoosesTheFormByUserAndPort) {
  struct Case {
    const char *user, *password, *port_text, *display, *stored;
  } cases[] = {
      {"", "", "", "ftp://h/p", "ftp://h/p\r\n"},
      {"", "", "21", "ftp://h:21/p", "ftp://h:21/p\r\n"},
      {"u", "abc", "", "ftp://u:***@h/p", "ftp://u:abc@h/p\r\n"},
      {"u", "abc", "99", "ftp://u:***@h:99/p", "ftp://u:abc@h:99/p\r\n"},
      {"u", "", "", "ftp://u:@h/p", "ftp://u:@h/p\r\n"},
      // A password without a user is not written.
      {"", "abc", "", "ftp://h/p", "ftp://h/p\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.display);
    std::string display, stored;
    url::Compose("ftp", c.user, c.password, "h", c.port_text, "/p", &display, &stored);
    EXPECT_EQ(c.display, display);
    EXPECT_EQ(c.stored, stored);
  }
}

TEST(UrlSplitUserInfo, LeavesEverythingAloneWithoutAnAt) {
  std::string authority = "h:21", user = "old", password = "old";
  url::SplitUserInfo(&authority, &user, &password);
  EXPECT_EQ("h:21", authority);
  EXPECT_EQ("old", user);
  EXPECT_EQ("old", password);
  authority = "u:p:q@h:21";
  url::SplitUserInfo(&authority, &user, &password);
  EXPECT_EQ("h:21", authority);
  EXPECT_EQ("u", user);
  EXPECT_EQ("p:q", password);
}

TEST(UrlPercentDecode, DecodesEscapes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a%20b", "a b"},
      {"%%%41", "%A"},
      {"%%", "%"},
      {"%4a%4A", "JJ"},
      {"a+b", "a+b"},
      {"%ff%7E", "\xff~"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string text = c.in;
    EXPECT_EQ(0, url::PercentDecode(&text));
    EXPECT_EQ(c.out, text);
  }
}

TEST(UrlPercentDecode, RefusesMalformedEscapesAndLeavesTheText) {
  const char* refused[] = {
      "a%4",       // one digit at the end
      "%",         //
      "a%g1",      // not hexadecimal
      "a%1z",      //
      "%4%41",     // '%' is no digit
      "ok%20%zz",  // fails as a whole, not up to the bad escape
      // Bytes that would cut or split a protocol command line.
      "a%00b", "a%0Db", "a%0ab", "user%0D%0ADELE%20x",
  };
  for (const char* in : refused) {
    SCOPED_TRACE(in);
    std::string text = in;
    EXPECT_EQ(-1, url::PercentDecode(&text));
    EXPECT_EQ(in, text);
  }
}

TEST(UrlBlanks, TrimTrailingSpacesRemovesOnlySpaces) {
  struct Case {
    std::string in, out;
  } cases[] = {{"a  ", "a"}, {"a \t", "a \t"}, {"   ", ""}, {" a b ", " a b"}, {"", ""}};
  for (const Case& c : cases) {
    std::string text = c.in;
    url::TrimTrailingSpaces(&text);
    EXPECT_EQ(c.out, text) << '"' << c.in << '"';
  }
}

TEST(UrlBlanks, SkipLeadingBlanksDropsControlAndHighBytes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"  x y ", "x y "},
      {"\t\r\n\x01x", "x"},
      {"\x80\xff\xa0x\x80", "x\x80"},
      {std::string("\0x", 2), "x"},
      {"!x", "!x"},
      {"   ", "   "},  // all blank: left as it is
      {"\xe9\xe9", "\xe9\xe9"},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    url::SkipLeadingBlanks(&text);
    EXPECT_EQ(c.out, text) << '"' << c.in << '"';
  }
}

TEST(UrlLocalName, JoinsTheDirectoryAndTheLastSegment) {
  const std::string s(1, fs::Separator());
  struct Case {
    std::string directory, path, name;
  } cases[] = {
      {"down", "/dir/a.zip", "down" + s + "a.zip"},
      {"down" + s, "/dir/a.zip", "down" + s + "a.zip"},
      {"down", "/a%20b.zip", "down" + s + "a%20b.zip"},  // nothing decoded or escaped
      {"down", "/dir/", "down" + s},                    // the directory itself
      {"down", "a.zip", "down" + s + "a.zip"},          // no '/' at all
      {"down", "/cgi?f=a/b", "down" + s + "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.name, url::LocalNameForUrl(c.directory, c.path));
  }
}

TEST(UrlLocalName, RefusesNamesThatLeaveTheDirectory) {
  struct Case {
    const char* path;
    const char* refused_name;  // nullptr: safe
  } cases[] = {
      {"/dir/a.zip", nullptr},
      {"/dir/", nullptr},
      {"/", nullptr},
      {"/a/../b.zip", nullptr},  // only the last segment becomes the name
      {"/dir/..", ".."},
      {"/dir/.", "."},
      {"/..\\..\\win.ini", "..\\..\\win.ini"},
      {"/x\\a.zip", "x\\a.zip"},
      {"/c:a.zip", "c:a.zip"},
      {"/a.zip:stream", "a.zip:stream"},
      {"..", ".."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string reason = url::UnsafeLocalNameReason(c.path);
    if (c.refused_name) {
      EXPECT_EQ(std::string("Unsafe file name in link: ") + c.refused_name, reason);
    } else {
      EXPECT_EQ("", reason);
    }
  }
}

}  // namespace
