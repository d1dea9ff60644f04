#pragma once
// An earlier name, kept so that code including it keeps compiling: the number table lives in
// quillmark/errors/ErrorNumbers.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/errors/ErrorNumbers.h instead.

#include "quillmark/errors/ErrorNumbers.h"
