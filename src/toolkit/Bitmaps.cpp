#include "Bitmaps.h"

#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "Gdi.h"
#include "Handle.h"

namespace kivo::toolkit {

namespace {

// COM for the length of a decode, on a thread that may or may not have it.
class ComScope {
 public:
  ComScope() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// A top-down 24-bit DIB section of `width` x `height`; `bits` its pixels.
HBITMAP CreateDib24(int width, int height, void*& bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

HBITMAP DecodePng(const BYTE* data, DWORD size) {
  ComScope com;
  Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.GetAddressOf())))) {
    return nullptr;
  }
  Microsoft::WRL::ComPtr<IWICStream> stream;
  Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
  Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
  Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateStream(stream.GetAddressOf())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), size)) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.GetAddressOf())) ||
      FAILED(decoder->GetFrame(0, frame.GetAddressOf())) ||
      FAILED(factory->CreateFormatConverter(converter.GetAddressOf())) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr,
                                   0.0, WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  UINT width = 0;
  UINT height = 0;
  if (FAILED(converter->GetSize(&width, &height)) || width == 0 || height == 0 || width > 8192 ||
      height > 8192) {
    return nullptr;
  }
  void* bits = nullptr;
  UniqueBitmap dib(CreateDib24(static_cast<int>(width), static_cast<int>(height), bits));
  if (!dib || bits == nullptr) return nullptr;
  const UINT stride = (width * 3 + 3) & ~3u;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits))))
    return nullptr;
  return dib.Release();
}

}  // namespace

HBITMAP LoadPngResource(HMODULE module, UINT id, const wchar_t* type) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* data = static_cast<const BYTE*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
  if (data == nullptr) return nullptr;
  return DecodePng(data, ::SizeofResource(module, found));
}

SIZE BitmapResourceSize(HMODULE module, UINT id) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2));  // RT_BITMAP
  if (found == nullptr || ::SizeofResource(module, found) < sizeof(BITMAPINFOHEADER)) return SIZE{0, 0};
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return SIZE{0, 0};
  BITMAPINFOHEADER header{};
  ::CopyMemory(&header, data, sizeof(header));
  if (header.biSize < sizeof(BITMAPINFOHEADER)) return SIZE{0, 0};
  return SIZE{header.biWidth, header.biHeight < 0 ? -header.biHeight : header.biHeight};
}

HBITMAP ResizedCopy(HBITMAP source, SIZE size) {
  BITMAP from{};
  if (source == nullptr || ::GetObjectW(source, sizeof(from), &from) == 0 || size.cx <= 0 || size.cy <= 0) {
    return nullptr;
  }
  void* bits = nullptr;
  UniqueBitmap target(CreateDib24(size.cx, size.cy, bits));
  UniqueMemoryDc sourceDc(::CreateCompatibleDC(nullptr));
  UniqueMemoryDc targetDc(::CreateCompatibleDC(nullptr));
  if (!target || !sourceDc || !targetDc) return nullptr;
  HGDIOBJ oldSource = ::SelectObject(sourceDc.Get(), source);
  HGDIOBJ oldTarget = ::SelectObject(targetDc.Get(), target.Get());
  ::SetStretchBltMode(targetDc.Get(), HALFTONE);
  ::SetBrushOrgEx(targetDc.Get(), 0, 0, nullptr);  // as HALFTONE requires
  const BOOL copied = ::StretchBlt(targetDc.Get(), 0, 0, size.cx, size.cy, sourceDc.Get(), 0, 0, from.bmWidth,
                                   from.bmHeight, SRCCOPY);
  ::SelectObject(sourceDc.Get(), oldSource);
  ::SelectObject(targetDc.Get(), oldTarget);
  return copied ? target.Release() : nullptr;
}

}  // namespace kivo::toolkit
