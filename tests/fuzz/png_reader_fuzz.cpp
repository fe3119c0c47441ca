// Fuzz target: the command-line host's PNG reader, on any bytes behind a PNG signature.
#include <cstring>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Inputs without the signature would only test the format sniffing; give them one.
  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::string bytes(reinterpret_cast<const char*>(kSignature), 8);
  if (size >= 8 && std::memcmp(data, kSignature, 8) == 0) bytes.clear();
  bytes.append(reinterpret_cast<const char*>(data), size);
  fuzz::ExerciseImageFile(
      fuzz::WriteInput("input.png", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  return 0;
}
