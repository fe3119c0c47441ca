// Fuzz target: the command-line host's JPEG reader (through libjpeg), on any bytes behind a JPEG
// start-of-image marker, and the splice that writes an unchanged image back over it.
#include <cstring>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Inputs without the marker would only test the format sniffing; give them one.
  static const uint8_t kStart[3] = {0xFF, 0xD8, 0xFF};
  std::string bytes(reinterpret_cast<const char*>(kStart), 3);
  if (size >= 3 && std::memcmp(data, kStart, 3) == 0) bytes.clear();
  bytes.append(reinterpret_cast<const char*>(data), size);
  fuzz::ExerciseImageFile(
      fuzz::WriteInput("input.jpg", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  return 0;
}
