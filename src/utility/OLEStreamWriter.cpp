#include "quillmark/utility/OLEStreamWriter.h"

#include <fcntl.h>
#include <gsf/gsf.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "frame/FileErrors.h"
#include "io/AtomicFile.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "io/System.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "quillmark/utility/TemporaryFile.h"

namespace qm {
namespace {

constexpr const char* kStreamName = "TempOutputStream";
constexpr std::size_t kBlockSize = 4096;
constexpr const char* kStorageSource = "libgsf";

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

// Raises the storage component's failure with its own source and message.
[[noreturn]] void RaiseStorage(GError* error, const char* what) {
  std::string message = error && error->message ? error->message : what;
  if (error) g_error_free(error);
  RaiseFrom(ERR_PathFileAccess, kStorageSource, message);
}

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

// The compound file is opened by us (close-on-exec, EINTR retried on opening
// and closing) and handed to libgsf, which reads and writes it with stdio.
struct FileCloser {
  void operator()(std::FILE* file) const { io::sys::Fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Whether an object made in `generation` was made before this process forked.
bool MadeBeforeFork(std::uint64_t generation) { return generation != io::Executor::Generation(); }

// The stdio stream libgsf writes the compound file through: the C library
// keeps its buffer, and each buffer full goes to the descriptor through
// io::sys at the stream's own offset. In a child after fork nothing goes
// (exit() there flushes every stdio stream, and the file is the parent's).
class SinkFile {
 public:
  // The stream over `path`, emptied first; nullptr (errno set) on failure.
  static File Open(const std::string& path) {
    auto sink = std::make_unique<SinkFile>();
    sink->fd_ = io::sys::Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (sink->fd_ < 0) return nullptr;
    const cookie_io_functions_t functions{nullptr, &Write, &Seek, &Close};
    File file(::fopencookie(sink.get(), "w", functions));
    if (file) (void)sink.release();  // closed with the stream
    return file;
  }
  ~SinkFile() {
    if (fd_ >= 0) io::sys::Close(fd_);
  }

 private:
  static ssize_t Write(void* cookie, const char* bytes, std::size_t size) {
    auto& sink = *static_cast<SinkFile*>(cookie);
    if (MadeBeforeFork(sink.generation_)) {
      errno = EBADF;
      return 0;  // the parent's bytes stay the parent's
    }
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = io::sys::PWrite(sink.fd_, bytes + done, size - done, sink.at_ + static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    sink.at_ += static_cast<off_t>(done);
    return static_cast<ssize_t>(done);
  }
  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto& sink = *static_cast<SinkFile*>(cookie);
    off_t base = whence == SEEK_SET ? 0 : sink.at_;
    if (whence == SEEK_END) {
      struct stat info {};
      if (io::sys::Fstat(sink.fd_, &info) != 0) return -1;
      base = info.st_size;
    }
    if (base + *offset < 0) {
      errno = EINVAL;
      return -1;
    }
    sink.at_ = base + *offset;
    *offset = sink.at_;
    return 0;
  }
  static int Close(void* cookie) {
    std::unique_ptr<SinkFile> owned(static_cast<SinkFile*>(cookie));
    return 0;
  }

  int fd_ = -1;
  off_t at_ = 0;
  const std::uint64_t generation_ = io::Executor::Generation();
};

// The stream handed to the client: a child of the compound file being written.
// In a child after fork, one made before it raises 75 and is let go unclosed.
class OLEStream final : public IStream {
 public:
  explicit OLEStream(GsfOutput* output) : output_(output) {}
  ~OLEStream() override { Close(); }

  std::uint32_t Write(std::span<const std::uint8_t> data) override {
    QM_FRAME_TRY {
      if (MadeBeforeFork(generation_)) io::RaiseInherited();
      if (!output_) Raise(ERR_ObjectNotSet);
      if (data.size() > UINT32_MAX) Raise(ERR_InvalidProcedureCall);
      if (!data.empty() && !gsf_output_write(output_.get(), data.size(), data.data()))
        RaiseStorage(nullptr, "Could not write to the stream");
      return static_cast<std::uint32_t>(data.size());
    }
    QM_FRAME_CATCH("OLEStreamWriter", "Public Function Write", data);
  }

  std::uint64_t Seek(std::int64_t offset, StreamSeek origin) override {
    QM_FRAME_TRY {
      if (MadeBeforeFork(generation_)) io::RaiseInherited();
      if (!output_) Raise(ERR_ObjectNotSet);
      const GSeekType whence = origin == StreamSeek::Begin     ? G_SEEK_SET
                               : origin == StreamSeek::Current ? G_SEEK_CUR
                                                               : G_SEEK_END;
      if (!gsf_output_seek(output_.get(), offset, whence)) RaiseStorage(nullptr, "Could not seek in the stream");
      return static_cast<std::uint64_t>(gsf_output_tell(output_.get()));
    }
    QM_FRAME_CATCH("OLEStreamWriter", "Public Function Seek", offset, origin);
  }

  /// Ends writing; the stream cannot be used afterwards.
  void Close() noexcept {
    if (!output_) return;
    if (MadeBeforeFork(generation_)) {
      (void)output_.release();  // closing would write the parent's compound file
      return;
    }
    gsf_output_close(output_.get());
    output_.reset();
  }

 private:
  GPtr<GsfOutput> output_;
  const std::uint64_t generation_ = io::Executor::Generation();
};

}  // namespace

// The compound file: written through `outfile` until the stream is released,
// read back from the file afterwards. In a child after fork, one made before
// it is the parent's: copying it raises 75, and its release writes nothing.
class OLEStreamWriter::Storage {
 public:
  explicit Storage(const std::string& path) : path_(path) {
    InitGsf();
    // Create the compound file over the empty temporary file, and its stream.
    sinkFile_ = SinkFile::Open(path);
    if (!sinkFile_) RaiseStorage(nullptr, "Could not create the compound file");
    GPtr<GsfOutput> sink(GSF_OUTPUT(gsf_output_stdio_new_FILE(path.c_str(), sinkFile_.get(), TRUE)));
    if (!sink) RaiseStorage(nullptr, "Could not create the compound file");
    outfile_.reset(gsf_outfile_msole_new(sink.get()));
    if (!outfile_) RaiseStorage(nullptr, "Could not create the compound file");
    GsfOutput* child = gsf_outfile_new_child(outfile_.get(), kStreamName, FALSE);
    if (!child) RaiseStorage(nullptr, "Could not create the stream");
    stream_ = std::make_shared<OLEStream>(child);
  }

  ~Storage() { Finish(); }

  const std::shared_ptr<OLEStream>& Stream() const { return stream_; }
  bool Inherited() const { return MadeBeforeFork(generation_); }

  /// Releases the stream and completes the compound file.
  void Finish() noexcept {
    if (stream_) stream_->Close();
    stream_.reset();
    if (outfile_ && MadeBeforeFork(generation_)) (void)outfile_.release();  // closing it would write
    if (outfile_) {
      gsf_output_close(GSF_OUTPUT(outfile_.get()));
      outfile_.reset();
    }
    sinkFile_.reset();  // what failed to reach it shows when the file is read back
  }

  /// Copies the stream, block by block, into `target`.
  void CopyTo(const std::string& target) {
    if (MadeBeforeFork(generation_)) io::RaiseInherited();
    GError* error = nullptr;
    const File file(io::sys::Fopen(path_.c_str(), "rb"));
    if (!file) RaiseStorage(nullptr, "Could not open the compound file");
    GPtr<GsfInput> input(gsf_input_stdio_new_FILE(path_.c_str(), file.get(), TRUE));
    if (!input) RaiseStorage(nullptr, "Could not open the compound file");
    GPtr<GsfInfile> infile(gsf_infile_msole_new(input.get(), &error));
    if (!infile) RaiseStorage(error, "Could not read the compound file");
    GPtr<GsfInput> stream(gsf_infile_child_by_name(infile.get(), kStreamName));
    if (!stream) RaiseStorage(nullptr, "Could not open the stream");

    std::optional<io::AtomicFile> out;
    try {
      out.emplace(target);
    } catch (const std::filesystem::filesystem_error& e) {
      const int error = e.code().value();
      Raise(error == ENOENT || error == ENOTDIR ? ERR_PathNotFound
            : error == EACCES                   ? ERR_PermissionDenied
                                                : ERR_PathFileAccess);
    }
    std::vector<guint8> block(kBlockSize);
    try {
      for (;;) {
        const gsf_off_t remaining = gsf_input_remaining(stream.get());
        const std::size_t count = static_cast<std::size_t>(std::min<gsf_off_t>(remaining, kBlockSize));
        if (count == 0) break;
        if (!gsf_input_read(stream.get(), count, block.data())) RaiseStorage(nullptr, "Could not read the stream");
        out->Write(block.data(), count);
      }
      out->Commit();
    } catch (const std::filesystem::filesystem_error& e) {
      Raise(ERR_DeviceIO, ErrcOfErrno(e.code().value()),
            DescribeError(ERR_DeviceIO, frame::WriteFailureDetail(target, e)));
    }
  }

 private:
  std::string path_;
  File sinkFile_;  // outlives the objects that write to it
  GPtr<GsfOutfile> outfile_;
  std::shared_ptr<OLEStream> stream_;
  const std::uint64_t generation_ = io::Executor::Generation();
};

struct OLEStreamWriter::Impl {
  std::shared_ptr<TemporaryFile> file{};
  std::unique_ptr<Storage> storage{};
};

OLEStreamWriter::OLEStreamWriter() : impl_(std::make_unique<Impl>()) {
  QM_FRAME_TRY {
    impl_->file = std::make_shared<TemporaryFile>();
    impl_->storage = std::make_unique<Storage>(impl_->file->Filename());
  }
  QM_FRAME_CATCH("OLEStreamWriter", "Private Sub Class_Initialize");
}

// The storage goes first, so the temporary file is closed when it is deleted.
OLEStreamWriter::~OLEStreamWriter() { impl_->storage.reset(); }

std::shared_ptr<IStream> OLEStreamWriter::Stream() const {
  QM_FRAME_TRY {
    if (!impl_->storage->Stream()) Raise(ERR_ObjectNotSet);
    return impl_->storage->Stream();
  }
  QM_FRAME_CATCH("OLEStreamWriter", "Public Property Get Stream");
}

void OLEStreamWriter::WriteToFile(const std::string& Filename) {
  QM_FRAME_TRY {
    if (impl_->storage->Inherited()) io::RaiseInherited();  // before Finish ends the stream
    impl_->storage->Finish();
    impl_->storage->CopyTo(Filename);
  }
  QM_FRAME_CATCH("OLEStreamWriter", "Public Sub WriteToFile", Filename);
}

}  // namespace qm
