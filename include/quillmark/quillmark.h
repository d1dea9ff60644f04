#pragma once

/// @file
/// The typed layer of the core library in one include: free functions and
/// value types over standard types for the library's main jobs (docs/typed.md).
/// It brings in no header of a published class (no Variant, no Dispatch, no
/// streams or wrappers), so a program written against it uses standard types
/// throughout; the published classes stay available from their own headers.
/// No GUI toolkit is needed.

#include "quillmark/automation/Workbook.h"
#include "quillmark/automation/XmlQuery.h"
#include "quillmark/compression/Deflate.h"
#include "quillmark/compression/ZipFiles.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/frame/Trail.h"
#include "quillmark/graphics/Canvas.h"
#include "quillmark/graphics/Jpeg.h"
#include "quillmark/graphics/Resample.h"
#include "quillmark/html/HtmlPage.h"
#include "quillmark/html/MhtArchive.h"
#include "quillmark/persistence/Records.h"
#include "quillmark/runtime/FormatValues.h"
#include "quillmark/runtime/ResolvePath.h"
#include "quillmark/runtime/SettingsSection.h"
#include "quillmark/utility/AtomicFileWriter.h"
#include "quillmark/utility/FindFiles.h"
