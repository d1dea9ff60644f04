#pragma once

/// @file
/// The one mark of the published interface.
///
/// The libraries are built with hidden visibility: only classes and functions
/// marked `QUILLMARK_EXPORT` are part of the shared-library surface (and of
/// its ABI). Applications never need to use the mark themselves.

#if defined(__GNUC__) || defined(__clang__)
#define QUILLMARK_EXPORT __attribute__((visibility("default")))
#else
#define QUILLMARK_EXPORT
#endif
