#pragma once
// Finding an archive entry by the name a file is stored under.
//
// Files on Linux are named by bytes, but libzip compares entry names as it
// reads them: a name that is not UTF-8 (a Latin-1 name written by Info-ZIP's
// zip, say) is read as CP437 and turned into UTF-8. Looking a stored name up
// by its bytes misses such an entry, and adding it again then collides with
// it inside libzip. Every lookup therefore goes through libzip's own reading
// of the name.

#include <zip.h>

#include <optional>
#include <string>

namespace qm::compression {

/// The name as libzip reads it back (UTF-8): unchanged for ASCII and UTF-8
/// names, transcoded from CP437 for others.
std::string ReadingOf(const std::string& name);

/// The entry libzip considers to have this name, if any.
std::optional<zip_uint64_t> FindEntry(zip_t* archive, const std::string& name);

/// Puts `source` into the archive under `name`: over the entry libzip reads
/// as that name when there is one (which keeps its stored spelling: bytes
/// that read alike, such as a CP437 and a UTF-8 "naïve", are one name to
/// every zip reader), as a new entry otherwise. On failure the source is
/// freed and -1 returned.
zip_int64_t PutEntry(zip_t* archive, const std::string& name, zip_source_t* source);

}  // namespace qm::compression
