#pragma once
// A dialog's geometry as its template states it: where the client area
// sits, how large it is, and each item's place and size, in pixels or in
// the dialog units of a given font.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/uidriver/icons.h"

// Base units of a font in pixels; zero when sizes are reported in pixels.
struct DialogBase {
    int x = 0;
    int y = 0;
};

// The base units the platform gives a dialog with this font (it makes and
// measures a throw-away dialog). False when the font gives none.
bool MeasureDialogBase(const std::wstring& face, int points, DialogBase& base);

// "dialog caption= style= [exstyle=] owner=<owner> client-at=x,y client=WxH"
// (client-du= with base units); the caller adds the focus.
std::string DescribeDialog(HWND dialog, const std::string& owner, const DialogBase& base);

// "item <id> class= text= style= at= size= enabled|disabled [icon=<kind>]"
// (at-du= size-du= with base units).
std::string DescribeDialogItem(HWND item, HWND dialog, const DialogBase& base, const std::vector<IconCandidate>& icons);
