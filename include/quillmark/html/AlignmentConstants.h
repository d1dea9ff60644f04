#pragma once
// The alignment constants live with the run-time's types; this header stays
// so that code including it from here keeps compiling.

#include "quillmark/runtime/AlignmentConstants.h"
