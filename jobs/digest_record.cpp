// The digest record beside "z": its path, its bytes, and whether it belongs.
#include "jobs/digest_record.h"
#include <string.h>
#include <wchar.h>

bool make_record_path(const wchar_t* stream_path, wchar_t* out)
{
    static const wchar_t kSuffix[] = L".rec";
    size_t len = wcslen(stream_path);
    if (len + (sizeof kSuffix / sizeof kSuffix[0]) > kStreamPathChars) {
        out[0] = L'\0';
        return false;
    }
    wmemcpy(out, stream_path, len);
    wmemcpy(out + len, kSuffix, sizeof kSuffix / sizeof kSuffix[0]);
    out[kStreamPathChars - 1] = L'\0';
    return true;
}

uint64_t filetime_units(const FILETIME* time)
{
    return ((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime;
}

static void put_le(uint8_t* at, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = (uint8_t)(value >> (8 * i));
}

static uint64_t get_le(const uint8_t* at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

void encode_record(const uint8_t* digest, const FileStamp* stamp, uint8_t* bytes)
{
    put_le(bytes, kRecordVersion, 4);
    put_le(bytes + 4, stamp->size, 8);
    put_le(bytes + 12, filetime_units(&stamp->last_write), 8);
    memcpy(bytes + 20, digest, kRecordDigestBytes);
}

bool read_record(const wchar_t* record_path, const uint8_t* digest, DigestRecord* record)
{
    if (!record_path)
        return false;
    // One byte more than a record: a longer stream is not one.
    uint8_t bytes[kRecordBytes + 1];
    DWORD got = 0, error = 0;
    if (!read_stream_bytes(record_path, bytes, sizeof bytes, &got, &error))
        return false;
    if (got != (DWORD)kRecordBytes || get_le(bytes, 4) != kRecordVersion ||
        memcmp(bytes + 20, digest, kRecordDigestBytes) != 0)
        return false;
    record->size = get_le(bytes + 4, 8);
    record->last_write = get_le(bytes + 12, 8);
    return true;
}

bool record_fits(const DigestRecord* record, const FileStamp* stamp)
{
    return record->size == stamp->size && record->last_write == filetime_units(&stamp->last_write);
}
