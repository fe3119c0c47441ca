// The module's resources as data: built at compile time in the platform's resource layouts
// (machine byte order) and registered with the platform's Resource Manager on use.
#include "filter/util/module_resources.h"

#include <array>
#include <bit>
#include <string_view>

#include "platform/dialogs.h"
#include "platform/resources.h"

namespace {

struct ItemSpec {
  Rect rect;
  uint8_t type;
  std::string_view text;
};

constexpr uint8_t kDisabled = kItemDisableBit;

// The radio button of fill choice `choice`, labelled as the choice's declaration says, in a
// column of buttons 22 pixels apart.
constexpr ItemSpec _ChoiceRadio(FillChoice choice) {
  const int16_t top = int16_t(12 + 22 * (choice - kFirstFillChoice));
  return {{top, 16, int16_t(top + 18), 244},
          kRadioButtonDialogItem,
          kFillChoices[choice - kFirstFillChoice].dialogLabel};
}

// Items 1 and 2 are the buttons, 3 to 9 the fill choices in code order, 10 the swatch that the
// dialog paints in the area's mean colour, 11 its label.
constexpr ItemSpec kChoiceItems[] = {
    {{176, 272, 196, 344}, kButtonDialogItem, "OK"},
    {{176, 184, 196, 264}, kButtonDialogItem, "Cancel"},
    _ChoiceRadio(kChoiceMembrane),
    _ChoiceRadio(kChoiceMean),
    _ChoiceRadio(kChoiceForeground),
    _ChoiceRadio(kChoiceBlack),
    _ChoiceRadio(kChoiceWhite),
    _ChoiceRadio(kChoiceHorizontalBlend),
    _ChoiceRadio(kChoiceVerticalBlend),
    {{34, 256, 94, 344}, kUserDialogItem | kDisabled, ""},
    {{12, 256, 30, 344}, kStaticTextDialogItem | kDisabled, "Mean colour"},
};
static_assert(kChoiceFirstRadioItem == 3 && kChoiceLastRadioItem == 9 &&
                  std::size(kFillChoices) == kChoiceLastRadioItem - kChoiceFirstRadioItem + 1,
              "the radio buttons are items 3 to 9, one for each fill choice");

template <size_t N>
constexpr size_t _ItemListBytes(const ItemSpec (&items)[N]) {
  size_t bytes = 2;
  for (const ItemSpec& item : items) bytes += 14 + item.text.size() + (item.text.size() & 1);
  return bytes;
}

template <typename T>
constexpr size_t _Put(uint8_t* out, size_t at, const T& value) {
  auto bytes = std::bit_cast<std::array<uint8_t, sizeof(T)>>(value);
  for (uint8_t b : bytes) out[at++] = b;
  return at;
}

// The 'DITL' layout: count − 1, then per item a placeholder, the rectangle, the type, the
// text's length and the text padded to an even length.
template <size_t Bytes, size_t N>
constexpr std::array<uint8_t, Bytes> _BuildItemList(const ItemSpec (&items)[N]) {
  std::array<uint8_t, Bytes> out{};
  size_t at = _Put(out.data(), 0, int16_t(N - 1));
  for (const ItemSpec& item : items) {
    at += 4;
    at = _Put(out.data(), at, item.rect);
    out[at++] = item.type;
    out[at++] = uint8_t(item.text.size());
    for (char c : item.text) out[at++] = uint8_t(c);
    at += item.text.size() & 1;
  }
  return out;
}

constexpr DialogTemplate _MakeTemplate(Rect bounds, int16_t itemsID, std::string_view title) {
  DialogTemplate t{};
  t.boundsRect = bounds;
  t.procID = movableDBoxProc;
  t.visible = 1;
  t.itemsID = itemsID;
  t.title[0] = uint8_t(title.size());
  for (size_t i = 0; i < title.size(); ++i) t.title[i + 1] = uint8_t(title[i]);
  return t;
}

constexpr DialogTemplate kChoiceDialog =
    _MakeTemplate({40, 40, 248, 400}, kFillChoiceDialogID, "Area Fill");
constexpr auto kChoiceItemList = _BuildItemList<_ItemListBytes(kChoiceItems)>(kChoiceItems);

// 'vers': version 0.1.0, final (first 16-bit field 0x0010, major and minor in BCD), region 0,
// then the short and the long version string.
constexpr std::string_view kShortVersion = "0.1.0";
constexpr std::string_view kLongVersion = "0.1.0, area fill filter";
constexpr std::array<uint8_t, 8 + kShortVersion.size() + kLongVersion.size()> _BuildVersion() {
  std::array<uint8_t, 8 + kShortVersion.size() + kLongVersion.size()> out{};
  size_t at = _Put(out.data(), 0, int16_t(0x0010));
  out[at++] = 0x80;  // final release
  out[at++] = 0;
  at = _Put(out.data(), at, int16_t(0));
  out[at++] = uint8_t(kShortVersion.size());
  for (char c : kShortVersion) out[at++] = uint8_t(c);
  out[at++] = uint8_t(kLongVersion.size());
  for (char c : kLongVersion) out[at++] = uint8_t(c);
  return out;
}
constexpr auto kVersion = _BuildVersion();

const ResourceEntry kModuleResources[] = {
    {FourCC("DLOG"), kFillChoiceDialogID, &kChoiceDialog, int32_t(sizeof kChoiceDialog)},
    {FourCC("DITL"), kFillChoiceDialogID, kChoiceItemList.data(), int32_t(kChoiceItemList.size())},
    {FourCC("vers"), 2, kVersion.data(), int32_t(kVersion.size())},
};

}  // namespace

void RegisterModuleResources() {
  PlatformRegisterResources(kModuleResources, int32_t(std::size(kModuleResources)));
}
