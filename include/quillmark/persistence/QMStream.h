#pragma once
// QMStream: saves and loads objects as indented text over a TextStream.
//
// The line layer adds to the plain stream: lines once read can be pushed back
// and read again any number of levels deep, a peek at the next line, and an
// indentation (3 blanks a level) that every written line receives.
//
// The records on top of it come in two families:
//  - simple records, for objects implementing the IPersistable interfaces:
//      %Collection Orders @2
//      2
//         %Object Order @1
//            %Property Id
//               17
//  - property-list records, for any Dispatch object: the header carries the
//    class name, the caller names the properties to save, and the values are
//    converted by each property's run-time type. Reading reports its outcome
//    as a QMStreamErrors value.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quillmark/Export.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/persistence/IPersistable.h"
#include "quillmark/persistence/PersistanceContext.h"
#include "quillmark/runtime/TextStream.h"
#include "quillmark/values/Dispatch.h"

namespace qm {

namespace detail {
class RecordLines;
}

/// Outcome of the property-list read operations.
enum QMStreamErrors : std::int32_t {
  QMS_Success = 0,         ///< read, every assignment succeeded
  QMS_ObjectNotFound = 1,  ///< the next line is not the expected header; nothing consumed
  QMS_BadField = 2,        ///< read, but at least one assignment failed
};

/// Saves and loads objects as indented text over a TextStream, with lines
/// that can be pushed back and peeked at; see the file's notes.
class QUILLMARK_EXPORT QMStream : public Dispatch {
 public:
  /// A stream bound to nothing, indentation 0.
  QMStream();
  ///@{
  /// Moves the bound stream, the lines read and the indentation.
  QMStream(QMStream&&) noexcept;
  QMStream& operator=(QMStream&&) noexcept;
  ///@}
  /// Releases the bound stream without closing it.
  ~QMStream() override;

  // ---- line layer ----

  /// Indentation += 3.
  void Indent();
  /// Indentation -= 3, never below 0.
  void UnIndent();
  /// Binds the stream and forgets every line read so far; the indentation stays.
  void Use(const TextStreamPtr& InStream);
  /// True when no pushed-back line is pending and the stream is at its end.
  bool AtEndOfStream();
  /// Closes the bound stream and forgets the lines read; the reference stays.
  void Close_();
  /// The next line: a pushed-back one first, else one from the stream. The
  /// reference stays valid until the next ReadLine or SkipLine.
  const std::string& ReadLine();
  /// The line most recently delivered, or "" when there is none.
  std::string CurrentLine() const;
  /// Pushes the line most recently delivered back (no bound).
  void UnReadLine();
  /// Reads the next line and drops it; 62 (Input past end of file) at the end.
  void SkipLine();
  /// Empty lines, without indentation.
  void WriteBlankLines(std::int32_t Lines);
  /// Indentation blanks followed by Text, as one line.
  void WriteLine(const std::string& Text = {});
  /// The next line without consuming it; "" at the end of the stream.
  std::string Peek();

  /// The current indentation, in blanks (3 per level).
  std::int32_t IndentWidth() const;
  std::string ClassName() const override { return "QMStream"; }

  // ---- simple records ----

  /// Writes an object record: the header carries Object.Name(SignedVersion)
  /// and, when SignedVersion > 0, " @" and the version; the fields are taken
  /// for WrittenVersion. SignedVersion -1 stands for WrittenVersion.
  void WriteObjectSimple(const IPersistableSimplePtr& Object, std::int32_t WrittenVersion,
                         std::int32_t SignedVersion = -1);
  /// Fills Object from the object record at the stream's position: 10005 when
  /// the next line is no object header, 10006 when Object is not Compatible
  /// (both leave the header unread). Referenceable objects are registered in
  /// Context, which also resolves reference fields.
  void ReadObjectSimple(const IPersistableSimplePtr& Object, const PersistanceContextPtr& Context = nullptr);
  /// Writes a collection record: header (" @" and Version unless it is 0),
  /// the child count, then each child in the collection's child version.
  void WriteCollectionSimple(const IPersistableCollectionPtr& Collection, std::int32_t Version);
  /// Reads a collection record into Collection; with RecreateChildren the
  /// collection is emptied and refilled with NewChild, otherwise its existing
  /// children are filled in order. 10005 / 10006 as for objects.
  void ReadCollectionSimple(const IPersistableCollectionPtr& Collection, bool RecreateChildren,
                            const PersistanceContextPtr& Context = nullptr);
  /// Moves to the next "%Object " or "%Collection " header not listed in
  /// ToIgnore (an array from index 0 of whole trimmed header lines), or just
  /// past the line ObjectEndSig, or to the end of the stream.
  void FindNextObject(const Variant& ToIgnore, const std::optional<Variant>& ObjectEndSig = std::nullopt);

  // ---- property-list records ----

  /// Writes Object's properties named in the array Properties (9999 when it
  /// is not an array) under "%Object " + its class name.
  void WriteObject(const ObjectPtr& Object, const Variant& Properties);
  /// Reads the record of Object's class at the stream's position, assigning
  /// the properties named both in the record and in Properties (an array from
  /// index 0). Assignments that fail give QMS_BadField; the others still happen.
  QMStreamErrors ReadObject(const ObjectPtr& Object, const Variant& Properties);
  /// Writes "%Collection " + class name, the Count, and each item's record.
  void WriteCollection(const ObjectPtr& Collection, const Variant& Properties);
  /// Reads a collection record of Collection's class (Count, Remove, NewChild,
  /// Add and enumeration by name); the last failing item's code is returned.
  QMStreamErrors ReadCollection(const ObjectPtr& Collection, bool RecreateChildren, const Variant& Properties);

 private:
  // The simple records' grammar, which the typed records share, reads and
  // writes through the line layer below.
  friend class detail::RecordLines;

  // ReadLine and Peek without copying the line: the same steps and the same
  // elements in an error's trail. A view stays valid until the next line is
  // read or peeked, Use or Close_.
  std::string_view ReadLineView();
  std::string_view PeekView();
  void WriteLine(std::string_view prefix, std::string_view text);
  std::int32_t CountChildren(std::int32_t stored);
  std::string RemoveCRs(const std::string& Text);
  std::string TypeNameString(const ObjectPtr& Object, const std::string& PropertyName);

  // The line stack; the helpers that reach the line store are defined inline
  // beside it, in the library's sources, so its fast paths stay inlined.
  // StackNew stores a line just read and delivers the view the store keeps.
  std::string_view StackNew(std::string_view Line);
  std::int64_t StackSize() const;
  bool StackAtEnd() const;
  std::string_view StackCurrent() const;
  std::string_view StackNext();
  void StackAdvance();
  void StackRetreat();
  void Class_Initialize();
  TextStream& Bound();

  // The stream's state (the bound stream, the lines kept, the indentation),
  // made at first use; a stream moved from starts anew.
  struct Impl;
  Impl& Own();
  std::unique_ptr<Impl> impl_;
};

/// A shared reference to a QMStream.
using QMStreamPtr = std::shared_ptr<QMStream>;

}  // namespace qm
