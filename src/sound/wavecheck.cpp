// The check of a key's sound file before the platform's player gets it. The
// player, and the decoder it hands a compressed format to, trust what the
// file says of itself, and some of what a damaged or oddly made file says
// takes the player, and the whole program with it, down or into a loop for
// ever. Those files get the default sound instead; every other file,
// missing, cut short or one the player refuses, is left to it.
#include <windows.h>
#include <mmreg.h>
#include <stddef.h>
#include <string.h>
#include "wavecheck.h"

// A format record's fields stand where the platform's WAVEFORMATEX declares
// them, and MS ADPCM's, which follow cbSize, where its ADPCMWAVEFORMAT does.
enum {
    ChunkHeaderBytes = 8,
    // The fields every format shares, up to cbSize; the player refuses less.
    FormatBytes = offsetof(WAVEFORMATEX, cbSize),
    MsAdpcmFieldsBytes = offsetof(ADPCMWAVEFORMAT, wNumCoef),   // through its samples per block
    // Real files carry a handful of chunks before their samples. The walk
    // reads at most this many chunk headers, the format's and the samples'
    // among them, which keeps the work of one key-down small whatever the
    // file; a file with more gets the default sound.
    MostChunksWalked = 1024,
    // A channel mask names at most 32 speakers; with more, Wine's sound
    // driver corrupts its memory, crashes or loops.
    MostChannels = 32,
    // The MPEG decoder takes every frame as this many samples, whatever the
    // frames hold.
    MpegFrameSamples = 1152
};

// A RIFF chunk's header as it stands in the file: its id, then its size.
struct ChunkHeader {
    char id[4];
    DWORD size;
};

static DWORD ReadLittleEndian(const unsigned char *bytes, int count)
{
    DWORD value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = (value << 8) | bytes[i];
    return value;
}

// Reads exactly `count` bytes at `offset`; a short read is the end of the
// file. A seek and a plain read: Wine takes a read at an offset given in an
// OVERLAPPED on a slow path, ten times the cost of the two calls.
static int ReadAt(HANDLE file, LONGLONG offset, void *buffer, DWORD count)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, 0, FILE_BEGIN) && ReadFile(file, buffer, count, &read, 0) &&
           read == count;
}

static int ReadChunkHeader(HANDLE file, LONGLONG offset, ChunkHeader *chunk)
{
    unsigned char bytes[ChunkHeaderBytes];
    if (!ReadAt(file, offset, bytes, sizeof bytes))
        return 0;
    memcpy(chunk->id, bytes, sizeof chunk->id);
    chunk->size = ReadLittleEndian(bytes + offsetof(ChunkHeader, size), sizeof chunk->size);
    return 1;
}

// A format record's fields that the rules below read, as the file gives them.
struct FormatRecord {
    DWORD tag;
    DWORD channels;
    DWORD rate;
    DWORD byteRate;
    DWORD blockAlign;
    DWORD bits;
    DWORD length;            // how much of the record the chunk holds, up to what is read
    DWORD samplesPerBlock;   // MS ADPCM's, where the record reaches it; 0 otherwise
};

// Reads as much of the record as the rules need from a chunk of `size`
// bytes that lies within the file.
static int ReadFormatRecord(HANDLE file, LONGLONG offset, DWORD size, FormatRecord *record)
{
    unsigned char bytes[MsAdpcmFieldsBytes] = {};
    record->length = size < sizeof bytes ? size : sizeof bytes;
    if (!ReadAt(file, offset, bytes, record->length))
        return 0;
    record->tag = ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, wFormatTag), sizeof(WORD));
    record->channels = ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, nChannels), sizeof(WORD));
    record->rate =
        ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, nSamplesPerSec), sizeof(DWORD));
    record->byteRate =
        ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, nAvgBytesPerSec), sizeof(DWORD));
    record->blockAlign = ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, nBlockAlign), sizeof(WORD));
    record->bits = ReadLittleEndian(bytes + offsetof(WAVEFORMATEX, wBitsPerSample), sizeof(WORD));
    record->samplesPerBlock =
        ReadLittleEndian(bytes + offsetof(ADPCMWAVEFORMAT, wSamplesPerBlock), sizeof(WORD));
    return 1;
}

// The player divides by the block align and sizes its buffers from the byte
// rate; the platform's converters and sound driver take the channel count on
// trust, and none at all or more than a channel mask can name crash or hang
// them.
static int HasHarmfulSharedFields(const FormatRecord *format)
{
    return format->channels == 0 || format->channels > MostChannels || format->byteRate == 0 ||
           format->blockAlign == 0;
}

// The MS ADPCM decoder divides by the samples per block. Where the record
// stops before that field, the player hands the decoder whatever lies beyond
// it in memory, and a 0 there is as fatal as a 0 in the file.
static int HasHarmfulMsAdpcmFields(const FormatRecord *format)
{
    return format->length < MsAdpcmFieldsBytes || format->samplesPerBlock == 0;
}

// Float and extensible samples go to the sound driver, which takes the block
// align as one frame of every channel; given less, it loops for ever (Wine 8)
// or crashes (Wine 10).
static int HasBlockSmallerThanFrame(const FormatRecord *format)
{
    return format->blockAlign < format->channels * ((format->bits + 7) / 8);
}

// The MPEG decoder, which takes the plain MPEG tag as well as layer 3's,
// works out a frame's length in bytes as the byte rate times a frame's
// samples over the sample rate, multiplying in 32 bits, and divides by it.
// A byte rate that makes that less than one byte, as it stands or once the
// product wraps, crashes it (seen under Wine 8 and 10 alike). A sample rate
// of 0 never reaches the decoder: the player refuses it.
static int HasFrameShorterThanAByte(const FormatRecord *format)
{
    DWORD frameBytesTimesRate = format->byteRate * MpegFrameSamples;
    return frameBytesTimesRate < format->rate;
}

static int HasHarmfulFormat(HANDLE file, LONGLONG offset, DWORD size)
{
    FormatRecord format;
    if (!ReadFormatRecord(file, offset, size, &format))
        return 0;
    if (HasHarmfulSharedFields(&format))
        return 1;
    switch (format.tag) {
    case WAVE_FORMAT_ADPCM:
        return HasHarmfulMsAdpcmFields(&format);
    case WAVE_FORMAT_IEEE_FLOAT:
    case WAVE_FORMAT_EXTENSIBLE:
        return HasBlockSmallerThanFrame(&format);
    case WAVE_FORMAT_MPEG:
    case WAVE_FORMAT_MPEGLAYER3:
        return HasFrameShorterThanAByte(&format);
    default:
        return 0;
    }
}

// Walks the chunks as the player does, from the first to the format and on to
// the samples, reading only their headers and keeping its offset in 64 bits.
// The player keeps its own in 32 bits: a chunk that runs past the end of the
// file can wrap it back onto an earlier chunk, and it walks that circle for
// ever. It also counts the samples left in a signed 32-bit number, and a
// sample size of 2 GiB or more makes it read with a negative length.
static int HasHarmfulChunks(HANDLE file)
{
    LARGE_INTEGER fileSize;
    unsigned char riff[12];
    if (!GetFileSizeEx(file, &fileSize) || !ReadAt(file, 0, riff, sizeof riff) ||
        memcmp(riff, "RIFF", 4) != 0 || memcmp(riff + 8, "WAVE", 4) != 0)
        return 0;

    LONGLONG offset = sizeof riff;
    int haveFormat = 0;
    for (int walked = 0; walked < MostChunksWalked; walked++) {
        ChunkHeader chunk;
        if (!ReadChunkHeader(file, offset, &chunk))
            return 0;                   // no such chunk: the player gives up
        // The walk ends at the samples, as the player's does, so their size
        // cannot send it round in a circle: samples cut short by the end of
        // the file, as a copy broken off leaves them, play as far as they
        // go. Only a size of 2 GiB or more, negative to the player, harms it.
        if (haveFormat && memcmp(chunk.id, "data", 4) == 0)
            return chunk.size > (DWORD)MAXLONG;
        LONGLONG end = offset + ChunkHeaderBytes + chunk.size;
        if (end > fileSize.QuadPart)
            return 1;
        if (!haveFormat && memcmp(chunk.id, "fmt ", 4) == 0) {
            if (chunk.size < FormatBytes)
                return 0;               // the player refuses a format this short
            if (HasHarmfulFormat(file, offset + ChunkHeaderBytes, chunk.size))
                return 1;
            haveFormat = 1;
        }
        offset = end + (chunk.size & 1);   // chunks are padded to an even length
    }
    return 1;                           // the bound reached: more chunks than real files carry
}

int CouldCrashOrHangPlayer(const char *fileName)
{
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int harmful = HasHarmfulChunks(file);
    CloseHandle(file);
    return harmful;
}
