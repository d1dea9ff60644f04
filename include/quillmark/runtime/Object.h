#pragma once
// An earlier name, kept so that code including it keeps compiling: Object lives in
// quillmark/values/Object.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/values/Object.h instead.

#include "quillmark/values/Object.h"
