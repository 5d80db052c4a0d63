// Reading a manifest whole, and the name of its temporary.
#include "cli/manifest_file.h"
#include "jobs/long_path.h"
#include <string.h>
#include <wchar.h>

// 256 MiB hold well over a million lines; a larger file is no manifest of ours.
static const uint64_t kLargestManifest = 256u << 20;

static wchar_t g_call[kLongPathChars];

ManifestLoad load_manifest(const wchar_t* written, ManifestText* text)
{
    text->block = nullptr;
    text->data = nullptr;
    text->size = 0;
    text->pos = 0;
    text->line = 0;
    if (!make_call_path(written, L"", g_call)) return ManifestUnreadable;
    const wchar_t* path = g_call;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ManifestNotFound
                                                                                : ManifestUnreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ManifestIsFolder;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ManifestUnreadable;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return ManifestUnreadable;
    }
    if ((uint64_t)size.QuadPart > kLargestManifest) {
        CloseHandle(file);
        return ManifestTooLarge;
    }
    size_t want = (size_t)size.QuadPart;
    char* data = (char*)HeapAlloc(GetProcessHeap(), 0, want + 1);
    if (!data) {
        CloseHandle(file);
        return ManifestTooLarge;
    }
    size_t got = 0;
    while (got < want) {
        DWORD chunk = (DWORD)((want - got) > (1u << 20) ? (1u << 20) : (want - got)), read = 0;
        if (!ReadFile(file, data + got, chunk, &read, nullptr) || read == 0) break;
        got += read;
    }
    CloseHandle(file);
    if (got != want) {
        HeapFree(GetProcessHeap(), 0, data);
        return ManifestUnreadable;
    }
    data[want] = '\0';
    text->block = data;
    text->data = data;
    text->size = want;
    // A byte-order mark is not ours to write, but an editor may have added one.
    if (want >= 3 && !memcmp(data, "\xef\xbb\xbf", 3)) {
        text->data += 3;
        text->size -= 3;
    }
    return ManifestLoaded;
}

void release_manifest(ManifestText* text)
{
    if (text->block) HeapFree(GetProcessHeap(), 0, text->block);
    text->block = nullptr;
    text->data = nullptr;
    text->size = 0;
}

void rewind_manifest(ManifestText* text)
{
    text->pos = 0;
    text->line = 0;
}

int next_manifest_entry(ManifestText* text, ManifestEntry* entry)
{
    wchar_t* raw = entry->raw_path;
    entry->path[0] = L'\0';
    entry->line_kind = LineEntry;
    entry->path_kind = PathInside;
    while (text->pos < text->size) {
        const char* start = text->data + text->pos;
        const char* end = (const char*)memchr(start, '\n', text->size - text->pos);
        size_t len = end ? (size_t)(end - start) : text->size - text->pos;
        text->pos += len + (end ? 1 : 0);
        entry->line = ++text->line;
        ManifestLine kind = parse_manifest_line(start, len, entry->digest, raw);
        if (kind == LineBlank) continue;
        if (kind != LineEntry) {
            entry->line_kind = kind;
            return -1;
        }
        entry->path_kind = check_manifest_path(raw, entry->path, kManifestPathChars);
        return entry->path_kind == PathInside ? 1 : -1;
    }
    return 0;
}

void manifest_folder_prefix(const wchar_t* manifest, wchar_t* out)
{
    size_t len = wcslen(manifest), keep = 0;
    for (size_t i = 0; i < len; ++i)
        if (manifest[i] == L'\\' || manifest[i] == L'/' || (i == 1 && manifest[i] == L':')) keep = i + 1;
    if (keep > kManifestPathChars - 1) keep = 0;   // cannot happen: a path fits the buffer
    memcpy(out, manifest, keep * sizeof(wchar_t));
    out[keep] = L'\0';
    out[kManifestPathChars - 1] = L'\0';
}

bool manifest_temp_path(const wchar_t* manifest, wchar_t* out)
{
    static const wchar_t kSuffix[] = MANIFEST_TEMP_SUFFIX;
    size_t len = wcslen(manifest), suffix = wcslen(kSuffix);
    out[kManifestPathChars - 1] = L'\0';
    if (len + suffix + 1 > kManifestPathChars) {
        out[0] = L'\0';
        return false;
    }
    memcpy(out, manifest, len * sizeof(wchar_t));
    memcpy(out + len, kSuffix, (suffix + 1) * sizeof(wchar_t));
    return true;
}
