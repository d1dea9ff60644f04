#pragma once
// OLEStreamWriter: a stream backed by a compound (OLE2 structured-storage)
// file, whose contents are finally copied into an ordinary file.
//
//   auto writer = std::make_shared<qm::OLEStreamWriter>();
//   writer->Stream()->Write(bytes);
//   writer->WriteToFile("/tmp/out.bin");  // the bytes, unchanged
//
// The compound file lives in a TemporaryFile and holds one stream,
// "TempOutputStream". Storage is libgsf.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/Object.h"

namespace qm {

class TemporaryFile;

/// Where a seek's offset counts from: the start, the current position or the end.
enum class StreamSeek { Begin = 0, Current = 1, End = 2 };

/// A byte stream to write to, as structured storage offers one.
class QUILLMARK_EXPORT IStream : public virtual Object {
 public:
  std::string ClassName() const override { return "IStream"; }
  /// Writes the bytes at the current position; returns the count written.
  virtual std::uint32_t Write(std::span<const std::uint8_t> data) = 0;
  /// Moves the position; returns the new position from the start.
  virtual std::uint64_t Seek(std::int64_t offset, StreamSeek origin) = 0;
};

/// A stream backed by a compound (OLE2) file, whose contents are finally
/// copied into an ordinary file.
class QUILLMARK_EXPORT OLEStreamWriter : public virtual Object {
 public:
  /// Creates the compound file and its stream "TempOutputStream".
  OLEStreamWriter();
  ~OLEStreamWriter() override;
  OLEStreamWriter(const OLEStreamWriter&) = delete;
  OLEStreamWriter& operator=(const OLEStreamWriter&) = delete;

  std::string ClassName() const override { return "OLEStreamWriter"; }

  /// The stream to write to; 91 after WriteToFile.
  std::shared_ptr<IStream> Stream() const;
  /// Closes the stream and copies everything written to it into `Filename`
  /// (created or emptied first). The stream cannot be written afterwards.
  void WriteToFile(const std::string& Filename);

 private:
  class Storage;

  // The object's state, defined in the library's sources.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
