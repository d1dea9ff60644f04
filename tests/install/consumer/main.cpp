#include <iostream>

#include "quillmark/frame/Error.h"
#include "quillmark/frame/LibMain.h"
#include "quillmark/frame/QMGLobal.h"

int main() {
  try {
    qm::QMGLobal::Assert(false, std::string(qm::kLibraryTitle));
  } catch (const qm::Error& e) {
    std::cout << e.Description() << '\n';
    return e.Number() == 11000 ? 0 : 1;
  }
  return 1;
}
