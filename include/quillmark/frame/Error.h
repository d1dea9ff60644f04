#pragma once
// An earlier name, kept so that code including it keeps compiling: qm::Error and Raise live in
// quillmark/errors/Error.h, which this header includes.
//
// Deprecated since 2026-12-08; removed not before 2027-12-08 (docs/abi.md).
// Include quillmark/errors/Error.h instead.

#include "quillmark/errors/Error.h"
