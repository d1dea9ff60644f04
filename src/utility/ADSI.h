#pragma once
// mdlADSI: the logon domain, on Linux.

#include <string>

namespace qm::mdlADSI {

/// The NIS domain when one is set, else the host name; "" when the platform
/// is not of the NT family or neither can be read.
std::string GetWindowsNTDomain();

}  // namespace qm::mdlADSI
