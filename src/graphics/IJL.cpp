#include "quillmark/graphics/IJL.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <new>
#include <span>
#include <vector>

#include "JpegStrips.h"
#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/graphics/DIBSection.h"

namespace qm::ijl {
namespace {

// The JPEG's bytes into the new file.
class FileSink : public JpegSink {
 public:
  explicit FileSink(io::AtomicFile& file) : file_(file) {}
  void Write(std::span<const std::uint8_t> bytes) override { file_.Write(bytes.data(), bytes.size()); }

 private:
  io::AtomicFile& file_;
};

bool Consistent(const JPEG_CORE_PROPERTIES& p) {
  if (!p.DIBBytes || p.DIBChannels != 3 || p.DIBWidth <= 0 || p.DIBHeight == 0 || p.DIBHeight == INT_MIN ||
      p.DIBPadBytes < 0)
    return false;
  if (p.JPGWidth != p.DIBWidth || p.JPGHeight != (p.DIBHeight < 0 ? -p.DIBHeight : p.DIBHeight)) return false;
  return std::int64_t{p.DIBWidth} * 3 + p.DIBPadBytes <= INT_MAX;
}

// Checks the record and writes its picture with `encoder`, the rows read in
// place: ijlWrite's work, which SaveJPG shares.
FileResult WriteRecord(const JPEG_CORE_PROPERTIES& p, StripEncoder& encoder) {
  if (!p.JPGFile || !*p.JPGFile) return {IJL_INVALID_FILENAME, false, std::nullopt};
  if (!Consistent(p)) return {IJL_INVALID_JPEG_PROPERTIES, false, std::nullopt};
  if (p.jquality < 1 || p.jquality > 100) return {IJL_INVALID_QUALITY, false, std::nullopt};
  PixelRows rows;
  rows.Pixels = p.DIBBytes;
  rows.Width = p.DIBWidth;
  rows.Height = p.DIBHeight < 0 ? -p.DIBHeight : p.DIBHeight;
  rows.Pitch = std::ptrdiff_t{p.DIBWidth} * 3 + p.DIBPadBytes;
  rows.BottomUp = p.DIBHeight < 0;
  return WriteFile(encoder, MemoryRows(rows), rows.Width, rows.Height, p.jquality, p.JPGFile);
}

}  // namespace

FileResult WriteFile(StripEncoder& encoder, const StripSource& source, int width, int height, int quality,
                     const std::filesystem::path& file) {
  FileResult result;
  struct stat before {};
  if (io::sys::Stat(file.c_str(), &before) == 0) result.Replaced = before;
  try {
    io::AtomicFile out(file, io::AtomicFile::Replace::Name);
    if (result.Replaced) io::sys::Fchmod(out.Descriptor(), before.st_mode & 0777);
    FileSink sink(out);
    // The strip plan comes from the picture alone: the same bytes on any machine.
    result.Status = StreamInStrips(encoder, width, height, quality, McuRowsPerStrip(width, height), source, sink);
    if (result.Status == IJL_OK) out.Commit();
  } catch (const std::bad_alloc&) {
    result.Status = IJL_MEMORY_ERROR;
  } catch (const std::filesystem::filesystem_error& e) {
    result.Status = IJL_FILE_ERROR;
    result.InPlace = dynamic_cast<const frame::FolderNotSynced*>(&e) != nullptr;
  }
  return result;
}

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
  if (iotype != IJL_JFILE_WRITEWHOLEIMAGE) return IJL_UNSUPPORTED_IOTYPE;
  return WriteRecord(*jcprops, *static_cast<StripEncoder*>(jcprops->encoder.get())).Status;
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

    jcprops.DIBBytes = dib.DIBSectionBitsPtr();
    jcprops.DIBWidth = dib.Width();
    jcprops.DIBHeight = -dib.Height();  // negative: rows stored bottom-up
    jcprops.DIBPadBytes = dib.BytesPerScanLine() - 3 * dib.Width();
    const std::string& fileBytes = FileName;  // the system code page is UTF-8
    jcprops.JPGFile = fileBytes.c_str();
    jcprops.JPGWidth = dib.Width();
    jcprops.JPGHeight = dib.Height();
    jcprops.jquality = Quality;

    // The DIB's pixel memory is encoded in place, straight into the new
    // file, which replaces a file of that name as a whole. That file's
    // mode (taken over by the new file) and times are kept.
    const FileResult written = WriteRecord(jcprops, *static_cast<StripEncoder*>(jcprops.encoder.get()));
    ijlFree(&jcprops);
    if ((written.Status == IJL_OK || written.InPlace) && written.Replaced) {
      const timespec times[2] = {written.Replaced->st_atim, written.Replaced->st_mtim};
      io::sys::UtimensAt(AT_FDCWD, FileName.c_str(), times, 0);
    }
    if (written.Status == IJL_OK) return true;
    RaiseFrom(ERR_JPEG, kErrorSource,
              std::string(StandardErrorText(ERR_JPEG)) + " " + std::to_string(written.Status) +
                  (written.InPlace ? " (the new file is in place, but its folder could not be synced)" : ""));
  }
  QM_FRAME_CATCH("IJL", "Public Function SaveJPG", dib, FileName, Quality);
}

}  // namespace qm::mdlIntelJPEGLibrary
