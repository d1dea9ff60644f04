// The namespaces of the API reference, described once here (doxygen reads
// this file with the public headers; it is never compiled).

/// @namespace qm
/// The Quillmark Library: the run-time types (Variant, late binding,
/// collections, text streams, settings), persistence, HTML reports,
/// compression, graphics, automation and utilities. Every failure is raised
/// as qm::Error.

/// @namespace qm::ui
/// The user-interface library (quillmark::ui, Qt 6): dialogs, the document
/// preview, picture boxes, the mouse and widget geometry in twips.

/// @namespace qm::platform
/// The desktop the core reaches through: headless by default, the Qt desktop
/// once the ui library is loaded.

/// @namespace qm::files
/// Numbered files as the run-time's Open, Print #, Line Input # and Close
/// statements use them (numbers 1 to 255).

/// @namespace qm::frame
/// The call frame: the element each library procedure adds to the source
/// trail of an error that passes through it.

/// @namespace qm::ijl
/// The JPEG writer in the shape of the Intel JPEG Library (ijlInit, ijlWrite,
/// ijlFree), encoding with libjpeg-turbo.

/// @namespace qm::mdlIntelJPEGLibrary
/// Saving a DIB section as a JPEG file.

/// @namespace qm::mdlMIMECoding
/// Base64 text (RFC 4648 alphabet, no padding, no line breaks) for the parts
/// of a web archive.

/// @namespace qm::mdlSpline
/// Natural cubic splines through a row of samples.
