// Fuzz target: the command-line host's TIFF reader (through libtiff), on any bytes.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ExerciseImageFile(fuzz::WriteInput("input.tif", data, size));
  return 0;
}
