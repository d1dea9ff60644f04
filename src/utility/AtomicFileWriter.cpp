#include "quillmark/utility/AtomicFileWriter.h"

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"

namespace qm {
namespace fs = std::filesystem;

// The engine room's writer does the work; every failure leaves here as the
// typed layer's file error for the target.
struct AtomicFileWriter::Impl {
  Impl(const fs::path& target, io::AtomicFile::Temporary temporary)
      : File(target, io::AtomicFile::Replace::Contents, temporary) {}
  io::AtomicFile File;
};

void WriteFileAtomically(const fs::path& target, std::string_view bytes) {
  try {
    io::AtomicFile::WriteWhole(target, bytes);
  } catch (...) {
    frame::RethrowForTarget(target);
  }
}

void CopyFileAtomically(const fs::path& source, const fs::path& target) {
  try {
    io::AtomicFile::CopyWhole(source, target);
  } catch (...) {
    frame::RethrowForTarget(target);
  }
}

AtomicFileWriter::AtomicFileWriter(const fs::path& target, Temporary temporary) {
  try {
    impl_ = std::make_unique<Impl>(
        target, temporary == Temporary::Named ? io::AtomicFile::Temporary::Named : io::AtomicFile::Temporary::Unnamed);
  } catch (...) {
    frame::RethrowForTarget(target);
  }
}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::Write(std::string_view bytes) {
  try {
    impl_->File.Write(bytes);
  } catch (...) {
    frame::RethrowForTarget(impl_->File.Target());
  }
}

const fs::path& AtomicFileWriter::TemporaryPath() const noexcept { return impl_->File.TemporaryPath(); }

const fs::path& AtomicFileWriter::Target() const noexcept { return impl_->File.Target(); }

void AtomicFileWriter::Commit() {
  try {
    impl_->File.Commit();
  } catch (...) {
    frame::RethrowForTarget(impl_->File.Target());
  }
}

void AtomicFileWriter::Discard() noexcept { impl_->File.Discard(); }

}  // namespace qm
