#pragma once
// PrintSettings: the page set-up a caller hands to the preview with a document.
//
// Each setting carries a flag telling whether the caller set it, so that a
// consumer applies only what was set. Nothing is validated: any orientation
// number and any margin is stored as given, and a flag once set stays set.
// Margins are in points (1/72 inch). The object is late-bound as well, so the
// preview can read it by property name.

#include <cstdint>
#include <memory>
#include <string>

#include "quillmark/Export.h"
#include "quillmark/values/DispatchTable.h"

namespace qm {

/// Page orientation numbers of the preview.
enum PageOrientationConstants : std::int32_t {  ///< Page orientation numbers of the preview.
  ORI_Portrait = 1,
  ORI_Landscape = 2,
};

/// The page set-up handed to the preview with a document: header, footer,
/// orientation and margins (points), each with a flag telling whether it was
/// set. Nothing is validated. Late-bound under the same names.
class QUILLMARK_EXPORT PrintSettings : public DispatchTable<PrintSettings> {
 public:
  PrintSettings();  ///< Nothing set, margins 0.
  ///@{
  /// Copies the object's state; an object moved from starts anew.
  PrintSettings(const PrintSettings& other);
  PrintSettings& operator=(const PrintSettings& other);
  PrintSettings(PrintSettings&& other) noexcept;
  PrintSettings& operator=(PrintSettings&& other) noexcept;
  ///@}
  ~PrintSettings() override;

  /// Sets the header text (may hold the preview's page-number fields) and marks it set.
  void SetHeader(const std::string& Header);
  /// Sets the footer text and marks it set.
  void SetFooter(const std::string& Footer);
  /// Sets the orientation number as given (not checked) and marks it set.
  void SetOrientation(PageOrientationConstants Orientation);
  /// Note the order: top, left, right, bottom.
  void SetMargins(double Top, double Left, double Right, double Bottom);

  ///@{
  /// A margin in points (1/72 inch); 0 until SetMargins.
  double BottomMargin() const;
  double TopMargin() const;
  double LeftMargin() const;
  double RightMargin() const;
  ///@}
  /// 0 (neither constant) until `SetOrientation`.
  PageOrientationConstants Orientation() const;
  const std::string& Header() const;  ///< The header text; "" until SetHeader.
  const std::string& Footer() const;  ///< The footer text; "" until SetFooter.
  ///@{
  /// True once the matching setter was called (a flag once set stays set).
  bool HeaderSet() const;
  bool FooterSet() const;
  bool MarginsSet() const;
  bool OrientationSet() const;
  ///@}

  /// Lists the late-bound members (DispatchTable).
  static void Describe(Members& m);

 private:
  std::int32_t OrientationNumber() const { return Orientation(); }

  // The object's state, defined in the library's sources; an object moved
  // from has none until it is used again.
  struct Impl;
  Impl& State();
  const Impl& State() const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qm
