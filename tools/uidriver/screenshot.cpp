#include "tools/uidriver/screenshot.h"

#include <wincodec.h>

#include <vector>

#include "tools/uidriver/screen.h"

namespace {

// Releases a COM interface at the end of the scope.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef()
    {
        if (m_p) m_p->Release();
    }
    Interface** operator&() { return &m_p; }
    Interface* operator->() const { return m_p; }
    Interface* Get() const { return m_p; }

private:
    Interface* m_p = nullptr;
};

std::string HresultText(const char* what, HRESULT result)
{
    char text[64];
    wsprintfA(text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(result));
    return text;
}

// 24-bit BGR rows, each padded to 4 bytes: the PNG keeps no alpha channel
// (the screen's fourth byte is not an opacity).
std::vector<BYTE> ToBgr24(const Pixels& pixels, UINT& stride)
{
    stride = (static_cast<UINT>(pixels.width) * 3 + 3) & ~3u;
    std::vector<BYTE> rows(static_cast<size_t>(stride) * pixels.height);
    for (int y = 0; y < pixels.height; ++y) {
        BYTE* row = &rows[static_cast<size_t>(y) * stride];
        for (int x = 0; x < pixels.width; ++x) {
            const DWORD pixel = pixels.data[static_cast<size_t>(y) * pixels.width + x];
            row[3 * x] = static_cast<BYTE>(pixel);
            row[3 * x + 1] = static_cast<BYTE>(pixel >> 8);
            row[3 * x + 2] = static_cast<BYTE>(pixel >> 16);
        }
    }
    return rows;
}

bool EncodePng(const Pixels& pixels, const std::wstring& path, std::string& error)
{
    UINT stride = 0;
    std::vector<BYTE> rows = ToBgr24(pixels, stride);
    ComRef<IWICImagingFactory> factory;
    ComRef<IWICStream> stream;
    ComRef<IWICBitmapEncoder> encoder;
    ComRef<IWICBitmapFrameEncode> frame;
    ComRef<IPropertyBag2> options;
    const char* step = "creating the WIC factory";
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(result)) {
        step = "opening the file";
        result = factory->CreateStream(&stream);
        if (SUCCEEDED(result)) result = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    }
    if (SUCCEEDED(result)) {
        step = "starting the PNG encoder";
        result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
        if (SUCCEEDED(result)) result = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
        if (SUCCEEDED(result)) result = encoder->CreateNewFrame(&frame, &options);
        if (SUCCEEDED(result)) result = frame->Initialize(options.Get());
        if (SUCCEEDED(result))
            result = frame->SetSize(static_cast<UINT>(pixels.width), static_cast<UINT>(pixels.height));
    }
    if (SUCCEEDED(result)) {
        step = "setting the pixel format";
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        result = frame->SetPixelFormat(&format);
        // The encoder names the nearest format it takes; these rows fit no other.
        if (SUCCEEDED(result) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
            result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    }
    if (SUCCEEDED(result)) {
        step = "writing the PNG";
        result =
            frame->WritePixels(static_cast<UINT>(pixels.height), stride, static_cast<UINT>(rows.size()), rows.data());
        if (SUCCEEDED(result)) result = frame->Commit();
        if (SUCCEEDED(result)) result = encoder->Commit();
    }
    if (FAILED(result)) {
        error = HresultText(step, result);
        return false;
    }
    return true;
}

}  // namespace

RECT AreaOf(const std::vector<HWND>& windows)
{
    RECT screen;
    GetClientRect(GetDesktopWindow(), &screen);
    RECT area = {};
    for (HWND window : windows) {
        RECT rect;
        if (GetWindowRect(window, &rect)) UnionRect(&area, &area, &rect);
    }
    RECT shown;
    return IntersectRect(&shown, &area, &screen) ? shown : screen;
}

bool SaveScreenPng(const RECT& area, const std::wstring& pngPath, std::string& error)
{
    const Pixels pixels = CaptureScreen(area);
    if (pixels.data.empty()) {
        error = "nothing to capture";
        return false;
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring part = pngPath + L".part";
    bool ok = EncodePng(pixels, part, error);  // every COM object is released on return
    if (ok && !MoveFileExW(part.c_str(), pngPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = "cannot rename the file into place (error " + std::to_string(GetLastError()) + ")";
        ok = false;
    }
    if (!ok) DeleteFileW(part.c_str());
    if (SUCCEEDED(com)) CoUninitialize();
    return ok;
}
