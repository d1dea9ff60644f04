#include "compression/ZipLibrary.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compression/DeflatedMember.h"
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

// The name inside the archive: "/" separators, no leading "/" or "./".
std::string StoredName(std::string_view given) {
  std::string name(given);
  std::replace(name.begin(), name.end(), '\\', '/');
  for (;;) {
    if (name.starts_with('/')) name.erase(0, 1);
    else if (name.starts_with("./")) name.erase(0, 2);
    else break;
  }
  return name;
}

// Finds a given name on disk; names written with "\" separators are tried
// with "/" as well.
bool Locate(std::string_view given, Member& member) {
  member.Path.assign(given);
  if (::stat(member.Path.c_str(), &member.Info) == 0) return true;
  if (given.find('\\') == std::string_view::npos) return false;
  std::replace(member.Path.begin(), member.Path.end(), '\\', '/');
  return ::stat(member.Path.c_str(), &member.Info) == 0;
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

}  // namespace

std::int32_t ZipLibrary::ZpInit(const ZipUserFunctions& functions) {
  functions_ = functions;
  return 1;
}

std::int32_t ZipLibrary::ZpArchive(std::int32_t count, std::string_view zipFileName, const ZipNameList& names) {
  if (count < 0 || static_cast<std::size_t>(count) > kZipNameSlots || zipFileName.empty()) return ZE_Params_ERR;
  const auto print = [this](const std::string& line) {
    if (functions_.Print) functions_.Print(line, static_cast<std::int32_t>(line.size()));
  };

  try {
    const std::string archivePath(zipFileName);
    struct stat archiveInfo {};
    const bool archiveExists = ::stat(archivePath.c_str(), &archiveInfo) == 0;

    std::vector<Member> members;
    members.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
      const std::string_view given = names.Names[static_cast<std::size_t>(i)];
      Member member;
      member.StoredName = StoredName(given);
      if (given.empty() || member.StoredName.empty() || !Locate(given, member)) {
        print("zip warning: name not matched: " + std::string(given));
        continue;
      }
      if (archiveExists && SameFile(member.Info, archiveInfo)) continue;
      if (!S_ISREG(member.Info.st_mode) && !S_ISDIR(member.Info.st_mode)) {
        // A pipe or device could block or never end; zip skips them too.
        print("zip warning: skipping special file: " + std::string(given));
        continue;
      }
      if (S_ISDIR(member.Info.st_mode) && !member.StoredName.ends_with('/')) member.StoredName += '/';
      members.push_back(std::move(member));
    }
    if (members.empty()) return ZE_Nothing_To_Do_ERR;

    // Declared before the archive handle, whose sources refer to them.
    DeflatedMembers deflated(kDeflateLevel);

    int openError = ZIP_ER_OK;
    Archive archive(zip_open(archivePath.c_str(), ZIP_CREATE, &openError));
    if (!archive) return openError == ZIP_ER_OPEN ? ZE_Create_ERR : ResultOf(openError);

    for (const auto& member : members) {
      const auto size = static_cast<std::int32_t>(std::min<off_t>(member.Info.st_size, INT32_MAX));
      if (functions_.Service && functions_.Service(member.StoredName, size) != 0) return ZE_Aborted;
      print("  adding: " + member.StoredName);

      zip_int64_t index = -1;
      if (S_ISDIR(member.Info.st_mode)) {
        index = zip_name_locate(archive.get(), member.StoredName.c_str(), 0);
        if (index < 0) index = zip_dir_add(archive.get(), member.StoredName.c_str(), ZIP_FL_ENC_GUESS);
        if (index < 0) return ResultOf(archive.get());
      } else {
        // Files arrive deflated by the pool; large ones stream through libzip
        // at the same level.
        const bool small = member.Info.st_size <= DeflatedMember::kMaxSize;
        zip_source_t* source = nullptr;
        if (small) {
          source = deflated.Source(archive.get(), member.Path, member.Info);
        } else {
          source = zip_source_file(archive.get(), member.Path.c_str(), 0, -1);
        }
        if (!source) return ResultOf(archive.get());
        index = zip_file_add(archive.get(), member.StoredName.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
        if (index < 0) {
          zip_source_free(source);
          return ResultOf(archive.get());
        }
        if (small) deflated.Placed(static_cast<zip_uint64_t>(index));
        if (!small &&
            zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kDeflateLevel) != 0)
          return ResultOf(archive.get());
      }
      // Unix permissions and file type, so that unzip restores them.
      const auto attributes = static_cast<zip_uint32_t>(member.Info.st_mode) << 16;
      if (zip_file_set_external_attributes(archive.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                           attributes) != 0)
        return ResultOf(archive.get());
    }

    deflated.Start();
    if (zip_close(archive.get()) != 0) return ResultOf(archive.get());
    (void)archive.release();  // zip_close freed it
    return ZE_OK;
  } catch (const std::bad_alloc&) {
    return ZE_Out_of_memory_ERR;
  }
}

}  // namespace qm::compression
