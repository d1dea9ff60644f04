#include "quillmark/compression/ZipFiles.h"

#include <algorithm>

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

// The bytes of the files of the rounds before each round, and of all at the
// end: {0, round 1, rounds 1 and 2, ...}. What cannot be looked at counts 0.
std::vector<std::uint64_t> RoundSizes(std::span<const std::filesystem::path> files) {
  std::vector<std::uint64_t> sizes{0};
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    const auto size = std::filesystem::is_regular_file(files[i], ec) ? std::filesystem::file_size(files[i], ec) : 0;
    if (!ec) total += size;
    if ((i + 1) % compression::kZipNameSlots == 0 || i + 1 == files.size()) sizes.push_back(total);
  }
  return sizes;
}

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

// Writes the files in rounds, each stored under its name in `names` (when
// given) or under its path.
//
// A child process forked from the callback while libzip writes is stopped
// when the callback returns there (an exception from it cancels the archive,
// before libzip reads or writes again) and raises 75: the archive, its
// temporary and the deflate helpers are the parent's.
ZipReport Write(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                std::vector<std::string> names, const Progress& progress) {
  const std::uint64_t generation = io::Executor::Generation();
  const auto forked = [generation] { return io::Executor::Generation() != generation; };
  compression::ZipLibrary engine;
  compression::ZipUserFunctions functions;
  functions.Print = &compression::ZDLLPrnt;
  functions.Comment = &compression::ZDLLComm;
  functions.Password = &compression::ZDLLPass;
  functions.Service = &compression::ZDLLServ;
  engine.ZpInit(functions);

  // With progress wanted, the sizes of the files before each round.
  std::vector<std::uint64_t> bytesBefore{0};
  if (progress) bytesBefore = RoundSizes(files);

  ZipReport report;
  std::vector<std::string> round;
  for (std::size_t first = 0; first < files.size(); first += compression::kZipNameSlots) {
    const std::size_t count = std::min(compression::kZipNameSlots, files.size() - first);
    if (progress) {
      // The bytes of the rounds before, and the written part of this one's.
      const std::uint64_t before = bytesBefore[first / compression::kZipNameSlots];
      const std::uint64_t share = bytesBefore[first / compression::kZipNameSlots + 1] - before;
      engine.OnWriting([&, before, share](double fraction) {
        const double part = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(share);
        progress(before + static_cast<std::uint64_t>(part), bytesBefore.back());
        if (forked()) io::RaiseInherited();
      });
    }
    round.clear();
    for (std::size_t i = 0; i < count; ++i) round.push_back(files[first + i].string());
    compression::ZipNameList list;
    std::copy(round.begin(), round.end(), list.Names.begin());
    if (!names.empty())
      engine.StoreAs({names.begin() + static_cast<std::ptrdiff_t>(first),
                      names.begin() + static_cast<std::ptrdiff_t>(first + count)});

    const auto result =
        static_cast<ZipErrors>(engine.ZpArchive(static_cast<std::int32_t>(count), archive.string(), list));
    // In a child, only an archive the parent had finished (the callback's last
    // call comes after the commit) is no error, and then only with no round left.
    if (forked() && (result != ZE_OK || first + count < files.size())) io::RaiseInherited();
    for (const auto& notice : engine.Skipped()) report.Skipped.push_back({notice.Name, notice.Reason});
    // An archive in place whose folder could not be synced holds the round's files.
    if (result == ZE_OK || engine.InPlace()) report.Archived += count - engine.Skipped().size();
    if (result != ZE_OK && result != ZE_Nothing_To_Do_ERR) {  // a round of missing names only writes nothing
      report.Result = ResultOf(result);
      report.FailedFile = engine.Failure().Name;
      report.Problem = engine.Failure().Reason;
      report.NotTried = files.size() - first - count;
      return report;
    }
  }
  if (report.Archived == 0) report.Result = ZipResult::NothingFound;
  if (progress) {
    try {  // dropped, as while libzip writes: the archive is done
      progress(bytesBefore.back(), bytesBefore.back());
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
ZipReport Archive(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                  const Progress& progress, Names names) {
  runtime::ProgressRelay relay(progress);
  ZipReport report;
  try {
    QM_FRAME_TRY { report = Write(archive, files, names(), relay.Callback()); }
    QM_FRAME_CATCH("ZipFiles", "Public Function ZipFiles", archive.string());
  } catch (...) {
    relay.RethrowCallerException();
    throw;
  }
  // libzip cannot pass the exception on: it cancelled the archive instead.
  relay.RethrowCallerException();
  std::filesystem::path folder;
  if (report.Result == ZipResult::WriteFailed && frame::FolderIsMissing(archive, folder))
    throw Error(ERR_PathNotFound, errc::not_found, frame::DefaultSource("ZipFiles"),
                DescribeError(ERR_PathNotFound, folder.string()));
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
    if (NotTried > 0) text += std::to_string(NotTried) + " further files were not tried\n";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const Progress& progress) {
  return Archive(archive, files, progress, [] { return std::vector<std::string>(); });
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const std::filesystem::path> files,
                   const std::filesystem::path& base, const Progress& progress) {
  return Archive(archive, files, progress, [&] {
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const auto& file : files) names.push_back(NameUnder(base, file));
    return names;
  });
}

ZipReport ZipFiles(const std::filesystem::path& archive, std::span<const ZipEntry> entries, const Progress& progress) {
  std::vector<std::filesystem::path> files;
  files.reserve(entries.size());
  for (const auto& entry : entries) files.push_back(entry.File);
  return Archive(archive, files, progress, [&] {
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& entry : entries) names.push_back(CheckedEntryName(entry.Name));
    return names;
  });
}

}  // namespace qm
