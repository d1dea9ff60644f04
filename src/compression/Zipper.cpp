#include "quillmark/compression/Zipper.h"

#include "compression/ZipErrorTexts.h"
#include "compression/ZipLibrary.h"
#include "compression/ZipTypes.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// Whatever links this file links the texts of the numbers it raises.
[[gnu::used]] constexpr const char* kKeepZipErrorTexts = &qm_zip_error_texts_anchor;

}  // namespace

struct Zipper::Impl {
  std::vector<std::string> filenames{};
  std::unique_ptr<compression::ZipLibrary> library{};
};

Zipper::Zipper() : impl_(std::make_unique<Impl>(Impl{{}, std::make_unique<compression::ZipLibrary>()})) {
  QM_FRAME_TRY { ClearFilenames(); }
  QM_FRAME_CATCH("ZipMgr", "Private Sub Class_Initialize");
}

Zipper::~Zipper() = default;

void Zipper::ClearFilenames() {
  QM_FRAME_TRY { impl_->filenames.clear(); }
  QM_FRAME_CATCH("ZipMgr", "Public Sub ClearFilenames");
}

void Zipper::AddFile(const std::string& Filename) {
  QM_FRAME_TRY {
    if (impl_->filenames.size() < kMaxFilenames) impl_->filenames.push_back(Filename);
  }
  QM_FRAME_CATCH("ZipMgr", "Public Sub AddFile", Filename);
}

void Zipper::CompressRaiseErr(const std::string& OutputFilename) {
  QM_FRAME_TRY {
    const ZipErrors result = Compress(OutputFilename);
    if (result != ZE_OK) Raise(ERR_ArchiveBase + result);
  }
  QM_FRAME_CATCH("ZipMgr", "Public Sub CompressRaiseErr", OutputFilename);
}

ZipErrors Zipper::Compress(const std::string& OutputFilename) {
  QM_FRAME_TRY {
    if (impl_->filenames.empty()) return ZE_Nothing_To_Do_ERR;
    SetCallbacks();
    // The views stay valid: the list does not change during the call.
    compression::ZipNameList names;
    for (std::size_t i = 0; i < impl_->filenames.size(); ++i) names.Names[i] = impl_->filenames[i];
    return static_cast<ZipErrors>(
        impl_->library->ZpArchive(static_cast<std::int32_t>(impl_->filenames.size()), OutputFilename, names));
  }
  QM_FRAME_CATCH("ZipMgr", "Public Function Compress", OutputFilename);
}

std::string Zipper::LookupErr(ZipErrors errnum) {
  QM_FRAME_TRY {
    if (errnum == ZE_OK) return "OK";
    if (errnum < ZE_OK || errnum > ZE_Open_ERR) return {};
    return std::string(FindErrorText(ERR_ArchiveBase + errnum).value_or(""));
  }
  QM_FRAME_CATCH("ZipMgr", "Public Function LookupErr", errnum);
}

// Hands back the callback's address it is given.
template <class Function>
Function Zipper::FnPtr(Function lp) {
  QM_FRAME_TRY { return lp; }
  QM_FRAME_CATCH("ZipMgr", "Private Function FnPtr", lp);
}

std::int32_t Zipper::SetCallbacks() {
  QM_FRAME_TRY {
    compression::ZipUserFunctions functions;
    functions.Print = FnPtr(&compression::ZDLLPrnt);
    functions.Comment = FnPtr(&compression::ZDLLComm);
    functions.Password = FnPtr(&compression::ZDLLPass);
    functions.Service = FnPtr(&compression::ZDLLServ);
    return impl_->library->ZpInit(functions);
  }
  QM_FRAME_CATCH("ZipMgr", "Private Function SetCallbacks");
}

}  // namespace qm
