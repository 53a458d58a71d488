#include "tools/uidriver/window_reader.h"

#include <algorithm>
#include <cwctype>

#include "tools/uidriver/text.h"

// How long a control's thread may take to answer one query.
constexpr UINT QUERY_TIMEOUT_MS = 3000;

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, ARRAYSIZE(name));
    return name;
}

std::wstring LowerClassOf(HWND window)
{
    std::wstring name = ClassOf(window);
    std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
    return name;
}

std::wstring TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, QUERY_TIMEOUT_MS, &length)) {
        std::wstring text(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                                QUERY_TIMEOUT_MS, &copied)) {
            text.resize(std::min<size_t>(copied, length));
            return text;
        }
    }
    wchar_t stored[1024] = L"";
    GetWindowTextW(window, stored, ARRAYSIZE(stored));
    return stored;
}

int IdOf(HWND window)
{
    return GetDlgCtrlID(window);
}

struct Bit {
    DWORD mask;
    DWORD value;
    const char* name;
};

static const Bit WINDOW_BITS[] = {
    {WS_POPUP, WS_POPUP, "WS_POPUP"},
    {WS_CHILD, WS_CHILD, "WS_CHILD"},
    {WS_MINIMIZE, WS_MINIMIZE, "WS_MINIMIZE"},
    {WS_VISIBLE, WS_VISIBLE, "WS_VISIBLE"},
    {WS_DISABLED, WS_DISABLED, "WS_DISABLED"},
    {WS_CLIPSIBLINGS, WS_CLIPSIBLINGS, "WS_CLIPSIBLINGS"},
    {WS_CLIPCHILDREN, WS_CLIPCHILDREN, "WS_CLIPCHILDREN"},
    {WS_MAXIMIZE, WS_MAXIMIZE, "WS_MAXIMIZE"},
    {WS_CAPTION, WS_CAPTION, "WS_CAPTION"},
    {WS_CAPTION, WS_BORDER, "WS_BORDER"},
    {WS_CAPTION, WS_DLGFRAME, "WS_DLGFRAME"},
    {WS_VSCROLL, WS_VSCROLL, "WS_VSCROLL"},
    {WS_HSCROLL, WS_HSCROLL, "WS_HSCROLL"},
    {WS_SYSMENU, WS_SYSMENU, "WS_SYSMENU"},
    {WS_THICKFRAME, WS_THICKFRAME, "WS_THICKFRAME"},
};
// The same two bits mean different things for children and top-level windows.
static const Bit CHILD_BITS[] = {
    {WS_GROUP, WS_GROUP, "WS_GROUP"},
    {WS_TABSTOP, WS_TABSTOP, "WS_TABSTOP"},
};
static const Bit TOP_LEVEL_BITS[] = {
    {WS_MINIMIZEBOX, WS_MINIMIZEBOX, "WS_MINIMIZEBOX"},
    {WS_MAXIMIZEBOX, WS_MAXIMIZEBOX, "WS_MAXIMIZEBOX"},
};

static const Bit BUTTON_BITS[] = {
    {BS_TYPEMASK, BS_PUSHBUTTON, "BS_PUSHBUTTON"},
    {BS_TYPEMASK, BS_DEFPUSHBUTTON, "BS_DEFPUSHBUTTON"},
    {BS_TYPEMASK, BS_CHECKBOX, "BS_CHECKBOX"},
    {BS_TYPEMASK, BS_AUTOCHECKBOX, "BS_AUTOCHECKBOX"},
    {BS_TYPEMASK, BS_RADIOBUTTON, "BS_RADIOBUTTON"},
    {BS_TYPEMASK, BS_3STATE, "BS_3STATE"},
    {BS_TYPEMASK, BS_AUTO3STATE, "BS_AUTO3STATE"},
    {BS_TYPEMASK, BS_GROUPBOX, "BS_GROUPBOX"},
    {BS_TYPEMASK, BS_USERBUTTON, "BS_USERBUTTON"},
    {BS_TYPEMASK, BS_AUTORADIOBUTTON, "BS_AUTORADIOBUTTON"},
    {BS_TYPEMASK, BS_PUSHBOX, "BS_PUSHBOX"},
    {BS_TYPEMASK, BS_OWNERDRAW, "BS_OWNERDRAW"},
    {BS_LEFTTEXT, BS_LEFTTEXT, "BS_LEFTTEXT"},
    {BS_ICON, BS_ICON, "BS_ICON"},
    {BS_BITMAP, BS_BITMAP, "BS_BITMAP"},
    {BS_CENTER, BS_LEFT, "BS_LEFT"},
    {BS_CENTER, BS_RIGHT, "BS_RIGHT"},
    {BS_CENTER, BS_CENTER, "BS_CENTER"},
    {BS_VCENTER, BS_TOP, "BS_TOP"},
    {BS_VCENTER, BS_BOTTOM, "BS_BOTTOM"},
    {BS_VCENTER, BS_VCENTER, "BS_VCENTER"},
    {BS_PUSHLIKE, BS_PUSHLIKE, "BS_PUSHLIKE"},
    {BS_MULTILINE, BS_MULTILINE, "BS_MULTILINE"},
    {BS_NOTIFY, BS_NOTIFY, "BS_NOTIFY"},
    {BS_FLAT, BS_FLAT, "BS_FLAT"},
};

static const Bit STATIC_BITS[] = {
    {SS_TYPEMASK, SS_LEFT, "SS_LEFT"},
    {SS_TYPEMASK, SS_CENTER, "SS_CENTER"},
    {SS_TYPEMASK, SS_RIGHT, "SS_RIGHT"},
    {SS_TYPEMASK, SS_ICON, "SS_ICON"},
    {SS_TYPEMASK, SS_BLACKRECT, "SS_BLACKRECT"},
    {SS_TYPEMASK, SS_GRAYRECT, "SS_GRAYRECT"},
    {SS_TYPEMASK, SS_WHITERECT, "SS_WHITERECT"},
    {SS_TYPEMASK, SS_BLACKFRAME, "SS_BLACKFRAME"},
    {SS_TYPEMASK, SS_GRAYFRAME, "SS_GRAYFRAME"},
    {SS_TYPEMASK, SS_WHITEFRAME, "SS_WHITEFRAME"},
    {SS_TYPEMASK, SS_USERITEM, "SS_USERITEM"},
    {SS_TYPEMASK, SS_SIMPLE, "SS_SIMPLE"},
    {SS_TYPEMASK, SS_LEFTNOWORDWRAP, "SS_LEFTNOWORDWRAP"},
    {SS_TYPEMASK, SS_OWNERDRAW, "SS_OWNERDRAW"},
    {SS_TYPEMASK, SS_BITMAP, "SS_BITMAP"},
    {SS_TYPEMASK, SS_ENHMETAFILE, "SS_ENHMETAFILE"},
    {SS_TYPEMASK, SS_ETCHEDHORZ, "SS_ETCHEDHORZ"},
    {SS_TYPEMASK, SS_ETCHEDVERT, "SS_ETCHEDVERT"},
    {SS_TYPEMASK, SS_ETCHEDFRAME, "SS_ETCHEDFRAME"},
    {SS_REALSIZECONTROL, SS_REALSIZECONTROL, "SS_REALSIZECONTROL"},
    {SS_NOPREFIX, SS_NOPREFIX, "SS_NOPREFIX"},
    {SS_NOTIFY, SS_NOTIFY, "SS_NOTIFY"},
    {SS_CENTERIMAGE, SS_CENTERIMAGE, "SS_CENTERIMAGE"},
    {SS_RIGHTJUST, SS_RIGHTJUST, "SS_RIGHTJUST"},
    {SS_REALSIZEIMAGE, SS_REALSIZEIMAGE, "SS_REALSIZEIMAGE"},
    {SS_SUNKEN, SS_SUNKEN, "SS_SUNKEN"},
    {SS_EDITCONTROL, SS_EDITCONTROL, "SS_EDITCONTROL"},
    {SS_ELLIPSISMASK, SS_ENDELLIPSIS, "SS_ENDELLIPSIS"},
    {SS_ELLIPSISMASK, SS_PATHELLIPSIS, "SS_PATHELLIPSIS"},
    {SS_ELLIPSISMASK, SS_WORDELLIPSIS, "SS_WORDELLIPSIS"},
};

static const Bit COMBO_BITS[] = {
    {0x3, CBS_SIMPLE, "CBS_SIMPLE"},
    {0x3, CBS_DROPDOWN, "CBS_DROPDOWN"},
    {0x3, CBS_DROPDOWNLIST, "CBS_DROPDOWNLIST"},
    {CBS_OWNERDRAWFIXED, CBS_OWNERDRAWFIXED, "CBS_OWNERDRAWFIXED"},
    {CBS_OWNERDRAWVARIABLE, CBS_OWNERDRAWVARIABLE, "CBS_OWNERDRAWVARIABLE"},
    {CBS_AUTOHSCROLL, CBS_AUTOHSCROLL, "CBS_AUTOHSCROLL"},
    {CBS_OEMCONVERT, CBS_OEMCONVERT, "CBS_OEMCONVERT"},
    {CBS_SORT, CBS_SORT, "CBS_SORT"},
    {CBS_HASSTRINGS, CBS_HASSTRINGS, "CBS_HASSTRINGS"},
    {CBS_NOINTEGRALHEIGHT, CBS_NOINTEGRALHEIGHT, "CBS_NOINTEGRALHEIGHT"},
    {CBS_DISABLENOSCROLL, CBS_DISABLENOSCROLL, "CBS_DISABLENOSCROLL"},
    {CBS_UPPERCASE, CBS_UPPERCASE, "CBS_UPPERCASE"},
    {CBS_LOWERCASE, CBS_LOWERCASE, "CBS_LOWERCASE"},
};

static const Bit DIALOG_BITS[] = {
    {DS_ABSALIGN, DS_ABSALIGN, "DS_ABSALIGN"},
    {DS_SYSMODAL, DS_SYSMODAL, "DS_SYSMODAL"},
    {DS_3DLOOK, DS_3DLOOK, "DS_3DLOOK"},
    {DS_FIXEDSYS, DS_FIXEDSYS, "DS_FIXEDSYS"},
    {DS_NOFAILCREATE, DS_NOFAILCREATE, "DS_NOFAILCREATE"},
    {DS_LOCALEDIT, DS_LOCALEDIT, "DS_LOCALEDIT"},
    {DS_SETFONT, DS_SETFONT, "DS_SETFONT"},
    {DS_MODALFRAME, DS_MODALFRAME, "DS_MODALFRAME"},
    {DS_NOIDLEMSG, DS_NOIDLEMSG, "DS_NOIDLEMSG"},
    {DS_SETFOREGROUND, DS_SETFOREGROUND, "DS_SETFOREGROUND"},
    {DS_CONTROL, DS_CONTROL, "DS_CONTROL"},
    {DS_CENTER, DS_CENTER, "DS_CENTER"},
    {DS_CENTERMOUSE, DS_CENTERMOUSE, "DS_CENTERMOUSE"},
    {DS_CONTEXTHELP, DS_CONTEXTHELP, "DS_CONTEXTHELP"},
};

static const Bit EX_BITS[] = {
    {WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME, "WS_EX_DLGMODALFRAME"},
    {WS_EX_NOPARENTNOTIFY, WS_EX_NOPARENTNOTIFY, "WS_EX_NOPARENTNOTIFY"},
    {WS_EX_TOPMOST, WS_EX_TOPMOST, "WS_EX_TOPMOST"},
    {WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES, "WS_EX_ACCEPTFILES"},
    {WS_EX_TRANSPARENT, WS_EX_TRANSPARENT, "WS_EX_TRANSPARENT"},
    {WS_EX_MDICHILD, WS_EX_MDICHILD, "WS_EX_MDICHILD"},
    {WS_EX_TOOLWINDOW, WS_EX_TOOLWINDOW, "WS_EX_TOOLWINDOW"},
    {WS_EX_WINDOWEDGE, WS_EX_WINDOWEDGE, "WS_EX_WINDOWEDGE"},
    {WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE, "WS_EX_CLIENTEDGE"},
    {WS_EX_CONTEXTHELP, WS_EX_CONTEXTHELP, "WS_EX_CONTEXTHELP"},
    {WS_EX_RIGHT, WS_EX_RIGHT, "WS_EX_RIGHT"},
    {WS_EX_RTLREADING, WS_EX_RTLREADING, "WS_EX_RTLREADING"},
    {WS_EX_LEFTSCROLLBAR, WS_EX_LEFTSCROLLBAR, "WS_EX_LEFTSCROLLBAR"},
    {WS_EX_CONTROLPARENT, WS_EX_CONTROLPARENT, "WS_EX_CONTROLPARENT"},
    {WS_EX_STATICEDGE, WS_EX_STATICEDGE, "WS_EX_STATICEDGE"},
    {WS_EX_APPWINDOW, WS_EX_APPWINDOW, "WS_EX_APPWINDOW"},
    {WS_EX_LAYERED, WS_EX_LAYERED, "WS_EX_LAYERED"},
    {WS_EX_NOINHERITLAYOUT, WS_EX_NOINHERITLAYOUT, "WS_EX_NOINHERITLAYOUT"},
    {WS_EX_LAYOUTRTL, WS_EX_LAYOUTRTL, "WS_EX_LAYOUTRTL"},
    {WS_EX_COMPOSITED, WS_EX_COMPOSITED, "WS_EX_COMPOSITED"},
    {WS_EX_NOACTIVATE, WS_EX_NOACTIVATE, "WS_EX_NOACTIVATE"},
};

// Fields (a type in the low bits) are named by value, flags by bit; a zero
// value such as BS_PUSHBUTTON or SS_LEFT is named when its field is zero.
template <size_t N>
static void NameBits(DWORD bits, const Bit (&table)[N], DWORD& named, std::string& out)
{
    for (const Bit& bit : table) {
        if ((bits & bit.mask) == bit.value) {
            out += out.empty() ? "" : "|";
            out += bit.name;
            named |= bit.mask;
        }
    }
}

static std::string Remainder(DWORD bits, DWORD named, std::string out)
{
    const DWORD rest = bits & ~named;
    if (rest != 0) {
        char hex[16];
        snprintf(hex, sizeof(hex), "0x%lX", static_cast<unsigned long>(rest));
        out += out.empty() ? "" : "|";
        out += hex;
    }
    return out.empty() ? "0" : out;
}

std::string StyleNames(HWND window)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    std::string out;
    DWORD named = 0;
    NameBits(style & 0xFFFF0000, WINDOW_BITS, named, out);
    if (style & WS_CHILD) {
        NameBits(style & 0xFFFF0000, CHILD_BITS, named, out);
    } else {
        NameBits(style & 0xFFFF0000, TOP_LEVEL_BITS, named, out);
    }
    const std::wstring cls = LowerClassOf(window);
    const DWORD low = style & 0xFFFF;
    if (cls == L"button") {
        NameBits(low, BUTTON_BITS, named, out);
    } else if (cls == L"static") {
        NameBits(low, STATIC_BITS, named, out);
    } else if (cls == L"combobox") {
        NameBits(low, COMBO_BITS, named, out);
    } else if (cls == L"#32770") {
        NameBits(low, DIALOG_BITS, named, out);
    }
    return Remainder(style, named, out);
}

std::string ExStyleNames(HWND window)
{
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    if (style == 0) {
        return std::string();
    }
    std::string out;
    DWORD named = 0;
    NameBits(style, EX_BITS, named, out);
    return Remainder(style, named, out);
}

RECT RectIn(HWND window, HWND reference)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    if (reference) {
        MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&rect), 2);
    }
    return rect;
}

std::string AtSize(const RECT& rect)
{
    char out[96];
    snprintf(out, sizeof(out), "at=%ld,%ld size=%ldx%ld", rect.left, rect.top, rect.right - rect.left,
             rect.bottom - rect.top);
    return out;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND ChildById(HWND parent, int id)
{
    for (HWND child : ChildrenOf(parent)) {
        if (IdOf(child) == id) {
            return child;
        }
    }
    return nullptr;
}

bool ReadList(HWND comboBox, ListState& state)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(comboBox, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, QUERY_TIMEOUT_MS, &result)) {
        return false;
    }
    state.count = static_cast<int>(static_cast<LRESULT>(result));
    SendMessageTimeoutW(comboBox, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, QUERY_TIMEOUT_MS, &result);
    state.selected = static_cast<int>(static_cast<LRESULT>(result));
    state.lines.clear();
    for (int i = 0; i < state.count; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(comboBox, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, QUERY_TIMEOUT_MS, &length);
        std::wstring line(static_cast<size_t>(static_cast<LRESULT>(length) < 0 ? 0 : length) + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(comboBox, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&line[0]), SMTO_ABORTIFHUNG,
                            QUERY_TIMEOUT_MS, &copied);
        const LRESULT got = static_cast<LRESULT>(copied);
        line.resize(got < 0 ? 0 : std::min<size_t>(got, line.size() - 1));
        state.lines.push_back(line);
    }
    return true;
}

bool DroppedRect(HWND comboBox, HWND reference, RECT& rect)
{
    // The result value is no guide (some combo boxes answer 0 on success):
    // an empty rectangle means no answer.
    DWORD_PTR result = 0;
    rect = RECT{};
    if (!SendMessageTimeoutW(comboBox, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&rect), SMTO_ABORTIFHUNG,
                             QUERY_TIMEOUT_MS, &result) ||
        IsRectEmpty(&rect)) {
        return false;
    }
    MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&rect), 2);
    return true;
}

std::string DescribeControl(HWND control, HWND reference, Geometry geometry)
{
    std::string line = std::to_string(IdOf(control)) + " class=" + Utf8(LowerClassOf(control)) +
                       " text=" + Quote(TextOf(control)) + " style=" + StyleNames(control);
    const std::string ex = ExStyleNames(control);
    if (!ex.empty()) {
        line += " exstyle=" + ex;
    }
    if (geometry == Geometry::SHOWN) line += " " + AtSize(RectIn(control, reference));
    line += IsWindowEnabled(control) ? " enabled" : " disabled";
    if (LowerClassOf(control) == L"combobox") {
        RECT dropped;
        if (geometry == Geometry::SHOWN && DroppedRect(control, reference, dropped)) {
            char text[96];
            snprintf(text, sizeof(text), " dropped-at=%ld,%ld dropped-size=%ldx%ld", dropped.left, dropped.top,
                     dropped.right - dropped.left, dropped.bottom - dropped.top);
            line += text;
        }
        ListState list;
        if (ReadList(control, list)) {
            line += " lines=" + std::to_string(list.count) + " selected=" + std::to_string(list.selected);
        }
    }
    return line;
}
