#pragma once
// Utility: stateless helpers for paths and folders, containers, number
// formatting, processes, platform and identity.
//
// Every method runs in the call frame of module "Utility". The platform
// services behind them are the Linux ones described in docs/utility.md.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/runtime/Collection.h"
#include "quillmark/runtime/Dictionary.h"
#include "quillmark/values/Object.h"
#include "quillmark/values/Variant.h"

namespace qm {

/// The platform families `GetWindowsPlatform` tells apart.
enum PlatformConstants : std::int32_t {
  PLA_Windows9598 = 1,
  PLA_WindowsNT2000XP = 2,
};

/// Stateless helpers for paths and folders, containers, number formatting,
/// processes, platform and identity; see the file's notes.
class QUILLMARK_EXPORT Utility : public virtual Object {
 public:
  /// "Utility".
  std::string ClassName() const override { return "Utility"; }

  // ---- Paths, files and folders ------------------------------------------

  /// The operating system's folder ("/usr"), at most 144 characters.
  std::string GetWinDir() const;
  /// The folder of the system's shared libraries (where the C library lives),
  /// at most 144 characters.
  std::string GetSysDir() const;
  /// The user's documents folder: XDG_DOCUMENTS_DIR of the XDG user dirs,
  /// else ~/Documents.
  std::string GetMyDocumentsDir() const;
  /// Linux has no short names: the path itself when it exists, else "".
  std::string Get811Name(const std::string& Filename) const;
  /// The same as Get811Name: the path itself when it exists, else "".
  std::string GetShortName(const std::string& LongFilename) const;
  /// The full path with every component in the spelling the file system has
  /// (components match without regard to case when the exact one is absent);
  /// "" when a component does not exist. Departs from the call frame: a
  /// failure gives `ShortName` followed by "/".
  std::string GetLongFilename(const std::string& ShortName) const;
  /// "file:///" and the name with blanks as %20 and '\' as '/'.
  Variant FilenameToURL(const std::string& Filename) const;
  /// "mhtml:file://" and the name with blanks as %20.
  Variant FilenameToMHTURL(const std::string& Filename) const;
  /// Packs the HTML file and what it refers to into "<folder>/<base name>.mht"
  /// beside it ("a.b.htm" gives "a.b.mht"), replacing an existing one.
  void ConvertHTMLToMHT(const std::string& Filename) const;
  /// The path from the folder `RootPath` to `Path` ("../c/d.txt"); "" when
  /// they share no root.
  std::string GetRelativePath(const std::string& RootPath, const std::string& Path) const;
  /// The path shortened with "..." to fit `WidthInPixels` in the device
  /// context's font (measured by the desktop); unchanged when it fits.
  std::string GetCompactPath(const std::string& PathToCompact, std::int32_t DeviceContext,
                             std::int32_t WidthInPixels) const;
  /// The first "<TEMP>/~tmpN<Suffix>" that does not exist. Nothing is created.
  std::string GetTempFilename(const std::optional<std::string>& Suffix = std::nullopt) const;
  /// Puts the form's window (its `hwnd`) in or out of the topmost band.
  void SetAlwaysOnTop(const Variant& Form, bool OnTop) const;
  /// Brings the form's window to the top and activates it.
  void SetFocusWindow(const Variant& Form) const;

  // ---- Collections, dictionaries, arrays, formatting ---------------------

  /// A new collection with the same items and keys in the same order (objects shared).
  std::shared_ptr<Collection> CopyCollection(const Collection& Col) const;
  /// A new dictionary with the same pairs and compare mode (objects shared).
  std::shared_ptr<Dictionary> CopyDictionary(const Dictionary& Dic) const;
  /// Every item is both key and item; 457 on two equal items.
  std::shared_ptr<Dictionary> CollectionToDictionary(const Collection& Col) const;
  /// Elements 0 to the upper bound of `RHS`, without keys.
  std::shared_ptr<Collection> ArrayToCollection(const Variant& RHS) const;
  /// A 0-based array of the items (bounds 0 to -1 when empty).
  Variant CollectionToArray(const Collection& RHS) const;
  /// The references the caller and others hold to the object (0 for a null
  /// pointer). The call takes none of its own, whatever the static type of
  /// the pointer passed: a `shared_ptr<Collection>` held once gives 1.
  ///@{
  std::int32_t ReferenceCount(const std::shared_ptr<Object>& Unknown) const;
  template <class T>
  std::int32_t ReferenceCount(const std::shared_ptr<T>& Unknown) const {
    // Taken as it is: converting it to shared_ptr<Object> would add a holder.
    return CountHolders(Unknown.use_count());
  }
  ///@}
  /// A new dictionary with the pairs in ascending key order (Variant comparison).
  std::shared_ptr<Dictionary> SortDictionary(const Dictionary& Dictionary) const;
  /// The pairs of First, then those of Second; 457 on a key in both.
  std::shared_ptr<Dictionary> AppendDictionary(const Dictionary& First, const Dictionary& Second) const;
  /// Resizes the array's last dimension to `Count` elements from `LowBound`,
  /// keeping what fits. 5 when ArrayRef holds no array.
  void RedimVariantArray(Variant& ArrayRef, std::int32_t LowBound, std::int32_t Count) const;
  /// The run-time's format function, Sunday first day of the week.
  std::string Format(const Variant& Expression, const std::string& FormatSpecifier) const;
  /// The Variant as a Double (strings in the current locale); 13 when it is no number.
  double AsNumber(const Variant& Expression) const;
  /// The leading number of the text, "." as decimal point whatever the locale.
  double Val(const std::string& Value) const;

  // ---- Processes, platform and identity ----------------------------------

  /// The executable path of every process whose /proc entry can be read.
  Variant GetRunningProcesses() const;
  /// Linux counts as the NT family.
  PlatformConstants GetWindowsPlatform() const;
  /// Starts the command line (program found on PATH) and waits for it to end;
  /// nothing is reported when it cannot be started.
  void ExecuteAndWait(const std::string& CmdLine) const;
  /// Waits while pumping the desktop's events.
  void DoEventsWait(std::int32_t Milliseconds) const;
  /// The NIS domain, else the host name.
  std::string GetWindowsNTDomain() const;
  /// The effective user's login name; "" when it cannot be read.
  std::string GetWindowsUserName() const;
  /// The library's major version (quillmark/Version.h).
  std::int32_t GetQMLibVerMajor() const;
  /// The library's minor version.
  std::int32_t GetQMLibVerMinor() const;
  /// The library's revision (the third part of the version).
  std::int32_t GetQMLibVerRevision() const;
  /// The version, "major.minor.revision" (as kVersionString).
  std::string GetQMLibVersion() const;

  /// The name of the temporary folder: TEMP, else TMPDIR, else /tmp.
  static std::string TempFolder();

 private:
  // ReferenceCount of an object held `useCount` times.
  std::int32_t CountHolders(long useCount) const;
};

}  // namespace qm
