// Fuzz target: the shared preferences file. Any bytes are the file "ZELKpref"; loading and
// storing it must keep the layout: a stored file is at least 53,248 bytes, carries the block
// as loaded, every string as loaded (cut to 513 characters), and nothing stays allocated.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "filter/entry/preferences.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FreshPreferencesFolder();
  const std::string path = fuzz::WriteInput("prefs/ZELKpref", data, size);
  fuzz::NoteBaseline();
  auto record = std::make_unique<RunRecord>();
  std::memset(record.get(), 0, sizeof(RunRecord));
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  if (refNum == 0) std::abort();  // the file exists and can be opened

  // What was loaded: the block, and each string up to 513 characters.
  std::vector<uint8_t> block(record->prefsBlock, record->prefsBlock + kPrefsBlockBytes);
  std::vector<std::string> strings;
  for (char* s : record->prefStrings) {
    if (s && std::strlen(s) > size_t(kPrefStringBytes - 1)) std::abort();
    strings.push_back(s ? std::string(s) : std::string());
  }
  const size_t head = std::min<size_t>(size, kPrefsSlotBytes);
  if (head > 0 && std::memcmp(block.data(), data, head) != 0) std::abort();

  StorePreferences(record.get(), &refNum);
  if (refNum != 0) std::abort();
  for (char* s : record->prefStrings)
    if (s) std::abort();
  fuzz::CheckNothingLeft("store");

  std::FILE* file = std::fopen(path.c_str(), "rb");
  std::vector<uint8_t> stored(std::max<size_t>(size, size_t(kPrefsFileBytes)) + 1);
  size_t got = std::fread(stored.data(), 1, stored.size(), file);
  std::fclose(file);
  if (got != std::max<size_t>(size, size_t(kPrefsFileBytes))) std::abort();
  if (std::memcmp(stored.data(), block.data(), kPrefsSlotBytes) != 0) std::abort();
  if (std::memcmp(stored.data() + 50176, block.data() + kPrefsSlotBytes, 3072) != 0) std::abort();
  for (int slot = 0; slot < kPrefStringCount; ++slot) {
    const char* text = reinterpret_cast<const char*>(stored.data()) + kPrefsSlotBytes * (slot + 1);
    if (strnlen(text, kPrefsSlotBytes) >= size_t(kPrefStringBytes) || strings[size_t(slot)] != text)
      std::abort();
  }
  // Bytes beyond the layout of a longer file stay as they were.
  if (size > size_t(kPrefsFileBytes) &&
      std::memcmp(stored.data() + kPrefsFileBytes, data + kPrefsFileBytes,
                  size - size_t(kPrefsFileBytes)) != 0)
    std::abort();
  return 0;
}
