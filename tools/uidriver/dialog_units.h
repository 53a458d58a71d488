#pragma once
// Dialog units: a dialog template measures its layout in units of the
// dialog's font, a quarter of its average character width across and an
// eighth of its height down. `base` is the font's base unit in pixels
// (width or height), `per` the dialog units it spans (4 or 8). Portable, so
// the arithmetic is tested natively.
#include <string>

// Pixels for `units`, rounded to the nearest pixel (halves away from zero),
// as the platform maps a template rectangle.
long UnitsToPixels(long units, int base, int per);

// Pixels back to dialog units, rounded likewise; "~" before the number marks
// a pixel value that no whole unit maps to ("~12").
std::string PixelsToUnits(long pixels, int base, int per);
