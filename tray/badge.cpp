// The figures come from two tiny bitmap fonts of the program's own, not
// from a typeface: at 16 pixels no font Windows has stays legible, and a
// pixel font looks the same on every system and under every scaling.
#include "tray/badge.h"

#include <string.h>

#include "base/appstate.h"
#include "base/text.h"

namespace {

// The characters a badge can show, in the order of the fonts' glyphs.
const char BADGE_CHARACTERS[] = "123456789+";
const int GLYPHS = sizeof BADGE_CHARACTERS - 1;

// One row of a glyph per byte, its leftmost pixel in the highest used bit.
struct Font {
  int width;
  int height;
  unsigned char rows[GLYPHS][7];
};

// For the 16- and 20-pixel icons (100 % and 125 %).
const Font SMALL_FONT = {3,
                         5,
                         {
                             {2, 6, 2, 2, 7},  // 1
                             {7, 1, 7, 4, 7},  // 2
                             {7, 1, 7, 1, 7},  // 3
                             {5, 5, 7, 1, 1},  // 4
                             {7, 4, 7, 1, 7},  // 5
                             {7, 4, 7, 5, 7},  // 6
                             {7, 1, 1, 2, 2},  // 7
                             {7, 5, 7, 5, 7},  // 8
                             {7, 5, 7, 1, 7},  // 9
                             {0, 2, 7, 2, 0},  // +
                         }};

// For 24 pixels and more (150 % and up).
const Font LARGE_FONT = {5,
                         7,
                         {
                             {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
                             {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
                             {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
                             {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
                             {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
                             {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
                             {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
                             {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
                             {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
                             {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00},  // +
                         }};

const int SMALL_FONT_BELOW = 24;  // pixels of the icon
const int DOUBLED_FROM = 40;      // from 250 %, each font pixel is drawn 2 x 2

void putPixel(DWORD* pixels, int size, int x, int y, DWORD colour) {
  if (x >= 0 && y >= 0 && x < size && y < size) pixels[y * size + x] = colour;
}

// A font pixel of scale x scale icon pixels.
void putDot(DWORD* pixels, int size, int x, int y, int scale, DWORD colour) {
  for (int dy = 0; dy < scale; dy++)
    for (int dx = 0; dx < scale; dx++) putPixel(pixels, size, x + dx, y + dy, colour);
}

void drawGlyph(DWORD* pixels, int size, const Font& font, int glyph, int left, int top, int scale) {
  for (int row = 0; row < font.height; row++)
    for (int column = 0; column < font.width; column++)
      if (font.rows[glyph][row] >> (font.width - 1 - column) & 1)
        putDot(pixels, size, left + column * scale, top + row * scale, scale, BADGE_FIGURE_COLOUR);
}

}  // namespace

// A rectangle one font pixel wider than the figures on every side, its
// corners cut, in the corner of the icon where the cat has only its paw.
void drawBadge(DWORD* pixels, int size, DWORD count) {
  const Font& font = size < SMALL_FONT_BELOW ? SMALL_FONT : LARGE_FONT;
  int scale = size >= DOUBLED_FROM ? 2 : 1;
  char text[3] = {0, 0, 0};
  if (count > MOST_BADGE_FIGURE) {
    text[0] = '0' + MOST_BADGE_FIGURE;
    text[1] = '+';
  } else {
    text[0] = (char)('0' + count);
  }
  int characters = (int)strlen(text);
  int width = (characters * (font.width + 1) + 1) * scale;
  int height = (font.height + 2) * scale;
  int left = size - width;
  int top = size - height;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      int cornerX = x < scale || x >= width - scale;
      int cornerY = y < scale || y >= height - scale;
      if (!(cornerX && cornerY)) putPixel(pixels, size, left + x, top + y, BADGE_COLOUR);
    }
  for (int i = 0; i < characters; i++) {
    const char* found = strchr(BADGE_CHARACTERS, text[i]);
    if (found == NULL) continue;
    drawGlyph(pixels, size, font, (int)(found - BADGE_CHARACTERS),
              left + (1 + i * (font.width + 1)) * scale, top + scale, scale);
  }
}

namespace {

// The picture of the icon as 0xAARRGGBB: the 16-colour icons carry no
// alpha, so their mask says which pixels are transparent. A two-colour
// icon (the blink's empty picture) is transparent all over.
int readIcon(HICON icon, int size, DWORD* pixels, DWORD* mask) {
  ICONINFO info;
  if (!GetIconInfo(icon, &info)) return 0;
  BITMAPINFO format;
  memset(&format, 0, sizeof format);
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = size;
  format.bmiHeader.biHeight = -size;  // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(NULL);
  int read = info.hbmColor == NULL ||
             (GetDIBits(screen, info.hbmColor, 0, size, pixels, &format, DIB_RGB_COLORS) == size &&
              GetDIBits(screen, info.hbmMask, 0, size, mask, &format, DIB_RGB_COLORS) == size);
  ReleaseDC(NULL, screen);
  if (info.hbmColor != NULL) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  if (!read) return 0;
  int count = size * size;
  if (info.hbmColor == NULL) {
    memset(pixels, 0, count * sizeof pixels[0]);
    return 1;
  }
  int hasAlpha = 0;
  for (int i = 0; i < count; i++) hasAlpha |= (pixels[i] >> 24) != 0;
  for (int i = 0; !hasAlpha && i < count; i++)
    pixels[i] = (mask[i] & 0xFFFFFF) != 0 ? 0 : pixels[i] | 0xFF000000u;
  return 1;
}

// One bit a pixel, 1 where the picture is transparent; rows padded to
// whole 16-bit words, as CreateBitmap wants them.
void makeMask(const DWORD* pixels, int size, unsigned char* bits, int stride) {
  memset(bits, 0, (size_t)stride * size);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++)
      if ((pixels[y * size + x] >> 24) == 0)
        bits[y * stride + x / 8] |= (unsigned char)(0x80 >> x % 8);
}

}  // namespace

HICON makeBadgedIcon(const char* iconName, int size, DWORD count) {
  const int MOST_SIZE = 256;
  if (size <= 0 || size > MOST_SIZE) return NULL;
  HICON picture =
      (HICON)LoadImageW(app.appInstance, wide(iconName).text, IMAGE_ICON, size, size, LR_SHARED);
  if (picture == NULL) return NULL;

  BITMAPINFO format;
  memset(&format, 0, sizeof format);
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = size;
  format.bmiHeader.biHeight = -size;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  void* bits = NULL;
  HBITMAP colour = CreateDIBSection(NULL, &format, DIB_RGB_COLORS, &bits, NULL, 0);
  if (colour == NULL) return NULL;
  DWORD* pixels = (DWORD*)bits;
  // The mask's pixels while reading, then its bits.
  DWORD* work = (DWORD*)LocalAlloc(LMEM_ZEROINIT, (size_t)size * size * sizeof(DWORD));
  HICON icon = NULL;
  if (work != NULL && readIcon(picture, size, pixels, work)) {
    drawBadge(pixels, size, count);
    int stride = (size + 15) / 16 * 2;
    makeMask(pixels, size, (unsigned char*)work, stride);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, work);
    if (mask != NULL) {
      ICONINFO info = {TRUE, 0, 0, mask, colour};
      icon = CreateIconIndirect(&info);
      DeleteObject(mask);
    }
  }
  if (work != NULL) LocalFree(work);
  DeleteObject(colour);
  return icon;
}
