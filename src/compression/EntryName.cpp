#include "compression/EntryName.h"

#include <algorithm>
#include <memory>

namespace qm::compression {
namespace {

// libzip keeps names of printable ASCII (and tab, CR, LF) as they are.
bool KeptAsIs(const std::string& name) {
  return std::all_of(name.begin(), name.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b > 31 && b < 128) || b == '\t' || b == '\r' || b == '\n';
  });
}

struct Discard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};

}  // namespace

std::string ReadingOf(const std::string& name) {
  if (KeptAsIs(name)) return name;
  // Let libzip read the name in a scratch archive in memory, so that the
  // lookup decodes exactly as libzip's own table of names does.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_error_fini(&error);
  if (!buffer) return name;
  zip_error_init(&error);
  std::unique_ptr<zip_t, Discard> scratch(zip_open_from_source(buffer, ZIP_TRUNCATE, &error));
  zip_error_fini(&error);
  if (!scratch) {
    zip_source_free(buffer);
    return name;
  }
  zip_source_t* empty = zip_source_buffer(scratch.get(), nullptr, 0, 0);
  if (!empty) return name;
  if (zip_file_add(scratch.get(), name.c_str(), empty, ZIP_FL_ENC_GUESS) < 0) {
    zip_source_free(empty);
    return name;
  }
  const char* read = zip_get_name(scratch.get(), 0, 0);
  return read ? std::string(read) : name;
}

std::optional<zip_uint64_t> FindEntry(zip_t* archive, const std::string& name) {
  const zip_int64_t index = zip_name_locate(archive, ReadingOf(name).c_str(), 0);
  if (index < 0) return std::nullopt;
  return static_cast<zip_uint64_t>(index);
}

zip_int64_t PutEntry(zip_t* archive, const std::string& name, zip_source_t* source) {
  const auto existing = FindEntry(archive, name);
  if (!existing) {
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) zip_source_free(source);
    return index;
  }
  if (zip_file_replace(archive, *existing, source, 0) != 0) {
    zip_source_free(source);
    return -1;
  }
  return static_cast<zip_int64_t>(*existing);
}

}  // namespace qm::compression
