// The areafill program on hostile input: sizes over the limit or zero, huge sizes declared by
// small files, masks that do not fit, TIFF sample layouts it cannot take, and paths that are
// folders or cannot be written. Each must end with exit 1 and one line on stderr, bounded
// memory, no output or scratch file, and the input exactly as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "imagefile/image_io.h"
#include "run_harness.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;  // -1: killed by a signal
  std::string err;
  long peakKiB = 0;
};

// Runs the program with `args`, no standard input, and collects its stderr and peak memory.
Outcome RunProgram(const std::vector<std::string>& args, const std::string& prefs) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    dup2(pipefd[1], 2);
    close(pipefd[0]);
    close(pipefd[1]);
    std::vector<char*> argv;
    std::string program = AREAFILL_PROGRAM;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    copy.push_back("--prefs");
    copy.push_back(prefs);
    copy.push_back("-q");
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipefd[1]);
  Outcome outcome;
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipefd[0], buffer, sizeof buffer)) > 0)
    outcome.err.append(buffer, size_t(got));
  close(pipefd[0]);
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.peakKiB = usage.ru_maxrss;
  return outcome;
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

void PngChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(out, uint32_t(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  out.insert(out.end(), body.begin(), body.end());
  PutBe32(out, Crc32(body.data(), body.size()));
}

// A PNG whose header declares width × height 8-bit grey and whose data is a few stored bytes.
std::vector<uint8_t> DeclaringPng(uint32_t width, uint32_t height) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", {0x78, 0x01, 0x01, 0x02, 0x00, 0xFD, 0xFF, 0x00, 0x00});
  PngChunk(png, "IEND", {});
  return png;
}

// A little-endian TIFF of one uncompressed strip declaring width × height 8-bit grey, with
// `stripBytes` bytes of data.
std::vector<uint8_t> DeclaringTiff(uint32_t width, uint32_t height, uint32_t stripBytes) {
  std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                              {273, 4}, {277, 3}, {278, 4}, {279, 4}};
  const uint32_t count = 9, dataAt = 8 + 2 + count * 12 + 4;
  const uint32_t values[] = {width, height, 8, 1, 1, dataAt, 1, height, stripBytes};
  t.push_back(uint8_t(count));
  t.push_back(0);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t entry[12] = {uint8_t(tags[i][0]), uint8_t(tags[i][0] >> 8), uint8_t(tags[i][1]), 0, 1};
    for (int b = 0; b < 4; ++b) entry[8 + b] = uint8_t(values[i] >> (8 * b));
    t.insert(t.end(), entry, entry + 12);
  }
  t.insert(t.end(), {0, 0, 0, 0});
  t.resize(t.size() + stripBytes, 0x55);
  return t;
}

// A TIFF written by libtiff with the given layout; samples follow a fixed pattern.
void WriteTiff(const std::string& path, int w, int h, uint16_t photometric, uint16_t samples,
               uint16_t bits, uint16_t format, bool separate, std::vector<uint16_t> extra = {}) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(h));
  if (!extra.empty())
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(extra.size()), extra.data());
  const int planes = separate ? samples : 1;
  std::vector<uint8_t> row(size_t(w) * (separate ? 1 : samples) * ((bits + 7) / 8) + 8);
  for (int p = 0; p < planes; ++p)
    for (int y = 0; y < h; ++y) {
      for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 29 + y * 7 + p);
      TIFFWriteScanline(tiff, row.data(), uint32_t(y), uint16_t(p));
    }
  TIFFClose(tiff);
}

// The most a refusal may take, in KiB: 200 MiB. A child's peak counts the copy of this process
// it started as, so a test program grown larger (as under the sanitizers) raises the bar.
long PeakLimitKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return std::max(200L * 1024, resident * (sysconf(_SC_PAGESIZE) / 1024) + 16 * 1024);
}

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "areafill-hostile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directory(dir_ / "prefs");
    // A valid 12 × 9 grey image and a mask for it.
    imagefile::FileImage image;
    image.width = 12;
    image.height = 9;
    for (int i = 0; i < 12 * 9; ++i) image.data.push_back(uint8_t(i * 11));
    std::string error;
    ASSERT_TRUE(imagefile::WriteImage(Path("in.png"), image, &error)) << error;
    imagefile::FileImage mask = image;
    for (int i = 0; i < 12 * 9; ++i) mask.data[size_t(i)] = (i % 12 > 3 && i % 12 < 8) ? 255 : 0;
    ASSERT_TRUE(imagefile::WriteImage(Path("mask.png"), mask, &error)) << error;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Runs the program and checks the promises every refusal keeps; `says` must appear in the
  // message. The input and mask files (when regular files) stay byte for byte as they were.
  void ExpectRefused(std::vector<std::string> args, const std::string& says,
                     const std::string& output) {
    std::vector<std::pair<std::string, std::string>> before;
    for (const std::string& a : args)
      if (fs::is_regular_file(a)) before.emplace_back(a, Read(a));
    auto entries = [&] {
      std::vector<std::string> names;
      for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
      std::sort(names.begin(), names.end());
      return names;
    };
    std::vector<std::string> folderBefore = entries();
    args.push_back("-o");
    args.push_back(output);
    Outcome outcome = RunProgram(args, Path("prefs"));
    SCOPED_TRACE(outcome.err);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err.rfind("areafill: ", 0), 0u);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1);
    EXPECT_NE(outcome.err.find(says), std::string::npos) << "expected: " << says;
    EXPECT_LT(outcome.peakKiB, PeakLimitKiB()) << "memory in KiB";
    for (const auto& [path, bytes] : before) EXPECT_EQ(Read(path), bytes) << path << " changed";
    EXPECT_EQ(entries(), folderBefore) << "the run left or removed a file";
    // A refusal that comes after the filter ran (an output that cannot be created) leaves the
    // preferences file, and nothing else.
    for (const auto& e : fs::directory_iterator(Path("prefs")))
      EXPECT_EQ(e.path().filename(), "ZELKpref") << "scratch file left";
  }

  fs::path dir_;
};

TEST_F(HostileInput, SizesOverTheLimitOrZero) {
  Write("wide.png", DeclaringPng(32768, 2));
  ExpectRefused({Path("wide.png")}, "32767", Path("out.png"));
  Write("tall.png", DeclaringPng(3, 40000));
  ExpectRefused({Path("tall.png")}, "32767", Path("out.png"));
  Write("empty.png", DeclaringPng(0, 5));
  ExpectRefused({Path("empty.png")}, "no pixels", Path("out.png"));
  Write("wide.tif", DeclaringTiff(40000, 1, 40000));
  ExpectRefused({Path("wide.tif")}, "32767", Path("out.tif"));
  Write("zero.tif", DeclaringTiff(0, 4, 16));
  ExpectRefused({Path("zero.tif")}, "", Path("out.tif"));
  Write("nothing.png", {});
  ExpectRefused({Path("nothing.png")}, "empty", Path("out.png"));
}

TEST_F(HostileInput, HugeDeclaredSizesInSmallFilesAllocateNothing) {
  Write("huge.png", DeclaringPng(32000, 32000));
  ExpectRefused({Path("huge.png")}, "truncated or corrupt", Path("out.png"));
  Write("huge.tif", DeclaringTiff(32000, 32000, 64));
  ExpectRefused({Path("huge.tif")}, "", Path("out.tif"));
  // A mask that declares far more than the image it is for.
  Write("huge-mask.png", DeclaringPng(30000, 30000));
  ExpectRefused({Path("in.png"), "--mask", Path("huge-mask.png")}, "", Path("out.png"));
}

TEST_F(HostileInput, MasksThatDoNotFit) {
  imagefile::FileImage mask;
  mask.width = 11;
  mask.height = 9;
  mask.data.assign(11 * 9, 255);
  std::string error;
  ASSERT_TRUE(imagefile::WriteImage(Path("small-mask.png"), mask, &error));
  ExpectRefused({Path("in.png"), "--mask", Path("small-mask.png")}, "mask is 11x9",
                Path("out.png"));
  WriteTiff(Path("rgb-mask.tif"), 12, 9, PHOTOMETRIC_RGB, 3, 8, SAMPLEFORMAT_UINT, false);
  ExpectRefused({Path("in.png"), "--mask", Path("rgb-mask.tif")}, "grey", Path("out.png"));
  WriteTiff(Path("alpha-mask.tif"), 12, 9, PHOTOMETRIC_MINISBLACK, 2, 8, SAMPLEFORMAT_UINT, false,
            {EXTRASAMPLE_UNASSALPHA});
  ExpectRefused({Path("in.png"), "--mask", Path("alpha-mask.tif")}, "extra", Path("out.png"));
  WriteTiff(Path("float-mask.tif"), 12, 9, PHOTOMETRIC_MINISBLACK, 1, 32, SAMPLEFORMAT_IEEEFP,
            false);
  ExpectRefused({Path("in.png"), "--mask", Path("float-mask.tif")}, "32-bit", Path("out.png"));
  mask.width = 12;
  mask.data.assign(12 * 9, 0);  // selects nothing
  ASSERT_TRUE(imagefile::WriteImage(Path("black-mask.png"), mask, &error));
  ExpectRefused({Path("in.png"), "--mask", Path("black-mask.png")}, "empty", Path("out.png"));
}

TEST_F(HostileInput, SixteenBitMaskSelectsAsItsHighByte) {
  // Taken, not refused: 16-bit masks are read as their high byte.
  imagefile::FileImage mask8;
  std::string error;
  ASSERT_TRUE(imagefile::ReadImage(Path("mask.png"), &mask8, &error));
  imagefile::FileImage mask16 = mask8;
  mask16.bitsPerSample = 16;
  mask16.data.clear();
  for (uint8_t v : mask8.data) {
    uint16_t wide = uint16_t(v << 8 | 0x7F);
    mask16.data.push_back(uint8_t(wide));
    mask16.data.push_back(uint8_t(wide >> 8));
  }
  ASSERT_TRUE(imagefile::WriteImage(Path("mask16.tif"), mask16, &error)) << error;
  Outcome a = RunProgram(
      {Path("in.png"), "--mask", Path("mask.png"), "--method", "membrane", "-o", Path("a.png")},
      Path("prefs"));
  Outcome b = RunProgram(
      {Path("in.png"), "--mask", Path("mask16.tif"), "--method", "membrane", "-o", Path("b.png")},
      Path("prefs"));
  ASSERT_EQ(a.exitCode, 0) << a.err;
  ASSERT_EQ(b.exitCode, 0) << b.err;
  EXPECT_EQ(Read(Path("a.png")), Read(Path("b.png")));
}

TEST_F(HostileInput, TiffSampleLayoutsItCannotTake) {
  WriteTiff(Path("two-sample-rgb.tif"), 4, 4, PHOTOMETRIC_RGB, 2, 8, SAMPLEFORMAT_UINT, false);
  ExpectRefused({Path("two-sample-rgb.tif")}, "too few", Path("out.tif"));
  WriteTiff(Path("twelve-bit.tif"), 4, 4, PHOTOMETRIC_MINISBLACK, 1, 12, SAMPLEFORMAT_UINT, false);
  ExpectRefused({Path("twelve-bit.tif")}, "12-bit", Path("out.tif"));
  WriteTiff(Path("signed.tif"), 4, 4, PHOTOMETRIC_MINISBLACK, 1, 16, SAMPLEFORMAT_INT, false);
  ExpectRefused({Path("signed.tif")}, "signed", Path("out.tif"));
  WriteTiff(Path("float-cmyk.tif"), 4, 4, PHOTOMETRIC_SEPARATED, 4, 32, SAMPLEFORMAT_IEEEFP, true);
  ExpectRefused({Path("float-cmyk.tif")}, "32-bit", Path("out.tif"));
  WriteTiff(Path("many.tif"), 2, 2, PHOTOMETRIC_MINISBLACK, 70, 8, SAMPLEFORMAT_UINT, true);
  ExpectRefused({Path("many.tif")}, "samples per pixel", Path("out.tif"));
  // Odd but valid: separate planes with two extra channels are read and written back.
  WriteTiff(Path("separate.tif"), 5, 4, PHOTOMETRIC_RGB, 5, 16, SAMPLEFORMAT_UINT, true,
            {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED});
  Outcome ok = RunProgram({Path("separate.tif"), "--method", "mean", "-o", Path("sep-out.tif")},
                          Path("prefs"));
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
}

TEST_F(HostileInput, PathsThatAreFoldersOrCannotBeWritten) {
  fs::create_directory(Path("folder.png"));
  ExpectRefused({Path("folder.png")}, "folder", Path("out.png"));
  ExpectRefused({Path("in.png")}, "folder", Path("folder.png"));
  ExpectRefused({Path("in.png"), "--mask", Path("folder.png")}, "folder", Path("out.png"));
  ExpectRefused({Path("in.png")}, "does not exist", Path("missing/out.png"));
  ExpectRefused({Path("in.png")}, "", "/proc/areafill-cannot-write.png");
  ExpectRefused({Path("in.png")}, "", Path("out.jpg"));
  ExpectRefused({Path("missing.png")}, "cannot open", Path("out.png"));
  ExpectRefused({Path("in.png"), "--replay", Path("folder.png")}, "", Path("out.png"));
  ExpectRefused({Path("in.png"), "--method", "mean", "--record", Path("folder.png")}, "",
                Path("out.png"));
}

}  // namespace
