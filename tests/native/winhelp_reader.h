// Reads what a Windows help viewer needs to open a help file at a topic: the
// internal file directory, the topic titles (|TTLBTREE), the context-number
// map (|CTXOMAP), the context-name hashes (|CONTEXT) and the contents topic
// (|SYSTEM). Every read is bounds-checked; a malformed file fails to load.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winhelp {

class HelpFile {
 public:
  // Returns an empty string on success, else what is wrong with the file.
  std::string Load(const std::vector<std::uint8_t>& bytes);

  // Topic offsets: where a viewer starts showing a topic.
  std::optional<std::uint32_t> TopicOfNumber(std::uint32_t context_number) const;
  std::optional<std::uint32_t> TopicOfName(const std::string& context_name) const;
  std::optional<std::uint32_t> ContentsTopic() const;

  // The title of the topic that holds offset (the last topic starting at or
  // before it); empty when there is none.
  std::string TitleAt(std::uint32_t topic_offset) const;

  const std::map<std::string, std::uint32_t>& Files() const { return files_; }
  const std::map<std::uint32_t, std::uint32_t>& ContextMap() const { return number_map_; }

 private:
  std::map<std::string, std::uint32_t> files_;           // internal file name -> offset
  std::map<std::uint32_t, std::uint32_t> number_map_;    // context number -> topic
  std::map<std::uint32_t, std::uint32_t> hash_map_;      // context name hash -> topic
  std::map<std::uint32_t, std::string> titles_;          // topic -> title
  std::optional<std::uint32_t> contents_;
};

// The hash that |CONTEXT keys are made of.
std::uint32_t ContextHash(const std::string& name);

std::vector<std::uint8_t> ReadBytes(const std::string& path);

}  // namespace winhelp
