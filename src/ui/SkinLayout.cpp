#include "ui/SkinLayout.h"

#include <utility>

#include "toolkit/DialogTemplate.h"
#include "ui/SkinArt.h"

namespace kivo::ui {

using kivo::toolkit::DpiScale;

namespace {

constexpr const wchar_t* kDpiProperty = L"Kivo.SkinDpi";
// The skin's dialog base units (pixels per 4 horizontal and 8 vertical units).
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// What the layout needs to know of a font: whether it is drawn from
// outlines, and its horizontal dialog base unit as the dialog manager
// measures it (the average width of the Latin letters, rounded).
struct FontFacts {
  bool outline = false;
  int baseUnitX = 0;
};

FontFacts MeasureFont(HFONT font) {
  FontFacts facts;
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return facts;
  HGDIOBJ old = ::SelectObject(screen, font);
  TEXTMETRICW metrics{};
  if (::GetTextMetricsW(screen, &metrics)) {
    facts.outline = (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) != 0;
  }
  constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE extent{};
  if (::GetTextExtentPoint32W(screen, kLetters, 52, &extent)) facts.baseUnitX = (extent.cx / 26 + 1) / 2;
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  return facts;
}

SIZE PictureSize(HBITMAP picture) {
  BITMAP info{};
  ::GetObjectW(picture, sizeof(info), &info);
  return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

SkinLayout::~SkinLayout() {
  if (dialog_ != nullptr && ::IsWindow(dialog_)) ::RemovePropW(dialog_, kDpiProperty);
}

RECT SkinLayout::BaseRect(const RECT& units) noexcept {
  // As the dialog manager places a control: corner and size each rounded.
  const int left = ::MulDiv(units.left, kBaseUnitX, 4);
  const int top = ::MulDiv(units.top, kBaseUnitY, 8);
  return RECT{left, top, left + ::MulDiv(units.right - units.left, kBaseUnitX, 4),
              top + ::MulDiv(units.bottom - units.top, kBaseUnitY, 8)};
}

bool SkinLayout::Apply(HWND dialog, UINT templateId, UINT dpi, const RECT* suggested) {
  kivo::toolkit::DialogTemplateLayout layout;
  if (dialog == nullptr ||
      !kivo::toolkit::ReadDialogTemplate(::GetModuleHandleW(nullptr), templateId, layout)) {
    return false;
  }
  // The controls in template order, which is the order the dialog manager
  // made them in.
  std::vector<HWND> controls;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr && controls.size() < layout.items.size();
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (LOWORD(::GetDlgCtrlID(child)) != LOWORD(layout.items[controls.size()].id)) return false;
    controls.push_back(child);
  }
  if (controls.size() != layout.items.size()) return false;

  if (dialog_ != dialog) kivo::toolkit::LeaveDpiChangesToProgram(dialog);
  dialog_ = dialog;
  scale_ = DpiScale(dpi);
  ::SetPropW(dialog, kDpiProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(scale_.Dpi())));

  // The window around the scaled client area.
  RECT client = scale_.Scale(BaseRect(RECT{0, 0, layout.units.cx, layout.units.cy}));
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_STYLE));
  const auto exStyle = static_cast<DWORD>(::GetWindowLongPtrW(dialog, GWL_EXSTYLE));
  RECT frame = client;
  kivo::toolkit::AdjustWindowRectForDpi(frame, style & ~WS_VISIBLE, exStyle, scale_.Dpi());
  constexpr UINT kMove = SWP_NOZORDER | SWP_NOACTIVATE;
  if (suggested != nullptr) {
    ::SetWindowPos(dialog, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, kMove);
  } else {
    RECT now{};
    ::GetWindowRect(dialog, &now);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(dialog, nullptr, (now.left + now.right - width) / 2, (now.top + now.bottom - height) / 2,
                   width, height, kMove);
  }

  SetFonts(dialog, layout.pointSize);
  std::vector<WORD> images;
  for (size_t i = 0; i < controls.size(); ++i) {
    const RECT rc = scale_.Scale(BaseRect(layout.items[i].units));
    ::SetWindowPos(controls[i], nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, kMove);
    images.push_back(layout.items[i].imageId);
  }
  SetPictures(dialog, controls, images);
  for (HWND control : controls) ::SendMessageW(control, WM_DPICHANGED_AFTERPARENT, 0, 0);
  ::InvalidateRect(dialog, nullptr, TRUE);
  return true;
}

void SkinLayout::SetFonts(HWND dialog, int pointSize) {
  // The template's face at the template's size for the scale (the dialog
  // keeps the font it made when it was created, perhaps at another DPI).
  // Beyond 100% it must be drawn from outlines at that very size: a bitmap
  // face ("MS Sans Serif") comes in a few sizes only and would leave the
  // texts too small, so the system's dialog outline face replaces it.
  HFONT templateFont = reinterpret_cast<HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
  decltype(font_) scaled;
  LOGFONTW face{};
  if (templateFont != nullptr && pointSize != 0 && ::GetObjectW(templateFont, sizeof(face), &face) != 0) {
    face.lfHeight = -::MulDiv(pointSize, static_cast<int>(scale_.Dpi()), 72);
    face.lfWidth = 0;
    scaled.Reset(::CreateFontIndirectW(&face));
    FontFacts facts = scaled ? MeasureFont(scaled.Get()) : FontFacts{};
    if (scaled && !facts.outline && !scale_.IsBase()) {
      ::lstrcpynW(face.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
      scaled.Reset(::CreateFontIndirectW(&face));
      facts = scaled ? MeasureFont(scaled.Get()) : FontFacts{};
    }
    // The controls are as wide as the skin's units make them: a face whose
    // letters are wider than those units is made smaller until the texts fit.
    const int unit = scale_.Scale(kBaseUnitX);
    if (scaled && facts.baseUnitX > unit) {
      face.lfHeight = ::MulDiv(face.lfHeight, unit, facts.baseUnitX);
      scaled.Reset(::CreateFontIndirectW(&face));
    }
  }
  HFONT font = scaled ? scaled.Get() : templateFont;
  if (font == nullptr) return;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  font_ = std::move(scaled);  // the previous scaled font is no longer in use
}

void SkinLayout::SetPictures(HWND, const std::vector<HWND>& controls, const std::vector<WORD>& images) {
  std::vector<kivo::toolkit::UniqueBitmap> pictures;
  for (size_t i = 0; i < controls.size(); ++i) {
    if (images[i] == 0) continue;
    kivo::toolkit::UniqueBitmap picture(LoadSkinBitmap(images[i], scale_));
    if (!picture) continue;
    auto previous = reinterpret_cast<HBITMAP>(
        ::SendMessageW(controls[i], STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture.Get())));
    bool ours = false;
    for (const auto& held : pictures_) ours = ours || held.Get() == previous;
    // The picture the control loaded from the template is handed back to us.
    if (previous != nullptr && !ours) ::DeleteObject(previous);
    // The control fits itself to the picture, edge included; inside the
    // edge the picture would be squeezed, so the edge goes around it.
    RECT window{};
    RECT inside{};
    const SIZE size = PictureSize(picture.Get());
    if (::GetWindowRect(controls[i], &window) && ::GetClientRect(controls[i], &inside)) {
      const int edgeX = (window.right - window.left) - inside.right;
      const int edgeY = (window.bottom - window.top) - inside.bottom;
      ::SetWindowPos(controls[i], nullptr, 0, 0, size.cx + edgeX, size.cy + edgeY,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    pictures.push_back(std::move(picture));
  }
  pictures_ = std::move(pictures);
}

UINT SkinLayout::DpiOf(HWND window) {
  HWND root = ::GetAncestor(window, GA_ROOT);
  const auto dpi = static_cast<UINT>(
      reinterpret_cast<UINT_PTR>(::GetPropW(root != nullptr ? root : window, kDpiProperty)));
  return dpi != 0 ? dpi : kivo::toolkit::DpiOfWindow(window);
}

}  // namespace kivo::ui
