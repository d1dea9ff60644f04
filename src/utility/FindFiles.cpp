#include "quillmark/utility/FindFiles.h"

#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "frame/FileErrors.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "quillmark/runtime/Like.h"
#include "quillmark/values/Conversions.h"
#include "quillmark/values/Text.h"
#include "utility/MatchingFiles.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Makes the walk's paths into std::filesystem::path objects beside the walk.
// A path splits its text into components as it is made, each with a heap
// block of its own: for deep trees that costs about as much processor time as
// the listing. On a lane it overlaps the listing of the next folders, so the
// typed call takes no longer than the walk itself when a second processor is
// free; without a helper thread the lane runs the work here. The walk only
// copies each path's text into a batch (no allocation of its own); the path
// is made from there, its text allocated once.
//
// The lane reads the batches and never changes them: in a child forked
// during the walk (from the progress callback) the lane stops, and the paths
// it was making may be half made, so the child lets them go unfreed and makes
// them all again from the batches.
class PathMaker {
 public:
  PathMaker() : generation_(io::Executor::Generation()) {}
  PathMaker(const PathMaker&) = delete;
  PathMaker& operator=(const PathMaker&) = delete;
  // Stopped by an exception in a child after fork: the paths the parent's
  // lane was making are let go unfreed.
  ~PathMaker() {
    if (lane_ && Forked()) (void)paths_.release();
  }

  // The next folder's matches, in order.
  void Take(const std::string& folder, std::span<const std::string_view> names) {
    for (const std::string_view name : names) {
      utility::AppendChild(pending_.Text, folder, name);
      pending_.Ends.push_back(pending_.Text.size());
    }
    if (pending_.Ends.size() >= kBatch) Hand();
  }

  // Every path taken, in order.
  std::vector<fs::path> Finish() {
    if (Forked()) Remake();
    if (lane_) lane_->Drain();
    Make(pending_, *paths_);
    return std::move(*paths_);
  }

 private:
  // Work is handed over in batches of at least this many paths; a search
  // with fewer is done here, without a thread's start.
  static constexpr std::size_t kBatch = 512;
  // Batches may wait on the lane without bound (they are kept to the end in
  // any case): a walk that waited for room would run the batches itself
  // whenever the lane's thread was slow to wake, as a full lane's poster does.
  static constexpr std::size_t kQueue = std::numeric_limits<std::size_t>::max();

  // Path texts one after the other.
  struct Batch {
    std::string Text;
    std::vector<std::size_t> Ends;  // where each text ends
  };

  static void Make(const Batch& batch, std::vector<fs::path>& paths) {
    std::size_t start = 0;
    for (const std::size_t end : batch.Ends) {
      paths.emplace_back(std::string_view(batch.Text).substr(start, end - start));
      start = end;
    }
  }

  bool Forked() const { return io::Executor::Generation() != generation_; }

  void Hand() {
    if (Forked()) Remake();
    handed_.push_back(std::move(pending_));
    pending_ = {};
    if (!lane_) lane_.emplace(kQueue);
    lane_->Post([&paths = *paths_, &batch = handed_.back()] { Make(batch, paths); });
  }

  // In a child after fork: the paths the parent's lane made are not to be
  // trusted; they are let go unfreed and made again here. Later batches go
  // to a lane of the child's own.
  void Remake() {
    if (lane_) {
      (void)paths_.release();
      paths_ = std::make_unique<std::vector<fs::path>>();
      lane_.reset();  // an inherited lane lets its state go without waiting
    }
    generation_ = io::Executor::Generation();
    for (const Batch& batch : handed_) Make(batch, *paths_);
  }

  std::unique_ptr<std::vector<fs::path>> paths_ = std::make_unique<std::vector<fs::path>>();
  std::deque<Batch> handed_;  // the batches handed to the lane, unchanged until the end
  Batch pending_;
  std::uint64_t generation_;
  std::optional<io::Lane> lane_;  // last: gone (its running task waited for) before what it uses
};

}  // namespace

std::vector<fs::path> FindFiles(const fs::path& folder, const std::string& pattern, bool recurse,
                                const Progress& progress) {
  // Upper case as FileRecurser takes it: a character list like [a-z] then
  // holds the letters in either case.
  const LikePattern compiled(UCase(Trim(pattern)), TextCompare);
  // What the progress callback throws passes through the walk untouched, as
  // the very object thrown; the walk's own errors name the folder that could
  // not be listed (the one entered last, left as it was by the failure).
  bool callerThrew = false;
  const Progress told = !progress ? Progress() : Progress([&](std::uint64_t done, std::uint64_t total) {
    try {
      progress(done, total);
    } catch (...) {
      callerThrew = true;
      throw;
    }
  });
  std::string listing = folder.string();
  const utility::EnterFolder enter = [&](const std::string& sub, const std::function<void()>& list) {
    std::string outer = std::exchange(listing, sub);
    list();
    listing = std::move(outer);
  };
  PathMaker maker;
  try {
    utility::MatchingFiles(
        compiled, recurse, folder.string(), told, enter,
        [&](const std::string& parent, std::span<const std::string_view> names) { maker.Take(parent, names); });
  } catch (...) {
    if (callerThrew) throw;
    frame::RethrowNaming(listing);
  }
  return maker.Finish();
}

}  // namespace qm
