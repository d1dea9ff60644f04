#pragma once
// Kept for code that includes this header by its earlier name: The number table lives in
// quillmark/errors/ErrorNumbers.h now.

#include "quillmark/errors/ErrorNumbers.h"
