#pragma once
// Whether two outputs of a writer hold the same content, for the outputs
// whose bytes differ from one write to the next (a time of writing inside).

#include <zip.h>

#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace qm::test {

using Same = std::function<bool(const std::string&, const std::string&)>;

// The members of a zip archive, by name; nothing when it is not a whole archive.
inline std::optional<std::map<std::string, std::string>> Members(const std::string& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* archive = source ? zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, &error) : nullptr;
  zip_error_fini(&error);
  if (!archive) {
    if (source) zip_source_free(source);
    return std::nullopt;
  }
  std::optional<std::map<std::string, std::string>> members(std::in_place);
  for (zip_uint64_t i = 0; members && i < static_cast<zip_uint64_t>(zip_get_num_entries(archive, 0)); ++i) {
    zip_stat_t info;
    zip_file_t* file = zip_stat_index(archive, i, 0, &info) == 0 ? zip_fopen_index(archive, i, 0) : nullptr;
    std::string content(file ? info.size : 0, '\0');
    if (file && zip_fread(file, content.data(), info.size) == static_cast<zip_int64_t>(info.size))
      (*members)[info.name] = content;
    else members.reset();
    if (file) zip_fclose(file);
  }
  zip_discard(archive);
  return members;
}

// Two workbooks hold the same table: whole archives with the same members
// and the same content, except the members that carry the time of writing
// and the sheet's name (the name of a scratch file).
inline bool SameWorkbook(const std::string& a, const std::string& b) {
  auto first = Members(a);
  auto second = Members(b);
  if (!first || !second) return false;
  for (const char* varying : {"docProps/core.xml", "docProps/app.xml", "xl/workbook.xml"}) {
    if (!first->count(varying) || !second->count(varying)) return false;
    first->erase(varying);
    second->erase(varying);
  }
  return *first == *second;
}

// Two MHT archives hold the same parts: the boundary and the date, made from
// the time of writing, aside.
inline bool SameArchive(std::string a, std::string b) {
  for (std::string* text : {&a, &b}) {
    const std::string marker = "----=_QMLib_";
    for (std::size_t at = text->find(marker); at != std::string::npos; at = text->find(marker, at + marker.size())) {
      std::size_t end = at + marker.size();
      while (end < text->size() && (std::isdigit(static_cast<unsigned char>((*text)[end])) || (*text)[end] == '.'))
        ++end;
      text->erase(at + marker.size(), end - at - marker.size());
    }
    const std::size_t date = text->find("\r\nDate: ");
    if (date != std::string::npos) text->erase(date, text->find("\r\n", date + 2) - date);
  }
  return a == b;
}

}  // namespace qm::test
