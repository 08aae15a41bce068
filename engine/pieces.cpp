#include "engine/pieces.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock.h"
#include "platform/fs.h"

namespace pieces {

namespace {
// The block size of the pumps' writes (engine/session.h kBlockSize).
constexpr std::uint64_t kCutAlignment = 64 * 1024;
}  // namespace

std::vector<Range> Normalized(std::vector<Range> ranges, std::uint64_t total) {
  for (Range& range : ranges) {
    range.end = std::min(range.end, total);
    range.begin = std::min(range.begin, range.end);
  }
  ranges.erase(std::remove_if(ranges.begin(), ranges.end(), [](const Range& r) { return r.begin == r.end; }),
               ranges.end());
  std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.begin < b.begin; });
  std::vector<Range> merged;
  for (const Range& range : ranges) {
    if (!merged.empty() && range.begin <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, range.end);
    } else {
      merged.push_back(range);
    }
  }
  return merged;
}

Plan::Plan(std::uint64_t total, const std::vector<Range>& done, std::uint64_t min_split)
    : total_(total), min_split_(min_split), done_before_(Normalized(done, total)) {
  std::uint64_t at = 0;
  for (const Range& range : done_before_) {
    if (range.begin > at) pieces_.push_back({at, at, at, range.begin, false, false});
    at = range.end;
  }
  if (at < total) pieces_.push_back({at, at, at, total, false, false});
}

int Plan::NewPiece(std::uint64_t begin, std::uint64_t end) {
  pieces_.push_back({begin, begin, begin, end, true, false, clock_seam::TickCount()});
  return static_cast<int>(pieces_.size() - 1);
}

bool Plan::WorthSplitting(const Piece& piece) const {
  const std::uint64_t half = (piece.end - piece.granted) / 2;
  return half >= min_split_ && half > 0;
}

int Plan::Split(std::size_t victim) {
  Piece& piece = pieces_[victim];
  if (!WorthSplitting(piece)) return kNone;
  const std::uint64_t half = (piece.end - piece.granted) / 2;
  const std::uint64_t end = piece.end;
  // Cut at a multiple of kCutAlignment where that leaves the victim bytes:
  // both pieces then write whole aligned blocks.
  std::uint64_t cut = end - half;
  if (cut - cut % kCutAlignment > piece.granted) cut -= cut % kCutAlignment;
  piece.end = cut;
  return NewPiece(cut, end);
}

int Plan::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    Piece& gap = pieces_[i];
    if (gap.owned || gap.next == gap.end) continue;
    const std::uint64_t end = gap.end;
    gap.end = gap.next;
    return NewPiece(gap.next, end);
  }
  std::size_t largest = pieces_.size();
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    const Piece& piece = pieces_[i];
    if (!piece.owned) continue;
    if (largest == pieces_.size() ||
        piece.end - piece.granted > pieces_[largest].end - pieces_[largest].granted) {
      largest = i;
    }
  }
  return largest == pieces_.size() ? kNone : Split(largest);
}

void Plan::Divide(int piece, int parts) {
  std::lock_guard<std::mutex> hold(lock_);
  if (piece < 0 || static_cast<std::size_t>(piece) >= pieces_.size()) return;
  Piece& p = pieces_[static_cast<std::size_t>(piece)];
  if (!p.owned || parts < 2 || p.granted >= p.end) return;
  const std::uint64_t from = p.granted < p.begin + (p.end - p.begin) / static_cast<std::uint64_t>(parts)
                                 ? p.begin
                                 : p.granted;
  const std::uint64_t most = min_split_ == 0 ? parts : (p.end - from) / min_split_;
  const std::uint64_t slices = std::min<std::uint64_t>(static_cast<std::uint64_t>(parts), most);
  if (slices < 2) return;
  const std::uint64_t slice = (p.end - from) / slices;
  std::vector<std::uint64_t> cuts;
  std::uint64_t last = p.granted;
  for (std::uint64_t k = 1; k < slices; ++k) {
    std::uint64_t cut = from + k * slice;
    if (cut - cut % kCutAlignment > last) cut -= cut % kCutAlignment;
    if (cut <= last) continue;
    cuts.push_back(cut);
    last = cut;
  }
  if (cuts.empty()) return;
  cuts.push_back(p.end);
  p.end = cuts.front();
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    pieces_.push_back({cuts[i], cuts[i], cuts[i], cuts[i + 1], false, false});
  }
}

int Plan::TakeAt(std::uint64_t offset) {
  std::lock_guard<std::mutex> hold(lock_);
  for (Piece& gap : pieces_) {
    if (gap.owned || gap.next != offset || gap.next == gap.end) continue;
    const std::uint64_t end = gap.end;
    gap.end = gap.next;
    const int piece = NewPiece(offset, end);
    pieces_.back().confirmed = true;
    return piece;
  }
  return kNone;
}

int Plan::TakeStalled(std::uint32_t quiet_ms) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::uint32_t now = clock_seam::TickCount();
  std::size_t stalled = pieces_.size();
  for (std::size_t i = 0; i < pieces_.size(); ++i) {
    const Piece& piece = pieces_[i];
    if (!piece.owned && piece.next != piece.end) return kNone;  // a gap: work for a free connection
    if (!piece.owned) continue;
    if (WorthSplitting(piece)) return kNone;
    const std::uint64_t left = piece.end - piece.granted;
    if (!piece.confirmed || left == 0 || now - piece.moved_at < quiet_ms) continue;
    if (stalled == pieces_.size() || left > pieces_[stalled].end - pieces_[stalled].granted) stalled = i;
  }
  if (stalled == pieces_.size()) return kNone;
  const std::uint64_t end = pieces_[stalled].end;
  pieces_[stalled].end = pieces_[stalled].granted;
  return NewPiece(pieces_[stalled].granted, end);
}

std::size_t Plan::Grant(int piece, std::size_t want, std::uint64_t* offset) {
  std::lock_guard<std::mutex> hold(lock_);
  Piece& p = pieces_[static_cast<std::size_t>(piece)];
  *offset = p.granted;
  const std::uint64_t left = p.end - p.granted;
  const std::size_t granted = left < want ? static_cast<std::size_t>(left) : want;
  p.granted += granted;
  return granted;
}

void Plan::Commit(int piece, std::size_t count) {
  std::lock_guard<std::mutex> hold(lock_);
  Piece& p = pieces_[static_cast<std::size_t>(piece)];
  p.next += count;
  if (count > 0) p.moved_at = clock_seam::TickCount();
}

std::uint64_t Plan::Left(int piece, std::uint64_t* next) const {
  std::lock_guard<std::mutex> hold(lock_);
  const Piece& p = pieces_[static_cast<std::size_t>(piece)];
  if (next) *next = p.granted;
  return p.end - p.granted;
}

void Plan::Confirm(int piece) {
  std::lock_guard<std::mutex> hold(lock_);
  Piece& p = pieces_[static_cast<std::size_t>(piece)];
  p.confirmed = true;
  p.moved_at = clock_seam::TickCount();
}

bool Plan::FollowerPending(int piece) const {
  std::lock_guard<std::mutex> hold(lock_);
  const Piece& p = pieces_[static_cast<std::size_t>(piece)];
  for (const Piece& after : pieces_) {
    if (after.owned && !after.confirmed && after.begin == p.end && after.next == after.begin &&
        after.begin != after.end) {
      return true;
    }
  }
  return false;
}

void Plan::Release(int piece) {
  std::lock_guard<std::mutex> hold(lock_);
  Piece& p = pieces_[static_cast<std::size_t>(piece)];
  p.owned = false;
  p.granted = p.next;
  if (p.next != p.begin || p.next == p.end) return;
  for (Piece& before : pieces_) {
    if (before.owned && before.end == p.begin) {
      before.end = p.end;
      p.end = p.next;
      return;
    }
  }
}

std::vector<Range> Plan::Done() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<Range> done = done_before_;
  for (const Piece& piece : pieces_) done.push_back({piece.begin, piece.next});
  return Normalized(std::move(done), total_);
}

std::uint64_t Plan::DoneBytes() const {
  std::uint64_t bytes = 0;
  for (const Range& range : Done()) bytes += range.end - range.begin;
  return bytes;
}

bool Plan::Complete() const { return DoneBytes() == total_; }

// --- control file ---

namespace {

constexpr char kMagic[] = "parcelo parts 1\n";
constexpr char kEnding[] = ".parts";
constexpr char kTempEnding[] = ".parts.new";
// A control file holds a few lines per piece; anything larger is not one.
constexpr long kLargestControlFile = 1 << 20;

// FNV-1a: a torn or edited file fails the check of its last line.
std::uint32_t Checksum(const std::string& text) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}

// Reads "<word> <number>\n" at *at.
bool ReadNumberLine(const std::string& text, std::size_t* at, const char* word, std::uint64_t* number) {
  const std::string prefix = std::string(word) + " ";
  if (text.compare(*at, prefix.size(), prefix) != 0) return false;
  std::size_t i = *at + prefix.size();
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    if (digits == 19) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (digits == 0 || i >= text.size() || text[i] != '\n') return false;
  *number = value;
  *at = i + 1;
  return true;
}

}  // namespace

std::string ControlPath(const std::string& local_file) { return local_file + kEnding; }

std::string Encode(const Control& control) {
  std::string text = kMagic;
  text += "total " + std::to_string(control.total) + "\n";
  text += "validator " + control.validator + "\n";
  for (const Range& range : control.done) {
    text += "done " + std::to_string(range.begin) + "\n";
    text += "end " + std::to_string(range.end) + "\n";
  }
  return text + "check " + std::to_string(Checksum(text)) + "\n";
}

bool Decode(const std::string& text, Control* control) {
  const std::size_t check = text.rfind("check ");
  std::uint64_t sum = 0;
  std::size_t at = check;
  if (check == std::string::npos || !ReadNumberLine(text, &at, "check", &sum) || at != text.size() ||
      sum != Checksum(text.substr(0, check)) || text.compare(0, sizeof kMagic - 1, kMagic) != 0) {
    return false;
  }
  Control parsed;
  at = sizeof kMagic - 1;
  if (!ReadNumberLine(text, &at, "total", &parsed.total)) return false;
  const std::size_t line_end = text.find('\n', at);
  if (text.compare(at, 10, "validator ") != 0 || line_end == std::string::npos) return false;
  parsed.validator = text.substr(at + 10, line_end - at - 10);
  at = line_end + 1;
  while (at < check) {
    Range range;
    if (!ReadNumberLine(text, &at, "done", &range.begin) || !ReadNumberLine(text, &at, "end", &range.end) ||
        range.begin > range.end || range.end > parsed.total) {
      return false;
    }
    parsed.done.push_back(range);
  }
  *control = parsed;
  return true;
}

bool Save(const std::string& local_file, const Control& control) {
  const std::string temp = local_file + kTempEnding;
  std::FILE* out = fs::OpenOwnerOnly(temp, "wb");
  if (!out) return false;
  const std::string text = Encode(control);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written) {
    fs::RemoveFile(temp);
    return false;
  }
  return fs::ReplaceWith(temp, ControlPath(local_file));
}

Loaded Load(const std::string& local_file, Control* control) {
  std::FILE* in = std::fopen(ControlPath(local_file).c_str(), "rb");
  if (!in) return Loaded::kAbsent;
  std::string text(static_cast<std::size_t>(kLargestControlFile) + 1, '\0');
  const std::size_t got = std::fread(&text[0], 1, text.size(), in);
  std::fclose(in);
  text.resize(got);
  if (got > static_cast<std::size_t>(kLargestControlFile) || !Decode(text, control)) return Loaded::kGarbled;
  return Loaded::kIntact;
}

void Remove(const std::string& local_file) {
  fs::RemoveFile(ControlPath(local_file));
  fs::RemoveFile(local_file + kTempEnding);
}

}  // namespace pieces
