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

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/persistence/QMStream.h"
#include "quillmark/persistence/Records.h"

namespace qm {
namespace detail {

/// Writes the collection record `name` of `count` elements (`at(i)` gives the i-th).
QUILLMARK_EXPORT void WriteRecordList(QMStream& out, const std::string& name, const RecordLayout& layout,
                                      std::size_t count, const std::function<const void*(std::size_t)>& at);
/// Reads the collection record `name` at the stream's position into `sink`.
QUILLMARK_EXPORT void ReadRecordList(QMStream& in, const std::string& name, const RecordLayout& layout,
                                     RecordSink& sink, const PersistanceContextPtr& context);
}  // namespace detail

/// Writes `items` as the collection record `name` at the stream's position
/// (several collections may follow one another in one file).
template <Record T>
void WriteRecords(QMStream& out, const std::string& name, const std::vector<T>& items) {
  detail::WriteRecordList(out, name, RecordTypeOf<T>(), items.size(), [&items](std::size_t i) { return &items[i]; });
}

/// Reads the collection record `name` at the stream's position.
template <Record T>
std::vector<T> ReadRecords(QMStream& in, const std::string& name, const PersistanceContextPtr& context = nullptr) {
  std::vector<T> items;
  detail::VectorSink<T> sink(items);
  detail::ReadRecordList(in, name, RecordTypeOf<T>(), sink, context);
  return items;
}

}  // namespace qm
