#pragma once
// JPEG output.
//
// qm::ijl is a small JPEG library layer in the shape of the Intel JPEG
// Library that the system was written against: ijlInit, ijlWrite and ijlFree
// over a JPEG_CORE_PROPERTIES record. It encodes with libjpeg-turbo, reading
// 24-bit blue-green-red rows padded to a multiple of 4 bytes in place, and
// always writes baseline JPEG with 4:2:0 chroma subsampling.
//
// mdlIntelJPEGLibrary.SaveJPG writes a clsDIBSection through that layer and
// carries the mode bits and access and modification times of a file it
// replaces over to the new one.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorNumbers.h"

namespace qm {
class clsDIBSection;
}

namespace qm::ijl {

/// Result codes: 0 is success, anything else a failure.
enum IJLERR : std::int32_t {
  IJL_OK = 0,
  IJL_MEMORY_ERROR = -1,             // no memory for the encoder or the image
  IJL_INVALID_JPEG_PROPERTIES = -2,  // ijlInit not called, or inconsistent fields
  IJL_INVALID_FILENAME = -3,         // JPGFile missing or empty
  IJL_UNSUPPORTED_IOTYPE = -4,       // anything but whole-image file output
  IJL_INVALID_QUALITY = -5,          // jquality outside 1 ... 100
  IJL_ENCODER_ERROR = -6,            // the encoder failed
  IJL_FILE_ERROR = -7,               // the file could not be created or written
};

/// What ijlWrite writes.
enum IJLIOTYPE : std::int32_t {
  IJL_JFILE_WRITEWHOLEIMAGE = 8,
};

/// Text for a result code (for messages and logs).
QUILLMARK_EXPORT const char* ijlErrorStr(std::int32_t code);

/// The record an encoder instance works from: where the pixels are, their
/// layout, and the file and quality to write.
struct QUILLMARK_EXPORT JPEG_CORE_PROPERTIES {
  /// The pixels: DIBHeight rows of DIBWidth blue-green-red triples, each row
  /// followed by DIBPadBytes bytes of padding. A negative DIBHeight means the
  /// rows are stored bottom-up.
  const std::uint8_t* DIBBytes = nullptr;
  std::int32_t DIBWidth = 0;     ///< Pixels per row of DIBBytes (1 to 65500).
  std::int32_t DIBHeight = 0;    ///< Rows of DIBBytes; negative when stored bottom-up.
  std::int32_t DIBPadBytes = 0;  ///< Bytes of padding after each row (0 to 3).
  std::int32_t DIBChannels = 3;  ///< Bytes per pixel; set by ijlInit, only 3 is supported.
  /// The output file: a zero-terminated name in the system code page (UTF-8).
  const char* JPGFile = nullptr;
  std::int32_t JPGWidth = 0;   ///< Width of the image written, in pixels (the DIB's width).
  std::int32_t JPGHeight = 0;  ///< Height of the image written, in pixels (the DIB's height, positive).
  std::int32_t jquality = 0;   ///< JPEG quality 1 (smallest) to 100 (best); ijlInit sets 75.

  /// The encoder instance, between ijlInit and ijlFree.
  std::shared_ptr<void> encoder;
};

/// Starts an encoder instance and sets the defaults of the record.
QUILLMARK_EXPORT std::int32_t ijlInit(JPEG_CORE_PROPERTIES* jcprops);
/// Writes the image the record describes to JPGFile. The file appears
/// complete or not at all: it is written under a temporary name in the same
/// folder and renamed over JPGFile at the end.
QUILLMARK_EXPORT std::int32_t ijlWrite(JPEG_CORE_PROPERTIES* jcprops, IJLIOTYPE iotype);
/// Releases the encoder instance (also done when the record goes).
QUILLMARK_EXPORT std::int32_t ijlFree(JPEG_CORE_PROPERTIES* jcprops);

}  // namespace qm::ijl

namespace qm::mdlIntelJPEGLibrary {

/// The number of the errors SaveJPG raises.
inline constexpr std::int32_t ERR_JPEG = ERR_JpegFailed;

/// Writes the DIB as a JPEG file of the given quality (1 ... 100). A file of
/// that name is replaced; its mode bits and access and modification times
/// carry over to the new file. True on success; failures raise 26001,
/// "Failed to initialise the IJL library: <code>" or "Failed to save to JPG
/// <code>", with the source "Lib.mIntelJPEGLibrary". When writing fails, a
/// file that was there before is left as it was.
QUILLMARK_EXPORT bool SaveJPG(clsDIBSection& dib, const std::string& FileName, std::int32_t Quality);

}  // namespace qm::mdlIntelJPEGLibrary
