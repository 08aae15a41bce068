// Downloads split over several connections: the piece plan, the control
// file, and whole attempts against a peer that serves ranges with faults.

#include "engine/pieces.h"
#include "engine/split_download.h"
#include "native/fixtures.h"
#include "peers/peers.h"
#include "platform/fs.h"

namespace {

using namespace fixtures;
using pieces::Plan;
using pieces::Range;

std::uint64_t StartOf(Plan& plan, int piece) {
  std::uint64_t at = 0;
  plan.Grant(piece, 0, &at);
  return at;
}

// Writes count bytes of the piece as a connection would.
void Write(Plan& plan, int piece, std::size_t count) {
  std::uint64_t at = 0;
  plan.Commit(piece, plan.Grant(piece, count, &at));
}

TEST(PiecePlan, AFreeConnectionTakesHalfOfTheLargestPieceLeft) {
  Plan plan(1000, {}, 10);
  const int first = plan.Take();
  Write(plan, first, 100);
  const int second = plan.Take();
  EXPECT_EQ(550u, StartOf(plan, second));
  EXPECT_EQ(450u, plan.Left(first));
  EXPECT_EQ(450u, plan.Left(second));
  Write(plan, second, 50);  // first now has the most left
  const int third = plan.Take();
  EXPECT_EQ(325u, StartOf(plan, third));
  EXPECT_EQ(225u, plan.Left(first));
  // Granted bytes stay with their piece: the cut falls after them.
  std::uint64_t at = 0;
  EXPECT_EQ(225u, plan.Grant(first, 1000, &at));
  // A piece waits for the one cut from it until that one's server answers.
  EXPECT_TRUE(plan.FollowerPending(first));
  plan.Confirm(third);
  EXPECT_FALSE(plan.FollowerPending(first));
}

// The slices the first connection's piece is cut into when the others start:
// counted from its begin while it is within its own slice, else from what it
// has; never below the smallest split; aligned to 64 KiB where they can be.
TEST(PiecePlan, DivideCutsEqualSlicesForTheConnectionsToCome) {
  constexpr std::uint64_t kMiB = 1 << 20;
  struct Row {
    std::uint64_t total, written, min_split;
    int parts;
    std::vector<std::uint64_t> starts;  // of the first piece, then of each gap
  } rows[] = {
      {8 * kMiB, kMiB, 1, 4, {0, 2 * kMiB, 4 * kMiB, 6 * kMiB}},
      {8 * kMiB, 3 * kMiB, 1, 4, {0, 4 * kMiB + kMiB / 4, 5 * kMiB + kMiB / 2, 6 * kMiB + 3 * kMiB / 4}},
      {100, 10, 40, 4, {0, 50}},
      {100, 10, 60, 4, {0}},
      {8 * kMiB, 8 * kMiB, 1, 4, {0}},
  };
  for (const Row& row : rows) {
    Plan plan(row.total, {}, row.min_split);
    const int first = plan.TakeAt(0);
    Write(plan, first, static_cast<std::size_t>(row.written));
    plan.Divide(first, row.parts);
    plan.Divide(Plan::kNone, row.parts);
    std::vector<std::uint64_t> starts{0};
    std::vector<int> gaps;
    for (int i = 1; i < row.parts; ++i) gaps.push_back(plan.Take());
    for (int gap : gaps) {
      if (gap == Plan::kNone) continue;
      starts.push_back(StartOf(plan, gap));
      Write(plan, gap, static_cast<std::size_t>(row.total));
    }
    EXPECT_EQ(row.starts, starts) << row.written << " of " << row.total;
    if (starts.size() > 1) {
      EXPECT_EQ(starts[1] - row.written, plan.Left(first)) << row.written;
    }
    Write(plan, first, static_cast<std::size_t>(row.total));
    EXPECT_TRUE(plan.Complete()) << row.written;
  }
}

// At the end, the rest of the piece with most left whose connection wrote
// nothing lately goes to a new connection; it rejoins its piece if refused.
TEST(PiecePlan, AStalledConnectionHandsOverTheRestAtTheEnd) {
  Plan plan(1000, {}, 300);
  const int first = plan.TakeAt(0);
  Write(plan, first, 100);
  EXPECT_EQ(Plan::kNone, plan.TakeStalled(0));  // 900 left: free connections cut it
  const int second = plan.Take();               // 550-1000
  Write(plan, first, 50);                       // 400 left against 450
  EXPECT_EQ(Plan::kNone, plan.TakeStalled(60000));
  plan.Confirm(second);
  const int rest = plan.TakeStalled(0);
  ASSERT_NE(Plan::kNone, rest);
  EXPECT_EQ(550u, StartOf(plan, rest));
  EXPECT_EQ(450u, plan.Left(rest));
  EXPECT_EQ(0u, plan.Left(second));
  EXPECT_TRUE(plan.FollowerPending(second));
  const int other = plan.TakeStalled(0);  // the new piece waits for its answer; first does not
  ASSERT_NE(Plan::kNone, other);
  EXPECT_EQ(150u, StartOf(plan, other));
  plan.Release(other);
  EXPECT_EQ(400u, plan.Left(first));
  plan.Release(first);  // now a gap: work for a free connection
  EXPECT_EQ(Plan::kNone, plan.TakeStalled(0));
}

TEST(PiecePlan, PiecesAreNotCutBelowTheSmallestSplit) {
  Plan plan(100, {}, 40);
  EXPECT_NE(Plan::kNone, plan.Take());
  EXPECT_NE(Plan::kNone, plan.Take());  // halves of 50
  EXPECT_EQ(Plan::kNone, plan.Take());  // halves of 25
}

TEST(PiecePlan, APieceWhoseConnectionFailedGoesBackToTheOthers) {
  Plan plan(1000, {}, 10);
  const int first = plan.Take();
  const int second = plan.Take();  // 500-1000
  Write(plan, second, 100);
  plan.Release(second);
  const int third = plan.Take();  // the gap before any cut
  EXPECT_EQ(600u, StartOf(plan, third));
  EXPECT_EQ(400u, plan.Left(third));
  EXPECT_EQ(500u, plan.Left(first));
  // One that wrote nothing rejoins the piece before it, whose connection
  // reads on into it.
  const int fourth = plan.Take();
  ASSERT_NE(Plan::kNone, fourth);
  const std::uint64_t left = plan.Left(first);
  plan.Release(fourth);
  EXPECT_EQ(500u, plan.Left(first));
  EXPECT_LT(left, 500u);
}

TEST(PiecePlan, DoneRangesMergeAndCompleteThePlan) {
  Plan plan(1000, {{900, 1000}, {0, 100}, {50, 150}, {990, 2000}}, 10);
  EXPECT_EQ(250u, plan.DoneBytes());
  EXPECT_EQ(Plan::kNone, plan.TakeAt(151));
  const int gap = plan.TakeAt(150);
  ASSERT_NE(Plan::kNone, gap);
  Write(plan, gap, 10000);
  EXPECT_TRUE(plan.Complete());
  ASSERT_EQ(1u, plan.Done().size());
  EXPECT_EQ(1000u, plan.Done()[0].end);
  EXPECT_EQ(Plan::kNone, plan.Take());
}

pieces::Control SampleControl() {
  pieces::Control control;
  control.total = 5000000000ull;
  control.validator = "etag:\"a b\"";
  control.done = {{0, 5}, {70, 4000000000ull}};
  return control;
}

TEST(ControlFile, SavedAndLoadedAlike) {
  ScratchDir dir;
  const std::string local = dir.Join("f.bin");
  pieces::Control loaded;
  EXPECT_EQ(pieces::Loaded::kAbsent, pieces::Load(local, &loaded));
  ASSERT_TRUE(pieces::Save(local, SampleControl()));
  ASSERT_TRUE(pieces::Save(local, SampleControl()));  // over the old one
  ASSERT_EQ(pieces::Loaded::kIntact, pieces::Load(local, &loaded));
  EXPECT_EQ(pieces::Encode(SampleControl()), pieces::Encode(loaded));
  EXPECT_EQ(Texts{"f.bin.parts"}, Names(dir.path()));
  WriteFile(local + ".parts", "parcelo parts 1\ntotal 9\n");
  EXPECT_EQ(pieces::Loaded::kGarbled, pieces::Load(local, &loaded));
  pieces::Remove(local);
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST(ControlFile, TornOrGarbledTextIsRefused) {
  const std::string whole = pieces::Encode(SampleControl());
  pieces::Control decoded;
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_FALSE(pieces::Decode(whole.substr(0, cut), &decoded)) << cut;
  }
  std::string changed = whole;
  changed[changed.find("4000")] = '5';
  pieces::Control beyond = SampleControl();
  beyond.done.push_back({6000000000ull, 6000000001ull});
  pieces::Control reversed = SampleControl();
  reversed.done[0] = {9, 5};
  pieces::Control twenty_digits = SampleControl();
  twenty_digits.total = ~0ull;
  for (const std::string& text : {changed, "x" + whole, whole + "\n", pieces::Encode(beyond),
                                  pieces::Encode(reversed), pieces::Encode(twenty_digits)}) {
    EXPECT_FALSE(pieces::Decode(text, &decoded)) << text;
  }
  EXPECT_TRUE(pieces::Decode(whole, &decoded));
}

constexpr std::size_t kBodySize = 1 << 21;

struct SplitCase {
  const char* what;
  peers::RangeFaults faults;
  std::string control;  // the control file before; empty: none
  std::string first_range;  // of the first request
  std::string cause;        // empty: the row ends "Done"
  std::size_t file_size = kBodySize;  // of the local file beside a control file
};

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.what; }

std::string ControlOf(std::uint64_t total, const std::string& validator, std::vector<Range> done) {
  return pieces::Encode({total, validator, std::move(done)});
}

std::vector<SplitCase> SplitCases() {
  const std::string hole = ControlOf(kBodySize, "etag:\"a\"", {{0, 100000}, {1500000, kBodySize}});
  return {
      {"throttled first connection", {0, -1, -1, -1, -1}, "", "(none)", ""},
      {"extra connections refused", {-1, 1, -1, -1, -1}, "", "(none)", ""},
      {"one range answered 200", {-1, -1, 1, -1, -1}, "", "(none)", ""},
      {"a connection dies mid-piece", {-1, -1, -1, -1, 1}, "", "(none)", ""},
      {"a connection stalls", {-1, -1, -1, -1, -1, false, -1, 1}, "", "(none)", ""},
      {"ETag changes midway", {-1, -1, -1, 1, -1}, "", "(none)", "Server copy changed"},
      {"control file with a hole", {}, hole, "100000-", ""},
      {"control file of a file cut short since", {}, hole, "100000-", "", 1000000},
      {"garbled control file", {}, "parcelo parts 1\ntotal 12", "0-", ""},
      {"control file of another copy", {}, ControlOf(kBodySize + 1, "", {{0, 10}}), "10-",
       "Server copy changed"},
      {"control file of another ETag", {}, ControlOf(kBodySize, "etag:\"b\"", {{0, 10}}), "10-",
       "Server copy changed"},
      {"FTP: extra logins", {-1, -1, -1, -1, -1, true}, "", "(none)", ""},
      {"FTP: 421 to the second login", {-1, 1, -1, -1, -1, true}, "", "(none)", ""},
      {"FTP: REST refused on extra logins", {-1, -1, -1, -1, -1, true, 1}, "", "(none)", ""},
  };
}

class SplitTransfer : public TransferTest, public ::testing::WithParamInterface<SplitCase> {
 protected:
  void SetUp() override {
    TransferTest::SetUp();
    UseTaskFile("Default.rcv", "127.0.0.1");
    UseSetting("Split", "4");
    UseSetting("SplitMin", "65536");
    split::SetWorthSplittingMs(0);
  }
  void TearDown() override {
    split::SetWorthSplittingMs(split::kWorthSplittingMs);
    TransferTest::TearDown();
  }
};

TEST_P(SplitTransfer, EndsWithTheServersFileOrKeepsWhatItHas) {
  const SplitCase& c = GetParam();
  const std::string body = Pattern(kBodySize, 3);
  const std::string local = Path("f.bin");
  // The bytes of a hole are zeros until the download fills them.
  const std::string before =
      c.control.empty() ? "" : (std::string(100000, 'x') + std::string(kBodySize - 100000, '\0')).substr(0, c.file_size);
  if (!c.control.empty()) {
    WriteFile(local, before);
    WriteFile(local + ".parts", c.control);
  }
  // The stalled connection must be handed over well before its data time-out.
  if (c.faults.stalls_at >= 0) timeouts::Set(3000, 3000, 8000);
  peers::RangePeer peer(body, c.faults);
  const int protocol = c.faults.ftp ? url::kFtp : url::kHttp;
  const int result = session::RunAttempt(context_, Params(peer.port(), "/f.bin", "f.bin", protocol));

  ASSERT_FALSE(peer.Ranges().empty());
  EXPECT_EQ(c.first_range, peer.Ranges()[0]);
  if (c.cause.empty()) {
    EXPECT_EQ(session::kSuccess, result) << context_.cause;
    EXPECT_EQ("Done", list_.Statuses(0).back());
    // Bytes the control file said were there are kept, not fetched again.
    // (of a done range, only what the file still holds)
    std::string expected = body;
    if (c.first_range == "100000-") expected.replace(0, 100000, before, 0, 100000);
    if (c.first_range == "100000-" && before.size() > 1500000) {
      expected.replace(1500000, std::string::npos, before, 1500000, std::string::npos);
    }
    EXPECT_TRUE(ReadFile(local) == expected);
    EXPECT_FALSE(fs::FileExists(local + ".parts"));
    EXPECT_GT(peer.Ranges().size(), 1u);
    // Over FTP the extra logins' pieces arrive by REST, unless the server
    // refuses them: then the first connection fetches the whole file.
    const std::vector<std::string> ranges = peer.Ranges();
    // Over HTTP the extra connections ask for closed ranges: nothing is sent that they would drop.
    for (std::size_t i = 1; i < ranges.size() && !c.faults.ftp; ++i) EXPECT_NE('-', ranges[i].back()) << ranges[i];
    const bool pieces = std::any_of(ranges.begin() + 1, ranges.end(), [](const std::string& r) { return r[0] != 'r'; });
    if (c.faults.ftp) {
      EXPECT_EQ(c.faults.refuse_from < 0 && c.faults.no_rest_from < 0, pieces);
    }
  } else {
    EXPECT_EQ(session::kFailure, result);
    EXPECT_EQ("Failed", list_.Statuses(0).back());
    EXPECT_EQ(c.cause, context_.cause);
    EXPECT_TRUE(fs::FileExists(local + ".parts"));
    if (!c.control.empty()) {
      EXPECT_TRUE(ReadFile(local) == before);
    }
  }
  // A stalled connection hands its piece over before its data time-out.
  EXPECT_EQ(c.faults.stalls_at >= 0, peer.Relieved());
  // The slow connection was relieved of its piece by the others.
  if (c.faults.slow == 0) {
    EXPECT_LT(peer.Sent(0), kBodySize / 8);
  }
  const std::vector<HookRecorder::Report> reports = HookRecorder::Instance().Reports(0);
  if (c.cause.empty()) {
    EXPECT_EQ(kBodySize, reports.back().bytes_done);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, SplitTransfer, ::testing::ValuesIn(SplitCases()));

// A download that one connection ends sooner than extra ones would be worth
// it stays on that one.
TEST_F(SplitTransfer, AFastDownloadStaysOnOneConnection) {
  split::SetWorthSplittingMs(split::kWorthSplittingMs);
  peers::RangePeer peer(Pattern(kBodySize, 3), {});
  EXPECT_EQ(session::kSuccess, session::RunAttempt(context_, Params(peer.port(), "/f.bin", "f.bin", url::kHttp)))
      << context_.cause;
  EXPECT_TRUE(ReadFile(Path("f.bin")) == Pattern(kBodySize, 3));
  EXPECT_EQ(1u, peer.Ranges().size());
}

}  // namespace
