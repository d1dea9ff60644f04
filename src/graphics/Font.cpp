#include "Font.h"

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <hb.h>
#include <pthread.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "io/System.h"
#include "quillmark/errors/Error.h"
#include "quillmark/errors/ErrorNumbers.h"
#include "quillmark/graphics/DeviceContext.h"
#include "quillmark/values/Text.h"

namespace qm::font {
namespace {

constexpr const char* kDefaultFace = "DejaVu Sans";
constexpr std::size_t kMaxFaces = 8;                            // names kept in the cache
constexpr std::size_t kMaxFileBytes = std::size_t{128} << 20;   // one font file
constexpr std::size_t kMaxCacheBytes = std::size_t{256} << 20;  // all the cached files

std::string Quote(std::string_view name) { return "'" + std::string(name) + "'"; }

// FreeType's memory: the C heap.
void* FtAlloc(FT_Memory, long size) { return std::malloc(static_cast<std::size_t>(size)); }
void FtFree(FT_Memory, void* block) { std::free(block); }
void* FtRealloc(FT_Memory, long, long size, void* block) { return std::realloc(block, static_cast<std::size_t>(size)); }

// One font file, loaded into memory (read through io::sys) and opened by
// FreeType for outlines and by HarfBuzz for shaping.
struct Face {
  std::string Path;
  int Index = 0;
  std::unique_ptr<unsigned char[]> Bytes;
  std::size_t Size = 0;
  FT_Face Ft = nullptr;
  hb_face_t* HbFace = nullptr;
  hb_font_t* HbFont = nullptr;

  Face() = default;
  Face(const Face&) = delete;
  Face& operator=(const Face&) = delete;
  ~Face() {
    if (HbFont) hb_font_destroy(HbFont);
    if (HbFace) hb_face_destroy(HbFace);
    if (Ft) FT_Done_Face(Ft);
  }
};

struct Entry {
  std::string Name;  // as asked for
  std::shared_ptr<Face> Loaded;
};

// The process's faces. Never destroyed: a thread may still draw at exit.
struct Engine {
  std::mutex Lock;
  FT_MemoryRec_ Memory{nullptr, FtAlloc, FtFree, FtRealloc};
  FT_Library Library = nullptr;
  std::list<Entry> Recent;  // most recently used first
};

Engine& TheEngine() {
  alignas(Engine) static unsigned char room[sizeof(Engine)];
  static Engine* const engine = [] {
    Engine* made = ::new (room) Engine();
    // FT_Init_FreeType would also read FREETYPE_PROPERTIES from the
    // environment; the library is made without it, with the defaults.
    if (FT_New_Library(&made->Memory, &made->Library) == 0) {
      FT_Add_Default_Modules(made->Library);
      FT_Bool noDarkening = 1;
      for (const char* module : {"cff", "type1", "t1cid", "autofitter"})
        FT_Property_Set(made->Library, module, "no-stem-darkening", &noDarkening);
    }
    ::pthread_atfork([] { TheEngine().Lock.lock(); }, [] { TheEngine().Lock.unlock(); },
                     [] { TheEngine().Lock.unlock(); });
    return made;
  }();
  return *engine;
}

void ReadFontFile(Face& face) {
  const char* path = face.Path.c_str();
  const int fd = io::sys::Open(path, O_RDONLY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) RaiseWithDetail(ERR_FileNotFound, "font file " + Quote(face.Path));
    if (error == EACCES) RaiseWithDetail(ERR_PermissionDenied, "font file " + Quote(face.Path));
    RaiseWithDetail(ERR_PathFileAccess, "font file " + Quote(face.Path) + ": " + std::strerror(error));
  }
  struct Closer {
    int Fd;
    ~Closer() { io::sys::Close(Fd); }
  } closer{fd};
  struct stat info {};
  if (io::sys::Fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    RaiseWithDetail(ERR_PathFileAccess, "font file " + Quote(face.Path) + " is not a regular file");
  if (info.st_size <= 0 || static_cast<std::uint64_t>(info.st_size) > kMaxFileBytes)
    RaiseWithDetail(ERR_InvalidProcedureCall, "font file " + Quote(face.Path) + " is empty or larger than 128 MiB");
  face.Size = static_cast<std::size_t>(info.st_size);
  face.Bytes = std::make_unique_for_overwrite<unsigned char[]>(face.Size);
  if (io::sys::ReadFull(fd, face.Bytes.get(), face.Size) != static_cast<ssize_t>(face.Size))
    RaiseWithDetail(ERR_PathFileAccess, "font file " + Quote(face.Path) + " could not be read whole");
}

std::shared_ptr<Face> LoadFace(Engine& engine, std::string path, int index) {
  auto face = std::make_shared<Face>();
  face->Path = std::move(path);
  face->Index = index;
  ReadFontFile(*face);
  if (!engine.Library) Raise(ERR_OutOfMemory);
  if (FT_New_Memory_Face(engine.Library, face->Bytes.get(), static_cast<FT_Long>(face->Size), index, &face->Ft) != 0 ||
      !FT_IS_SCALABLE(face->Ft))
    RaiseWithDetail(ERR_InvalidProcedureCall, Quote(face->Path) + " is no scalable font");
  hb_blob_t* blob = hb_blob_create(reinterpret_cast<const char*>(face->Bytes.get()), static_cast<unsigned>(face->Size),
                                   HB_MEMORY_MODE_READONLY, nullptr, nullptr);
  face->HbFace = hb_face_create(blob, static_cast<unsigned>(index) & 0xFFFF);
  hb_blob_destroy(blob);
  face->HbFont = hb_font_create(face->HbFace);
  if (const int instance = index >> 16; instance > 0)
    hb_font_set_var_named_instance(face->HbFont, static_cast<unsigned>(instance - 1));
  return face;
}

// Family names compare as fontconfig compares them: without regard to case
// or blanks.
bool SameFamily(const char* a, const char* b) {
  for (;;) {
    while (*a == ' ') ++a;
    while (*b == ' ') ++b;
    if (!*a || !*b) return !*a && !*b;
    if (std::tolower(static_cast<unsigned char>(*a++)) != std::tolower(static_cast<unsigned char>(*b++))) return false;
  }
}

bool Generic(const FcChar8* family) {
  for (const char* generic : {"sans-serif", "sans", "serif", "monospace", "mono"})
    if (FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(generic)) == 0) return true;
  return false;
}

bool HasFamily(FcPattern* font, const std::string& family) {
  FcChar8* each = nullptr;
  for (int i = 0; FcPatternGetString(font, FC_FAMILY, i, &each) == FcResultMatch; ++i)
    if (SameFamily(reinterpret_cast<const char*>(each), family.c_str())) return true;
  return false;
}

std::pair<std::string, int> FileOf(FcPattern* font) {
  FcChar8* file = nullptr;
  int index = 0;
  if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) return {};
  FcPatternGetInteger(font, FC_INDEX, 0, &index);
  return {reinterpret_cast<const char*>(file), index};
}

// The file and index of the installed face `name` names (fontconfig's
// syntax); 53 when no installed face has the family asked for.
std::pair<std::string, int> FindInstalled(std::string_view name) {
  using Pattern = std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)>;
  const std::string text(name);
  Pattern pattern(FcNameParse(reinterpret_cast<const FcChar8*>(text.c_str())), FcPatternDestroy);
  if (!pattern) RaiseWithDetail(ERR_InvalidProcedureCall, "not a font name: " + Quote(name));
  FcChar8* asked = nullptr;
  const std::string family = FcPatternGetString(pattern.get(), FC_FAMILY, 0, &asked) == FcResultMatch
                                 ? reinterpret_cast<const char*>(asked)
                                 : std::string();
  // Only the file matters: the other properties fontconfig adds (hinting,
  // anti-aliasing, emboldening) are never used.
  FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());
  FcResult result = FcResultNoMatch;
  std::pair<std::string, int> found;
  const Pattern match(FcFontMatch(nullptr, pattern.get(), &result), FcPatternDestroy);
  if (match &&
      (family.empty() || Generic(reinterpret_cast<const FcChar8*>(family.c_str())) || HasFamily(match.get(), family))) {
    found = FileOf(match.get());
  } else if (FcFontSet* sorted = FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result)) {
    // The best match is another family (the configuration prefers another
    // face for it, or has none): the best face of that family, if any.
    for (int i = 0; i < sorted->nfont && found.first.empty(); ++i)
      if (HasFamily(sorted->fonts[i], family)) found = FileOf(sorted->fonts[i]);
    FcFontSetDestroy(sorted);
  }
  if (found.first.empty()) RaiseWithDetail(ERR_FileNotFound, "no installed font face is named " + Quote(name));
  return found;
}

// Under the engine's lock: the face `name` names, from the cache or loaded
// into it.
Face& FaceNamed(Engine& engine, std::string_view name) {
  auto& recent = engine.Recent;
  for (auto it = recent.begin(); it != recent.end(); ++it) {
    if (it->Name != name) continue;
    recent.splice(recent.begin(), recent, it);
    return *recent.front().Loaded;
  }
  auto [path, index] = name.find('/') != std::string_view::npos
                           ? std::pair<std::string, int>(std::string(name), 0)
                           : FindInstalled(name.empty() ? std::string_view(kDefaultFace) : name);
  std::shared_ptr<Face> face;
  for (const Entry& entry : recent)
    if (entry.Loaded->Path == path && entry.Loaded->Index == index) face = entry.Loaded;
  if (!face) face = LoadFace(engine, std::move(path), index);
  recent.push_front(Entry{std::string(name), std::move(face)});
  // Bounded: the least recently used names go, and with them faces no other
  // name shares.
  const auto bytes = [&] {
    std::size_t sum = 0;
    std::vector<const Face*> seen;
    for (const Entry& entry : recent) {
      if (std::find(seen.begin(), seen.end(), entry.Loaded.get()) != seen.end()) continue;
      seen.push_back(entry.Loaded.get());
      sum += entry.Loaded->Size;
    }
    return sum;
  };
  while (recent.size() > 1 && (recent.size() > kMaxFaces || bytes() > kMaxCacheBytes)) recent.pop_back();
  return *recent.front().Loaded;
}

// A glyph of a shaped line, its origin in 26.6 pixels from the line's origin
// (y up).
struct Glyph {
  unsigned Index;
  std::int64_t X, Y;
};

struct Line {
  std::vector<Glyph> Glyphs;
  std::int64_t Advance = 0;  // 26.6 pixels
};

struct Layout {
  std::vector<Line> Lines;
  double Ascent = 0, Descent = 0;  // pixels, the line gap in Descent
  double LineHeight() const { return Ascent + Descent; }
  double Width() const {
    std::int64_t widest = 0;
    for (const Line& line : Lines) widest = std::max(widest, line.Advance);
    return static_cast<double>(widest) / 64;
  }
};

std::int32_t Scale(double size) {
  if (!std::isfinite(size) || size < 0 || size > kMaxSize)
    RaiseWithDetail(ERR_InvalidProcedureCall, "a text size must be from 0 to 10000 pixels");
  return static_cast<std::int32_t>(std::lround(size * 64));
}

// Appends the glyphs of text[start, end) of one script to `line`.
void ShapeRun(hb_font_t* font, hb_buffer_t* buffer, const std::u32string& text, std::size_t start, std::size_t end,
              hb_script_t script, Line& line) {
  hb_buffer_clear_contents(buffer);
  hb_buffer_add_utf32(buffer, reinterpret_cast<const std::uint32_t*>(text.data()), static_cast<int>(text.size()),
                      static_cast<unsigned>(start), static_cast<int>(end - start));
  hb_direction_t direction = hb_script_get_horizontal_direction(script);
  if (direction == HB_DIRECTION_INVALID) direction = HB_DIRECTION_LTR;
  hb_buffer_set_direction(buffer, direction);
  hb_buffer_set_script(buffer, script);
  // No language: the default language system, never the process's locale.
  // The shapers are named, so HB_SHAPER_LIST in the environment picks none.
  static const char* const kShapers[] = {"ot", "fallback", nullptr};
  hb_shape_full(font, buffer, nullptr, 0, kShapers);
  unsigned count = 0;
  const hb_glyph_info_t* infos = hb_buffer_get_glyph_infos(buffer, &count);
  const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
  for (unsigned i = 0; i < count; ++i) {
    line.Glyphs.push_back(Glyph{infos[i].codepoint, line.Advance + positions[i].x_offset, positions[i].y_offset});
    line.Advance += positions[i].x_advance;
  }
}

// Shapes each line of `text` in runs of one script (characters common to
// all scripts, spaces and digits, go with the run they are in).
Layout Shape(Face& face, std::string_view utf8, std::int32_t scale) {
  const std::u32string text = DecodeUtf8Text(utf8, InvalidUtf8::Refuse);
  Layout layout;
  hb_font_set_scale(face.HbFont, scale, scale);
  hb_font_extents_t extents{};
  hb_font_get_h_extents(face.HbFont, &extents);
  // A font's odd metrics are kept within reason: a line is never taller than 4 em.
  const double em = scale / 64.0;
  layout.Ascent = std::clamp(extents.ascender / 64.0, 0.0, 4 * em);
  layout.Descent = std::clamp((extents.line_gap - extents.descender) / 64.0, 0.0, 4 * em - layout.Ascent);

  using Buffer = std::unique_ptr<hb_buffer_t, decltype(&hb_buffer_destroy)>;
  const Buffer buffer(hb_buffer_create(), hb_buffer_destroy);
  hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
  std::size_t lineStart = 0;
  for (;;) {
    std::size_t lineEnd = text.find(U'\n', lineStart);
    if (lineEnd == std::u32string::npos) lineEnd = text.size();
    Line& line = layout.Lines.emplace_back();
    std::size_t runStart = lineStart;
    hb_script_t runScript = HB_SCRIPT_COMMON;
    for (std::size_t i = lineStart; i < lineEnd; ++i) {
      const hb_script_t script = hb_unicode_script(unicode, text[i]);
      if (script == HB_SCRIPT_COMMON || script == HB_SCRIPT_INHERITED || script == HB_SCRIPT_UNKNOWN ||
          script == runScript)
        continue;
      if (runScript != HB_SCRIPT_COMMON) {
        ShapeRun(face.HbFont, buffer.get(), text, runStart, i, runScript, line);
        runStart = i;
      }
      runScript = script;
    }
    std::size_t runEnd = lineEnd;
    if (runEnd > runStart && text[runEnd - 1] == U'\r') --runEnd;  // a CR LF line break
    if (runEnd > runStart) ShapeRun(face.HbFont, buffer.get(), text, runStart, runEnd, runScript, line);
    if (lineEnd == text.size()) break;
    lineStart = lineEnd + 1;
  }
  return layout;
}

// Where the spans of one glyph go: the pixel of raster column x, scanline y
// is (Column + x, Row - y - 1).
struct SpanTarget {
  Bitmap* Pixels;
  std::int64_t Column, Row;
  Rgb Colour;
};

void BlendSpans(int y, int count, const FT_Span* spans, void* user) {
  const SpanTarget& target = *static_cast<const SpanTarget*>(user);
  Bitmap& bitmap = *target.Pixels;
  const std::int64_t row = target.Row - y - 1;
  if (row < 0 || row >= bitmap.Height()) return;
  std::uint8_t* pixels = bitmap.Row(static_cast<std::int32_t>(row));
  const std::uint8_t colour[3] = {target.Colour.B, target.Colour.G, target.Colour.R};
  for (int s = 0; s < count; ++s) {
    const unsigned coverage = spans[s].coverage;
    const std::int64_t from = std::max<std::int64_t>(target.Column + spans[s].x, 0);
    const std::int64_t to = std::min<std::int64_t>(target.Column + spans[s].x + spans[s].len, bitmap.Width());
    for (std::int64_t x = from; x < to; ++x) {
      std::uint8_t* p = pixels + 3 * x;
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>((p[c] * (255 - coverage) + colour[c] * coverage + 127) / 255);
    }
  }
}

// Draws glyph `index` with its origin at (x, y) in canvas coordinates
// (pixel centres at whole numbers, y down).
void DrawGlyph(Engine& engine, Face& face, unsigned index, double x, double y, Bitmap& bitmap, Rgb colour) {
  if (!(std::fabs(x) < 1e12 && std::fabs(y) < 1e12)) return;
  // No hinting and no embedded bitmaps: the outline as designed, the same on
  // every machine.
  if (FT_Load_Glyph(face.Ft, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
      face.Ft->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
    return;
  FT_Outline& outline = face.Ft->glyph->outline;
  // The whole-pixel part goes into the span target, the fraction into the
  // outline (placed at pixel edges: a centre is half a pixel in).
  const double ex = x + 0.5, ey = y + 0.5;
  const double column = std::floor(ex), row = std::floor(ey);
  FT_Outline_Translate(&outline, std::lround((ex - column) * 64), -std::lround((ey - row) * 64));
  FT_BBox box{};
  FT_Outline_Get_CBox(&outline, &box);
  constexpr FT_Pos kFar = FT_Pos{1} << 30;  // 2^24 pixels in 26.6: no real glyph
  if (box.xMin < -kFar || box.yMin < -kFar || box.xMax > kFar || box.yMax > kFar) return;
  SpanTarget target{&bitmap, static_cast<std::int64_t>(column), static_cast<std::int64_t>(row), colour};
  // Only the part on the canvas is rasterised, and spans' x fit 16 bits.
  constexpr std::int64_t kSpanLimit = 32000;
  const std::int64_t xMin = std::max({box.xMin >> 6, -target.Column, -kSpanLimit});
  const std::int64_t xMax = std::min({(box.xMax + 63) >> 6, bitmap.Width() - target.Column, kSpanLimit});
  const std::int64_t yMin = std::max({box.yMin >> 6, target.Row - bitmap.Height(), -kSpanLimit});
  const std::int64_t yMax = std::min({(box.yMax + 63) >> 6, target.Row, kSpanLimit});
  if (xMin >= xMax || yMin >= yMax) return;
  FT_Raster_Params params{};
  params.source = &outline;
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = BlendSpans;
  params.user = &target;
  params.clip_box = FT_BBox{xMin, yMin, xMax, yMax};
  FT_Outline_Render(engine.Library, &outline, &params);
}

}  // namespace

void CheckFace(std::string_view name) {
  Engine& engine = TheEngine();
  std::lock_guard lock(engine.Lock);
  FaceNamed(engine, name);
}

TextExtent Measure(std::string_view name, std::string_view text, double size) {
  const std::int32_t scale = Scale(size);
  Engine& engine = TheEngine();
  std::lock_guard lock(engine.Lock);
  const Layout layout = Shape(FaceNamed(engine, name), text, scale);
  return TextExtent{layout.Width(), layout.LineHeight() * static_cast<double>(layout.Lines.size()), layout.Ascent,
                    layout.Descent};
}

void Draw(Bitmap& bitmap, std::string_view name, std::string_view text, double size, double x, double y,
          TextAlign alignment, Rgb colour) {
  if (!std::isfinite(x) || !std::isfinite(y))
    RaiseWithDetail(ERR_InvalidProcedureCall, "a coordinate is not a finite number");
  const std::int32_t scale = Scale(size);
  Engine& engine = TheEngine();
  std::lock_guard lock(engine.Lock);
  Face& face = FaceNamed(engine, name);
  const Layout layout = Shape(face, text, scale);
  if (scale == 0 || bitmap.Width() == 0 || bitmap.Height() == 0) return;
  FT_Set_Char_Size(face.Ft, 0, scale, 72, 72);
  const double height = layout.LineHeight() * static_cast<double>(layout.Lines.size());
  double top = y;
  switch (alignment.Down) {
    case VAlign::Top: break;
    case VAlign::Middle: top = y - height / 2; break;
    case VAlign::Baseline: top = y - layout.Ascent; break;
    case VAlign::Bottom: top = y - height; break;
  }
  for (std::size_t i = 0; i < layout.Lines.size(); ++i) {
    const Line& line = layout.Lines[i];
    const double advance = static_cast<double>(line.Advance) / 64;
    double left = x;
    if (alignment.Across == HAlign::Centre) left = x - advance / 2;
    else if (alignment.Across == HAlign::Right) left = x - advance;
    const double baseline = top + layout.Ascent + layout.LineHeight() * static_cast<double>(i);
    for (const Glyph& glyph : line.Glyphs)
      DrawGlyph(engine, face, glyph.Index, left + static_cast<double>(glyph.X) / 64,
                baseline - static_cast<double>(glyph.Y) / 64, bitmap, colour);
  }
}

}  // namespace qm::font
