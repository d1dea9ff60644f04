#pragma once
/// @file
/// How far a long job has come, for callers that show it.
///
///   qm::Compress().CompressFile("big.log", "big.cmp", qm::COM_DEFAULT_COMPRESSION,
///                               [](std::uint64_t done, std::uint64_t total) { Draw(done, total); });
///
/// The jobs that take one (`Compress::CompressFile` and `DecompressFile`,
/// `ZipFiles`, `mdlHTML2MHT::ConvertHTMLToMHT`, `FileRecurser::Files`) have an
/// overload with a trailing `Progress` beside their published form, and do
/// exactly what that form does.

#include <cstdint>
#include <functional>

namespace qm {

/// Told `Done` of `Total` units so far, in the units the job names (bytes,
/// files, parts or folders); `Total` is 0 when the job cannot know it
/// beforehand. Called on the thread that runs the job, with `Done` never
/// decreasing, possibly many times a second: a caller that draws throttles
/// itself. An empty function is never called.
///
/// An exception it throws stops the job. The typed calls (`CompressFile`,
/// `DecompressFile`, `ZipFiles`, `PackMht`, `FindFiles`) then pass on the very
/// object thrown, not converted, and leave the file they were writing as it
/// was before the call. The published classes' overloads pass it on as a
/// `qm::Error` with their call trail appended, as any failure inside them.
using Progress = std::function<void(std::uint64_t Done, std::uint64_t Total)>;

}  // namespace qm
