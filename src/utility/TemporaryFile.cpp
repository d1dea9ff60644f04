#include "quillmark/utility/TemporaryFile.h"

#include <pthread.h>

#include <mutex>
#include <new>
#include <unordered_map>

#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/runtime/FileTable.h"
#include "utility/TempNames.h"

namespace qm {
namespace {

// Which process made each object's file: the executor's generation when the
// object took its file, by object. In a child after fork the objects made
// before it (and their files) are the parent's, which deletes them; the
// child deletes only the files it made. The generation is kept here rather
// than in the object because the published class's layout must not change.
//
// One table per process, never destroyed (a static TemporaryFile released at
// exit finds it whole); its lock is taken around fork, so that a child never
// finds it held by a thread it does not have.
struct Makers {
  std::mutex Lock;
  std::unordered_map<const TemporaryFile*, std::uint64_t> Generation;
};

Makers& TheMakers() {
  alignas(Makers) static unsigned char room[sizeof(Makers)];
  static Makers* const makers = [] {
    Makers* made = ::new (room) Makers();
    ::pthread_atfork([] { TheMakers().Lock.lock(); }, [] { TheMakers().Lock.unlock(); },
                     [] { TheMakers().Lock.unlock(); });
    return made;
  }();
  return *makers;
}

// Records that `file` takes its file in this process now (bad_alloc when
// there is no room to).
void TakesItsFile(const TemporaryFile* file) {
  Makers& makers = TheMakers();
  std::lock_guard lock(makers.Lock);
  makers.Generation[file] = io::Executor::Generation();
}

// Whether `file` took its file in this process.
bool MadeHere(const TemporaryFile* file) noexcept {
  Makers& makers = TheMakers();
  std::lock_guard lock(makers.Lock);
  const auto found = makers.Generation.find(file);
  return found != makers.Generation.end() && found->second == io::Executor::Generation();
}

void Forget(const TemporaryFile* file) noexcept {
  Makers& makers = TheMakers();
  std::lock_guard lock(makers.Lock);
  makers.Generation.erase(file);
}

}  // namespace

struct TemporaryFile::Impl {
  std::string filename{};
  std::int32_t fileNo = 0;
  files::Reservation reservation{};  // of fileNo, until a file is opened under it
};

TemporaryFile::TemporaryFile() : impl_(std::make_unique<Impl>()) {
  QM_FRAME_TRY { Create(""); }
  QM_FRAME_CATCH("TemporaryFile", "Private Sub Class_Initialize");
}

TemporaryFile::~TemporaryFile() { Delete(); }

void TemporaryFile::Create(const std::string& suffix) {
  QM_FRAME_TRY {
    TakesItsFile(this);  // first, so that no file is made without a record of its maker
    // Taking the name and creating the file are one step, so no other
    // object or process can be handed the same name.
    try {
      impl_->filename = utility::CreateTempFile(suffix);
    } catch (...) {
      Forget(this);
      throw;
    }
    impl_->fileNo = 0;
    impl_->reservation.Release();
  }
  QM_FRAME_CATCH("TemporaryFile", "Private Sub Create", suffix);
}

// Any failure (the file already gone, still open elsewhere) is ignored. A
// file made before fork is left, in the child, for the parent to delete.
void TemporaryFile::Delete() noexcept {
  if (impl_->filename.empty()) return;
  if (MadeHere(this)) io::sys::Unlink(impl_->filename.c_str());
  Forget(this);
  impl_->filename.clear();
}

void TemporaryFile::SetSuffix(const std::string& SuffixIncludingDot) {
  QM_FRAME_TRY {
    Delete();
    Create(SuffixIncludingDot);
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Sub SetSuffix", SuffixIncludingDot);
}

std::shared_ptr<TextStream> TemporaryFile::CreateTextStream(bool Unicode) {
  QM_FRAME_TRY {
    if (!MadeHere(this)) io::RaiseInherited();  // the parent's file: not emptied here
    return TextStream::Open(impl_->filename, IOMode::ForWriting, true,
                            Unicode ? TextFormat::Unicode : TextFormat::ASCII);
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Function CreateTextStream", Unicode);
}

std::string TemporaryFile::Filename() const {
  QM_FRAME_TRY { return impl_->filename; }
  QM_FRAME_CATCH("TemporaryFile", "Public Property Get Filename");
}

std::int32_t TemporaryFile::AssignFileNo() {
  QM_FRAME_TRY {
    // A number assigned before is given back first, so assigning twice
    // keeps one number while no file is open under it.
    impl_->reservation.Release();
    impl_->reservation = files::Reservation::Take();
    impl_->fileNo = impl_->reservation.Number();
    return impl_->fileNo;
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Function AssignFileNo");
}

std::int32_t TemporaryFile::FileNo() const {
  QM_FRAME_TRY {
    QMGLobal::Assert(impl_->fileNo >= 1, "AssignFileNo() not yet called");
    return impl_->fileNo;
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Property Get FileNo");
}

}  // namespace qm
