#include "compression/ZipTypes.h"

#include "quillmark/frame/Frame.h"

namespace qm::compression {

std::int32_t ZDLLPrnt(std::string_view Text, std::int32_t Length) {
  QM_FRAME_TRY { return 0; }
  QM_FRAME_CATCH("ZipTypes", "Public Function ZDLLPrnt", Text, Length);
}

std::int16_t ZDLLComm(std::string& Comment) {
  QM_FRAME_TRY { return 0; }
  QM_FRAME_CATCH("ZipTypes", "Public Function ZDLLComm", Comment);
}

std::int16_t ZDLLPass(std::string& Password, std::int32_t Size, std::string_view Prompt, std::string_view Filename) {
  QM_FRAME_TRY { return 0; }
  QM_FRAME_CATCH("ZipTypes", "Public Function ZDLLPass", Password, Size, Prompt, Filename);
}

std::int32_t ZDLLServ(std::string_view Filename, std::int32_t Size) {
  QM_FRAME_TRY { return 0; }
  QM_FRAME_CATCH("ZipTypes", "Public Function ZDLLServ", Filename, Size);
}

}  // namespace qm::compression
