// Prints where the installed ui library finds the print helper.
#include <iostream>

#include "quillmark/ui/PrintHelper.h"

int main() {
  std::cout << qm::ui::PrintHelperPath() << '\n';
  return 0;
}
