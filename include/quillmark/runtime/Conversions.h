#pragma once
// Kept for code that includes this header by its earlier name: The conversions lives in
// quillmark/values/Conversions.h now.

#include "quillmark/values/Conversions.h"
