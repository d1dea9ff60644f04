#pragma once
// Kept for code that includes this header by its earlier name: qm::Error and Raise lives in
// quillmark/errors/Error.h now.

#include "quillmark/errors/Error.h"
