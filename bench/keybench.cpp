// Key response measured inside the process: the program's own window
// procedure on a real window, timed with the performance counter from the
// key message to the end of the paint it causes, beside a repaint of the
// whole window; and how long starting a note takes to return.
//
// Prints one line per series: a name, then each run's time in microseconds.
#include <windows.h>
#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include "draw/paint.h"
#include "shell/shell.h"
#include "keyboard/keys.h"
#include "sound/sound.h"
#include "sound/wavecheck.h"

static LARGE_INTEGER Frequency;

static double Now(void)
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return 1e6 * (double)count.QuadPart / (double)Frequency.QuadPart;
}

static void Pump(void)
{
    MSG message;
    while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Lets the thread go idle for a while, as the program does between keys:
// the platform then shows what was painted and the sound thread runs.
static void Idle(DWORD milliseconds)
{
    Pump();
    DWORD until = GetTickCount() + milliseconds;
    for (;;) {
        DWORD now = GetTickCount();
        if ((int)(until - now) <= 0)
            break;
        MsgWaitForMultipleObjects(0, 0, FALSE, until - now, QS_ALLINPUT);
        Pump();
    }
}

static void PrintSeries(const char *name, const double *values, int count)
{
    printf("%s", name);
    for (int i = 0; i < count; i++)
        printf(" %.1f", values[i]);
    printf("\n");
}

static LPARAM KeyParam(UINT virtualKey, int up)
{
    LPARAM scan = (LPARAM)MapVirtualKeyA(virtualKey, 0) << 16;
    return scan | 1 | (up ? (LPARAM)0xC0000000 : 0);
}

struct KeyCase {
    const char *name;
    UINT virtualKey;
};

static const KeyCase KeyCases[] = {
    { "Q", 'Q' },   // white, a black key over its upper left edge
    { "E", 'E' },   // white, none
    { "1", '1' },   // black
};

// Each run presses and releases the key twice: once as the program does it,
// repainting only the key's rectangle, and once with the whole window
// invalidated on top, which is what the small rectangles save. The two
// alternate so that both meet the same conditions (the note just started,
// the sound thread busy).
static void MeasureKey(HWND window, const KeyCase &key, int runs, int print)
{
    enum { Down, Paint, Up, FullDown, FullPaint, FullUp, SeriesCount };
    static const char *const SeriesNames[SeriesCount] = {
        "down", "paint", "up", "fulldown", "fullpaint", "fullup"
    };
    double *series[SeriesCount];
    for (int s = 0; s < SeriesCount; s++)
        series[s] = new double[runs > 0 ? runs : 1];

    for (int i = 0; i < runs; i++) {
        for (int whole = 0; whole < 2; whole++) {
            double start = Now();
            SendMessageA(window, WM_KEYDOWN, key.virtualKey, KeyParam(key.virtualKey, 0));
            double handled = Now();
            if (whole)
                InvalidateRect(window, 0, FALSE);
            UpdateWindow(window);
            double painted = Now();
            series[whole ? FullDown : Down][i] = painted - start;
            series[whole ? FullPaint : Paint][i] = painted - handled;
            Idle(5);

            start = Now();
            SendMessageA(window, WM_KEYUP, key.virtualKey, KeyParam(key.virtualKey, 1));
            if (whole)
                InvalidateRect(window, 0, FALSE);
            UpdateWindow(window);
            series[whole ? FullUp : Up][i] = Now() - start;
            Idle(5);
        }
    }
    for (int s = 0; s < SeriesCount; s++) {
        if (print) {
            char name[64];
            sprintf(name, "%s-%s", SeriesNames[s], key.name);
            PrintSeries(name, series[s], runs);
        }
        delete[] series[s];
    }
}

static void MeasureSoundStart(int runs)
{
    double *times = new double[runs];
    PianoKey *keys[WhiteKeyCount + BlackKeyCount];
    int count = 0;
    for (int i = 0; i < WhiteKeyCount; i++)
        keys[count++] = &WhiteKeys[i];
    for (int j = 0; j < BlackKeyCount; j++)
        keys[count++] = &BlackKeys[j];
    for (int k = 0; k < count; k++) {
        for (int i = 0; i < runs; i++) {
            double start = Now();
            PlayKeySound(keys[k]);
            times[i] = Now() - start;
            // Long enough for the note to be playing when the next one cuts it off.
            Idle(30);
        }
        char name[32];
        sprintf(name, "sound-%d", keys[k]->soundNumber);
        PrintSeries(name, times, runs);
    }
    PlaySoundA(0, 0, 0);
    delete[] times;
}

// Writes a file that is as slow to check as any: a chunk header to read for
// every chunk the check walks, each a page from the last, then a format and
// samples. Returns its path, in the temporary folder.
static const char *WriteSlowestFile(void)
{
    enum { Chunks = 1022, Spacing = 4096 };
    static char path[MAX_PATH];
    GetTempPathA(sizeof path, path);
    lstrcatA(path, "keybench-slowest.wav");
    FILE *file = fopen(path, "wb");
    if (!file)
        return 0;
    static const unsigned char Format[] = {
        'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0, 0x44, 0xAC, 0, 0,
        0x88, 0x58, 1, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0
    };
    DWORD riffSize = 4 + Chunks * (8 + Spacing) + sizeof Format;
    fwrite("RIFF", 1, 4, file);
    fwrite(&riffSize, 4, 1, file);
    fwrite("WAVE", 1, 4, file);
    static const unsigned char Padding[Spacing] = {};
    DWORD size = Spacing;
    for (int i = 0; i < Chunks; i++) {
        fwrite("JUNK", 1, 4, file);
        fwrite(&size, 4, 1, file);
        fwrite(Padding, 1, sizeof Padding, file);
    }
    fwrite(Format, 1, sizeof Format, file);
    fclose(file);
    return path;
}

// What finding the name for the player and the check of a key's file cost a
// key-down: on a real key file, and the check of the slowest file there can be.
static void MeasureCheck(int runs)
{
    const char *slowest = WriteSlowestFile();
    if (!slowest)
        return;
    double *naming = new double[runs], *real = new double[runs], *slow = new double[runs];
    int verdict = 0;
    for (int i = 0; i < runs; i++) {
        char name[PlayerNameSize] = "";
        double start = Now();
        verdict |= !NameFileForPlayer("keys\\49.wav", name) << 2;
        double named = Now();
        verdict |= CouldCrashOrHangPlayer(name);
        double checked = Now();
        verdict |= CouldCrashOrHangPlayer(slowest) << 1;
        naming[i] = named - start;
        real[i] = checked - named;
        slow[i] = Now() - checked;
    }
    DeleteFileA(slowest);
    if (verdict)
        fprintf(stderr, "no name for the key's file, or a playable file judged harmful (%d)\n", verdict);
    PrintSeries("naming", naming, runs);
    PrintSeries("check-real", real, runs);
    PrintSeries("check-slowest", slow, runs);
    delete[] naming;
    delete[] real;
    delete[] slow;
}

// Usage: keybench [key-runs [sound-runs]]
// Run it from a folder holding keys\, so that each press plays its real file.
int main(int argc, char **argv)
{
    int keyRuns = argc > 1 ? atoi(argv[1]) : 100;
    int soundRuns = argc > 2 ? atoi(argv[2]) : 8;
    QueryPerformanceFrequency(&Frequency);
    if (GetFileAttributesA("keys\\40.wav") == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "no keys\\40.wav in the current folder\n");
        return 1;
    }

    // The window as the program makes it: same class settings, size and place.
    TitleFont = CreateFontA(TitleHeight, 0, 0, 0, FW_HEAVY, 1, 0, 0, ANSI_CHARSET, 0, 0, 0,
                            VARIABLE_PITCH | FF_SWISS, "Arial");
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    LayoutKeyboard(screenWidth, screenHeight);

    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = MainWindowProc;
    frameClass.hInstance = GetModuleHandleA(0);
    frameClass.hCursor = LoadCursorA(0, IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    frameClass.lpszClassName = WindowClassName;
    if (!RegisterClassA(&frameClass)) {
        fprintf(stderr, "RegisterClass failed: %lu\n", GetLastError());
        return 1;
    }
    HWND window = CreateWindowExA(0, WindowClassName, "Key bench", WS_OVERLAPPEDWINDOW,
                                  0, 0, screenWidth, screenHeight - WindowHeightMargin,
                                  0, 0, frameClass.hInstance, 0);
    if (!window) {
        fprintf(stderr, "CreateWindow failed: %lu\n", GetLastError());
        return 1;
    }
    MainWindow = window;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    Idle(200);

    // Warm-up: the first sound opens the audio device, the first paints
    // load fonts; neither is what a player meets on the hundredth key.
    for (size_t k = 0; k < sizeof KeyCases / sizeof KeyCases[0]; k++)
        MeasureKey(window, KeyCases[k], 3, 0);

    for (size_t k = 0; k < sizeof KeyCases / sizeof KeyCases[0]; k++)
        MeasureKey(window, KeyCases[k], keyRuns, 1);
    MeasureSoundStart(soundRuns);
    MeasureCheck(keyRuns);

    DestroyWindow(window);
    DeleteObject(TitleFont);
    fflush(stdout);
    return 0;
}
