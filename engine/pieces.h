// The piece plan of a download split over several connections, and its
// control file. Portable and free of sockets: the connections of
// engine/split_download.cpp ask the plan which bytes to fetch and tell it
// which they wrote; the control file keeps the written ranges across a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace pieces {

// Bytes [begin, end) of the file.
struct Range {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Sorted, merged copy of ranges, each clipped to [0, total); empty ones dropped.
std::vector<Range> Normalized(std::vector<Range> ranges, std::uint64_t total);

// Which connection fetches which bytes. A piece is a run of bytes that one
// connection receives in order, from its next byte to its end; the bytes
// before its next byte are written. Pieces nobody owns are gaps waiting for
// a connection. Safe from any thread.
class Plan {
 public:
  static constexpr int kNone = -1;

  // done: the ranges already in the file. A piece is split only when each
  // half would hold at least min_split bytes, so that the end of a download
  // is not spent opening connections for a few bytes.
  Plan(std::uint64_t total, const std::vector<Range>& done, std::uint64_t min_split);

  // A piece for a connection that is free: the first gap, else the back half
  // of the owned piece with the most bytes left. kNone when there is nothing
  // worth taking.
  int Take();
  // The gap that begins at offset (the connection already asked for the
  // bytes from there); kNone when there is none.
  int TakeAt(std::uint64_t offset);
  // Cuts the piece's bytes into up to parts slices of one size, counted from
  // its begin, so that the bytes its connection already has count towards
  // its slice (a new request often starts with a burst its connection had at
  // its own start); from its next grant when it is already past its slice.
  // The piece keeps the first slice; the others become gaps for the
  // connections about to start. No slice is smaller than the smallest split.
  void Divide(int piece, int parts);
  // At the end of a download, when no gap is left and no piece is worth
  // cutting, the rest of the answered piece with the most bytes left among
  // those whose connection has written nothing for quiet_ms: a stalled
  // connection must not hold up the end. The piece ends where its connection
  // got to. kNone when no piece qualifies.
  int TakeStalled(std::uint32_t quiet_ms);
  // Grants the next bytes of the piece, at most want, to be written at
  // *offset: fewer when the piece ends sooner, 0 when it has ended. Granted
  // bytes are never given to another piece; Commit confirms them written.
  std::size_t Grant(int piece, std::size_t want, std::uint64_t* offset);
  void Commit(int piece, std::size_t count);
  // Bytes of the piece not yet granted (what its connection may still read),
  // and in *next the offset of the first of them.
  std::uint64_t Left(int piece, std::uint64_t* next = nullptr) const;
  // The server answered the piece's request as asked.
  void Confirm(int piece);
  // The piece that follows this one was cut from it and its connection has
  // not been answered yet: should the server refuse it, this piece's
  // connection, which reads on past its end, takes those bytes back, so it
  // waits instead of closing.
  bool FollowerPending(int piece) const;
  // The owner lets the piece go. What it did not write joins the piece
  // before it when that one is still being received (its connection asked
  // for everything from its start, so it simply reads on), else becomes a
  // gap for the others.
  void Release(int piece);

  std::uint64_t total() const { return total_; }
  std::uint64_t DoneBytes() const;
  bool Complete() const;
  std::vector<Range> Done() const;

 private:
  struct Piece {
    std::uint64_t begin;    // first byte of the piece
    std::uint64_t next;     // first byte not yet written
    std::uint64_t granted;  // first byte not yet granted (>= next)
    std::uint64_t end;
    bool owned;
    bool confirmed;  // its connection has its answer
    std::uint32_t moved_at = 0;  // tick count of its answer or last write
  };
  int Split(std::size_t victim);
  bool WorthSplitting(const Piece& piece) const;
  int NewPiece(std::uint64_t begin, std::uint64_t end);

  const std::uint64_t total_;
  const std::uint64_t min_split_;
  mutable std::mutex lock_;  // guards the fields below
  std::vector<Range> done_before_;  // what was in the file when the plan began
  std::vector<Piece> pieces_;
};

// What the control file keeps: the size and identity of the server's copy
// (its ETag, else its Last-Modified; empty when it gave neither) and the
// ranges written.
struct Control {
  std::uint64_t total = 0;
  std::string validator;
  std::vector<Range> done;
};

// "NAME.parts": the control file of the local file NAME (and "NAME.parts.new"
// while it is rewritten; tasks/url.h keeps links from naming either).
std::string ControlPath(const std::string& local_file);

std::string Encode(const Control& control);
// False for anything that is not a whole, intact Encode result.
bool Decode(const std::string& text, Control* control);

// Replaces the control file in one step (a new file renamed over it).
bool Save(const std::string& local_file, const Control& control);
enum class Loaded { kAbsent, kGarbled, kIntact };
Loaded Load(const std::string& local_file, Control* control);
void Remove(const std::string& local_file);

}  // namespace pieces
