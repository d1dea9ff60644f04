#pragma once
// Kept for code that includes this header by its earlier name: DispatchTable lives in
// quillmark/values/DispatchTable.h now.

#include "quillmark/values/DispatchTable.h"
