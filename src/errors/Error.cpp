#include "quillmark/errors/Error.h"

#include "quillmark/errors/ErrorNumbers.h"

namespace qm {

Error::Error(std::int32_t number, std::string source, std::string description, std::string helpFile,
             std::int32_t helpContext)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext) {}

void Error::AppendElement(std::string_view element) {
  source_ += '|';
  source_ += element;
}

void Raise(std::int32_t number, std::string description) { throw Error(number, {}, std::move(description)); }

void Raise(std::int32_t number) { throw Error(number, {}, std::string(StandardErrorText(number))); }

void RaiseWithDetail(std::int32_t number, std::string_view detail) {
  throw Error(number, {}, DescribeError(number, detail));
}

void RaiseFrom(std::int32_t number, std::string source, std::string description) {
  throw Error(number, std::move(source), std::move(description));
}

}  // namespace qm
