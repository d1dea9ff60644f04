#pragma once
// Kept for code that includes this header by its earlier name: Object lives in
// quillmark/values/Object.h now.

#include "quillmark/values/Object.h"
