// A module that uses the library, for the unload test: it compresses a file,
// which runs the file reads and writes on the library's helper threads. The
// test program links neither it nor the library; it opens and closes it.

#include <quillmark/quillmark.h>

extern "C" __attribute__((visibility("default"))) int qm_unload_module_compress(const char* in,
                                                                                const char* out) noexcept {
  try {
    qm::CompressFile(in, out);
    return 0;
  } catch (...) {
    return 1;
  }
}
