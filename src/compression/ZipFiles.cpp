#include "quillmark/compression/ZipFiles.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "compression/ZipLibrary.h"
#include "compression/ZipTypes.h"
#include "frame/FileErrors.h"
#include "io/Executor.h"
#include "io/Lane.h"
#include "quillmark/compression/Zipper.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Frame.h"
#include "runtime/ProgressRelay.h"

namespace qm {
namespace {

ZipResult ResultOf(ZipErrors code) {
  switch (code) {
    case ZE_OK: return ZipResult::Ok;
    case ZE_Nothing_To_Do_ERR: return ZipResult::NothingFound;
    case ZE_Open_ERR:
    case ZE_Read_ERR: return ZipResult::ReadFailed;
    case ZE_Create_ERR:
    case ZE_Write_ERR:
    case ZE_Temp_File_ERR: return ZipResult::WriteFailed;
    case ZE_Zip_Structure_ERR: return ZipResult::NotAnArchive;
    case ZE_Out_of_memory_ERR: return ZipResult::OutOfMemory;
    default: return ZipResult::Failed;
  }
}

[[noreturn]] void RaiseBadName(const std::string& what) {
  throw Error(ERR_InvalidProcedureCall, frame::DefaultSource("ZipFiles"),
              "Invalid procedure call or argument: " + what);
}

// An entry name that stays inside the archive's folder when unpacked: not
// empty, not absolute, no ".." step (with "\\" read as "/", as the engine
// stores it).
std::string CheckedEntryName(const std::string& name) {
  std::string slashed = name;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::filesystem::path path(slashed);
  if (slashed.empty() || path.has_root_path()) RaiseBadName("\"" + name + "\" is no entry name (empty or absolute)");
  for (const auto& step : path)
    if (step == "..") RaiseBadName("the entry name \"" + name + "\" climbs out of the archive's folder");
  return name;
}

// The name of `file` relative to `base`, both taken from the current folder.
std::string NameUnder(const std::filesystem::path& base, const std::filesystem::path& file) {
  const auto folder = std::filesystem::absolute(base).lexically_normal();
  const auto relative = std::filesystem::absolute(file).lexically_normal().lexically_relative(folder);
  if (relative.empty() || relative == "." || *relative.begin() == "..")
    RaiseBadName(file.string() + " is not inside the base folder " + base.string());
  return relative.generic_string();
}

// Writes the files in one pass of the engine, each stored under its name in
// `names` (when given) or under its path.
//
// A child process forked from the callback while libzip writes is stopped
// when the callback returns there (an exception from it cancels the archive,
// before libzip reads or writes again) and raises 75: the archive, its
// temporary and the deflate helpers are the parent's.
ZipReport Write(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                std::vector<std::string> names, ZipMode mode, const Progress& progress) {
  const std::uint64_t generation = io::Executor::Generation();
  const auto forked = [generation] { return io::Executor::Generation() != generation; };
  compression::ZipLibrary engine;
  compression::ZipUserFunctions functions;
  functions.Print = &compression::ZDLLPrnt;
  functions.Comment = &compression::ZDLLComm;
  functions.Password = &compression::ZDLLPass;
  functions.Service = &compression::ZDLLServ;
  engine.ZpInit(functions);
  // The engine has looked at every file (and knows their bytes) before
  // libzip writes and reports.
  if (progress) {
    engine.OnWriting([&](double fraction) {
      const auto total = static_cast<double>(engine.Bytes());
      progress(static_cast<std::uint64_t>(std::clamp(fraction, 0.0, 1.0) * total), engine.Bytes());
      if (forked()) io::RaiseInherited();
    });
  }
  if (!names.empty()) engine.StoreAs(std::move(names));

  std::vector<std::string_view> given;
  given.reserve(files.size());
  for (const auto& file : files) given.emplace_back(file.native());
  const auto result = static_cast<ZipErrors>(engine.ZpArchiveAll(archive.string(), given, mode));
  // In a child, only an archive the parent had finished (the callback's last
  // call comes after the commit) is no error.
  if (forked() && result != ZE_OK) io::RaiseInherited();

  ZipReport report;
  for (const auto& notice : engine.Skipped()) report.Skipped.push_back({notice.Name, notice.Reason});
  // An archive in place whose folder could not be synced holds the files.
  if (result == ZE_OK || engine.InPlace()) report.Archived = files.size() - engine.Skipped().size();
  if (result == ZE_Nothing_To_Do_ERR || (result == ZE_OK && report.Archived == 0)) {
    report.Result = ZipResult::NothingFound;
  } else if (result != ZE_OK) {
    report.Result = ResultOf(result);
    report.FailedFile = engine.Failure().Name;
    report.Problem = engine.Failure().Reason;
  } else if (progress) {
    try {  // dropped, as while libzip writes: the archive is done
      progress(engine.Bytes(), engine.Bytes());
    } catch (...) {}
  }
  return report;
}

// Write with the caller's callback relayed (an exception it throws cancels
// the archive, so an archive that was there stays as it was, and then passes
// on as the object thrown), and the frame's trail on the library's errors. An
// archive that cannot be created for want of its folder is the error every
// typed job gives for it.
template <class Names>
ZipReport Archive(const std::filesystem::path& archive, std::span<const std::filesystem::path> files, ZipMode mode,
                  const Progress& progress, Names names) {
  runtime::ProgressRelay relay(progress);
  ZipReport report;
  try {
    QM_FRAME_TRY { report = Write(archive, files, names(), mode, relay.Callback()); }
    QM_FRAME_CATCH("ZipFiles", "Public Function ZipFiles", archive.string());
  } catch (...) {
    relay.RethrowCallerException();
    throw;
  }
  // libzip cannot pass the exception on: it cancelled the archive instead.
  relay.RethrowCallerException();
  std::filesystem::path folder;
  if (report.Result == ZipResult::WriteFailed && frame::FolderIsMissing(archive, folder))
    frame::RaisePathNotFound(folder, frame::DefaultSource("ZipFiles"));
  return report;
}

}  // namespace

std::string ZipReport::Message() const {
  std::string text;
  for (const auto& skipped : Skipped) text += skipped.File.string() + ": " + skipped.Reason + ", not archived\n";
  if (Result == ZipResult::NothingFound) {
    text += "none of the files was found: no archive written\n";
  } else if (Result != ZipResult::Ok) {
    text += (FailedFile.empty() ? Problem : FailedFile.string() + ": " + Problem) + '\n';
  }
  if (!text.empty()) text.pop_back();
  return text;
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const Progress& progress) {
  return ZipFiles(archive, files, ZipMode::Create, progress);
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const std::filesystem::path& base, const Progress& progress) {
  return ZipFiles(archive, files, base, ZipMode::Create, progress);
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const ZipEntry> entries, const Progress& progress) {
  return ZipFiles(archive, entries, ZipMode::Create, progress);
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files, ZipMode mode,
                   const Progress& progress) {
  return Archive(archive, files, mode, progress, [] { return std::vector<std::string>(); });
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const std::filesystem::path& base, ZipMode mode, const Progress& progress) {
  return Archive(archive, files, mode, progress, [&] {
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const auto& file : files) names.push_back(NameUnder(base, file));
    return names;
  });
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const ZipEntry> entries, ZipMode mode,
                   const Progress& progress) {
  std::vector<std::filesystem::path> files;
  files.reserve(entries.size());
  for (const auto& entry : entries) files.push_back(entry.File);
  return Archive(archive, files, mode, progress, [&] {
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& entry : entries) names.push_back(CheckedEntryName(entry.Name));
    return names;
  });
}

}  // namespace qm
