#pragma once
// The library's UTF-8 text as Qt's strings.

#include <QString>
#include <string_view>

namespace qm::ui {

inline QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

}  // namespace qm::ui
