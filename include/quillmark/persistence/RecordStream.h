#pragma once

/// @file
/// Typed records on a record stream the caller holds, so that several
/// collections (and records of the published classes) can share one file:
///
///     qm::QMStream out;
///     out.Use(qm::TextStream::Open("desk.qms", qm::IOMode::ForWriting));
///     qm::WriteRecords(out, "Orders", orders);
///     qm::WriteRecords(out, "Customers", customers);
///
/// The types are described as in quillmark/persistence/Records.h. This header
/// brings in the published stream classes, so quillmark/quillmark.h leaves it
/// out.

#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/Records.h"

namespace qm {
namespace detail {

/// Writes the collection record `name` of `list` (of `owner`) at the stream's position.
QUILLMARK_EXPORT void WriteRecordList(QMStream& out, const std::string& name, const RecordList& list,
                                      const void* owner);
/// Reads the collection record `name` at the stream's position into `list` (of `owner`).
QUILLMARK_EXPORT void ReadRecordList(QMStream& in, const std::string& name, const RecordList& list, void* owner);
}  // namespace detail

/// Writes `items` as the collection record `name` at the stream's position
/// (several collections may follow one another in one file).
template <Record T>
void WriteRecords(QMStream& out, const std::string& name, const std::vector<T>& items) {
  const detail::VectorList<std::vector<T>, T> list;
  detail::WriteRecordList(out, name, list, &items);
}

/// Reads the collection record `name` at the stream's position. The context
/// is not needed (typed records hold no references) and is kept for callers
/// that pass one.
template <Record T>
std::vector<T> ReadRecords(QMStream& in, const std::string& name, const PersistanceContextPtr& context = nullptr) {
  (void)context;
  const detail::VectorList<std::vector<T>, T> list;
  std::vector<T> items;
  detail::ReadRecordList(in, name, list, &items);
  return items;
}

}  // namespace qm
