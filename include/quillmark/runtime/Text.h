#pragma once
// Kept for code that includes this header by its earlier name: The text functions lives in
// quillmark/values/Text.h now.

#include "quillmark/values/Text.h"
