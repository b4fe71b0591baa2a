// The resource set as it is built into setup.exe, read back from the executable itself: a fault in
// the resource script, in the drawn assets or in the build's embedding of the configuration shows
// here.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <vfw.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "framework/handle.h"
#include "res/resource.h"
#include "tests/win/resource_view.h"

namespace {

using namespace resource_view;

template <typename T>
T Read(const std::string& bytes, size_t offset) {
  T value{};
  if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

std::string FourCC(const std::string& bytes, size_t offset) { return bytes.substr(offset, 4); }

class SetupResources : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(setup_) << "cannot load " << SETUP_EXE_PATH; }
  HMODULE setup() const { return setup_.get(); }
  std::string Bytes(const char* type, int id) const { return ResourceBytes(setup_.get(), type, MAKEINTRESOURCEA(id)); }

private:
  UniqueModule setup_ = LoadForResources(SETUP_EXE_PATH);
};

// ---------------------------------------------------------------------------------------------
// String table

struct StringCase {
  int id;
  const char* text;
};

// Every text the code loads, byte for byte; 116 is deliberately absent and must load as "".
const StringCase kStrings[] = {
    {102, "%1 from %2"},
    {103, "Connected to %1"},
    {104, "Resolving name: %1"},
    {105, "Resolved name to %1"},
    {106, "Connecting to %1"},
    {107, "Redirecting to %1"},
    {108, "Getting file information"},
    {110, "An error occurred while attempting to download the file, Error:%1"},
    {111, "An error occurred connecting to the server, Error:%1"},
    {112, "Failed to receive a valid response from the server"},
    {113, "Failed to receive a valid HTTP response from the server"},
    {114, "An error occurred while downloading the file, Error:%1"},
    {115, "%1% completed - %2"},
    {116, ""},
    {117, "%1 of %2"},
    {118, "%1 sec"},
    {119, "%1 min"},
    {120, "%1 min %2 sec"},
    {121, "%1 Bytes"},
    {122, " "},
    {123, "%1 KB"},
    {125, "%1 MB"},
    {127, "%1 (%2 copied)"},
    {128, "%1 Bytes/Sec"},
    {129, "%1 KB/Sec"},
    {130, "The file '%1' already exists.\nDo you want to replace it?"},  // a real line feed
    {131, "An error occured while opening the file to be downloaded, Error:%1"},
    {132, "Aborting transfer"},
    {134, "Downloading the latest version of %1"},
    {138, "Microsoft operating systems before Windows 2000 are not supported by %1."},
    {139, "Microsoft operating systems before Windows 2000 are not supported."},
    {140, "The latest version of %1 is not yet available. Please, try later."},
};

TEST_F(SetupResources, EveryStringFrom102To140IsTheTableTextOrAbsent) {
  std::map<int, std::string> expected;
  for (const StringCase& c : kStrings) expected[c.id] = c.text;
  for (int id = 102; id <= 140; ++id) {
    char buffer[512] = "untouched";
    int length = LoadStringA(setup(), id, buffer, sizeof buffer);
    // Ids the table does not list (109, 124, 126, 133, 135-137) must not carry a stray text either.
    EXPECT_EQ(std::string(buffer, length), expected[id]) << "string " << id;
  }
}

// ---------------------------------------------------------------------------------------------
// Dialog 124

struct ControlCase {
  int id;
  const char* window_class;
  const char* text;
  short x, y, cx, cy;
  DWORD style;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kLabel = kChild | SS_LEFT | WS_GROUP;

const ControlCase kControls[] = {
    {IDC_ANIMATION, "SysAnimate32", "", 7, 7, 236, 37, kChild | ACS_TRANSPARENT | ACS_CENTER},
    {IDC_STATUS_LINE, "static", "", 7, 47, 236, 8, kLabel},
    {IDC_FILE_LINE, "static", "", 7, 60, 236, 8, kLabel},
    {IDC_PROGRESS, "msctls_progress32", "", 7, 74, 236, 10, kChild | WS_BORDER},
    {-1, "static", "Estimated time left:", 7, 91, 70, 8, kLabel},
    {IDC_TIME_LEFT, "static", "", 79, 91, 164, 8, kLabel},
    {-1, "static", "Transfer rate:", 7, 104, 52, 8, kLabel},
    {IDC_RATE, "static", "", 79, 104, 164, 8, kLabel},
    {IDCANCEL, "button", "Cancel", 193, 122, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
};

// A DLGTEMPLATE (not the extended form) read field by field.
class TemplateReader {
public:
  explicit TemplateReader(const std::string& bytes) : bytes_(bytes) {}
  WORD Word() {
    WORD w = Read<WORD>(bytes_, pos_);
    pos_ += 2;
    return w;
  }
  DWORD Dword() {
    DWORD d = Read<DWORD>(bytes_, pos_);
    pos_ += 4;
    return d;
  }
  void AlignToDword() { pos_ = (pos_ + 3) & ~size_t{3}; }
  void Skip(size_t n) { pos_ += n; }
  // A UTF-16 string, or "#<n>" for an 0xFFFF-prefixed ordinal; the predefined control classes
  // are given by ordinal and come back as their names.
  std::string NameOrOrdinal() {
    WORD first = Word();
    if (first == 0xFFFF) {
      WORD ordinal = Word();
      static const std::map<WORD, std::string> kClasses = {{0x80, "button"},  {0x81, "edit"},      {0x82, "static"},
                                                           {0x83, "listbox"}, {0x84, "scrollbar"}, {0x85, "combobox"}};
      auto known = kClasses.find(ordinal);
      return known != kClasses.end() ? known->second : "#" + std::to_string(ordinal);
    }
    std::string text;
    for (WORD c = first; c != 0 && pos_ < bytes_.size(); c = Word()) text += static_cast<char>(c);
    return text;
  }
  bool AtEnd() const { return pos_ >= bytes_.size(); }

private:
  const std::string& bytes_;
  size_t pos_ = 0;
};

TEST_F(SetupResources, DialogTemplateIsTheFileDownloadLayout) {
  const std::string bytes = Bytes(RT_DIALOG, IDD_FILE_DOWNLOAD);
  ASSERT_FALSE(bytes.empty());
  TemplateReader in(bytes);
  ASSERT_NE(Read<DWORD>(bytes, 0), 0xFFFF0001u) << "an extended template, not a DIALOG";
  EXPECT_EQ(in.Dword(), DWORD(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_SETFOREGROUND));
  EXPECT_EQ(in.Dword(), 0u) << "extended style";
  const WORD count = in.Word();
  EXPECT_EQ(count, std::size(kControls));
  const short x = in.Word(), y = in.Word(), cx = in.Word(), cy = in.Word();
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(cx, 250);
  EXPECT_EQ(cy, 143);
  EXPECT_EQ(in.NameOrOrdinal(), "") << "menu";
  EXPECT_EQ(in.NameOrOrdinal(), "") << "class";
  EXPECT_EQ(in.NameOrOrdinal(), "File Download");
  EXPECT_EQ(in.Word(), 8) << "font size";
  EXPECT_EQ(in.NameOrOrdinal(), "MS Sans Serif");

  for (size_t i = 0; i < count && i < std::size(kControls); ++i) {
    const ControlCase& want = kControls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " (" + want.window_class + " " + std::to_string(want.id) + ")");
    in.AlignToDword();
    EXPECT_EQ(in.Dword(), want.style);
    EXPECT_EQ(in.Dword(), 0u) << "extended style";
    const short rect[4] = {short(in.Word()), short(in.Word()), short(in.Word()), short(in.Word())};
    EXPECT_EQ(rect[0], want.x);
    EXPECT_EQ(rect[1], want.y);
    EXPECT_EQ(rect[2], want.cx);
    EXPECT_EQ(rect[3], want.cy);
    EXPECT_EQ(in.Word(), WORD(want.id));
    // Class names compare without case, as the window manager does: windres stores them in
    // capitals.
    EXPECT_EQ(lstrcmpiA(in.NameOrOrdinal().c_str(), want.window_class), 0);
    EXPECT_EQ(in.NameOrOrdinal(), want.text);
    in.Skip(in.Word());  // creation data
  }
  in.AlignToDword();
  EXPECT_TRUE(in.AtEnd()) << "bytes after the last control";
}

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The template as the dialog manager builds it, and the animation opened the way the download
// dialog opens it: from the executable's resources by id.
TEST_F(SetupResources, DialogCreatesItsControlsAndTheAnimationOpensAndPlays) {
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));
  UniqueWindow dialog(CreateDialogParamA(setup(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr, PassiveDialogProc, 0));
  ASSERT_TRUE(dialog) << "error " << GetLastError();
  char text[256];
  GetWindowTextA(dialog.get(), text, sizeof text);
  EXPECT_STREQ(text, "File Download");

  HWND child = GetWindow(dialog.get(), GW_CHILD);
  for (const ControlCase& want : kControls) {
    SCOPED_TRACE(std::string(want.window_class) + " " + std::to_string(want.id));
    ASSERT_NE(child, nullptr) << "missing control";
    EXPECT_EQ(GetDlgCtrlID(child), want.id == -1 ? 0xFFFF : want.id);
    char window_class[64];
    GetClassNameA(child, window_class, sizeof window_class);
    EXPECT_EQ(lstrcmpiA(window_class, want.window_class), 0) << window_class;
    GetWindowTextA(child, text, sizeof text);
    EXPECT_STREQ(text, want.text);
    // The dialog manager converts position and size separately, so they are compared apart.
    RECT origin = {want.x, want.y, 0, 0}, size = {0, 0, want.cx, want.cy};
    ASSERT_TRUE(MapDialogRect(dialog.get(), &origin) && MapDialogRect(dialog.get(), &size));
    RECT actual;
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog.get(), reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, origin.left);
    EXPECT_EQ(actual.top, origin.top);
    EXPECT_EQ(actual.right - actual.left, size.right);
    EXPECT_EQ(actual.bottom - actual.top, size.bottom);
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr) << "more controls than the layout has";

  HWND animation = GetDlgItem(dialog.get(), IDC_ANIMATION);
  ASSERT_TRUE(SendMessageA(animation, ACM_OPENA, reinterpret_cast<WPARAM>(setup()),
                           reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI))));
  // The control takes the frame count from the file: the last frame, 32, can be played to, 33 not.
  EXPECT_TRUE(SendMessageA(animation, ACM_PLAY, 1, MAKELONG(0, 32)));
  SendMessageA(animation, ACM_STOP, 0, 0);
  EXPECT_FALSE(SendMessageA(animation, ACM_PLAY, 1, MAKELONG(0, 33)));
  SendMessageA(animation, ACM_OPENA, 0, 0);
}

// ---------------------------------------------------------------------------------------------
// Icons 137 and 149

struct IconImage {
  int size;
  bool png;  // PNG-compressed (read by Windows Vista and later); a bitmap otherwise
};
struct IconCase {
  int id;
  std::vector<IconImage> images;
};

// Every image is 32 bits per pixel with alpha. Bitmaps where Windows 2000 and XP may ask (their
// large icon, 32, for the message box; small icons of 16 to 24 for the tray), PNG beyond.
TEST_F(SetupResources, IconsHaveTheirImageSizesAndDepths) {
  const IconCase cases[] = {
      {IDI_ADMIN, {{32, false}, {40, true}, {48, true}, {64, true}, {96, true}, {128, true}}},
      {IDI_TRAY, {{16, false}, {20, false}, {24, false}, {32, true}, {40, true}, {48, true}}},
  };
  for (const IconCase& c : cases) {
    SCOPED_TRACE("icon " + std::to_string(c.id));
    const std::string group = Bytes(RT_GROUP_ICON, c.id);
    ASSERT_GE(group.size(), 6u);
    EXPECT_EQ(Read<WORD>(group, 2), 1) << "type: icon";
    const WORD count = Read<WORD>(group, 4);
    ASSERT_EQ(count, c.images.size());
    ASSERT_EQ(group.size(), 6u + 14u * count);
    for (WORD i = 0; i < count; ++i) {
      const size_t entry = 6 + 14 * i;
      const IconImage& want = c.images[i];
      SCOPED_TRACE(std::to_string(want.size) + " pixels");
      EXPECT_EQ(Read<BYTE>(group, entry + 0), want.size);
      EXPECT_EQ(Read<BYTE>(group, entry + 1), want.size);
      EXPECT_EQ(Read<BYTE>(group, entry + 2), 0) << "colour count";
      EXPECT_EQ(Read<WORD>(group, entry + 6), 32);
      const std::string image = Bytes(RT_ICON, Read<WORD>(group, entry + 12));
      ASSERT_EQ(image.size(), Read<DWORD>(group, entry + 8));
      if (want.png) {
        ASSERT_EQ(image.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
        EXPECT_EQ(_byteswap_ulong(Read<DWORD>(image, 16)), DWORD(want.size)) << "width";
        EXPECT_EQ(_byteswap_ulong(Read<DWORD>(image, 20)), DWORD(want.size)) << "height";
        EXPECT_EQ(Read<WORD>(image, 24), 0x0608) << "8-bit RGBA";
      } else {
        const auto header = Read<BITMAPINFOHEADER>(image, 0);
        EXPECT_EQ(header.biWidth, want.size);
        EXPECT_EQ(header.biHeight, 2 * want.size) << "image and mask";
        EXPECT_EQ(header.biBitCount, 32);
      }
      UniqueIcon icon(CreateIconFromResourceEx(reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
                                               static_cast<DWORD>(image.size()), TRUE, 0x00030000, want.size, want.size,
                                               LR_DEFAULTCOLOR));
      EXPECT_TRUE(icon) << "the system cannot make an icon of it";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Animation 126

struct RiffChunk {
  std::string path;  // "hdrl/strl/strh": enclosing list types, then the chunk id
  size_t data;       // offset of the chunk's data (of the list type, for a list)
  size_t size;
};

void WalkRiff(const std::string& bytes, size_t begin, size_t end, const std::string& prefix,
              std::vector<RiffChunk>& out) {
  size_t pos = begin;
  while (pos + 8 <= end) {
    const std::string id = FourCC(bytes, pos);
    const DWORD size = Read<DWORD>(bytes, pos + 4);
    if (pos + 8 + size > end) {
      out.push_back({prefix + id + "(truncated)", pos + 8, size});
      return;
    }
    if (id == "LIST") {
      const std::string type = FourCC(bytes, pos + 8);
      out.push_back({prefix + type, pos + 8, size});
      WalkRiff(bytes, pos + 12, pos + 8 + size, prefix + type + "/", out);
    } else {
      out.push_back({prefix + id, pos + 8, size});
    }
    pos += 8 + size + (size & 1);
  }
}

// The codec and GDI handles the animation tests hold.
namespace test_policy {
struct Codec : handle_policy::NullIsInvalid<HIC> {
  static void Close(HIC codec) { ICClose(codec); }
};
struct MemoryDc : handle_policy::NullIsInvalid<HDC> {
  static void Close(HDC dc) { DeleteDC(dc); }
};
struct GdiObject : handle_policy::NullIsInvalid<HGDIOBJ> {
  static void Close(HGDIOBJ object) { DeleteObject(object); }
};
}  // namespace test_policy
using UniqueCodec = UniqueAny<HIC, test_policy::Codec>;
using UniqueMemoryDc = UniqueAny<HDC, test_policy::MemoryDc>;
using UniqueGdiObject = UniqueAny<HGDIOBJ, test_policy::GdiObject>;

class Animation : public SetupResources {
protected:
  void SetUp() override {
    SetupResources::SetUp();
    avi_ = Bytes("AVI", IDR_DOWNLOAD_AVI);
    ASSERT_GE(avi_.size(), 12u);
    ASSERT_EQ(FourCC(avi_, 0), "RIFF");
    ASSERT_EQ(FourCC(avi_, 8), "AVI ");
    ASSERT_EQ(Read<DWORD>(avi_, 4) + 8, avi_.size()) << "RIFF size";
    WalkRiff(avi_, 12, avi_.size(), "", chunks_);
  }
  std::vector<const RiffChunk*> All(const std::string& path) const {
    std::vector<const RiffChunk*> found;
    for (const RiffChunk& c : chunks_)
      if (c.path == path) found.push_back(&c);
    return found;
  }
  const RiffChunk* One(const std::string& path) const {
    auto found = All(path);
    EXPECT_EQ(found.size(), 1u) << path;
    return found.size() == 1 ? found[0] : nullptr;
  }
  // The index flags of frame i.
  DWORD IndexFlags(size_t i) const {
    const RiffChunk* index = One("idx1");
    return index ? Read<DWORD>(avi_, index->data + 16 * i + 4) : 0;
  }
  // The palette as 0xRRGGBB.
  std::vector<DWORD> Palette() const {
    std::vector<DWORD> colours;
    if (const RiffChunk* strf = One("hdrl/strl/strf")) {
      const auto format = Read<BITMAPINFOHEADER>(avi_, strf->data);
      for (DWORD i = 0; i < format.biClrUsed; ++i)
        colours.push_back(Read<DWORD>(avi_, strf->data + format.biSize + 4 * i) & 0xFFFFFF);
    }
    return colours;
  }

  // The frames through the platform's video codec, as the animation control decodes them: into
  // one picture buffer that each frame's data is applied onto, frame 0 first. `shown` gets the
  // picture after each frame; `alone` each frame applied onto an unwritten buffer (0xFF, no colour
  // of the palette). Pictures are 272 x 60 palette indices, rows bottom-up.
  void Decode(std::vector<std::string>& shown, std::vector<std::string>& alone) const {
    const RiffChunk* strf = One("hdrl/strl/strf");
    ASSERT_TRUE(strf);
    std::string input_format = avi_.substr(strf->data, strf->size);
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(&input_format[0]);
    std::string output_format = input_format;  // same size and palette, uncompressed
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(&output_format[0]);
    out->biCompression = BI_RGB;
    out->biSizeImage = ((out->biWidth + 3) & ~3) * out->biHeight;

    UniqueCodec codec(ICOpen(ICTYPE_VIDEO, mmioFOURCC('m', 'r', 'l', 'e'), ICMODE_DECOMPRESS));
    ASSERT_TRUE(codec) << "no decoder for 'mrle'";
    ASSERT_EQ(ICDecompressQuery(codec.get(), in, out), ICERR_OK);
    ASSERT_EQ(ICDecompressBegin(codec.get(), in, out), ICERR_OK);
    std::string picture(out->biSizeImage, '\xFF');
    for (const RiffChunk* frame : All("movi/00dc")) {
      std::string data = avi_.substr(frame->data, frame->size);
      in->biSizeImage = frame->size;
      // Flags 0, as the control passes them for every frame.
      ASSERT_EQ(ICDecompress(codec.get(), 0, in, &data[0], out, &picture[0]), DWORD(ICERR_OK))
          << "frame " << shown.size();
      shown.push_back(picture);
      std::string blank(out->biSizeImage, '\xFF');
      ASSERT_EQ(ICDecompress(codec.get(), 0, in, &data[0], out, &blank[0]), DWORD(ICERR_OK));
      alone.push_back(blank);
    }
    ICDecompressEnd(codec.get());
  }

  std::string avi_;
  std::vector<RiffChunk> chunks_;
};

TEST_F(Animation, HeadersDescribeA272By60Rle8ClipOf33FramesAt10PerSecond) {
  const RiffChunk* avih = One("hdrl/avih");
  const RiffChunk* strh = One("hdrl/strl/strh");
  const RiffChunk* strf = One("hdrl/strl/strf");
  ASSERT_TRUE(avih && strh && strf);
  EXPECT_TRUE(One("hdrl/strl")) << "one stream only";

  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 0), 100000u) << "microseconds per frame";
  EXPECT_TRUE(Read<DWORD>(avi_, avih->data + 12) & AVIF_HASINDEX);
  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 16), 33u) << "total frames";
  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 24), 1u) << "streams";
  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 32), 272u);
  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 36), 60u);

  EXPECT_EQ(FourCC(avi_, strh->data), "vids");
  EXPECT_EQ(FourCC(avi_, strh->data + 4), "mrle");
  const DWORD scale = Read<DWORD>(avi_, strh->data + 20), rate = Read<DWORD>(avi_, strh->data + 24);
  ASSERT_NE(scale, 0u);
  EXPECT_EQ(rate / scale, 10u);
  EXPECT_EQ(rate % scale, 0u);
  EXPECT_EQ(Read<DWORD>(avi_, strh->data + 32), 33u) << "stream length";

  const auto format = Read<BITMAPINFOHEADER>(avi_, strf->data);
  EXPECT_EQ(format.biWidth, 272);
  EXPECT_EQ(format.biHeight, 60);
  EXPECT_EQ(format.biBitCount, 8);
  EXPECT_EQ(format.biCompression, DWORD(BI_RLE8));
  ASSERT_GT(format.biClrUsed, 0u);
  EXPECT_EQ(strf->size, format.biSize + 4 * format.biClrUsed) << "the palette follows the header";
}

// Frame 0 is the only key frame: the control starts every loop there, and the others code only
// what changed since the frame before. A player reads a frame into a buffer of the suggested size.
TEST_F(Animation, IndexMarksFrame0AloneAsKeyAndTheBufferFitsTheLargestFrame) {
  const auto frames = All("movi/00dc");
  EXPECT_EQ(frames.size(), 33u);
  const RiffChunk* movi = One("movi");
  const RiffChunk* index = One("idx1");
  const RiffChunk* avih = One("hdrl/avih");
  const RiffChunk* strh = One("hdrl/strl/strh");
  ASSERT_TRUE(movi && index && avih && strh);
  ASSERT_EQ(index->size, 16u * frames.size());
  DWORD largest = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const size_t entry = index->data + 16 * i;
    EXPECT_EQ(FourCC(avi_, entry), "00dc");
    EXPECT_EQ(Read<DWORD>(avi_, entry + 4), i == 0 ? DWORD(AVIIF_KEYFRAME) : 0u) << "frame " << i;
    // Offsets count from the 'movi' list type and point at the chunk header.
    EXPECT_EQ(movi->data + Read<DWORD>(avi_, entry + 8) + 8, frames[i]->data) << "frame " << i;
    EXPECT_EQ(Read<DWORD>(avi_, entry + 12), frames[i]->size) << "frame " << i;
    largest = std::max<DWORD>(largest, frames[i]->size);
  }
  EXPECT_EQ(Read<DWORD>(avi_, avih->data + 28), largest) << "main header";
  EXPECT_EQ(Read<DWORD>(avi_, strh->data + 36), largest) << "stream header";
}

TEST_F(Animation, PlayedInOrderEveryFrameChangesThePictureAndTheLoopCloses) {
  std::vector<std::string> shown, alone;
  ASSERT_NO_FATAL_FAILURE(Decode(shown, alone));
  ASSERT_EQ(shown.size(), 33u);
  const BYTE colours = static_cast<BYTE>(Palette().size());
  auto highest = [](const std::string& p) {
    return static_cast<BYTE>(*std::max_element(
        p.begin(), p.end(), [](char a, char b) { return static_cast<BYTE>(a) < static_cast<BYTE>(b); }));
  };
  for (size_t i = 0; i < shown.size(); ++i) {
    EXPECT_LT(highest(shown[i]), colours)
        << "frame " << i << " leaves pixels unwritten or uses colours outside the palette";
    if (IndexFlags(i) & AVIIF_KEYFRAME) {
      EXPECT_LT(highest(alone[i]), colours) << "key frame " << i << " does not stand alone";
    }
    if (i > 0) {
      EXPECT_TRUE(shown[i] != shown[i - 1]) << "frame " << i << " repeats the one before";
    }
  }
  // The loop restarts at key frame 0 after frame 32: the two must show the same picture.
  EXPECT_TRUE(shown.front() == shown.back()) << "the loop jumps";

  // ACS_TRANSPARENT takes the first frame's top-left pixel as the see-through colour: it must be
  // the background, which surrounds the picture.
  const std::string& first = shown.front();
  const int w = 272, h = 60;
  const char background = first[0];
  for (int x = 0; x < w; ++x) {
    EXPECT_EQ(first[x], background) << "bottom row, x " << x;
    EXPECT_EQ(first[(h - 1) * w + x], background) << "top row, x " << x;
  }
  for (int y = 0; y < h; ++y) {
    EXPECT_EQ(first[y * w], background) << "left column, y " << y;
    EXPECT_EQ(first[y * w + w - 1], background) << "right column, y " << y;
  }
}

// ---------------------------------------------------------------------------------------------
// Animation 126 in the animation control

const int kFrameWidth = 272, kFrameHeight = 60;
const DWORD kBackdrop = 0x000000;   // the parent's brush: no colour of the palette
const DWORD kUnpainted = 0x123456;  // neither a colour of the palette nor the backdrop

// The download dialog with a black background brush for its static-like children, which the
// transparent animation control paints its background with.
INT_PTR CALLBACK BlackBackdropDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_CTLCOLORSTATIC ? reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH)) : FALSE;
}

// A 32-bit top-down canvas of one frame's size that a control prints itself into.
class FrameCapture {
public:
  FrameCapture() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kFrameWidth;
    info.bmiHeader.biHeight = -kFrameHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    dc_.reset(CreateCompatibleDC(nullptr));
    pixels_ = static_cast<DWORD*>(bits);
    if (bitmap_ && dc_) SelectObject(dc_.get(), bitmap_.get());
  }
  explicit operator bool() const { return bitmap_ && dc_ && pixels_; }

  // What `control` shows now where it draws the frame (centred in the control, which may be larger),
  // 0xRRGGBB per pixel, rows from the top. A pixel the control does not paint keeps kUnpainted.
  std::vector<DWORD> Take(HWND control) {
    GdiFlush();
    std::fill(pixels_, pixels_ + kFrameWidth * kFrameHeight, kUnpainted);
    RECT client;
    GetClientRect(control, &client);
    SetViewportOrgEx(dc_.get(), -(client.right - kFrameWidth) / 2, -(client.bottom - kFrameHeight) / 2, nullptr);
    SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_.get()), PRF_CLIENT);
    GdiFlush();
    std::vector<DWORD> taken(pixels_, pixels_ + kFrameWidth * kFrameHeight);
    for (DWORD& p : taken) p &= 0xFFFFFF;
    return taken;
  }

private:
  UniqueGdiObject bitmap_;
  UniqueMemoryDc dc_;  // released before the bitmap selected into it
  DWORD* pixels_ = nullptr;
};

// A decoded picture (palette indices, rows bottom-up) as the control shows it: rows from the top,
// and with `see_through` the background colour replaced by the backdrop.
std::vector<DWORD> AsShown(const std::string& picture, const std::vector<DWORD>& palette, bool see_through) {
  const DWORD background = palette[static_cast<BYTE>(picture[(kFrameHeight - 1) * kFrameWidth])];
  std::vector<DWORD> pixels;
  for (int row = 0; row < kFrameHeight; ++row) {
    for (int x = 0; x < kFrameWidth; ++x) {
      const DWORD colour = palette.at(static_cast<BYTE>(picture[(kFrameHeight - 1 - row) * kFrameWidth + x]));
      pixels.push_back(see_through && colour == background ? kBackdrop : colour);
    }
  }
  return pixels;
}

// "" when the pictures are equal, else where they first differ and by how many pixels.
std::string Difference(const std::vector<DWORD>& got, const std::vector<DWORD>& want) {
  if (got.size() != want.size()) return "sizes differ";
  size_t differing = 0, first = 0;
  for (size_t i = got.size(); i-- > 0;)
    if (got[i] != want[i]) ++differing, first = i;
  if (!differing) return "";
  char text[160];
  wsprintfA(text, "%u pixels differ, first at x %u, row %u: shows %06X, decoded %06X", static_cast<unsigned>(differing),
            static_cast<unsigned>(first % kFrameWidth), static_cast<unsigned>(first / kFrameWidth),
            static_cast<unsigned>(got[first]), static_cast<unsigned>(want[first]));
  return text;
}

struct PlayerCase {
  const char* name;
  bool dialogs_own;  // the dialog template's control (ACS_TRANSPARENT), else a bare one
};

// Each frame drawn by the control (ACM_PLAY from = to = n draws frame n onto the control's
// picture) equals the codec's picture after frames 0..n, twice round the loop: the second round
// starts from frame 32's picture, as a looping play does.
TEST_F(Animation, TheControlStepsThroughTheDecodedFramesTwiceRound) {
  std::vector<std::string> shown, alone;
  ASSERT_NO_FATAL_FAILURE(Decode(shown, alone));
  ASSERT_EQ(shown.size(), 33u);
  const std::vector<DWORD> palette = Palette();
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS | ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));

  const PlayerCase cases[] = {{"the dialog's transparent control", true}, {"a bare control", false}};
  for (const PlayerCase& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueWindow dialog(
        CreateDialogParamA(setup(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr, BlackBackdropDialogProc, 0));
    ASSERT_TRUE(dialog);
    UniqueWindow bare;  // destroyed before its parent
    HWND control = GetDlgItem(dialog.get(), IDC_ANIMATION);
    if (!c.dialogs_own) {
      bare.reset(CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, kFrameWidth, kFrameHeight,
                                 dialog.get(), nullptr, nullptr, nullptr));
      control = bare.get();
    }
    ASSERT_TRUE(control);
    ASSERT_TRUE(SendMessageA(control, ACM_OPENA, reinterpret_cast<WPARAM>(setup()),
                             reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI))));
    FrameCapture capture;
    ASSERT_TRUE(capture);
    for (int round = 0; round < 2; ++round) {
      for (int n = 0; n < 33; ++n) {
        ASSERT_TRUE(SendMessageA(control, ACM_PLAY, 1, MAKELONG(n, n))) << "frame " << n;
        EXPECT_EQ(Difference(capture.Take(control), AsShown(shown[n], palette, c.dialogs_own)), "")
            << "round " << round << ", frame " << n;
      }
    }
    SendMessageA(control, ACM_OPENA, 0, 0);
  }
}

// Played as the download dialog plays it (from frame 0 to the last, looping until stopped), the
// control shows one of the decoded frames whenever it is looked at, and goes round the loop.
TEST_F(Animation, PlayingInALoopTheControlShowsOnlyTheDecodedFrames) {
  std::vector<std::string> shown, alone;
  ASSERT_NO_FATAL_FAILURE(Decode(shown, alone));
  ASSERT_EQ(shown.size(), 33u);
  const std::vector<DWORD> palette = Palette();
  std::vector<std::vector<DWORD>> frames;
  for (const std::string& picture : shown) frames.push_back(AsShown(picture, palette, false));
  INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_ANIMATE_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&classes));

  UniqueWindow dialog(
      CreateDialogParamA(setup(), MAKEINTRESOURCEA(IDD_FILE_DOWNLOAD), nullptr, BlackBackdropDialogProc, 0));
  ASSERT_TRUE(dialog);
  UniqueWindow control(CreateWindowExA(0, ANIMATE_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, kFrameWidth, kFrameHeight,
                                       dialog.get(), nullptr, nullptr, nullptr));
  ASSERT_TRUE(control);
  ASSERT_TRUE(SendMessageA(control.get(), ACM_OPENA, reinterpret_cast<WPARAM>(setup()),
                           reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_DOWNLOAD_AVI))));
  FrameCapture capture;
  ASSERT_TRUE(capture);
  ASSERT_TRUE(SendMessageA(control.get(), ACM_PLAY, static_cast<WPARAM>(-1), 0xFFFF0000));

  // 40 frames' time: past the end of the loop and into the next round.
  std::vector<bool> seen(frames.size());
  int looks = 0, wraps = 0, last = -1;
  for (const DWORD start = GetTickCount(); GetTickCount() - start < 4000; Sleep(25)) {
    const std::vector<DWORD> now = capture.Take(control.get());
    if (now == std::vector<DWORD>(now.size(), kUnpainted)) continue;  // nothing drawn yet
    ++looks;
    const auto match = std::find(frames.begin(), frames.end(), now);
    if (match == frames.end()) {
      const int closest = last < 0 ? 0 : last;
      ADD_FAILURE() << "look " << looks << " shows no decoded frame: " << Difference(now, frames[closest])
                    << " (against frame " << closest << ")";
      break;
    }
    const int n = static_cast<int>(match - frames.begin());  // frame 32 shows as frame 0
    seen[n] = true;
    if (n < last) ++wraps;
    last = n;
  }
  SendMessageA(control.get(), ACM_STOP, 0, 0);
  EXPECT_GE(std::count(seen.begin(), seen.end(), true), 16) << "over " << looks << " looks";
  EXPECT_GE(wraps, 1) << "the play did not go round the loop";
}

// ---------------------------------------------------------------------------------------------
// Configuration INI 135

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

// http://<server>/<directory>/<file>.exe
bool IsPackageUrl(const std::string& url) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t slash; (slash = url.find('/', start)) != std::string::npos; start = slash + 1)
    fields.push_back(url.substr(start, slash - start));
  fields.push_back(url.substr(start));
  return fields.size() == 5 && fields[0] == "http:" && fields[1].empty() && !fields[2].empty() && !fields[3].empty() &&
         fields[4].size() > 4 && fields[4].compare(fields[4].size() - 4, 4, ".exe") == 0;
}

std::string FileName(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

TEST_F(SetupResources, ConfigurationIsTheConfiguredFileFollowedByOneNul) {
  const std::string bytes = Bytes("INI", IDR_CONFIG_INI);
  const std::string file = ReadWholeFile(SETUP_CONFIG_FILE_PATH);
  ASSERT_FALSE(file.empty()) << "cannot read " << SETUP_CONFIG_FILE_PATH;
  EXPECT_EQ(bytes, file + '\0');
}

TEST_F(SetupResources, ConfigurationHasTheShippedForm) {
  const std::string bytes = Bytes("INI", IDR_CONFIG_INI);
  ASSERT_FALSE(bytes.empty());
  const std::string text = bytes.substr(0, bytes.find('\0'));
  const std::vector<std::string> lines = SplitCrLf(text);
  for (const std::string& line : lines)
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a line end other than CRLF: " << line;
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines.back(), "") << "the last line ends with CRLF";

  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "[runtime]");
  const char* keys[] = {"WebFile=", "WebFile64=", "Caption=", "CompanyNameShort="};
  for (size_t i = 0; i < std::size(keys); ++i) {
    const std::string& line = lines[3 + i];
    ASSERT_EQ(line.compare(0, strlen(keys[i]), keys[i]), 0) << "line " << 3 + i << ": " << line;
    const std::string value = line.substr(strlen(keys[i]));
    EXPECT_FALSE(value.empty()) << keys[i];
    if (i < 2) {
      EXPECT_TRUE(IsPackageUrl(value)) << value;
    }
  }
  EXPECT_EQ(lines[7], ";;;;name: " + FileName(SETUP_EXE_PATH));
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[9], "");
  EXPECT_TRUE(lines[10].size() > 2 && lines[10].front() == '[' && lines[10].back() == ']')
      << "a further section follows: " << lines[10];
  for (size_t i = 10; i < lines.size(); ++i)
    EXPECT_NE(lstrcmpiA(lines[i].c_str(), "[runtime]"), 0) << "a second runtime section at line " << i;
}

// What the installer's reader (the system's INI functions) takes from the shipped text: the four
// keys of [runtime], and neither parameters nor progressbar, which the further sections set.
TEST_F(SetupResources, ConfigurationReadsAsTheRuntimeSectionAlone) {
  const std::string bytes = Bytes("INI", IDR_CONFIG_INI);
  const std::string text = bytes.substr(0, bytes.find('\0'));
  const std::vector<std::string> lines = SplitCrLf(text);
  ASSERT_GE(lines.size(), 7u);

  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
  const std::string path = std::string(temp) + "resources_test_config.ini";
  {
    UniqueHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  }
  auto read = [&](const char* key) {
    char value[260];
    GetPrivateProfileStringA("runtime", key, "<absent>", value, sizeof value, path.c_str());
    return std::string(value);
  };
  for (int i = 3; i <= 6; ++i) {
    const std::string key = lines[i].substr(0, lines[i].find('='));
    EXPECT_EQ(read(key.c_str()), lines[i].substr(key.size() + 1)) << key;
  }
  EXPECT_EQ(read("parameters"), "<absent>");
  EXPECT_EQ(read("progressbar"), "<absent>");
  DeleteFileA(path.c_str());
}

// ---------------------------------------------------------------------------------------------
// Version block and manifest

TEST(SetupVersion, FileAndProductVersionAre6_10_18_1) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(SETUP_EXE_PATH, &ignored);
  ASSERT_NE(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(SETUP_EXE_PATH, 0, size, &block[0]));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(&block[0], "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, DWORD(MAKELONG(10, 6)));
  EXPECT_EQ(fixed->dwFileVersionLS, DWORD(MAKELONG(1, 18)));
  EXPECT_EQ(fixed->dwProductVersionMS, DWORD(MAKELONG(10, 6)));
  EXPECT_EQ(fixed->dwProductVersionLS, DWORD(MAKELONG(1, 18)));

  auto text = [&](const char* name) {
    char* value = nullptr;
    UINT chars = 0;
    std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(&block[0], query.c_str(), reinterpret_cast<void**>(&value), &chars) || !value)
      return std::string("<absent>");
    return std::string(value);
  };
  EXPECT_EQ(text("FileVersion"), "6.10.18.01");
  EXPECT_EQ(text("ProductVersion"), "6.10.18.01");
  for (const char* name : {"CompanyName", "FileDescription", "ProductName"}) {
    EXPECT_NE(text(name), "<absent>") << name;
    EXPECT_NE(text(name), "") << name;
  }
}

// The value of attribute `name` in the first element `<tag ...>` of `xml` that contains `marker`.
std::string Attribute(const std::string& xml, const std::string& tag, const std::string& marker,
                      const std::string& name) {
  for (size_t start = 0; (start = xml.find("<" + tag, start)) != std::string::npos; ++start) {
    const std::string element = xml.substr(start, xml.find('>', start) - start);
    if (element.find(marker) == std::string::npos) continue;
    const size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos) return "<absent>";
    const size_t value = at + name.size() + 3;
    return element.substr(value, element.find('"', value) - value);
  }
  return "<no element>";
}

TEST_F(SetupResources, ManifestAsksForAdministratorAndCommonControls6) {
  const std::string xml = Bytes(RT_MANIFEST, 1);  // the process manifest
  ASSERT_FALSE(xml.empty());
  struct Want {
    const char* tag;
    const char* marker;
    const char* attribute;
    const char* value;
  };
  const Want wants[] = {
      {"assemblyIdentity", "5.6.0.0", "processorArchitecture", "x86"},
      {"assemblyIdentity", "5.6.0.0", "type", "win32"},
      {"assemblyIdentity", "Common-Controls", "name", "Microsoft.Windows.Common-Controls"},
      {"assemblyIdentity", "Common-Controls", "version", "6.0.0.0"},
      {"assemblyIdentity", "Common-Controls", "processorArchitecture", "x86"},
      {"assemblyIdentity", "Common-Controls", "publicKeyToken", "6595b64144ccf1df"},
      {"assemblyIdentity", "Common-Controls", "language", "*"},
      {"assemblyIdentity", "Common-Controls", "type", "win32"},
      {"requestedExecutionLevel", "", "level", "requireAdministrator"},
      {"requestedExecutionLevel", "", "uiAccess", "false"},
  };
  for (const Want& w : wants)
    EXPECT_EQ(Attribute(xml, w.tag, w.marker, w.attribute), w.value) << w.tag << " " << w.attribute;
  // The product's own identity is the first one, before the dependency.
  EXPECT_EQ(Attribute(xml, "assemblyIdentity", "", "version"), "5.6.0.0");
  EXPECT_NE(xml.find("<description>Quillmoor Installer</description>"), std::string::npos);
  // Crisp at every scale: per-monitor (v2) where Windows 10 1703 and later offer it, system-aware
  // on Windows 10 1607 and on Vista to Windows 10 1511, which read only dpiAware.
  EXPECT_NE(xml.find(">true</dpiAware>"), std::string::npos);
  EXPECT_NE(xml.find(">PerMonitorV2, System</dpiAwareness>"), std::string::npos);
  EXPECT_EQ(xml.find("supportedOS"), std::string::npos) << "it would change the version probe";
}

// ---------------------------------------------------------------------------------------------
// The set as a whole

TEST_F(SetupResources, HoldsExactlyTheProductsResourcesAllInUsEnglish) {
  std::vector<std::string> found;
  std::map<WORD, std::vector<std::string>> translations;  // string table blocks by LANGID
  int icon_images = 0;
  for (const ResourceEntry& e : ListResources(setup())) {
    if (e.type == "#6" && e.language != MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
      translations[e.language].push_back(e.name);
      continue;
    }
    EXPECT_EQ(e.language, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) << e.type << " " << e.name;
    if (e.type == "#3")
      ++icon_images;  // RT_ICON images are numbered by the resource compiler
    else
      found.push_back(e.type + " " + e.name);
  }
  std::sort(found.begin(), found.end());
  const std::vector<std::string> expected = {
      "#14 #137",  // RT_GROUP_ICON
      "#14 #149",
      "#16 #1",   // RT_VERSION
      "#24 #1",   // RT_MANIFEST
      "#5 #124",  // RT_DIALOG
      "#6 #11",   // RT_STRING blocks: ids 160-175, 96-111, 112-127, 128-143
      "#6 #7",    "#6 #8", "#6 #9", "AVI #126", "INI #135",
  };
  EXPECT_EQ(found, expected);
  EXPECT_EQ(translations.size(), SETUP_LANGUAGE_COUNT) << "English only, unless SETUP_LANGUAGES compiled some in";
  // A translation (res/lang) has every block of the English table and nothing else.
  for (auto& t : translations) {
    std::sort(t.second.begin(), t.second.end());
    EXPECT_EQ(t.second, std::vector<std::string>({"#11", "#7", "#8", "#9"})) << "language 0x" << std::hex << t.first;
  }
  EXPECT_EQ(icon_images, 12);
}

}  // namespace
