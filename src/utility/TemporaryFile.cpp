#include "quillmark/utility/TemporaryFile.h"

#include <filesystem>

#include "quillmark/frame/Frame.h"
#include "quillmark/frame/QMGLobal.h"
#include "quillmark/runtime/FileTable.h"
#include "utility/TempNames.h"

namespace qm {

TemporaryFile::TemporaryFile() {
  QM_FRAME_TRY { Create(""); }
  QM_FRAME_CATCH("TemporaryFile", "Private Sub Class_Initialize");
}

TemporaryFile::~TemporaryFile() { Delete(); }

void TemporaryFile::Create(const std::string& suffix) {
  QM_FRAME_TRY {
    // Taking the name and creating the file are one step, so no other
    // object or process can be handed the same name.
    filename_ = utility::CreateTempFile(suffix);
    fileNo_ = 0;
    reservation_.Release();
  }
  QM_FRAME_CATCH("TemporaryFile", "Private Sub Create", suffix);
}

// Any failure (the file already gone, still open elsewhere) is ignored.
void TemporaryFile::Delete() noexcept {
  if (filename_.empty()) return;
  std::error_code error;
  std::filesystem::remove(filename_, error);
  filename_.clear();
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
    return TextStream::Open(filename_, IOMode::ForWriting, true, Unicode ? TextFormat::Unicode : TextFormat::ASCII);
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Function CreateTextStream", Unicode);
}

std::string TemporaryFile::Filename() const {
  QM_FRAME_TRY { return filename_; }
  QM_FRAME_CATCH("TemporaryFile", "Public Property Get Filename");
}

std::int32_t TemporaryFile::AssignFileNo() {
  QM_FRAME_TRY {
    // A number assigned before is given back first, so assigning twice
    // keeps one number while no file is open under it.
    reservation_.Release();
    reservation_ = files::Reservation::Take();
    fileNo_ = reservation_.Number();
    return fileNo_;
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Function AssignFileNo");
}

std::int32_t TemporaryFile::FileNo() const {
  QM_FRAME_TRY {
    QMGLobal::Assert(fileNo_ >= 1, "AssignFileNo() not yet called");
    return fileNo_;
  }
  QM_FRAME_CATCH("TemporaryFile", "Public Property Get FileNo");
}

}  // namespace qm
