#include "DialogTemplate.h"

namespace kivo::toolkit {

namespace {

// Reads little-endian fields of a resource without ever passing its end.
class TemplateReader {
 public:
  TemplateReader(const BYTE* data, size_t size) noexcept : data_(data), size_(size) {}

  bool Ok() const noexcept { return ok_; }

  template <typename T>
  T Read() {
    T value{};
    if (!Need(sizeof(T))) return value;
    for (size_t i = 0; i < sizeof(T); ++i)
      value |= static_cast<T>(static_cast<T>(data_[pos_ + i]) << (8 * i));
    pos_ += sizeof(T);
    return value;
  }
  // A string or an ordinal (0xFFFF followed by a number); answers the
  // ordinal, or 0 for a string.
  WORD SkipStringOrOrdinal(std::wstring* text = nullptr) {
    WORD first = Read<WORD>();
    if (first == 0xFFFF) return Read<WORD>();
    while (ok_ && first != 0) {
      if (text != nullptr) text->push_back(static_cast<wchar_t>(first));
      first = Read<WORD>();
    }
    return 0;
  }
  void Skip(size_t count) {
    if (Need(count)) pos_ += count;
  }
  void AlignTo4() { Skip((4 - pos_ % 4) % 4); }

 private:
  bool Need(size_t count) {
    if (!ok_ || count > size_ - pos_) ok_ = false;
    return ok_;
  }

  const BYTE* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

bool ReadDialogTemplate(HMODULE module, UINT id, DialogTemplateLayout& layout) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (found == nullptr) return false;
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* data = static_cast<const BYTE*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
  if (data == nullptr) return false;
  TemplateReader in(data, ::SizeofResource(module, found));

  layout = DialogTemplateLayout{};
  const WORD version = in.Read<WORD>();
  const WORD signature = in.Read<WORD>();
  if (version != 1 || signature != 0xFFFF) return false;  // only extended templates
  in.Skip(4 + 4);                                         // help id, extended style
  const DWORD style = in.Read<DWORD>();
  const WORD count = in.Read<WORD>();
  in.Skip(2 * 2);  // position
  layout.units.cx = static_cast<short>(in.Read<WORD>());
  layout.units.cy = static_cast<short>(in.Read<WORD>());
  in.SkipStringOrOrdinal();  // menu
  in.SkipStringOrOrdinal();  // class
  in.SkipStringOrOrdinal();  // caption
  if ((style & (DS_SETFONT | DS_SHELLFONT)) != 0) {
    layout.pointSize = in.Read<WORD>();
    layout.weight = in.Read<WORD>();
    layout.italic = in.Read<BYTE>();
    layout.charset = in.Read<BYTE>();
    in.SkipStringOrOrdinal(&layout.face);
  }
  for (WORD i = 0; i < count && in.Ok(); ++i) {
    in.AlignTo4();
    DialogTemplateItem item{};
    in.Skip(4 + 4);  // help id, extended style
    item.style = in.Read<DWORD>();
    const auto x = static_cast<short>(in.Read<WORD>());
    const auto y = static_cast<short>(in.Read<WORD>());
    const auto cx = static_cast<short>(in.Read<WORD>());
    const auto cy = static_cast<short>(in.Read<WORD>());
    item.units = RECT{x, y, x + cx, y + cy};
    item.id = in.Read<DWORD>();
    std::wstring className;
    const WORD classOrdinal = in.SkipStringOrOrdinal(&className);
    const bool isStatic = classOrdinal == 0x0082 || ::lstrcmpiW(className.c_str(), L"Static") == 0;
    const WORD image = in.SkipStringOrOrdinal();
    if (isStatic && (item.style & SS_TYPEMASK) == SS_BITMAP) item.imageId = image;
    in.Skip(in.Read<WORD>());  // creation data
    if (in.Ok()) layout.items.push_back(item);
  }
  return in.Ok();
}

}  // namespace kivo::toolkit
