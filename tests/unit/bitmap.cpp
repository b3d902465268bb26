// Memory bitmaps for the drawing tests.
#include "bitmap.h"

// DIB memory holds blue in the low byte; COLORREF holds red there.
static DWORD SwapRedBlue(DWORD colour)
{
    return ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
}

int CreateTestBitmap(TestBitmap *bitmap, int width, int height, COLORREF background)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;   // negative: top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    void *bits = 0;
    bitmap->dc = CreateCompatibleDC(0);
    bitmap->bitmap = CreateDIBSection(bitmap->dc, &info, DIB_RGB_COLORS, &bits, 0, 0);
    if (!bitmap->dc || !bitmap->bitmap)
        return 0;
    bitmap->previousBitmap = SelectObject(bitmap->dc, bitmap->bitmap);
    bitmap->bits = (DWORD *)bits;
    bitmap->width = width;
    bitmap->height = height;
    for (int k = 0; k < width * height; k++)
        bitmap->bits[k] = SwapRedBlue(background);
    return 1;
}

COLORREF TestPixel(TestBitmap *bitmap, int x, int y)
{
    if (x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
        return CLR_INVALID;
    // GDI may batch drawing calls; the bits are only current after a flush.
    GdiFlush();
    return SwapRedBlue(bitmap->bits[y * bitmap->width + x] & 0xFFFFFF);
}

void DestroyTestBitmap(TestBitmap *bitmap)
{
    SelectObject(bitmap->dc, bitmap->previousBitmap);
    DeleteObject(bitmap->bitmap);
    DeleteDC(bitmap->dc);
}
