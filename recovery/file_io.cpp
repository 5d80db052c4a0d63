#include "recovery/file_io.h"

int64_t read_at(HANDLE file, uint64_t offset, void* buffer, uint32_t bytes)
{
    uint32_t done = 0;
    while (done < bytes) {
        OVERLAPPED at = {};
        at.Offset = (DWORD)(offset + done);
        at.OffsetHigh = (DWORD)((offset + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(file, (uint8_t*)buffer + done, bytes - done, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

bool write_at(HANDLE file, uint64_t offset, const void* buffer, uint32_t bytes)
{
    uint32_t done = 0;
    while (done < bytes) {
        OVERLAPPED at = {};
        at.Offset = (DWORD)(offset + done);
        at.OffsetHigh = (DWORD)((offset + done) >> 32);
        DWORD put = 0;
        if (!WriteFile(file, (const uint8_t*)buffer + done, bytes - done, &put, &at) || put == 0)
            return false;
        done += put;
    }
    return true;
}

int64_t size_of_handle(HANDLE file)
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}
