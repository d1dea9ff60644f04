#pragma once
// The texts of Zipper's result codes live in a linker section
// (ZipErrorTexts.cpp). A static link takes an object only when something
// refers to it, so the code that raises those numbers refers to this anchor,
// and whatever links that code links the texts too. A program linking the
// static library names it to the linker (CMakeLists.txt), so the texts are
// there whatever it calls.

extern "C" const char qm_zip_error_texts_anchor;
