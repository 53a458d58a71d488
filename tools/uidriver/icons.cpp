#include "tools/uidriver/icons.h"

#include <cstdlib>
#include <map>

#include "tools/uidriver/screen.h"
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

static Pixels Render(HICON icon, int width, int height, DWORD background)
{
    return PaintPixels(width, height, background,
                       [&](HDC dc) { DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL); });
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
