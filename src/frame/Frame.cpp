#include "quillmark/frame/Frame.h"

#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/values/Conversions.h"

namespace qm::frame {
namespace {

// Modules whose source name differs from their class name; standard modules
// (no class) map to the empty string.
struct ModuleClass {
  std::string_view Module;
  std::string_view Class;
};
constexpr ModuleClass kModuleClasses[] = {
    {"Error", "frmError"},
    {"List", "frmList"},
    {"Slider", "frmSlider"},
    {"Password", "frmPassword"},
    {"MsgBoxEx", "frmMsgBoxEx"},
    {"Preview", "frmPreview"},
    {"CommDLG", "frmCommDLG"},
    {"DIBSection", "clsDIBSection"},
    {"ZipMgr", "Zipper"},
    {"IPersistableHandleUnknown", "IPersistableHdleUnknown"},
    {"LibMain", ""},
    {"Spline", ""},
    {"HTML2MHT", ""},
    {"MIMECoding", ""},
    {"IJL", ""},
    {"RunningProcesses", ""},
    {"ZipTypes", ""},
    {"ADSI", ""},
    {"ZipFiles", ""},
};

Error ToError(std::exception_ptr current) {
  try {
    std::rethrow_exception(std::move(current));
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(ERR_OutOfMemory, {}, std::string(StandardErrorText(ERR_OutOfMemory)));
  } catch (const std::length_error&) {
    return Error(ERR_OutOfMemory, {}, std::string(StandardErrorText(ERR_OutOfMemory)));
  } catch (const std::out_of_range&) {
    return Error(ERR_SubscriptOutOfRange, {}, std::string(StandardErrorText(ERR_SubscriptOutOfRange)));
  } catch (const std::filesystem::filesystem_error& e) {
    std::int32_t number = ERR_PathFileAccess;
    const auto code = e.code();
    if (code == std::errc::no_such_file_or_directory) number = ERR_FileNotFound;
    else if (code == std::errc::not_a_directory) number = ERR_PathNotFound;
    else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted)
      number = ERR_PermissionDenied;
    else if (code == std::errc::file_exists) number = ERR_FileAlreadyExists;
    else if (code == std::errc::io_error) number = ERR_DeviceIO;
    const errc cause = code.category() == std::generic_category() || code.category() == std::system_category()
                           ? ErrcOfErrno(code.value())
                           : ErrcOfNumber(number);
    return Error(number, cause, {}, std::string(StandardErrorText(number)));
  } catch (const std::exception& e) {
    return Error(ERR_InvalidProcedureCall, {}, e.what());
  } catch (...) {
    return Error(ERR_InvalidProcedureCall, {}, std::string(StandardErrorText(ERR_InvalidProcedureCall)));
  }
}

}  // namespace

std::string RenderDouble(double value) { return FormatGeneral(value); }

std::string FormElement(std::string_view module, std::string_view procedure,
                        std::initializer_list<std::string> renderedArguments) {
  std::string element;
  element.reserve(module.size() + procedure.size() + 8);
  element += '[';
  element += module;
  element += ']';
  element += procedure;
  element += '(';
  bool first = true;
  for (const auto& argument : renderedArguments) {
    if (!first) element += ", ";
    element += argument;
    first = false;
  }
  element += ')';
  return element;
}

std::string DefaultSource(std::string_view module) {
  std::string source(kProjectName);
  std::string_view className = module;
  for (const auto& entry : kModuleClasses) {
    if (entry.Module == module) {
      className = entry.Class;
      break;
    }
  }
  if (!className.empty()) {
    source += '.';
    source += className;
  }
  return source;
}

void RethrowWithElement(std::string_view module, std::string element) {
  Error error = ToError(std::current_exception());
  // The trail is the source, then "|" and each element in turn; the element
  // (the caller's temporary) is made the whole new trail.
  element.insert(0, 1, '|');
  element.insert(0, error.Source().empty() ? DefaultSource(module) : error.Source());
  error.SetSource(std::move(element));
  throw error;
}

}  // namespace qm::frame
