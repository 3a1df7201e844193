#pragma once
// Skin bitmaps for a window's DPI. A skin is a 96-DPI bitmap resource with variants drawn for
// 144 and 192 DPI at its id + 200 and id + 400 (res/resource.h), each at the 96-DPI size
// scaled by ui::Scale.

#include "base/Handles.h"

namespace skin {

// The size of skin `id` at 96 DPI; {0, 0} when there is no such bitmap.
SIZE Size96(UINT id);

// Skin `id` for `dpi` as `rows` equally high images stacked (a button strip's states): each
// row ui::Scale(width) x ui::Scale(row height). The variant drawn for the DPI nearest `dpi` is
// used as it is when it has that size; otherwise each row is resampled on its own (area
// averaging down, linear interpolation up), so no row bleeds into its neighbour. Null when the
// resource is missing.
win::UniqueBitmap Load(UINT id, UINT dpi, int rows = 1);

}  // namespace skin
