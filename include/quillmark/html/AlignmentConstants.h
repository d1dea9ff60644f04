#pragma once
// An earlier name, kept so that code including it keeps compiling: the alignment constants live in
// quillmark/runtime/AlignmentConstants.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/runtime/AlignmentConstants.h instead.

#include "quillmark/runtime/AlignmentConstants.h"
