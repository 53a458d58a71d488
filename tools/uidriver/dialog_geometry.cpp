#include "tools/uidriver/dialog_geometry.h"

#include "tools/uidriver/dialog_units.h"
#include "tools/uidriver/text.h"
#include "tools/uidriver/window_reader.h"

bool MeasureDialogBase(const std::wstring& face, int points, DialogBase& base)
{
    // An extended template with the font and no items.
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    t.push_back(1);       // dlgVer
    t.push_back(0xFFFF);  // signature: extended template
    dword(0);             // help id
    dword(0);             // extended style
    dword(WS_POPUP | DS_SETFONT | DS_FIXEDSYS);
    t.push_back(0);  // no items
    t.insert(t.end(), {0, 0, 100, 100});
    t.push_back(0);  // no menu
    t.push_back(0);  // default class
    t.push_back(0);  // no title
    t.push_back(static_cast<WORD>(points));
    t.push_back(0);                             // weight
    t.push_back(MAKEWORD(0, DEFAULT_CHARSET));  // italic, charset
    for (wchar_t c : face) t.push_back(c);
    t.push_back(0);
    HWND dialog = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    if (!dialog) return false;
    RECT unit = {0, 0, 4, 8};
    const bool ok = MapDialogRect(dialog, &unit) != 0;
    DestroyWindow(dialog);
    base.x = unit.right;
    base.y = unit.bottom;
    return ok && base.x > 0 && base.y > 0;
}

// A template names a picture by number: 0xFFFF then the resource id.
static std::string TemplateText(const std::wstring& text)
{
    if (text.size() == 2 && text[0] == 0xFFFF) {
        return "#" + std::to_string(static_cast<unsigned>(text[1]));
    }
    return Quote(text);
}

std::string DescribeDialog(HWND dialog, const std::string& owner, const DialogBase& base)
{
    RECT client;
    GetClientRect(dialog, &client);
    // Where the client area starts, from the owner's client origin: the
    // template's position places the client area, the frame goes around it.
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    if (HWND ownerWindow = GetWindow(dialog, GW_OWNER)) {
        ScreenToClient(ownerWindow, &origin);
    }
    std::string line = "dialog caption=" + Quote(TextOf(dialog)) + " style=" + StyleNames(dialog);
    const std::string ex = ExStyleNames(dialog);
    if (!ex.empty()) line += " exstyle=" + ex;
    line += " owner=" + owner + " client-at=" + std::to_string(origin.x) + "," + std::to_string(origin.y);
    if (base.x) {
        line += " client-du=" + PixelsToUnits(client.right, base.x, 4) + "x" + PixelsToUnits(client.bottom, base.y, 8);
    } else {
        line += " client=" + std::to_string(client.right) + "x" + std::to_string(client.bottom);
    }
    return line;
}

std::string DescribeDialogItem(HWND item, HWND dialog, const DialogBase& base, const std::vector<IconCandidate>& icons)
{
    std::string text = "item " + std::to_string(IdOf(item)) + " class=" + Utf8(LowerClassOf(item)) +
                       " text=" + TemplateText(TextOf(item)) + " style=" + StyleNames(item);
    const RECT rect = RectIn(item, dialog);
    if (base.x) {
        text += " at-du=" + PixelsToUnits(rect.left, base.x, 4) + "," + PixelsToUnits(rect.top, base.y, 8) +
                " size-du=" + PixelsToUnits(rect.right - rect.left, base.x, 4) + "x" +
                PixelsToUnits(rect.bottom - rect.top, base.y, 8);
    } else {
        text += " " + AtSize(rect);
    }
    text += IsWindowEnabled(item) ? " enabled" : " disabled";
    if ((GetWindowLongW(item, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && LowerClassOf(item) == L"static") {
        text += " icon=" + RecogniseIcon(item, icons);
    }
    return text;
}
