#pragma once
// Kept for code that includes this header by its earlier name: Dispatch lives in
// quillmark/values/Dispatch.h now.

#include "quillmark/values/Dispatch.h"
