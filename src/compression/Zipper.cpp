#include "quillmark/compression/Zipper.h"

#include "compression/ZipLibrary.h"
#include "compression/ZipTypes.h"
#include "quillmark/frame/Frame.h"

namespace qm {
namespace {

// The platform's object-error base (0x80040000) plus 100: the result code is
// added to it when CompressRaiseErr raises.
constexpr std::int32_t kZipErrorBase = -2147221404;

}  // namespace

Zipper::Zipper() : library_(std::make_unique<compression::ZipLibrary>()) {
  QM_FRAME_TRY { ClearFilenames(); }
  QM_FRAME_CATCH("ZipMgr", "Private Sub Class_Initialize");
}

Zipper::~Zipper() = default;

void Zipper::ClearFilenames() {
  QM_FRAME_TRY { filenames_.clear(); }
  QM_FRAME_CATCH("ZipMgr", "Public Sub ClearFilenames");
}

void Zipper::AddFile(const std::string& Filename) {
  QM_FRAME_TRY {
    if (filenames_.size() < kMaxFilenames) filenames_.push_back(Filename);
  }
  QM_FRAME_CATCH("ZipMgr", "Public Sub AddFile", Filename);
}

void Zipper::CompressRaiseErr(const std::string& OutputFilename) {
  QM_FRAME_TRY {
    const ZipErrors result = Compress(OutputFilename);
    if (result != ZE_OK) Raise(kZipErrorBase + result, LookupErr(result));
  }
  QM_FRAME_CATCH("ZipMgr", "Public Sub CompressRaiseErr", OutputFilename);
}

ZipErrors Zipper::Compress(const std::string& OutputFilename) {
  QM_FRAME_TRY {
    if (filenames_.empty()) return ZE_Nothing_To_Do_ERR;
    SetCallbacks();
    // The views stay valid: the list does not change during the call.
    compression::ZipNameList names;
    for (std::size_t i = 0; i < filenames_.size(); ++i) names.Names[i] = filenames_[i];
    return static_cast<ZipErrors>(
        library_->ZpArchive(static_cast<std::int32_t>(filenames_.size()), OutputFilename, names));
  }
  QM_FRAME_CATCH("ZipMgr", "Public Function Compress", OutputFilename);
}

std::string Zipper::LookupErr(ZipErrors errnum) {
  QM_FRAME_TRY {
    switch (errnum) {
      case ZE_OK: return "OK";
      case ZE_Unexpected_EOF_ERR: return "Unexpected EOF";
      case ZE_Zip_Structure_ERR: return "Zip structure corrupt";
      case ZE_Out_of_memory_ERR: return "Out of memory";
      case ZE_Internal_Logic_ERR: return "Internal logic failure";
      case ZE_Entry_Too_Large_ERR: return "Entry too large";
      case ZE_Comment_Invalid_ERR: return "Comment invalid";
      case ZE_Zip_Test_Failed_ERR: return "Zip test failed";
      case ZE_Aborted: return "Aborted";
      case ZE_Temp_File_ERR: return "Temp. file error";
      case ZE_Read_ERR: return "Disk read error";
      case ZE_Nothing_To_Do_ERR: return "Nothing to do - check files exist";
      case ZE_Empty_Zip_ERR: return "Empty zip file error";
      case ZE_Write_ERR: return "Disk write error - check disk is write enabled";
      case ZE_Create_ERR: return "File creation error - check disk is write enabled";
      case ZE_Params_ERR: return "Bad parameters";
      case ZE_Open_ERR: return "File open error";
    }
    return {};
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
    return library_->ZpInit(functions);
  }
  QM_FRAME_CATCH("ZipMgr", "Private Function SetCallbacks");
}

}  // namespace qm
