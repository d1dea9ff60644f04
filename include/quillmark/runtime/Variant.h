#pragma once
// Kept for code that includes this header by its earlier name: Variant lives in
// quillmark/values/Variant.h now.

#include "quillmark/values/Variant.h"
