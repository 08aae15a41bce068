// The Winsock body of the socket seam, on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/socket.h"

namespace {

// On IPv4 and on IPv6 loopback alike.
TEST(WinsockSeam, LoopbackStreamEndsCleanlyAndRefusalIs10061) {
  ASSERT_TRUE(net::Startup());
  for (const char* text : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(text);
    net::Address loopback, any;
    std::uint16_t port = 0;
    ASSERT_TRUE(net::ParseNumeric(text, &loopback));
    net::Socket listener, client, server;
    // Each call returns 0 or an error number.
    ASSERT_FALSE(listener.Open(loopback.v6) || listener.Listen(0, 1, loopback) ||
                 listener.LocalAddress(&any, &port));
    ASSERT_FALSE(client.Open() || client.Connect(loopback, port, 5000) || listener.Accept(5000, &server));
    // Each end's peer is the other end (the FTP data connection goes to the
    // control connection's peer).
    net::Address peer, local;
    std::uint16_t peer_port = 0, local_port = 0;
    ASSERT_FALSE(client.PeerAddress(&peer, &peer_port) || client.LocalAddress(&local, &local_port));
    EXPECT_EQ(net::AddressText(peer) + ":" + std::to_string(peer_port), text + (":" + std::to_string(port)));
    ASSERT_EQ(server.PeerAddress(&peer, &peer_port), 0);
    EXPECT_EQ(peer_port, local_port);

    std::string block(200000, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
    ASSERT_EQ(client.SendAll(block.data(), block.size(), 5000), 0);
    client.Close();
    std::string got;
    char buffer[65536];
    int error = 0;
    long n = 0;
    for (int i = 0; i < 1000 && (n = server.Receive(buffer, sizeof buffer, 5000, &error)) > 0; ++i) {
      got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(n, 0) << error;  // the end of the stream, not an error
    EXPECT_TRUE(got == block) << got.size() << " bytes";

    listener.Close();  // nobody listens on the port now
    ASSERT_EQ(client.Open(), 0);
    EXPECT_EQ(client.Connect(loopback, port, 5000), 10061);
  }
  net::Cleanup();
}

}  // namespace

// Resume and split downloads depend on the Win32 file body keeping what a
// partial file holds and writing at offsets, and one download's file on its holding it against another.
TEST(Win32FileBody, ReadWriteKeepsContentsAndCreateEmpties) {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  const std::string path = std::string(base) + "parcelo-file-body.bin";
  fileio::File file;
  ASSERT_TRUE(file.Open(path, fileio::File::kCreate));
  ASSERT_TRUE(file.WriteAll("12345", 5));
  // A second writer, another transfer of the same file, is refused before
  // anything is emptied (the bytes are checked below).
  fileio::File other;
  EXPECT_FALSE(other.Open(path, fileio::File::kCreate));
  EXPECT_TRUE(other.InUse());
  file.Close();
  ASSERT_TRUE(file.Open(path, fileio::File::kReadWrite));
  ASSERT_TRUE(file.Seek(5));
  ASSERT_TRUE(file.WriteAll("678", 3));
  // The pieces of a split download: threads write through the one handle at
  // once, each block landing at its own offset after the bytes above.
  std::string expected = "12345678";
  for (int block = 0; block < 64; ++block) expected += std::string(4096, static_cast<char>('a' + block % 26));
  std::atomic<int> failed{0};
  std::vector<std::thread> writers;
  for (int first : {0, 1}) {
    writers.emplace_back([&, first] {
      for (int block = first; block < 64; block += 2) {
        if (!file.WriteAt(8 + block * 4096u, &expected[8 + block * 4096], 4096)) ++failed;
      }
    });
  }
  for (std::thread& writer : writers) writer.join();
  file.Close();
  EXPECT_EQ(0, failed.load());
  std::string buffer(expected.size() + 16, '\0');
  std::uint64_t size = 0;
  ASSERT_TRUE(file.Open(path, fileio::File::kRead));
  EXPECT_TRUE(file.Size(&size));
  EXPECT_EQ(size, expected.size());
  EXPECT_EQ(static_cast<long>(size), file.Read(&buffer[0], buffer.size()));
  EXPECT_TRUE(buffer.substr(0, expected.size()) == expected);
  file.Close();
  ASSERT_TRUE(file.Open(path, fileio::File::kCreate));
  EXPECT_EQ(0, file.Read(&buffer[0], buffer.size()));
  file.Close();
  DeleteFileA(path.c_str());
}
