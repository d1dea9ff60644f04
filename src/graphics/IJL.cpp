#include "quillmark/graphics/IJL.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <new>
#include <vector>

#include "JpegStrips.h"
#include "io/AtomicFile.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/DIBSection.h"

namespace qm::ijl {
namespace {

// Writes the bytes as a new file that takes the target's name in one step;
// a failure leaves the old file untouched.
std::int32_t ReplaceFile(const std::string& target, const unsigned char* data, std::size_t size) {
  try {
    io::AtomicFile::WriteWhole(target, {reinterpret_cast<const char*>(data), size}, io::AtomicFile::Replace::Name);
  } catch (const std::filesystem::filesystem_error&) {
    return IJL_FILE_ERROR;
  }
  return IJL_OK;
}

bool Consistent(const JPEG_CORE_PROPERTIES& p) {
  if (!p.DIBBytes || p.DIBChannels != 3 || p.DIBWidth <= 0 || p.DIBHeight == 0 || p.DIBHeight == INT_MIN ||
      p.DIBPadBytes < 0)
    return false;
  if (p.JPGWidth != p.DIBWidth || p.JPGHeight != (p.DIBHeight < 0 ? -p.DIBHeight : p.DIBHeight)) return false;
  return std::int64_t{p.DIBWidth} * 3 + p.DIBPadBytes <= INT_MAX;
}

}  // namespace

const char* ijlErrorStr(std::int32_t code) {
  switch (code) {
    case IJL_OK: return "no error";
    case IJL_MEMORY_ERROR: return "out of memory";
    case IJL_INVALID_JPEG_PROPERTIES: return "the image description is incomplete or inconsistent";
    case IJL_INVALID_FILENAME: return "no output file name";
    case IJL_UNSUPPORTED_IOTYPE: return "only whole images written to files are supported";
    case IJL_INVALID_QUALITY: return "the quality must lie between 1 and 100";
    case IJL_ENCODER_ERROR: return "the JPEG encoder failed";
    case IJL_FILE_ERROR: return "the output file cannot be created or written";
    default: return "unknown error";
  }
}

std::int32_t ijlInit(JPEG_CORE_PROPERTIES* jcprops) {
  if (!jcprops) return IJL_INVALID_JPEG_PROPERTIES;
  try {
    jcprops->encoder = std::make_shared<StripEncoder>();
  } catch (const std::bad_alloc&) {
    return IJL_MEMORY_ERROR;
  }
  jcprops->DIBChannels = 3;
  jcprops->jquality = 75;
  return IJL_OK;
}

std::int32_t ijlWrite(JPEG_CORE_PROPERTIES* jcprops, IJLIOTYPE iotype) {
  if (!jcprops || !jcprops->encoder) return IJL_INVALID_JPEG_PROPERTIES;
  const JPEG_CORE_PROPERTIES& p = *jcprops;
  if (iotype != IJL_JFILE_WRITEWHOLEIMAGE) return IJL_UNSUPPORTED_IOTYPE;
  if (!p.JPGFile || !*p.JPGFile) return IJL_INVALID_FILENAME;
  if (!Consistent(p)) return IJL_INVALID_JPEG_PROPERTIES;
  if (p.jquality < 1 || p.jquality > 100) return IJL_INVALID_QUALITY;

  BgrRows rows;
  rows.Pixels = p.DIBBytes;
  rows.Width = p.DIBWidth;
  rows.Height = p.DIBHeight < 0 ? -p.DIBHeight : p.DIBHeight;
  rows.Pitch = p.DIBWidth * 3 + p.DIBPadBytes;
  rows.BottomUp = p.DIBHeight < 0;
  std::vector<std::uint8_t> jpeg;
  // The strip plan comes from the picture alone: the same bytes on any machine.
  const std::int32_t status = EncodeInStrips(*static_cast<StripEncoder*>(p.encoder.get()), rows, p.jquality,
                                             McuRowsPerStrip(rows.Width, rows.Height), jpeg);
  if (status != IJL_OK) return status;
  return ReplaceFile(p.JPGFile, jpeg.data(), jpeg.size());
}

std::int32_t ijlFree(JPEG_CORE_PROPERTIES* jcprops) {
  if (!jcprops) return IJL_INVALID_JPEG_PROPERTIES;
  jcprops->encoder.reset();
  return IJL_OK;
}

}  // namespace qm::ijl

namespace qm::mdlIntelJPEGLibrary {
namespace {

// The source of the errors SaveJPG raises: the library's module file name
// and the module.
constexpr const char* kErrorSource = "Lib.mIntelJPEGLibrary";

}  // namespace

bool SaveJPG(clsDIBSection& dib, const std::string& FileName, std::int32_t Quality) {
  QM_FRAME_TRY {
    using namespace qm::ijl;
    JPEG_CORE_PROPERTIES jcprops;
    std::int32_t result = ijlInit(&jcprops);
    if (result != IJL_OK)
      RaiseFrom(ERR_JPEG, kErrorSource, "Failed to initialise the IJL library: " + std::to_string(result));

    // A file of that name is replaced as a whole when the new one is complete
    // (the rename at the end of ijlWrite); its mode and times are kept here.
    struct stat before {};
    const bool existed = io::sys::Stat(FileName.c_str(), &before) == 0;

    jcprops.DIBBytes = dib.DIBSectionBitsPtr();
    jcprops.DIBWidth = dib.Width();
    jcprops.DIBHeight = -dib.Height();  // negative: rows stored bottom-up
    jcprops.DIBPadBytes = dib.BytesPerScanLine() - 3 * dib.Width();
    const std::string& fileBytes = FileName;  // the system code page is UTF-8
    jcprops.JPGFile = fileBytes.c_str();
    jcprops.JPGWidth = dib.Width();
    jcprops.JPGHeight = dib.Height();
    jcprops.jquality = Quality;

    result = ijlWrite(&jcprops, IJL_JFILE_WRITEWHOLEIMAGE);
    ijlFree(&jcprops);
    // A file error with another file than before at the name: the new file
    // was put in place, and only its folder could not be synced.
    struct stat after {};
    const bool inPlace = result == IJL_FILE_ERROR && io::sys::Stat(FileName.c_str(), &after) == 0 &&
                         (!existed || after.st_ino != before.st_ino || after.st_dev != before.st_dev);
    if ((result == IJL_OK || inPlace) && existed) {
      const timespec times[2] = {before.st_atim, before.st_mtim};
      io::sys::UtimensAt(AT_FDCWD, FileName.c_str(), times, 0);
      io::sys::Chmod(FileName.c_str(), before.st_mode & 0777);
    }
    if (result == IJL_OK) return true;
    RaiseFrom(ERR_JPEG, kErrorSource,
              std::string(StandardErrorText(ERR_JPEG)) + " " + std::to_string(result) +
                  (inPlace ? " (the new file is in place, but its folder could not be synced)" : ""));
  }
  QM_FRAME_CATCH("IJL", "Public Function SaveJPG", dib, FileName, Quality);
}

}  // namespace qm::mdlIntelJPEGLibrary
