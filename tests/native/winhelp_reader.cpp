#include "native/winhelp_reader.h"

#include <cctype>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace winhelp {
namespace {

constexpr std::uint32_t kFileMagic = 0x00035F3F;
constexpr std::uint16_t kTreeMagic = 0x293B;
constexpr std::uint16_t kSystemMagic = 0x036C;
constexpr std::uint16_t kSystemContents = 3;
constexpr std::size_t kFileHeader = 9;   // reserved space, used space, flags
constexpr std::size_t kTreeHeader = 38;
constexpr std::size_t kLeafHeader = 8;   // unused bytes, entries, previous, next

struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Little-endian reads that refuse to leave [begin, end).
class Bytes {
 public:
  explicit Bytes(const std::vector<std::uint8_t>& data) : data_(data) {}
  std::uint32_t U32(std::size_t at) const { return U16(at) | std::uint32_t{U16(at + 2)} << 16; }
  std::int32_t I32(std::size_t at) const { return static_cast<std::int32_t>(U32(at)); }
  std::uint16_t U16(std::size_t at) const {
    Need(at, 2);
    return static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8);
  }
  std::int16_t I16(std::size_t at) const { return static_cast<std::int16_t>(U16(at)); }
  // A NUL-terminated string that ends before limit; returns it and moves at past the NUL.
  std::string Text(std::size_t& at, std::size_t limit) const {
    std::string text;
    for (;; ++at) {
      Need(at, 1);
      if (at >= limit) throw Malformed("unterminated string");
      if (!data_[at]) break;
      text += static_cast<char>(data_[at]);
    }
    ++at;
    return text;
  }
  void Need(std::size_t at, std::size_t size) const {
    if (at > data_.size() || data_.size() - at < size) throw Malformed("read past the end of the file");
  }

 private:
  const std::vector<std::uint8_t>& data_;
};

struct InternalFile {
  std::size_t start;  // first byte after the file header
  std::size_t size;   // used bytes
};

InternalFile OpenInternal(const Bytes& bytes, std::size_t offset) {
  std::int32_t reserved = bytes.I32(offset);
  std::int32_t used = bytes.I32(offset + 4);
  if (used < 0 || reserved < used + static_cast<std::int32_t>(kFileHeader)) throw Malformed("bad internal file header");
  bytes.Need(offset + kFileHeader, static_cast<std::size_t>(used));
  return {offset + kFileHeader, static_cast<std::size_t>(used)};
}

// Calls visit(first entry, entry count, end of page) for each leaf page of the
// B+ tree in the internal file at offset, in key order.
void ForEachLeaf(const Bytes& bytes, std::size_t offset,
                 const std::function<void(std::size_t, int, std::size_t)>& visit) {
  InternalFile file = OpenInternal(bytes, offset);
  if (bytes.U16(file.start) != kTreeMagic) throw Malformed("no B+ tree where one belongs");
  std::size_t page_size = bytes.U16(file.start + 4);
  int root = bytes.I16(file.start + 26);
  int pages = bytes.I16(file.start + 30);
  int levels = bytes.I16(file.start + 32);
  if (page_size < kLeafHeader || pages < 1 || levels < 1) throw Malformed("bad B+ tree header");
  std::size_t first_page = file.start + kTreeHeader;
  auto page_at = [&](int page) {
    if (page < 0 || page >= pages) throw Malformed("B+ tree page out of range");
    std::size_t at = first_page + static_cast<std::size_t>(page) * page_size;
    bytes.Need(at, page_size);
    return at;
  };
  int page = root;
  for (int level = 1; level < levels; ++level) page = bytes.I16(page_at(page) + 4);
  // A next-page chain cannot be longer than the tree; a loop is malformed.
  for (int visited = 0; page != -1; ++visited) {
    if (visited == pages) throw Malformed("B+ tree leaves form a loop");
    std::size_t at = page_at(page);
    int entries = bytes.I16(at + 2);
    if (entries < 0) throw Malformed("negative entry count");
    visit(at + kLeafHeader, entries, at + page_size);
    page = bytes.I16(at + 6);
  }
}

}  // namespace

std::uint32_t ContextHash(const std::string& name) {
  std::uint32_t hash = 0;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
    std::uint32_t value = 0;
    if (u >= 'a' && u <= 'z') value = u - 'a' + 17;
    else if (u >= '1' && u <= '9') value = u - '0';
    else if (u == '0') value = 10;
    else if (u == '.') value = 12;
    else if (u == '_') value = 13;
    hash = hash * 43 + value;
  }
  return hash;
}

std::string HelpFile::Load(const std::vector<std::uint8_t>& data) {
  *this = HelpFile();
  Bytes bytes(data);
  try {
    if (bytes.U32(0) != kFileMagic) throw Malformed("not a Windows help file");
    ForEachLeaf(bytes, bytes.U32(4), [&](std::size_t at, int entries, std::size_t end) {
      for (int i = 0; i < entries; ++i) {
        std::string name = bytes.Text(at, end);
        files_[name] = bytes.U32(at);
        at += 4;
      }
    });
    for (const char* required : {"|SYSTEM", "|TTLBTREE", "|CONTEXT", "|CTXOMAP"}) {
      if (!files_.count(required)) throw Malformed(std::string("no internal file ") + required);
    }
    ForEachLeaf(bytes, files_["|TTLBTREE"], [&](std::size_t at, int entries, std::size_t end) {
      for (int i = 0; i < entries; ++i) {
        std::uint32_t topic = bytes.U32(at);
        at += 4;
        titles_[topic] = bytes.Text(at, end);
      }
    });
    ForEachLeaf(bytes, files_["|CONTEXT"], [&](std::size_t at, int entries, std::size_t) {
      for (int i = 0; i < entries; ++i, at += 8) hash_map_[bytes.U32(at)] = bytes.U32(at + 4);
    });
    InternalFile map = OpenInternal(bytes, files_["|CTXOMAP"]);
    std::size_t count = bytes.U16(map.start);
    if (map.size < 2 + count * 8) throw Malformed("|CTXOMAP shorter than its entries");
    for (std::size_t i = 0; i < count; ++i) {
      number_map_[bytes.U32(map.start + 2 + i * 8)] = bytes.U32(map.start + 6 + i * 8);
    }
    InternalFile system = OpenInternal(bytes, files_["|SYSTEM"]);
    if (system.size < 12 || bytes.U16(system.start) != kSystemMagic) throw Malformed("bad |SYSTEM header");
    // Records follow the 12-byte header: type, size, data.
    for (std::size_t at = system.start + 12; at + 4 <= system.start + system.size;) {
      std::uint16_t type = bytes.U16(at), size = bytes.U16(at + 2);
      if (at + 4 + size > system.start + system.size) throw Malformed("|SYSTEM record past its end");
      if (type == kSystemContents && size >= 4) contents_ = bytes.U32(at + 4);
      at += 4 + size;
    }
  } catch (const Malformed& e) {
    *this = HelpFile();
    return e.what();
  }
  return std::string();
}

std::optional<std::uint32_t> HelpFile::TopicOfNumber(std::uint32_t context_number) const {
  auto found = number_map_.find(context_number);
  if (found == number_map_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::uint32_t> HelpFile::TopicOfName(const std::string& context_name) const {
  auto found = hash_map_.find(ContextHash(context_name));
  if (found == hash_map_.end()) return std::nullopt;
  return found->second;
}

// Without a contents record a viewer starts at the first topic.
std::optional<std::uint32_t> HelpFile::ContentsTopic() const {
  if (contents_) return contents_;
  if (titles_.empty()) return std::nullopt;
  return titles_.begin()->first;
}

std::string HelpFile::TitleAt(std::uint32_t topic_offset) const {
  auto after = titles_.upper_bound(topic_offset);
  if (after == titles_.begin()) return std::string();
  return std::prev(after)->second;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace winhelp
