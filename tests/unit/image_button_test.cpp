// The skinned button draws the image of its state, and only that.
#include <gtest/gtest.h>

#include "resource.h"
#include "ui/ImageButton.h"

using kivo::ui::CImageButton;

namespace {

// A 68x26 top-down 32-bit surface to draw into and read back.
class Canvas {
 public:
  Canvas() {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 68;
    bi.bmiHeader.biHeight = -26;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = ::SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  HDC Dc() const { return dc_; }
  // Pixels as 0xRRGGBB, row by row.
  std::vector<uint32_t> Pixels() const {
    ::GdiFlush();
    std::vector<uint32_t> out(bits_, bits_ + 68 * 26);
    for (auto& p : out) p &= 0xFFFFFF;
    return out;
  }
  // Draws a bitmap resource at its natural size.
  std::vector<uint32_t> Render(UINT id) {
    HBITMAP bmp = ::LoadBitmapA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
    HDC src = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(src, bmp);
    ::BitBlt(dc_, 0, 0, 68, 26, src, 0, 0, SRCCOPY);
    ::SelectObject(src, old);
    ::DeleteDC(src);
    ::DeleteObject(bmp);
    return Pixels();
  }

 private:
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  uint32_t* bits_ = nullptr;
};

class ImageButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = ::CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    hwnd_ = ::CreateWindowA("BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0, 0, 68, 26, parent_, nullptr,
                            nullptr, nullptr);
    ASSERT_TRUE(button_.Subclass(hwnd_));
  }
  void TearDown() override { ::DestroyWindow(parent_); }

  std::vector<uint32_t> Draw(UINT state) {
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.hwndItem = hwnd_;
    item.hDC = canvas_.Dc();
    item.itemState = state;
    ::SetRect(&item.rcItem, 0, 0, 68, 26);
    button_.DrawItem(item);
    return canvas_.Pixels();
  }

  HWND parent_ = nullptr;
  HWND hwnd_ = nullptr;
  CImageButton button_;
  Canvas canvas_;
};

TEST_F(ImageButtonTest, DrawsNothingBeforeItHasImages) {
  std::vector<uint32_t> blank = canvas_.Pixels();
  EXPECT_EQ(Draw(0), blank);
}

TEST_F(ImageButtonTest, ChoosesTheImageByDisabledAndHoverAlone) {
  Canvas reference;
  const auto normal = reference.Render(IDB_CONNECT_EN);
  const auto hover = reference.Render(IDB_CONNECT_HOVER_EN);
  const auto disabled = reference.Render(IDB_CONNECT_DISABLED_EN);
  ASSERT_NE(normal, hover);
  ASSERT_NE(normal, disabled);

  button_.SetBitmaps(IDB_CONNECT_EN, IDB_CONNECT_HOVER_EN, IDB_CONNECT_DISABLED_EN);
  EXPECT_EQ(Draw(0), normal);
  EXPECT_EQ(Draw(ODS_SELECTED | ODS_DEFAULT), normal) << "no pressed face";
  EXPECT_EQ(Draw(ODS_DISABLED), disabled);

  ::SendMessageA(hwnd_, WM_MOUSEHOVER, 0, 0);
  EXPECT_TRUE(button_.IsHovering());
  EXPECT_EQ(Draw(0), hover);
  EXPECT_EQ(Draw(ODS_SELECTED), hover) << "pressing keeps the hover image";
  EXPECT_EQ(Draw(ODS_DISABLED), disabled) << "disabled wins over hover";
  ::SendMessageA(hwnd_, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(button_.IsHovering());
  EXPECT_EQ(Draw(0), normal);
}

TEST_F(ImageButtonTest, TheKeyboardFocusIsADottedMarkInsetOnTheFace) {
  Canvas reference;
  const auto normal = reference.Render(IDB_CONNECT_EN);
  button_.SetBitmaps(IDB_CONNECT_EN, IDB_CONNECT_HOVER_EN, IDB_CONNECT_DISABLED_EN);
  const auto focused = Draw(ODS_FOCUS);
  // Changed pixels only on the outline of the face inset by three pixels,
  // and on each side of it at least every other one (dotted).
  constexpr int kInset = 3, kRight = 68 - 1 - kInset, kBottom = 26 - 1 - kInset;
  int top = 0, left = 0;
  for (int y = 0; y < 26; ++y) {
    for (int x = 0; x < 68; ++x) {
      const bool changed = focused[y * 68 + x] != normal[y * 68 + x];
      const bool outline = x >= kInset && x <= kRight && y >= kInset && y <= kBottom &&
                           (x == kInset || x == kRight || y == kInset || y == kBottom);
      if (!outline) {
        EXPECT_FALSE(changed) << "pixel " << x << "," << y;
      }
      if (changed && y == kInset) ++top;
      if (changed && x == kInset) ++left;
    }
  }
  EXPECT_GE(top, (kRight - kInset) / 2);
  EXPECT_GE(left, (kBottom - kInset) / 2);
  EXPECT_EQ(Draw(ODS_FOCUS | ODS_NOFOCUSRECT), normal) << "the window hides focus marks for now";
}

TEST_F(ImageButtonTest, WithoutADisabledImageTheNormalOneShows) {
  Canvas reference;
  const auto normal = reference.Render(IDB_EXIT_EN);
  button_.SetBitmaps(IDB_EXIT_EN, IDB_EXIT_HOVER_EN, 0);
  EXPECT_EQ(Draw(ODS_DISABLED), normal);
  EXPECT_EQ(button_.ImageCount(), 2);
}

TEST_F(ImageButtonTest, SwitchingFacesKeepsAtMostThreeImages) {
  Canvas reference;
  const auto disconnect = reference.Render(IDB_DISCONNECT_EN);
  for (int i = 0; i < 50; ++i) {
    button_.SetBitmaps(IDB_EXIT_EN, IDB_EXIT_HOVER_EN, IDB_CONNECT_DISABLED_EN);
    EXPECT_LE(button_.ImageCount(), 3);
    button_.SetBitmaps(IDB_DISCONNECT_EN, IDB_DISCONNECT_HOVER_EN, 0);
  }
  EXPECT_EQ(button_.ImageCount(), 2);
  EXPECT_EQ(Draw(0), disconnect) << "the latest set is drawn";
}

TEST_F(ImageButtonTest, AMissingImageLeavesThePreviousOneInPlace) {
  Canvas reference;
  const auto normal = reference.Render(IDB_ABOUT_BTN_EN);
  button_.SetBitmaps(IDB_ABOUT_BTN_EN, 9999, 0);
  ::SendMessageA(hwnd_, WM_MOUSEHOVER, 0, 0);
  EXPECT_EQ(Draw(0), normal) << "the hover image does not exist: nothing is reported, the last image stays";
}

}  // namespace
