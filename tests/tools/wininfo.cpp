// A small Windows console tool for the end-to-end tests: reads from inside
// Wine what X cannot show, such as a message box's text or a window's
// rectangle in Windows' own coordinates.
//   wininfo box CAPTION     number of message boxes with that caption, then the first one's text
//   wininfo ok CAPTION      presses OK on the first such box
//   wininfo rect TITLE      the top-level window's rectangle: left top right bottom
#include <windows.h>
#include <stdio.h>
#include <string.h>

static const char DialogClass[] = "#32770";
static const int MessageBoxTextId = 0xFFFF;

struct BoxSearch {
    const char *caption;
    int count;
    HWND first;
};

static BOOL CALLBACK CountBox(HWND window, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    char className[64], caption[256];
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (strcmp(className, DialogClass) == 0 && strcmp(caption, search->caption) == 0 &&
        IsWindowVisible(window)) {
        if (!search->first)
            search->first = window;
        search->count++;
    }
    return TRUE;
}

static BoxSearch FindBoxes(const char *caption)
{
    BoxSearch search = { caption, 0, 0 };
    EnumWindows(CountBox, (LPARAM)&search);
    return search;
}

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const char *mode = argv[1];

    if (strcmp(mode, "box") == 0) {
        BoxSearch search = FindBoxes(argv[2]);
        printf("%d\n", search.count);
        if (search.first) {
            char text[2048];
            GetDlgItemTextA(search.first, MessageBoxTextId, text, sizeof text);
            HWND owner = GetWindow(search.first, GW_OWNER);
            char ownerTitle[256] = "";
            if (owner)
                GetWindowTextA(owner, ownerTitle, sizeof ownerTitle);
            printf("owner=%s\n%s\n", ownerTitle, text);
        }
        return 0;
    }
    if (strcmp(mode, "ok") == 0) {
        BoxSearch search = FindBoxes(argv[2]);
        if (!search.first)
            return 1;
        PostMessageA(search.first, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (strcmp(mode, "rect") == 0) {
        HWND window = FindWindowA(0, argv[2]);
        RECT rect;
        if (!window || !GetWindowRect(window, &rect))
            return 1;
        printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    return 2;
}
