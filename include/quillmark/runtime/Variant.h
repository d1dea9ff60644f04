#pragma once
// An earlier name, kept so that code including it keeps compiling: Variant lives in
// quillmark/values/Variant.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/values/Variant.h instead.

#include "quillmark/values/Variant.h"
