#include "compression/ZipLibrary.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compression/ArchiveFile.h"
#include "compression/DeflatedMember.h"
#include "compression/EntryName.h"
#include "io/System.h"
#include "quillmark/compression/Zipper.h"

namespace qm::compression {
namespace {

struct ArchiveCloser {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

// A file found on disk, with the name it is stored under.
struct Member {
  std::string Path;
  std::string StoredName;
  struct stat Info {};
};

// The name inside the archive: "/" separators, no leading "/" or "./"; empty
// for the root and the current folder, which have no name of their own.
std::string StoredName(std::string_view given) {
  std::string name(given);
  std::replace(name.begin(), name.end(), '\\', '/');
  for (;;) {
    if (name.starts_with('/')) name.erase(0, 1);
    else if (name.starts_with("./")) name.erase(0, 2);
    else break;
  }
  return name == "." ? std::string() : name;
}

// Finds a given name on disk; names written with "\" separators are tried
// with "/" as well.
bool Locate(std::string_view given, Member& member) {
  member.Path.assign(given);
  if (io::sys::Stat(member.Path.c_str(), &member.Info) == 0) return true;
  if (given.find('\\') == std::string_view::npos) return false;
  std::replace(member.Path.begin(), member.Path.end(), '\\', '/');
  return io::sys::Stat(member.Path.c_str(), &member.Info) == 0;
}

// Why the archive cannot be written where it is named, before libzip is
// asked (which would only say "operation not supported" for a folder, or
// fail late on a missing folder); empty when nothing is in the way.
std::string WhyNotAnArchivePath(const std::string& path, bool exists, const struct stat& info) {
  if (exists) return S_ISDIR(info.st_mode) ? "is a folder, not a zip archive" : std::string();
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return {};
  const std::string folder = path.substr(0, slash);
  struct stat folderInfo {};
  if (io::sys::Stat(folder.c_str(), &folderInfo) != 0)
    return errno == ENOENT ? "cannot be created: the folder " + folder + " does not exist"
                           : "cannot be created in " + folder + ": " + std::strerror(errno);
  if (!S_ISDIR(folderInfo.st_mode)) return "cannot be created: " + folder + " is not a folder";
  return {};
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// libzip's errors as the Zip library's result codes.
std::int32_t ResultOf(int zipError) {
  switch (zipError) {
    case ZIP_ER_OK: return ZE_OK;
    case ZIP_ER_EOF: return ZE_Unexpected_EOF_ERR;
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_MULTIDISK:
    case ZIP_ER_COMPRESSED_DATA: return ZE_Zip_Structure_ERR;
    case ZIP_ER_MEMORY: return ZE_Out_of_memory_ERR;
    case ZIP_ER_CANCELLED: return ZE_Aborted;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL: return ZE_Read_ERR;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE: return ZE_Write_ERR;
    case ZIP_ER_TMPOPEN:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
    case ZIP_ER_RDONLY: return ZE_Create_ERR;
    case ZIP_ER_OPEN:
    case ZIP_ER_NOENT: return ZE_Open_ERR;
    case ZIP_ER_INVAL: return ZE_Params_ERR;
    default: return ZE_Internal_Logic_ERR;
  }
}

std::int32_t ResultOf(zip_t* archive) { return ResultOf(zip_error_code_zip(zip_get_error(archive))); }

// Has libzip deflate a streamed entry at the engine's level. Asked to deflate
// an entry that the old archive held deflated, libzip sees no change of
// method and drops the level given, then deflates at its own default, 9
// (some ten times slower on text, and other bytes). Such an entry is asked
// for ZIP_CM_DEFAULT instead, which libzip deflates at the level given.
int SetDeflate(zip_t* archive, zip_uint64_t index) {
  zip_stat_t old;
  zip_stat_init(&old);
  const bool wasDeflated = zip_stat_index(archive, index, ZIP_FL_UNCHANGED, &old) == 0 &&
                           (old.valid & ZIP_STAT_COMP_METHOD) != 0 && old.comp_method == ZIP_CM_DEFLATE;
  return zip_set_file_compression(archive, index, wasDeflated ? ZIP_CM_DEFAULT : ZIP_CM_DEFLATE,
                                  ZipLibrary::kDeflateLevel);
}

}  // namespace

std::int32_t ZipLibrary::ZpInit(const ZipUserFunctions& functions) {
  functions_ = functions;
  return 1;
}

std::int32_t ZipLibrary::ZpArchive(std::int32_t count, std::string_view zipFileName, const ZipNameList& names) {
  const bool tooMany = count < 0 || static_cast<std::size_t>(count) > kZipNameSlots;
  if (tooMany && !zipFileName.empty()) {
    Reset();
    return Fail(ZE_Params_ERR, std::string(zipFileName), "bad parameters: more than 1024 names");
  }
  return ZpArchiveAll(zipFileName, std::span(names.Names).first(tooMany ? 0 : static_cast<std::size_t>(count)),
                      ZipMode::Update);
}

std::int32_t ZipLibrary::ZpArchiveAll(std::string_view zipFileName, std::span<const std::string_view> names,
                                      ZipMode mode) {
  Reset();
  if (zipFileName.empty()) return Fail(ZE_Params_ERR, {}, "no archive name was given");
  try {
    return Write(std::string(zipFileName), names, mode);
  } catch (const std::bad_alloc&) {
    return Fail(ZE_Out_of_memory_ERR, std::string(zipFileName), "out of memory");
  }
}

void ZipLibrary::Reset() {
  skipped_.clear();
  failure_ = {};
  inPlace_ = false;
  bytes_ = 0;
}

std::int32_t ZipLibrary::Fail(std::int32_t result, std::string name, std::string reason) {
  failure_ = {std::move(name), std::move(reason)};
  return result;
}

std::int32_t ZipLibrary::Write(const std::string& archivePath, std::span<const std::string_view> names, ZipMode mode) {
  const auto print = [this](const std::string& line) {
    if (functions_.Print) functions_.Print(line, static_cast<std::int32_t>(line.size()));
  };
  const auto skip = [&](std::string_view given, std::string reason, const char* warning) {
    print(warning + std::string(given));
    skipped_.push_back({std::string(given), std::move(reason)});
  };

  struct stat archiveInfo {};
  const bool archiveExists = io::sys::Stat(archivePath.c_str(), &archiveInfo) == 0;
  const int archiveLookError = archiveExists ? 0 : errno;

  std::vector<Member> members;
  members.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string_view given = names[i];
    Member member;
    member.StoredName = StoredName(i < storeAs_.size() ? std::string_view(storeAs_[i]) : given);
    if (given.empty() || !Locate(given, member)) {
      // Only a name that is not there is skipped: one that cannot be looked
      // at stops the operation before the archive is touched, as below.
      if (!given.empty() && errno != ENOENT && errno != ENOTDIR)
        return Fail(ZE_Open_ERR, std::string(given), "cannot be looked at: " + std::string(std::strerror(errno)));
      skip(given, "not found", "zip warning: name not matched: ");
      continue;
    }
    if (member.StoredName.empty()) {
      skip(given, "is the root or the current folder, which has no name to store", "zip warning: name not matched: ");
      continue;
    }
    if (archiveExists && SameFile(member.Info, archiveInfo)) {
      skip(given, "is the archive itself", "zip warning: name is the archive itself: ");
      continue;
    }
    if (!S_ISREG(member.Info.st_mode) && !S_ISDIR(member.Info.st_mode)) {
      // A pipe or device could block or never end; zip skips them too.
      skip(given, "is not a regular file or folder (a pipe or device)", "zip warning: skipping special file: ");
      continue;
    }
    // A file that cannot be opened stops the operation before the archive is
    // touched, naming the file (libzip would only say that some file failed).
    if (S_ISREG(member.Info.st_mode) && io::sys::Access(member.Path.c_str(), R_OK) != 0)
      return Fail(ZE_Open_ERR, std::string(given),
                  "cannot be opened for reading: " + std::string(std::strerror(errno)));
    if (S_ISDIR(member.Info.st_mode) && !member.StoredName.ends_with('/')) member.StoredName += '/';
    if (S_ISREG(member.Info.st_mode)) bytes_ += static_cast<std::uint64_t>(member.Info.st_size);
    members.push_back(std::move(member));
  }
  if (members.empty()) return Fail(ZE_Nothing_To_Do_ERR, archivePath, "none of the files was found: nothing to do");
  if (const std::string why = WhyNotAnArchivePath(archivePath, archiveExists, archiveInfo); !why.empty())
    return Fail(ZE_Create_ERR, archivePath, why);

  // An archive that may or may not be there cannot be updated or replaced.
  if (archiveLookError != 0 && archiveLookError != ENOENT)
    return Fail(ZE_Create_ERR, archivePath, "cannot be looked at: " + std::string(std::strerror(archiveLookError)));
  // A new archive replaces only a file that could be one (libzip would read
  // the old archive's whole directory to say so): other files are left alone.
  const bool anew = mode == ZipMode::Create;
  if (int error = 0; anew && archiveExists && !LooksLikeZipArchive(archivePath, error))
    return error != 0
               ? Fail(ZE_Create_ERR, archivePath,
                      "cannot be opened to see that it is a zip archive: " + std::string(std::strerror(error)))
               : Fail(ZE_Zip_Structure_ERR, archivePath,
                      "exists but is not a zip archive, or is damaged (Not a zip archive); it was left as it was");

  // Declared before the archive handle, whose sources refer to them.
  DeflatedMembers deflated(kDeflateLevel);

  ArchiveFile file(archivePath);
  zip_error_t openError;
  zip_error_init(&openError);
  zip_source_t* source = file.Source(&openError);
  Archive archive(source ? zip_open_from_source(source, anew ? ZIP_CREATE | ZIP_TRUNCATE : ZIP_CREATE, &openError)
                         : nullptr);
  if (!archive) {
    if (source) zip_source_free(source);  // still the caller's when the open failed
    const int code = zip_error_code_zip(&openError);
    const std::string words = zip_error_strerror(&openError);
    zip_error_fini(&openError);
    if (code == ZIP_ER_OPEN) return Fail(ZE_Create_ERR, archivePath, "cannot be created: " + words);
    if (ResultOf(code) == ZE_Zip_Structure_ERR)
      return Fail(ZE_Zip_Structure_ERR, archivePath,
                  "exists but is not a zip archive, or is damaged (" + words + "); it was left as it was");
    return Fail(ResultOf(code), archivePath, "cannot be opened: " + words);
  }
  zip_error_fini(&openError);
  // libzip's error, said of the file concerned.
  const auto failed = [&](const std::string& name, const std::string& doing) {
    return Fail(ResultOf(archive.get()), name, doing + ": " + zip_strerror(archive.get()));
  };
  for (const auto& member : members) {
    const auto size = static_cast<std::int32_t>(std::min<off_t>(member.Info.st_size, INT32_MAX));
    if (functions_.Service && functions_.Service(member.StoredName, size) != 0)
      return Fail(ZE_Aborted, member.Path, "aborted by the service callback before this file");
    print("  adding: " + member.StoredName);

    zip_int64_t index = -1;
    if (S_ISDIR(member.Info.st_mode)) {
      const auto existing = FindEntry(archive.get(), member.StoredName);
      index = existing ? static_cast<zip_int64_t>(*existing)
                       : zip_dir_add(archive.get(), member.StoredName.c_str(), ZIP_FL_ENC_GUESS);
      if (index < 0) return failed(member.Path, "cannot be added as a folder entry");
    } else {
      // Files arrive deflated by the pool; large ones stream through libzip
      // at the same level.
      const bool small = member.Info.st_size <= DeflatedMember::kMaxSize;
      zip_source_t* source = nullptr;
      if (small) {
        source = deflated.Source(archive.get(), member.Path, member.Info);
      } else {
        source = FileSource(archive.get(), member.Path);
      }
      if (!source) return failed(member.Path, "cannot be read");
      index = PutEntry(archive.get(), member.StoredName, source);
      if (index < 0) return failed(member.Path, "cannot be added");
      if (small) deflated.Placed(static_cast<zip_uint64_t>(index));
      if (!small && SetDeflate(archive.get(), static_cast<zip_uint64_t>(index)) != 0)
        return failed(member.Path, "cannot be set to deflate");
    }
    // Unix permissions and file type, so that unzip restores them.
    const auto attributes = static_cast<zip_uint32_t>(member.Info.st_mode) << 16;
    if (zip_file_set_external_attributes(archive.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         attributes) != 0)
      return failed(member.Path, "cannot be given its permissions");
  }

  std::vector<Member>().swap(members);  // libzip holds what it needs of them now

  if (writing_) {
    writingFailed_ = false;
    const auto tell = [](zip_t*, double fraction, void* self) {
      auto& library = *static_cast<ZipLibrary*>(self);
      if (library.writingFailed_) return;
      try {
        library.writing_(fraction);
      } catch (...) {  // nothing may unwind through libzip
        library.writingFailed_ = true;
      }
    };
    zip_register_progress_callback_with_state(archive.get(), 0.001, tell, nullptr, this);
    // A callback that threw cancels the archive: libzip then leaves the file
    // as it was.
    const auto cancel = [](zip_t*, void* self) -> int {
      return static_cast<ZipLibrary*>(self)->writingFailed_ ? 1 : 0;
    };
    zip_register_cancel_callback_with_state(archive.get(), cancel, nullptr, this);
  }
  deflated.Start();
  if (zip_close(archive.get()) != 0) {
    // The files are read while the archive is written: name the one that failed.
    if (writingFailed_) return Fail(ZE_Aborted, archivePath, "stopped by the progress callback; left as it was");
    if (DeflatedMember* member = deflated.FirstFailure())
      return Fail(ResultOf(archive.get()), member->Path(), "cannot be read: " + member->Problem());
    if (const int error = file.UnsyncedFolder()) {
      inPlace_ = true;
      return Fail(ResultOf(archive.get()), archivePath,
                  "the new archive is in place, but its folder could not be synced (" +
                      std::string(std::strerror(error)) + "): a crash soon after could bring back the old one");
    }
    return failed(archivePath, "cannot be written");
  }
  (void)archive.release();  // zip_close freed it; the archive was synced before it replaced the old one
  return ZE_OK;
}

}  // namespace qm::compression
