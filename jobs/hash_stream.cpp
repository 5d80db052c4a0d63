// The HashStream record: forming, testing, reading, writing and deleting the
// "z" stream and the record beside it. Shared by both programs.
#include "jobs/hash_stream.h"
#include "jobs/digest_record.h"
#include <shlwapi.h>
#include <atomic>

bool make_stream_path(const wchar_t* path, wchar_t* out)
{
    return make_call_path(path, L":z", out);
}

bool make_file_path(const wchar_t* path, wchar_t* out)
{
    return make_call_path(path, L"", out);
}

bool stream_exists(const wchar_t* stream_path)
{
    // The shell's test is bound to MAX_PATH; the long form asks the file
    // system directly, which is what the shell's test does underneath.
    if (has_long_prefix(stream_path))
        return GetFileAttributesW(stream_path) != INVALID_FILE_ATTRIBUTES;
    return PathFileExistsW(stream_path) != FALSE;
}

bool read_stream_bytes(const wchar_t* path, uint8_t* bytes, DWORD capacity, DWORD* got, DWORD* open_error)
{
    *got = 0;
    *open_error = 0;
    HANDLE stream = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        *open_error = GetLastError();
        return false;
    }
    if (!ReadFile(stream, bytes, capacity, got, nullptr))
        *got = 0;
    CloseHandle(stream);
    return true;
}

StoredDigest read_stored_digest(const wchar_t* stream_path, uint8_t* stored, uint32_t* bytes_read)
{
    DWORD got = 0, error = 0;
    bool opened = read_stream_bytes(stream_path, stored, kDigestBytes, &got, &error);
    if (bytes_read)
        *bytes_read = got;
    if (!opened)
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? DigestMissing : DigestLocked;
    // Bytes that were never read must not decide a comparison.
    return got == (DWORD)kDigestBytes ? DigestRead : DigestShort;
}

StoredDigest probe_stored_digest(const wchar_t* stream_path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(stream_path, GetFileExInfoStandard, &info)) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? DigestMissing : DigestLocked;
    }
    return info.nFileSizeHigh == 0 && info.nFileSizeLow < (DWORD)kDigestBytes ? DigestShort : DigestPresent;
}

// The file itself for its attributes only: times and size can be read and
// set, nothing else, and other programs' opens are not in the way. Never
// creates it.
static HANDLE open_attributes(const wchar_t* file_path)
{
    return CreateFileW(file_path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Learned at the first write that needs it: this platform takes a file and
// its streams as one object for sharing (Wine does; Windows does not), so a
// hold on the file's data would refuse our own stream writes.
static std::atomic<bool> g_streams_share_file;

// The file for its times and size, held against writers while its digest is
// written: with read access to its data and without write sharing, no other
// program can open it for writing until the handle is closed, and an open
// fails while another program has it open for writing. Where a file and its
// streams are one object for sharing, the stream's own handle (opened
// without sharing) holds it instead, and this handle is for the attributes
// alone.
static HANDLE open_held(const wchar_t* file_path, bool* data_held)
{
    *data_held = !g_streams_share_file.load(std::memory_order_relaxed);
    if (!*data_held)
        return open_attributes(file_path);
    return CreateFileW(file_path, FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
}

static BOOL WINAPI write_file_call(HANDLE file, const void* bytes, DWORD len, DWORD* wrote, OVERLAPPED* overlapped)
{
    return WriteFile(file, bytes, len, wrote, overlapped);
}

DigestWriteSeams digest_write_seams = {write_file_call, nullptr};

// How opening a stream for writing ended.
enum StreamWrite : int {
    StreamWritten = 0,
    StreamWasThere,    // create: a stream of that name is there; nothing touched
    StreamRefused,     // the open failed for sharing; nothing touched
    StreamNotOpened,   // the open failed otherwise; nothing touched
    StreamTouched,     // opened, but the bytes or the cut failed: what it holds is not known
};

// Writes `len` bytes as the whole stream. `create`: only where no stream of
// that name is there. Otherwise the stream is opened without truncating,
// overwritten in place and only then cut, so a process killed at any moment
// leaves the old bytes or the new ones, never an empty stream.
static StreamWrite write_stream(const wchar_t* stream_path, const uint8_t* bytes, DWORD len, bool create)
{
    HANDLE stream = CreateFileW(stream_path, GENERIC_WRITE, 0, nullptr, create ? CREATE_NEW : OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (stream == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (create && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
            return StreamWasThere;
        return error == ERROR_SHARING_VIOLATION ? StreamRefused : StreamNotOpened;
    }
    // A stream this open made holds nothing beyond what is written now.
    bool made = create || GetLastError() != ERROR_ALREADY_EXISTS;
    DWORD wrote = 0;
    bool written = digest_write_seams.write_file(stream, bytes, len, &wrote, nullptr) && wrote == len &&
                   (made || SetEndOfFile(stream));
    CloseHandle(stream);
    return written ? StreamWritten : StreamTouched;
}

// A stream's bytes as they stood before a write, to be put back when the
// write cannot be completed: the 64 bytes of a digest (a longer stream comes
// back as its first 65, which read as the same digest), a record whole.
struct StreamBackup {
    bool present;
    DWORD length;
    uint8_t bytes[kDigestBytes + 1];
};

static void back_up(const wchar_t* path, StreamBackup* b)
{
    b->length = 0;
    DWORD error = 0;
    b->present = read_stream_bytes(path, b->bytes, sizeof b->bytes, &b->length, &error) ||
                 (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND);
}

// Puts a stream back as `b` says (null: there was none). False when it
// could not be.
static bool put_back(const wchar_t* path, const StreamBackup* b)
{
    if (!b || !b->present)
        return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
    return write_stream(path, b->bytes, b->length, false) == StreamWritten;
}

// What write_streams found, and what a failed write must put back.
struct StreamsWritten {
    bool z_touched;
    bool record_touched;
    StreamBackup old_z, old_record;   // overwriting only
    FileStamp after;                  // the file as the writes left it
};

static WriteOutcome write_streams(HANDLE file, const DigestWrite* w, StreamsWritten* done, bool* refused)
{
    *refused = false;
    done->z_touched = done->record_touched = false;
    // The file must be the one that was hashed: a program that saved it in
    // between would otherwise end with new content, the old time and a
    // digest of the old content. A stamp without a time cannot confirm
    // that, and so is never stored.
    FileStamp now;
    if (!w->stamp->timed || !stamp_of_handle(file, true, &now) || !stamps_agree(&now, w->stamp))
        return WriteFileChanged;
    if (!w->create) {
        if (w->stream_path)
            back_up(w->stream_path, &done->old_z);
        if (w->record_path)
            back_up(w->record_path, &done->old_record);
    }
    if (w->stream_path) {
        StreamWrite z = write_stream(w->stream_path, w->digest, kDigestBytes, w->create);
        done->z_touched = z == StreamWritten || z == StreamTouched;
        if (z == StreamWasThere)
            return WriteStreamExists;
        *refused = z == StreamRefused;
        if (z != StreamWritten)
            return WriteFailed;
    }
    if (w->record_path) {
        uint8_t record[kRecordBytes];
        encode_record(w->digest, w->stamp, record);
        StreamWrite r = write_stream(w->record_path, record, kRecordBytes, false);
        done->record_touched = r == StreamWritten || r == StreamTouched;
        *refused = r == StreamRefused && !done->z_touched;
        if (r != StreamWritten)
            return WriteFailed;
    }
    // What the writes left (they move the time on some file systems): a save
    // by a program that no share mode holds off shows from here on as a
    // size or time that moved.
    if (!stamp_of_handle(file, true, &done->after) || done->after.size != w->stamp->size)
        return WriteFileSaved;
    return WriteDone;
}

// Undoes what a write that could not be completed did: each stream it
// touched goes back to what it held (a record whose time can no longer be
// kept goes altogether); with `create` there was no digest, and none is left.
static void undo_streams(const DigestWrite* w, const StreamsWritten* done, bool drop_record)
{
    if (w->record_path && (done->record_touched || drop_record))
        put_back(w->record_path, w->create || drop_record ? nullptr : &done->old_record);
    if (w->stream_path && done->z_touched)
        put_back(w->stream_path, w->create ? nullptr : &done->old_z);
}

// Puts the time back through the file (some file systems, ntfs-3g among
// them, refuse a time set through a stream handle) and reads it back.
static bool put_time_back(HANDLE file, const FILETIME* time)
{
    FILETIME kept;
    return SetFileTime(file, nullptr, nullptr, time) && GetFileTime(file, nullptr, nullptr, &kept) &&
           same_time(&kept, time);
}

void close_writes(std::atomic<int32_t>* writing)
{
    for (;;) {
        int32_t idle = 0;
        if (writing->compare_exchange_strong(idle, kWritesClosed, std::memory_order_acq_rel) || idle == kWritesClosed)
            return;
        Sleep(1);   // streams are being written: their bytes and their times go first
    }
}

WriteOutcome write_digest(const DigestWrite* w, std::atomic<int32_t>* writing)
{
    // Counted in only while writing has not been closed for good.
    int32_t under_way = writing->load(std::memory_order_acquire);
    do {
        if (under_way == kWritesClosed)
            return WriteClosed;
    } while (!writing->compare_exchange_weak(under_way, under_way + 1, std::memory_order_acq_rel));
    bool data_held = false;
    HANDLE file = open_held(w->file_path, &data_held);
    StreamsWritten done;
    bool refused = false;
    WriteOutcome outcome = file == INVALID_HANDLE_VALUE ? WriteFileNotHeld : write_streams(file, w, &done, &refused);
    if (refused && data_held) {
        // Our own hold refused the stream: this platform shares a file and
        // its streams as one object. Learned once; the stream handles hold
        // the file from now on.
        g_streams_share_file.store(true, std::memory_order_relaxed);
        // Wine makes the stream before it finds the open refused. A create
        // refused for sharing found no stream there (a stream that is there
        // answers a create as being there): an empty one is that remnant.
        WIN32_FILE_ATTRIBUTE_DATA remnant;
        if (w->create && w->stream_path && GetFileAttributesExW(w->stream_path, GetFileExInfoStandard, &remnant) &&
            remnant.nFileSizeHigh == 0 && remnant.nFileSizeLow == 0)
            DeleteFileW(w->stream_path);
        CloseHandle(file);
        file = open_held(w->file_path, &data_held);
        outcome = file == INVALID_HANDLE_VALUE ? WriteFileNotHeld : write_streams(file, w, &done, &refused);
    }
    if (outcome == WriteDone) {
        if (digest_write_seams.before_time_restore)
            digest_write_seams.before_time_restore(w->file_path);
        // Just before the time goes back: still as the writes left it?
        FileStamp now;
        if (!stamp_of_handle(file, true, &now) || !stamps_agree(&now, &done.after))
            outcome = WriteFileSaved;
    }
    switch (outcome) {
    case WriteDone:
        if (put_time_back(file, &w->stamp->last_write))
            break;
        // The file's time moved and stays moved: nothing may claim the old
        // one. The digest is taken back (none left where there was none)
        // and the record goes.
        outcome = WriteTimeLost;
        undo_streams(w, &done, true);
        break;
    case WriteFailed:
        undo_streams(w, &done, false);
        put_time_back(file, &w->stamp->last_write);
        break;
    case WriteFileSaved:
        // Another program saved the file meanwhile: its time stands, and
        // the digest and record describe the file as it was hashed, which
        // no longer fits its time, so the next check finds it edited.
        break;
    default:
        break;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    writing->fetch_sub(1, std::memory_order_acq_rel);
    return outcome;
}

bool delete_digest(const wchar_t* file_path, const wchar_t* stream_path, const wchar_t* record_path)
{
    // Where deleting a stream moves the file's time, it is put back.
    HANDLE file = open_attributes(file_path);
    FILETIME before;
    bool timed = file != INVALID_HANDLE_VALUE && GetFileTime(file, nullptr, nullptr, &before);
    bool deleted = DeleteFileW(stream_path) != FALSE;
    if (deleted && record_path)
        DeleteFileW(record_path);
    FILETIME after;
    if (timed && deleted && GetFileTime(file, nullptr, nullptr, &after) && !same_time(&after, &before))
        SetFileTime(file, nullptr, nullptr, &before);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return deleted;
}
