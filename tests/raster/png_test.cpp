#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/raster/png_util.h"
#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

struct DecodeRow {
  const char* what;
  PngImage image;
  std::vector<PIX_pixel> expected;  // row by row
};

png_color rgb(uint8_t r, uint8_t g, uint8_t b) {
  return png_color{r, g, b};
}

PngImage image(int w, int h, int depth, int type, std::vector<std::vector<uint8_t>> rows,
               std::vector<png_color> palette = {}, std::vector<uint8_t> trns = {}) {
  PngImage s;
  s.width = w, s.height = h, s.bitDepth = depth, s.colorType = type;
  s.rows = std::move(rows);
  s.palette = std::move(palette);
  s.trnsAlpha = std::move(trns);
  return s;
}

std::vector<DecodeRow> decodeRows() {
  std::vector<DecodeRow> rows;
  rows.push_back({"a palette without transparency is opaque",
                  image(3, 1, 8, PNG_COLOR_TYPE_PALETTE, {{0, 1, 2}}, {rgb(255, 0, 0), rgb(0, 0, 255), rgb(1, 2, 3)}),
                  {PIX_RGBA(255, 0, 0, 255), PIX_RGBA(0, 0, 255, 255), PIX_RGBA(1, 2, 3, 255)}});
  rows.push_back(
      {"a palette with tRNS gives the listed entries their alpha",
       image(3, 1, 8, PNG_COLOR_TYPE_PALETTE, {{0, 1, 2}}, {rgb(255, 0, 0), rgb(0, 0, 255), rgb(1, 2, 3)}, {0, 128}),
       {PIX_RGBA(255, 0, 0, 0), PIX_RGBA(0, 0, 255, 128), PIX_RGBA(1, 2, 3, 255)}});
  rows.push_back(
      {"a 4-bit palette unpacks",
       image(3, 2, 4, PNG_COLOR_TYPE_PALETTE, {{0x01, 0x20}, {0x22, 0x10}}, {rgb(9, 9, 9), rgb(1, 1, 1), rgb(2, 2, 2)}),
       {PIX_RGBA(9, 9, 9, 255), PIX_RGBA(1, 1, 1, 255), PIX_RGBA(2, 2, 2, 255), PIX_RGBA(2, 2, 2, 255),
        PIX_RGBA(2, 2, 2, 255), PIX_RGBA(1, 1, 1, 255)}});
  rows.push_back({"16-bit RGBA keeps the high bytes in A, R, G, B order",
                  image(2, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA,
                        {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0, 1, 0xFF, 0xFF, 0x80, 0, 0x7F, 0xFF}}),
                  {PIX_RGBA(0x12, 0x56, 0x9A, 0xDE), PIX_RGBA(0, 0xFF, 0x80, 0x7F)}});
  rows.push_back({"1-bit grey becomes opaque black and white",
                  image(5, 1, 1, PNG_COLOR_TYPE_GRAY, {{0xB0}}),
                  {0xFFFFFFFF, PIX_RGBA(0, 0, 0, 255), 0xFFFFFFFF, 0xFFFFFFFF, PIX_RGBA(0, 0, 0, 255)}});
  rows.push_back({"2-bit grey spreads over the byte range",
                  image(4, 1, 2, PNG_COLOR_TYPE_GRAY, {{0x1B}}),
                  {PIX_RGBA(0, 0, 0, 255), PIX_RGBA(85, 85, 85, 255), PIX_RGBA(170, 170, 170, 255), 0xFFFFFFFF}});
  {
    DecodeRow r{"grey with a transparent value gains alpha", image(3, 1, 8, PNG_COLOR_TYPE_GRAY, {{10, 50, 90}}), {}};
    r.image.trnsColor = true;
    r.image.trnsValue.gray = 50;
    r.expected = {PIX_RGBA(10, 10, 10, 255), PIX_RGBA(50, 50, 50, 0), PIX_RGBA(90, 90, 90, 255)};
    rows.push_back(r);
  }
  rows.push_back({"grey with alpha",
                  image(2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{10, 20, 200, 255}}),
                  {PIX_RGBA(10, 10, 10, 20), PIX_RGBA(200, 200, 200, 255)}});
  {
    DecodeRow r{
        "RGB with a transparent colour gains alpha", image(2, 1, 8, PNG_COLOR_TYPE_RGB, {{1, 2, 3, 4, 5, 6}}), {}};
    r.image.trnsColor = true;
    r.image.trnsValue.red = 4, r.image.trnsValue.green = 5, r.image.trnsValue.blue = 6;
    r.expected = {PIX_RGBA(1, 2, 3, 255), PIX_RGBA(4, 5, 6, 0)};
    rows.push_back(r);
  }
  rows.push_back({"RGBA",
                  image(1, 2, 8, PNG_COLOR_TYPE_RGB_ALPHA, {{1, 2, 3, 4}, {5, 6, 7, 8}}),
                  {PIX_RGBA(1, 2, 3, 4), PIX_RGBA(5, 6, 7, 8)}});
  {
    DecodeRow r{"an interlaced image", image(9, 9, 8, PNG_COLOR_TYPE_RGB, {}), {}};
    r.image.interlaced = true;
    for (int y = 0; y < 9; y++) {
      std::vector<uint8_t> row;
      for (int x = 0; x < 9; x++) {
        row.insert(row.end(), {(uint8_t)(x * 20), (uint8_t)(y * 20), (uint8_t)(x + y)});
        r.expected.push_back(PIX_RGBA(x * 20, y * 20, x + y, 255));
      }
      r.image.rows.push_back(row);
    }
    rows.push_back(r);
  }
  return rows;
}

void expectPixels(PIX_IBitmap* bm, const DecodeRow& r) {
  ASSERT_NE(bm, nullptr) << r.what;
  ASSERT_EQ(bm->getWidth(), r.image.width) << r.what;
  ASSERT_EQ(bm->getHeight(), r.image.height) << r.what;
  for (int y = 0; y < r.image.height; y++)
    for (int x = 0; x < r.image.width; x++)
      EXPECT_EQ(PIX_GetPixel(bm, x, y), r.expected[(size_t)y * r.image.width + x]) << r.what << " at " << x << "," << y;
}

// A fresh folder under /tmp, removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vexmir-raster-XXXXXX";
    const char* d = mkdtemp(tmpl);
    path_ = d ? d : "/tmp";
  }
  ~TempDir() {
    if (path_ != "/tmp") std::filesystem::remove_all(path_);
  }
  const std::string& str() const { return path_; }

 private:
  std::string path_;
};

TEST(LoadPng, DecodesEveryColourTypeFromMemoryAndFile) {
  TempDir tmp;
  const std::string dir = tmp.str();
  for (const DecodeRow& r : decodeRows()) {
    const std::vector<uint8_t> bytes = encodePng(r.image);
    ASSERT_FALSE(bytes.empty()) << r.what;
    std::unique_ptr<PIX_IBitmap> fromMemory(PIX_LoadPNGFromMemory(bytes.data(), (int)bytes.size()));
    expectPixels(fromMemory.get(), r);
    EXPECT_EQ(fromMemory->getRowSpan() % 4, 0) << r.what;
    const std::string path = dir + "/image.png";
    ASSERT_TRUE(writeFile(path, bytes));
    std::unique_ptr<PIX_IBitmap> fromFile(PIX_LoadPNG(path.c_str()));
    expectPixels(fromFile.get(), r);
  }
}

TEST(LoadPng, FillsAGivenBitmapAtTheImageSize) {
  const DecodeRow r = decodeRows()[0];
  const std::vector<uint8_t> bytes = encodePng(r.image);
  PIX_MemBitmap given(20, 30, 4);
  EXPECT_EQ(PIX_LoadPNGFromMemory(bytes.data(), (int)bytes.size(), &given), &given);
  expectPixels(&given, r);
  // A bitmap that cannot take the image's size fails the call and is not deleted.
  GuardedBitmap fixed(2, 2), flipped(3, 1, true);
  EXPECT_EQ(PIX_LoadPNGFromMemory(bytes.data(), (int)bytes.size(), &fixed), nullptr);
  // A flipped bitmap of the right size still shows the image upright.
  EXPECT_EQ(PIX_LoadPNGFromMemory(bytes.data(), (int)bytes.size(), &flipped), &flipped);
  expectPixels(&flipped, r);
}

TEST(LoadPng, DamagedOrForeignDataGivesNull) {
  DecodeRow big = decodeRows().back();
  const std::vector<uint8_t> bytes = encodePng(big.image);
  struct Row {
    const char* what;
    std::vector<uint8_t> data;
  } rows[] = {
      {"seven bytes", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7)},
      {"eight bytes that are no signature", {'G', 'I', 'F', '8', '9', 'a', 0, 0}},
      {"the signature alone", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8)},
      {"cut inside the header", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20)},
      {"cut after the header", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 33)},
      {"cut in the middle of the data", std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2)},
      {"cut before the data's checksum", std::vector<uint8_t>(bytes.begin(), bytes.end() - 16)},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(PIX_LoadPNGFromMemory(r.data.data(), (int)r.data.size()), nullptr) << r.what;
    PIX_MemBitmap given(1, 1, 4);
    EXPECT_EQ(PIX_LoadPNGFromMemory(r.data.data(), (int)r.data.size(), &given), nullptr) << r.what;
  }
  // Every single flipped byte after the signature either fails cleanly or decodes to the image's size.
  for (size_t i = 8; i < bytes.size(); i++) {
    std::vector<uint8_t> bad = bytes;
    bad[i] ^= 0x5A;
    std::unique_ptr<PIX_IBitmap> bm(PIX_LoadPNGFromMemory(bad.data(), (int)bad.size()));
    if (bm) {
      EXPECT_GT(bm->getWidth(), 0);
    }
  }
  // A header claiming an image too large to hold.
  std::vector<uint8_t> huge = bytes;
  huge[16] = 0x00, huge[17] = 0x0F, huge[18] = 0x42, huge[19] = 0x40;  // width 1000000
  huge[20] = 0x00, huge[21] = 0x0F, huge[22] = 0x42, huge[23] = 0x40;  // height 1000000
  EXPECT_EQ(PIX_LoadPNGFromMemory(huge.data(), (int)huge.size()), nullptr);
  EXPECT_EQ(PIX_LoadPNGFromMemory(nullptr, 100), nullptr);
  EXPECT_EQ(PIX_LoadPNG("/nonexistent/image.png"), nullptr);
  EXPECT_EQ(PIX_LoadPNG(nullptr), nullptr);
  TempDir tmp;
  const std::string dir = tmp.str();
  ASSERT_TRUE(writeFile(dir + "/cut.png", std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 2)));
  EXPECT_EQ(PIX_LoadPNG((dir + "/cut.png").c_str()), nullptr);
  EXPECT_EQ(PIX_LoadPNGFromResource(nullptr, 100, nullptr), nullptr);
}

TEST(PngLoader, ChecksTheExtensionOnlyWhenAsked) {
  TempDir tmp;
  const std::string dir = tmp.str();
  const std::vector<uint8_t> bytes = encodePng(decodeRows()[0].image);
  struct Row {
    const char* name;
    bool check, loads;
  } rows[] = {
      {"IMAGE.PNG", true, true},      {"image.png.bak", true, false}, {"png", true, false},
      {"image.png.bak", false, true}, {"png", false, true},           {"dir.png/x", true, false},
  };
  mkdir((dir + "/dir.png").c_str(), 0700);
  for (const auto& r : rows) {
    ASSERT_TRUE(writeFile(dir + "/" + r.name, bytes)) << r.name;
    std::unique_ptr<PIX_IBitmap> bm(PIX_PNGLoader::loadfunc((dir + "/" + r.name).c_str(), r.check, nullptr));
    EXPECT_EQ(bm != nullptr, r.loads) << r.name << (r.check ? " checked" : "");
  }
  const char* ext = PIX_PNGLoader::get_extlist();
  EXPECT_STREQ(ext, "PNG files (*.PNG)");
  EXPECT_STREQ(ext + strlen(ext) + 1, "*.PNG");
  EXPECT_EQ(ext[strlen(ext) + 1 + 6], '\0');
  bool listed = false;
  for (PIX_ImageLoader_rec* r = PIX_ImageLoader_list; r; r = r->_next) listed |= r == &PIX_pngldr;
  EXPECT_TRUE(listed);
  EXPECT_EQ(PIX_pngldr.loadfunc, &PIX_PNGLoader::loadfunc);
}

TEST(NamedResource, ResolvesUnderTheBundleResourcesFolder) {
  const char* build = getenv("VEXMIR_BUILD_DIR");
  ASSERT_NE(build, nullptr);
  const std::string bundle = std::string(build) + "/tests/raster/PixProbe.vst";
  mkdir((bundle + "/Contents/Resources").c_str(), 0700);
  const DecodeRow r = decodeRows()[1];
  ASSERT_TRUE(writeFile(bundle + "/Contents/Resources/knob.png", encodePng(r.image)));
  void* lib = dlopen((bundle + "/Contents/Linux/libpixprobe.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto load = (PIX_IBitmap * (*)(const char*)) dlsym(lib, "pixProbeLoadNamed");
  ASSERT_NE(load, nullptr);
  std::unique_ptr<PIX_IBitmap> bm(load("knob.png"));
  expectPixels(bm.get(), r);
  bm.reset();
  EXPECT_EQ(load("missing.png"), nullptr);
  EXPECT_EQ(load(std::string(401, 'a').c_str()), nullptr);
  dlclose(lib);
  // Outside a bundle there is no resources folder.
  EXPECT_EQ(PIX_LoadPNGFromNamedResource("knob.png"), nullptr);
}

}  // namespace
