#include "tools/uidriver/icons.h"

#include <cstdlib>
#include <map>

#include "tools/uidriver/text.h"

// Mean difference per pixel (sum over red, green, blue) still taken as a match.
constexpr long MATCH_LIMIT = 24;

static BOOL CALLBACK CollectIconGroup(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR parameter)
{
    auto& out = *reinterpret_cast<std::vector<IconCandidate>*>(parameter);
    if (IS_INTRESOURCE(name)) {
        HICON icon = static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
        if (icon) {
            out.push_back({std::to_string(reinterpret_cast<ULONG_PTR>(name)), icon});
        }
    }
    return TRUE;
}

std::vector<IconCandidate> LoadIconCandidates(const std::wstring& programFile)
{
    std::vector<IconCandidate> out = {
        {"error", LoadIconW(nullptr, IDI_ERROR)},
        {"warning", LoadIconW(nullptr, IDI_WARNING)},
        {"information", LoadIconW(nullptr, IDI_INFORMATION)},
        {"question", LoadIconW(nullptr, IDI_QUESTION)},
    };
    HMODULE module = LoadLibraryExW(programFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        EnumResourceNamesW(module, RT_GROUP_ICON, CollectIconGroup, reinterpret_cast<LONG_PTR>(&out));
        // The module stays loaded: the icons were made from its resources.
    }
    return out;
}

// 32-bit top-down pixels of a width x height area.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<DWORD> data;
};

static HBITMAP MakeSurface(HDC dc, int width, int height, DWORD** bits)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    *bits = static_cast<DWORD*>(memory);
    return bitmap;
}

static Pixels CaptureScreen(const RECT& rect)
{
    Pixels out;
    out.width = rect.right - rect.left;
    out.height = rect.bottom - rect.top;
    if (out.width <= 0 || out.height <= 0) {
        return out;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    DWORD* bits = nullptr;
    HBITMAP bitmap = MakeSurface(screen, out.width, out.height, &bits);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, out.width, out.height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    out.data.assign(bits, bits + out.width * out.height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

bool SaveScreen(const std::wstring& bmpPath)
{
    RECT screen;
    GetClientRect(GetDesktopWindow(), &screen);
    const Pixels pixels = CaptureScreen(screen);
    if (pixels.data.empty()) {
        return false;
    }
    const DWORD rowBytes = (static_cast<DWORD>(pixels.width) * 3 + 3) & ~3u;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(pixels.height);
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageBytes;
    info.biSize = sizeof(info);
    info.biWidth = pixels.width;
    info.biHeight = pixels.height;  // bottom-up rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageBytes;
    std::string image(imageBytes, '\0');
    for (int y = 0; y < pixels.height; ++y) {
        char* row = &image[static_cast<size_t>(pixels.height - 1 - y) * rowBytes];
        for (int x = 0; x < pixels.width; ++x) {
            const DWORD pixel = pixels.data[static_cast<size_t>(y) * pixels.width + x];
            row[3 * x] = static_cast<char>(pixel & 0xFF);
            row[3 * x + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[3 * x + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
    }
    HANDLE out = CreateFileW(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(out, &file, sizeof(file), &written, nullptr) &&
              WriteFile(out, &info, sizeof(info), &written, nullptr) &&
              WriteFile(out, image.data(), imageBytes, &written, nullptr);
    CloseHandle(out);
    return ok;
}

static Pixels Render(HICON icon, int width, int height, DWORD background)
{
    Pixels out;
    out.width = width;
    out.height = height;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    DWORD* bits = nullptr;
    HBITMAP bitmap = MakeSurface(screen, width, height, &bits);
    HGDIOBJ old = SelectObject(memory, bitmap);
    std::fill(bits, bits + width * height, background);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    GdiFlush();
    out.data.assign(bits, bits + width * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}

static long Distance(DWORD a, DWORD b)
{
    long sum = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        sum += std::labs(static_cast<long>((a >> shift) & 0xFF) - static_cast<long>((b >> shift) & 0xFF));
    }
    return sum;
}

// The most frequent colour along the edges: what the static paints behind the icon.
static DWORD EdgeColour(const Pixels& pixels)
{
    std::map<DWORD, int> counts;
    for (int x = 0; x < pixels.width; ++x) {
        ++counts[pixels.data[x] & 0xFFFFFF];
        ++counts[pixels.data[(pixels.height - 1) * pixels.width + x] & 0xFFFFFF];
    }
    for (int y = 0; y < pixels.height; ++y) {
        ++counts[pixels.data[y * pixels.width] & 0xFFFFFF];
        ++counts[pixels.data[y * pixels.width + pixels.width - 1] & 0xFFFFFF];
    }
    DWORD best = 0;
    int bestCount = -1;
    for (const auto& entry : counts) {
        if (entry.second > bestCount) {
            best = entry.first;
            bestCount = entry.second;
        }
    }
    return best;
}

std::string RecogniseIcon(HWND iconStatic, const std::vector<IconCandidate>& candidates)
{
    RECT rect;
    if (!IsWindowVisible(iconStatic) || !GetWindowRect(iconStatic, &rect)) {
        return "none";
    }
    const Pixels seen = CaptureScreen(rect);
    if (seen.data.empty()) {
        return "none";
    }
    const DWORD background = EdgeColour(seen);
    long plain = 0;
    for (DWORD pixel : seen.data) {
        plain = std::max(plain, Distance(pixel, background));
    }
    if (plain == 0) {
        return "none";
    }
    std::string best = "unknown";
    long bestScore = MATCH_LIMIT + 1;
    std::string scores;
    for (const IconCandidate& candidate : candidates) {
        const Pixels drawn = Render(candidate.icon, seen.width, seen.height, background);
        long long total = 0;
        for (size_t i = 0; i < seen.data.size(); ++i) {
            total += Distance(seen.data[i] & 0xFFFFFF, drawn.data[i] & 0xFFFFFF);
        }
        const long score = static_cast<long>(total / static_cast<long long>(seen.data.size()));
        scores += " " + candidate.name + "=" + std::to_string(score);
        if (score < bestScore) {
            bestScore = score;
            best = candidate.name;
        }
    }
    Diagnostic("icon scores" + scores);
    return best;
}
