// The Winsock body of the socket seam and the Win32 file body, on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/socket.h"

namespace {

class WinsockSeam : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(net::Startup()); }
  void TearDown() override { net::Cleanup(); }

  static net::Ipv4 Loopback() {
    net::Ipv4 address = 0;
    EXPECT_TRUE(net::ParseDotted("127.0.0.1", &address));
    return address;
  }

  // A listening socket and its port.
  static std::uint16_t ListenAnywhere(net::Socket* listener) {
    EXPECT_EQ(listener->Open(), 0);
    EXPECT_EQ(listener->Listen(0, 1), 0);
    net::Ipv4 any = 0;
    std::uint16_t port = 0;
    EXPECT_EQ(listener->LocalAddress(&any, &port), 0);
    return port;
  }
};

TEST_F(WinsockSeam, DottedAddressesAreParsedNamesAreNot) {
  net::Ipv4 address = 0;
  ASSERT_TRUE(net::ParseDotted("10.0.0.1", &address));
  EXPECT_EQ(net::DottedText(address), "10.0.0.1");
  EXPECT_FALSE(net::ParseDotted("localhost", &address));
  EXPECT_FALSE(net::ParseDotted("", &address));
}

TEST_F(WinsockSeam, StreamCarriesABlockAndReportsTheEnd) {
  net::Socket listener;
  std::uint16_t port = ListenAnywhere(&listener);
  net::Socket client;
  ASSERT_EQ(client.Open(), 0);
  ASSERT_EQ(client.Connect(Loopback(), port, 5000), 0);
  net::Socket server;
  ASSERT_EQ(listener.Accept(5000, &server), 0);

  net::Ipv4 local = 0;
  std::uint16_t local_port = 0;
  ASSERT_EQ(client.LocalAddress(&local, &local_port), 0);
  EXPECT_EQ(net::DottedText(local), "127.0.0.1");
  EXPECT_NE(local_port, 0);

  std::string block(200000, 'q');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  ASSERT_EQ(client.SendAll(block.data(), block.size(), 5000), 0);
  client.Close();

  std::string got;
  char buffer[65536];
  int error = 0;
  for (int i = 0; i < 1000; ++i) {
    long n = server.Receive(buffer, sizeof buffer, 5000, &error);
    if (n <= 0) {
      EXPECT_EQ(n, 0) << error;
      break;
    }
    got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, block);
}

TEST_F(WinsockSeam, ErrorsCarryWindowsSocketsNumbers) {
  net::Socket listener;
  std::uint16_t port = ListenAnywhere(&listener);
  listener.Close();  // nobody listens there now
  net::Socket client;
  ASSERT_EQ(client.Open(), 0);
  EXPECT_EQ(client.Connect(Loopback(), port, 5000), net::kConnectionRefused);

  net::Socket quiet_listener;
  std::uint16_t quiet_port = ListenAnywhere(&quiet_listener);
  net::Socket waiting;
  EXPECT_EQ(quiet_listener.Accept(100, &waiting), net::kTimedOut);

  net::Socket silent;
  ASSERT_EQ(silent.Open(), 0);
  ASSERT_EQ(silent.Connect(Loopback(), quiet_port, 5000), 0);
  char byte;
  int error = 0;
  EXPECT_EQ(silent.Receive(&byte, 1, 100, &error), -1);
  EXPECT_EQ(error, net::kTimedOut);

  net::Socket closed;
  EXPECT_EQ(closed.SendAll("x", 1, 100), net::kBadSocket);
}

TEST(Win32File, CreateOverwritesReadWriteKeepsContents) {
  char directory[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof directory, directory), 0u);
  std::string path = std::string(directory) + "parcelo-file-test.bin";
  {
    fileio::File file;
    ASSERT_TRUE(file.Open(path, fileio::File::kCreate));
    ASSERT_TRUE(file.WriteAll("abcdef", 6));
    ASSERT_TRUE(file.Seek(3));
    ASSERT_TRUE(file.WriteAll("XY", 2));
  }
  {
    fileio::File file;
    ASSERT_TRUE(file.Open(path, fileio::File::kRead));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 6);
    EXPECT_STREQ(buffer, "abcXYf");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  }
  {
    // Contents stay when a file is opened for writing without kCreate.
    fileio::File file;
    ASSERT_TRUE(file.Open(path, fileio::File::kReadWrite));
    ASSERT_TRUE(file.Seek(6));
    ASSERT_TRUE(file.WriteAll("g", 1));
  }
  {
    fileio::File file;
    ASSERT_TRUE(file.Open(path, fileio::File::kRead));
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "abcXYfg");
  }
  DeleteFileA(path.c_str());
  fileio::File missing;
  EXPECT_FALSE(missing.Open(path, fileio::File::kRead));
}

}  // namespace
