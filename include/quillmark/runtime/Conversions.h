#pragma once
// An earlier name, kept so that code including it keeps compiling: the conversions live in
// quillmark/values/Conversions.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/values/Conversions.h instead.

#include "quillmark/values/Conversions.h"
