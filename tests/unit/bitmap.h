// A memory device context on a 32-bit top-down DIB section: the drawers paint
// into it exactly as into a window, and a test reads the pixels straight back.
#pragma once
#include <windows.h>

struct TestBitmap {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previousBitmap;
    DWORD *bits;   // 0x00RRGGBB, top row first
    int width, height;
};

// Makes the bitmap, selects it into a new memory DC and fills it with the
// background COLORREF. Returns 0 on failure.
int CreateTestBitmap(TestBitmap *bitmap, int width, int height, COLORREF background);

// The pixel at (x, y) as a COLORREF, or CLR_INVALID outside the bitmap.
COLORREF TestPixel(TestBitmap *bitmap, int x, int y);

void DestroyTestBitmap(TestBitmap *bitmap);
