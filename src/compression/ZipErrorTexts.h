#pragma once
// The texts of Zipper's result codes live in a linker section
// (ZipErrorTexts.cpp). A static link takes an object only when something
// refers to it, so the code that raises those numbers refers to this anchor,
// and whatever links that code links the texts too.

namespace qm::compression {

extern const char kZipErrorTextsAnchor;

}  // namespace qm::compression
