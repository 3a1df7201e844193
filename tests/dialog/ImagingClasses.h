#pragma once
// The imaging component finds its decoders, encoders, pixel formats and converters through
// registrations below the classes root. A registry sandbox hides those along with everything
// else there, and then no picture can be loaded. These helpers copy the imaging registrations
// once, before any sandbox exists, and write them into a sandboxed classes root, so a test can
// keep the classes root private and still decode and encode pictures.

#include "base/Win.h"

namespace dialog_tests {

// Reads the registrations from the real classes root; call once before any sandbox exists.
void CaptureImagingClasses();

// Writes the captured registrations below HKEY_CLASSES_ROOT as this process sees it now.
void RestoreImagingClasses();

}  // namespace dialog_tests
