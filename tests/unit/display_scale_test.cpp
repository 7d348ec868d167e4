// The rule that picks the skin's picture set for a DPI and places a
// control's rectangle at that scale.
#include <gtest/gtest.h>

#include "resource.h"
#include "toolkit/Dpi.h"
#include "toolkit/Handle.h"
#include "ui/SkinArt.h"
#include "ui/SkinLayout.h"

using kivo::toolkit::DpiScale;
using kivo::ui::SkinLayout;
using kivo::ui::LoadSkinBitmap;
using kivo::ui::SkinArtResourceId;

namespace {

bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

SIZE SizeOf(HBITMAP bitmap) {
  BITMAP info{};
  ::GetObjectA(bitmap, sizeof(info), &info);
  return SIZE{info.bmWidth, info.bmHeight};
}

}  // namespace

TEST(DisplayScale, PicksTheArtSetAndScalesTheSkinsRectangles) {
  // The set drawn for the scale, else the next larger one.
  const UINT sets[][2] = {{72, 96}, {96, 96}, {120, 144}, {144, 144}, {168, 192}, {192, 192}, {288, 192}};
  for (const auto& [dpi, art] : sets) EXPECT_EQ(DpiScale(dpi).ArtDpi(), art) << dpi;
  EXPECT_EQ(SkinArtResourceId(IDB_CONNECT_EN, 96), 667u);
  EXPECT_EQ(SkinArtResourceId(IDB_CONNECT_EN, 144), 1667u);
  EXPECT_EQ(SkinArtResourceId(IDB_CONNECT_EN, 192), 2667u);

  // The Connect button, 14,173 45x16 in dialog units: 68x26 pixels at 100%;
  // corner and size each scaled, halves rounded up.
  const RECT connect = SkinLayout::BaseRect(RECT{14, 173, 59, 189});
  EXPECT_TRUE(connect == (RECT{21, 281, 89, 307}));
  EXPECT_TRUE(DpiScale(96).Scale(connect) == connect);
  EXPECT_TRUE(DpiScale(120).Scale(connect) == (RECT{26, 351, 26 + 85, 351 + 33}));
  EXPECT_TRUE(DpiScale(144).Scale(connect) == (RECT{32, 422, 32 + 102, 422 + 39}));
  EXPECT_TRUE(DpiScale(192).Scale(connect) == (RECT{42, 562, 42 + 136, 562 + 52}));

  // Its face comes at the same sizes: drawn for 150%, and shrunk from that
  // set once for 125%.
  const SIZE expected[][2] = {
      {{96, 0}, {68, 26}}, {{120, 0}, {85, 33}}, {{144, 0}, {102, 39}}, {{192, 0}, {136, 52}}};
  for (const auto& [dpi, size] : expected) {
    kivo::toolkit::UniqueBitmap face(LoadSkinBitmap(IDB_CONNECT_EN, DpiScale(static_cast<UINT>(dpi.cx))));
    ASSERT_TRUE(face.Valid()) << dpi.cx;
    const SIZE got = SizeOf(face.Get());
    EXPECT_EQ(got.cx, size.cx) << dpi.cx;
    EXPECT_EQ(got.cy, size.cy) << dpi.cx;
  }
}
