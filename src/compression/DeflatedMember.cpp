#include "compression/DeflatedMember.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qm::compression {
namespace {

// Bytes of files read ahead of the writer at most (one file always goes).
constexpr std::uint64_t kReadAheadLimit = std::uint64_t{64} << 20;

}  // namespace

DeflatedMember::DeflatedMember(std::string path, const struct stat& info, DeflatePool& pool)
    : path_(std::move(path)), sizeOnDisk_(info.st_size), mtime_(info.st_mtime), pool_(pool) {
  zip_error_init(&error_);
}

DeflatedMember::~DeflatedMember() { zip_error_fini(&error_); }

zip_source_t* DeflatedMember::Source(zip_t* archive) { return zip_source_function(archive, &Callback, this); }

void DeflatedMember::PlanIn(DeflatePool& pool) {
  file_ = pool.Plan(path_, sizeOnDisk_);
  planned_ = true;
}

std::string DeflatedMember::Problem() { return zip_error_strerror(&error_); }

zip_int64_t DeflatedMember::Callback(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  return static_cast<DeflatedMember*>(self)->Handle(data, length, command);
}

zip_int64_t DeflatedMember::Fail(int zipError, int systemError) {
  zip_error_set(&error_, zipError, systemError);
  return -1;
}

bool DeflatedMember::Prepare() {
  if (prepared_) return true;
  DeflatedFile file;
  try {
    // A member libzip asks for although it was never planned is made here.
    file = planned_ ? pool_.Take(file_) : pool_.Make(path_);
  } catch (const std::bad_alloc&) {
    Fail(ZIP_ER_MEMORY, 0);
    return false;
  } catch (...) {
    // Nothing may unwind through libzip: a pool used in a child after fork
    // raises 75, which stops the archive there.
    Fail(ZIP_ER_CANCELLED, 0);
    return false;
  }
  if (file.ZipError != 0) {
    Fail(file.ZipError, file.SystemError);
    return false;
  }
  deflated_ = std::move(file.Deflated);
  size_ = file.Size;
  compressedSize_ = deflated_.size();
  crc_ = file.Crc;
  offset_ = 0;
  prepared_ = true;
  known_ = true;
  return true;
}

zip_int64_t DeflatedMember::Handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
  switch (command) {
    case ZIP_SOURCE_OPEN:
      if (!Prepare()) return -1;
      offset_ = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      const std::size_t n = std::min<std::size_t>(length, deflated_.size() - offset_);
      std::memcpy(data, deflated_.data() + offset_, n);
      offset_ += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      // Copied into the archive: give the memory back until asked again.
      std::vector<std::uint8_t>().swap(deflated_);
      prepared_ = false;
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_);
      if (!st) return -1;
      if (!known_ && !Prepare()) return -1;
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME |
                  ZIP_STAT_ENCRYPTION_METHOD;
      st->size = size_;
      st->comp_size = compressedSize_;
      st->comp_method = ZIP_CM_DEFLATE;
      st->encryption_method = ZIP_EM_NONE;
      st->crc = crc_;
      st->mtime = mtime_;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&error_, data, length);
    case ZIP_SOURCE_FREE: return 0;  // the object belongs to the caller
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: return Fail(ZIP_ER_OPNOTSUPP, 0);
  }
}

DeflatedMembers::DeflatedMembers(int level)
    : pool_(level, DeflatedMember::kMaxSize, DeflatePool::HelpersForThisMachine(), kReadAheadLimit) {}

zip_source_t* DeflatedMembers::Source(zip_t* archive, const std::string& path, const struct stat& info) {
  members_.push_back(std::make_unique<DeflatedMember>(path, info, pool_));
  return members_.back()->Source(archive);
}

void DeflatedMembers::Placed(zip_uint64_t entry) {
  if (!members_.empty()) byEntry_[entry] = members_.back().get();
}

DeflatedMember* DeflatedMembers::FirstFailure() const {
  for (const auto& member : members_)
    if (member->Failed()) return member.get();
  return nullptr;
}

void DeflatedMembers::Start() {
  for (const auto& [entry, member] : byEntry_) member->PlanIn(pool_);
  pool_.Start();
}

}  // namespace qm::compression
