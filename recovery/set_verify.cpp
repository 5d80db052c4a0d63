#include "recovery/set_verify.h"
#include "recovery/crc32.h"
#include "recovery/file_io.h"
#include "recovery/md5.h"
#include "recovery/par2_packets.h"
#include <string.h>

constexpr uint32_t kPiece = 1u << 20;

void check_slices(const Par2Set* set, uint32_t f, const wchar_t* call_path, uint8_t* present, SliceCheck* out,
                  std::atomic<uint64_t>* done_bytes)
{
    const SetFile* sf = &set->files[f];
    memset(out, 0, sizeof *out);
    memset(present + sf->first_slice, 0, sf->slice_count);
    out->bad = sf->slice_count;
    HANDLE h = CreateFileW(call_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    out->exists = true;
    int64_t size = size_of_handle(h);
    out->size = size < 0 ? 0 : (uint64_t)size;
    uint8_t* buffer = (uint8_t*)VirtualAlloc(nullptr, kPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!buffer || size < 0 || !sf->checksums) {
        if (buffer)
            VirtualFree(buffer, 0, MEM_RELEASE);
        CloseHandle(h);
        return;
    }
    out->read_whole = true;
    uint64_t readable = out->size < sf->length ? out->size : sf->length;
    for (uint32_t i = 0; i < sf->slice_count && out->read_whole; ++i) {
        uint64_t at = (uint64_t)i * set->slice_size;
        if (at >= readable)
            break;   // the file ends before this slice: missing
        Md5 md5;
        md5_begin(&md5);
        uint32_t crc = 0;
        for (uint64_t done = 0; done < set->slice_size;) {
            uint32_t want = set->slice_size - done < kPiece ? (uint32_t)(set->slice_size - done) : kPiece;
            uint64_t from = at + done;
            uint32_t real = from >= readable ? 0 : (uint32_t)(readable - from < want ? readable - from : want);
            if (real && read_at(h, from, buffer, real) != real) {
                out->read_whole = false;
                break;
            }
            if (done_bytes)
                *done_bytes += real;
            memset(buffer + real, 0, want - real);
            md5_add(&md5, buffer, want);
            crc = crc32_add(crc, buffer, want);
            done += want;
        }
        uint8_t digest[16];
        md5_end(&md5, digest);
        const uint8_t* expected = sf->checksums + 20 * (size_t)i;
        if (out->read_whole && memcmp(digest, expected, 16) == 0 && get_u32(expected + 16) == crc) {
            present[sf->first_slice + i] = 1;
            --out->bad;
        }
    }
    VirtualFree(buffer, 0, MEM_RELEASE);
    CloseHandle(h);
}
