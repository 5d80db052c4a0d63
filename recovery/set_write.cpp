// Writing a recovery set.
#include "recovery/set_write.h"
#include "recovery/combine.h"
#include "recovery/crc32.h"
#include "recovery/file_io.h"
#include "recovery/gf16.h"
#include "recovery/md5.h"
#include "recovery/par2_packets.h"
#include "recovery/region.h"
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define SET_TEMP_SUFFIX L".kestrin-tmp"

uint64_t choose_slice_size(const uint64_t* sizes, int count, uint32_t wanted, uint32_t* slices)
{
    uint64_t total = 0;
    for (int i = 0; i < count; ++i)
        total += sizes[i];
    if (wanted == 0)
        wanted = 1;
    uint64_t size = (total + wanted - 1) / wanted;
    size = (size + 3) & ~(uint64_t)3;
    if (size < 4)
        size = 4;
    for (;;) {
        uint64_t n = 0;
        for (int i = 0; i < count; ++i)
            n += (sizes[i] + size - 1) / size;
        *slices = n > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)n;
        if (n <= kMaxInputSlices)
            return size;
        // Each file ends in a slice of its own: grow in proportion, then
        // step by step.
        uint64_t grown = size * n / kMaxInputSlices;
        size = grown > size + 4 ? (grown + 3) & ~(uint64_t)3 : size + 4;
    }
}

uint32_t recovery_slices_for(uint32_t slices, uint32_t percent)
{
    uint64_t r = ((uint64_t)slices * percent + 50) / 100;
    if (r < 1)
        r = 1;
    if (r > kMaxInputSlices)
        r = kMaxInputSlices;
    return (uint32_t)r;
}

static int digits(uint32_t v)
{
    int d = 1;
    while (v >= 10) {
        v /= 10;
        ++d;
    }
    return d;
}

void volume_suffix(uint32_t first, uint32_t count, int first_digits, int count_digits, wchar_t* out)
{
    swprintf(out, 40, L".vol%0*u+%0*u.par2", first_digits, first, count_digits, count);
    out[39] = 0;
}

// Everything known of one input once it has been read.
struct InputState {
    const SetInput* in;
    uint8_t id[16];
    uint8_t md5[16];
    uint8_t md5_16k[16];
    uint32_t first_slice;
    uint32_t slice_count;
    uint8_t* checksums;   // 20 per slice
};

static HANDLE open_input(const wchar_t* path)
{
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

static wchar_t* joined(const wchar_t* base, const wchar_t* a, const wchar_t* b)
{
    size_t n = wcslen(base) + wcslen(a) + wcslen(b) + 1;
    wchar_t* s = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, n * sizeof(wchar_t));
    if (s) {
        wcscpy(s, base);
        wcscat(s, a);
        wcscat(s, b);
    }
    return s;
}

void free_set_files(SetFiles* files)
{
    HANDLE heap = GetProcessHeap();
    for (int i = 0; i < files->count; ++i) {
        if (files->temp && files->temp[i])
            HeapFree(heap, 0, files->temp[i]);
        if (files->final_name && files->final_name[i])
            HeapFree(heap, 0, files->final_name[i]);
    }
    if (files->temp)
        HeapFree(heap, 0, files->temp);
    if (files->final_name)
        HeapFree(heap, 0, files->final_name);
    files->temp = files->final_name = nullptr;
    files->count = 0;
}

void abandon_set(SetFiles* files)
{
    for (int i = 0; i < files->count; ++i)
        if (files->temp[i])
            DeleteFileW(files->temp[i]);
}

bool commit_set(SetFiles* files)
{
    // The index file (entry 0) goes last: until it is moved, a reader takes
    // the old set (and the recovery files of the new one are of another set).
    for (int i = 1; i <= files->count; ++i) {
        int k = i % files->count;
        if (!MoveFileExW(files->temp[k], files->final_name[k], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            for (int j = i; j <= files->count; ++j)
                DeleteFileW(files->temp[j % files->count]);
            return false;
        }
    }
    return true;
}

// The set being written: its outputs and buffers.
struct Writer {
    const SetOptions* opt;
    InputState* inputs;   // in File ID order
    int count;
    uint32_t slices;
    uint64_t slice;       // slice size
    size_t chunk;         // bytes of each slice per pass (a multiple of kRegionAlign)
    uint32_t recovery;
    uint8_t* outputs;     // recovery x chunk
    uint8_t** output_rows;   // each recovery slice's part of it
    uint8_t* batch;       // kRegionMaxSources x chunk
    uint16_t* factors;    // recovery x kRegionMaxSources
    uint32_t batch_slices[kRegionMaxSources];
    int batch_used;
    Md5* recovery_md5;    // one per recovery slice, continued pass by pass
    HANDLE* handles;      // per set file
    uint64_t* slice_offset;   // per recovery slice: where its data goes in its file
    int* slice_file;          // per recovery slice: which set file
    uint8_t set_id[16];
};

static void add_batch(Writer* w)
{
    if (w->batch_used == 0)
        return;
    for (uint32_t r = 0; r < w->recovery; ++r)
        for (int k = 0; k < w->batch_used; ++k)
            w->factors[r * w->batch_used + k] = input_factor(w->batch_slices[k], r);
    const uint8_t* ins[kRegionMaxSources];
    for (int k = 0; k < w->batch_used; ++k)
        ins[k] = w->batch + (size_t)k * w->chunk;
    combine_regions(w->output_rows, (int)w->recovery, ins, w->batch_used, w->factors, w->chunk);
    w->batch_used = 0;
}

// The checksums of every input, read whole and in order, when the passes
// cannot make them (several passes see each slice in parts).
static bool checksum_inputs(Writer* w, uint8_t* buffer, int* failed)
{
    for (int f = 0; f < w->count; ++f) {
        InputState* s = &w->inputs[f];
        HANDLE h = open_input(s->in->call_path);
        if (h == INVALID_HANDLE_VALUE) {
            *failed = f;
            return false;
        }
        Md5 whole;
        md5_begin(&whole);
        bool sound = true;
        for (uint32_t i = 0; i < s->slice_count && sound; ++i) {
            if (w->opt->stop && w->opt->stop->load())
                break;
            uint64_t at = (uint64_t)i * w->slice;
            uint64_t left = s->in->size - at;
            Md5 part;
            md5_begin(&part);
            uint32_t crc = 0;
            for (uint64_t done = 0; done < w->slice && sound;) {
                uint32_t want = (uint32_t)(w->slice - done < w->chunk ? w->slice - done : w->chunk);
                uint32_t real = done >= left ? 0 : (uint32_t)(left - done < want ? left - done : want);
                if (real && read_at(h, at + done, buffer, real) != real)
                    sound = false;
                memset(buffer + real, 0, want - real);
                md5_add(&whole, buffer, real);
                md5_add(&part, buffer, want);
                crc = crc32_add(crc, buffer, want);
                done += want;
            }
            md5_end(&part, s->checksums + 20 * i);
            put_u32(s->checksums + 20 * i + 16, crc);
        }
        md5_end(&whole, s->md5);
        sound = sound && size_of_handle(h) == (int64_t)s->in->size;
        CloseHandle(h);
        if (!sound) {
            *failed = f;
            return false;
        }
    }
    return true;
}

// One pass: bytes [offset, offset + len) of every slice.
static SetWriteResult run_pass(Writer* w, uint64_t offset, size_t len, bool checksums, int passes, int* failed)
{
    memset(w->outputs, 0, (size_t)w->recovery * w->chunk);
    for (int f = 0; f < w->count; ++f) {
        InputState* s = &w->inputs[f];
        HANDLE h = open_input(s->in->call_path);
        if (h == INVALID_HANDLE_VALUE) {
            *failed = f;
            return SetInputFailed;
        }
        Md5 whole;
        if (checksums)
            md5_begin(&whole);
        bool sound = true;
        for (uint32_t i = 0; i < s->slice_count && sound; ++i) {
            if (w->opt->stop && w->opt->stop->load()) {
                CloseHandle(h);
                return SetWriteStopped;
            }
            uint8_t* slot = w->batch + (size_t)w->batch_used * w->chunk;
            uint64_t at = (uint64_t)i * w->slice + offset;
            uint32_t real = at >= s->in->size ? 0 : (uint32_t)(s->in->size - at < len ? s->in->size - at : len);
            if (real && read_at(h, at, slot, real) != real)
                sound = false;
            memset(slot + real, 0, w->chunk - real);
            if (checksums) {
                md5_add(&whole, slot, real);
                md5_of(slot, (size_t)w->slice, s->checksums + 20 * i);
                put_u32(s->checksums + 20 * i + 16, crc32_add(0, slot, (size_t)w->slice));
            }
            if (w->opt->done_bytes)
                *w->opt->done_bytes += real / (uint32_t)passes;
            g_region->to_work(slot, w->chunk);
            w->batch_slices[w->batch_used++] = s->first_slice + i;
            if (w->batch_used == kRegionMaxSources)
                add_batch(w);
        }
        if (checksums)
            md5_end(&whole, s->md5);
        sound = sound && size_of_handle(h) == (int64_t)s->in->size;
        CloseHandle(h);
        if (!sound) {
            *failed = f;
            return SetInputFailed;
        }
    }
    add_batch(w);
    for (uint32_t r = 0; r < w->recovery; ++r) {
        uint8_t* out = w->outputs + (size_t)r * w->chunk;
        g_region->from_work(out, w->chunk);
        md5_add(&w->recovery_md5[r], out, len);
        if (!write_at(w->handles[w->slice_file[r]], w->slice_offset[r] + offset, out, (uint32_t)len))
            return SetOutputFailed;
    }
    return SetWritten;
}

// Main, File Description and slice checksum packets, then the Creator.
static uint8_t* critical_packets(const Writer* w, const char* creator, size_t* bytes)
{
    size_t main_len = kPacketHeaderBytes + main_body_bytes((uint32_t)w->count);
    size_t total = main_len;
    for (int f = 0; f < w->count; ++f)
        total += 2 * kPacketHeaderBytes + file_desc_body_bytes(w->inputs[f].in->name_bytes) +
                 checksum_body_bytes(w->inputs[f].slice_count);
    size_t creator_len = strlen(creator);
    total += kPacketHeaderBytes + padded4(creator_len);
    uint8_t* p = (uint8_t*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, total);
    if (!p)
        return nullptr;
    uint8_t* at = p;
    put_u64(at + 64, w->slice);
    put_u32(at + 72, (uint32_t)w->count);
    for (int f = 0; f < w->count; ++f)
        memcpy(at + 76 + 16 * f, w->inputs[f].id, 16);
    seal_packet(at, main_len, w->set_id, PacketMain);
    at += main_len;
    for (int f = 0; f < w->count; ++f) {
        const InputState* s = &w->inputs[f];
        size_t len = kPacketHeaderBytes + file_desc_body_bytes(s->in->name_bytes);
        memcpy(at + 64, s->id, 16);
        memcpy(at + 80, s->md5, 16);
        memcpy(at + 96, s->md5_16k, 16);
        put_u64(at + 112, s->in->size);
        memcpy(at + 120, s->in->name, s->in->name_bytes);
        seal_packet(at, len, w->set_id, PacketFileDesc);
        at += len;
    }
    for (int f = 0; f < w->count; ++f) {
        const InputState* s = &w->inputs[f];
        size_t len = kPacketHeaderBytes + checksum_body_bytes(s->slice_count);
        memcpy(at + 64, s->id, 16);
        memcpy(at + 80, s->checksums, 20 * (size_t)s->slice_count);
        seal_packet(at, len, w->set_id, PacketSliceChecksums);
        at += len;
    }
    size_t len = kPacketHeaderBytes + padded4(creator_len);
    memcpy(at + 64, creator, creator_len);
    seal_packet(at, len, w->set_id, PacketCreator);
    *bytes = total;
    return p;
}

// Reads the first 16 KiB of each input for its File ID.
static bool identify_inputs(InputState* states, int count, int* failed)
{
    static uint8_t head[16384];
    for (int f = 0; f < count; ++f) {
        InputState* s = &states[f];
        HANDLE h = open_input(s->in->call_path);
        uint32_t want = s->in->size < sizeof head ? (uint32_t)s->in->size : (uint32_t)sizeof head;
        bool sound = h != INVALID_HANDLE_VALUE && read_at(h, 0, head, want) == want;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        if (!sound) {
            *failed = f;
            return false;
        }
        md5_of(head, want, s->md5_16k);
        file_id_of(s->md5_16k, s->in->size, s->in->name, s->in->name_bytes, s->id);
    }
    return true;
}

static SetWriteResult write_set_inner(Writer* w, const wchar_t* base, SetFiles* files, int* failed)
{
    HANDLE heap = GetProcessHeap();
    const SetOptions* opt = w->opt;
    // Recovery files of 1, 2, 4, ... slices; the index file first.
    uint32_t largest = 0;
    int volumes = 0;
    for (uint32_t first = 0, n = 1; first < w->recovery; first += n, n *= 2) {
        uint32_t take = w->recovery - first < n ? w->recovery - first : n;
        largest = take > largest ? take : largest;
        ++volumes;
    }
    files->count = volumes + 1;
    files->temp = (wchar_t**)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(wchar_t*) * (size_t)files->count);
    files->final_name = (wchar_t**)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(wchar_t*) * (size_t)files->count);
    w->handles = (HANDLE*)HeapAlloc(heap, 0, sizeof(HANDLE) * (size_t)files->count);
    w->slice_offset = (uint64_t*)HeapAlloc(heap, 0, sizeof(uint64_t) * w->recovery);
    w->slice_file = (int*)HeapAlloc(heap, 0, sizeof(int) * w->recovery);
    w->recovery_md5 = (Md5*)HeapAlloc(heap, 0, sizeof(Md5) * w->recovery);
    if (!files->temp || !files->final_name || !w->handles || !w->slice_offset || !w->slice_file || !w->recovery_md5)
        return SetOutOfMemory;
    for (int i = 0; i < files->count; ++i)
        w->handles[i] = INVALID_HANDLE_VALUE;
    int first_digits = digits(w->recovery), count_digits = digits(largest);
    const uint64_t packet = kPacketHeaderBytes + 4 + w->slice;
    int v = 1;
    for (uint32_t first = 0, n = 1; first < w->recovery; first += n, n *= 2, ++v) {
        uint32_t take = w->recovery - first < n ? w->recovery - first : n;
        wchar_t suffix[40];
        volume_suffix(first, take, first_digits, count_digits, suffix);
        files->final_name[v] = joined(base, suffix, L"");
        files->temp[v] = joined(base, suffix, SET_TEMP_SUFFIX);
        for (uint32_t r = first; r < first + take; ++r) {
            w->slice_file[r] = v;
            w->slice_offset[r] = (r - first) * packet + kPacketHeaderBytes + 4;
        }
    }
    files->final_name[0] = joined(base, L".par2", L"");
    files->temp[0] = joined(base, L".par2", SET_TEMP_SUFFIX);
    for (int i = 0; i < files->count; ++i) {
        if (!files->temp[i] || !files->final_name[i])
            return SetOutOfMemory;
        w->handles[i] = CreateFileW(files->temp[i], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (w->handles[i] == INVALID_HANDLE_VALUE)
            return SetOutputFailed;
    }

    // The recovery slices' seals start with the set's ID, their type and exponent.
    for (uint32_t r = 0; r < w->recovery; ++r) {
        md5_begin(&w->recovery_md5[r]);
        md5_add(&w->recovery_md5[r], w->set_id, 16);
        md5_add(&w->recovery_md5[r], kPacketTypes[PacketRecovery], 16);
        uint8_t e[4];
        put_u32(e, r);
        md5_add(&w->recovery_md5[r], e, 4);
    }
    int passes = (int)((w->slice + w->chunk - 1) / w->chunk);
    files->passes = passes;
    if (passes > 1 && !checksum_inputs(w, w->batch, failed))
        return opt->stop && opt->stop->load() ? SetWriteStopped : SetInputFailed;
    for (int p = 0; p < passes; ++p) {
        uint64_t offset = (uint64_t)p * w->chunk;
        size_t len = (size_t)(w->slice - offset < w->chunk ? w->slice - offset : w->chunk);
        SetWriteResult r = run_pass(w, offset, len, passes == 1, passes, failed);
        if (r != SetWritten)
            return r;
    }
    if (opt->stop && opt->stop->load())
        return SetWriteStopped;

    size_t critical_bytes = 0;
    uint8_t* critical = critical_packets(w, opt->creator, &critical_bytes);
    if (!critical)
        return SetOutOfMemory;
    bool sound = write_at(w->handles[0], 0, critical, (uint32_t)critical_bytes);
    files->bytes = critical_bytes;
    uint64_t end[64] = {};
    for (uint32_t r = 0; r < w->recovery && sound; ++r) {
        uint8_t head[kPacketHeaderBytes + 4];
        uint8_t md5[16];
        md5_end(&w->recovery_md5[r], md5);
        write_packet_header(head, packet, md5, w->set_id, PacketRecovery);
        put_u32(head + kPacketHeaderBytes, r);
        uint64_t at = w->slice_offset[r] - kPacketHeaderBytes - 4;
        sound = write_at(w->handles[w->slice_file[r]], at, head, sizeof head);
        int v2 = w->slice_file[r];
        if (v2 < 64 && at + packet > end[v2])
            end[v2] = at + packet;
    }
    // Each recovery file carries the set's description after its slices.
    for (int i = 1; i < files->count && sound; ++i) {
        sound = write_at(w->handles[i], end[i], critical, (uint32_t)critical_bytes);
        files->bytes += end[i] + critical_bytes;
    }
    HeapFree(heap, 0, critical);
    for (int i = 0; i < files->count && sound; ++i)
        sound = FlushFileBuffers(w->handles[i]) != 0;
    return sound ? SetWritten : SetOutputFailed;
}

SetWriteResult write_set(const wchar_t* base, const SetInput* inputs, int count, const SetOptions* options,
                         SetFiles* files, int* failed)
{
    memset(files, 0, sizeof *files);
    *failed = -1;
    HANDLE heap = GetProcessHeap();
    Writer w = {};
    w.opt = options;
    w.count = count;
    w.slice = options->slice_size;
    w.recovery = options->recovery_count;
    w.inputs = (InputState*)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(InputState) * (size_t)(count ? count : 1));
    if (!w.inputs)
        return SetOutOfMemory;
    for (int f = 0; f < count; ++f)
        w.inputs[f].in = &inputs[f];
    SetWriteResult result = SetWritten;
    if (!identify_inputs(w.inputs, count, failed))
        result = SetInputFailed;
    if (result == SetWritten) {
        // The set's order: by File ID (insertion sort keeps it simple; the
        // IDs are random, and a set has at most 32,768 files).
        for (int i = 1; i < count; ++i) {
            InputState s = w.inputs[i];
            int j = i;
            for (; j > 0 && file_id_before(s.id, w.inputs[j - 1].id); --j)
                w.inputs[j] = w.inputs[j - 1];
            w.inputs[j] = s;
        }
        uint64_t slices = 0;
        for (int f = 0; f < count; ++f) {
            w.inputs[f].first_slice = (uint32_t)slices;
            w.inputs[f].slice_count = (uint32_t)((w.inputs[f].in->size + w.slice - 1) / w.slice);
            slices += w.inputs[f].slice_count;
            w.inputs[f].checksums = (uint8_t*)HeapAlloc(heap, 0, 20 * (size_t)w.inputs[f].slice_count + 1);
            if (!w.inputs[f].checksums)
                result = SetOutOfMemory;
        }
        if (slices > kMaxInputSlices || w.recovery > kMaxInputSlices || w.recovery == 0)
            result = SetTooLarge;
        w.slices = (uint32_t)slices;
    }
    if (result == SetWritten) {
        // The pass: as much of every slice as the memory holds; where a
        // 32-bit address space has no room that large, half as much, and so on.
        size_t memory = options->memory ? options->memory : kSetMemory;
        size_t rows = (size_t)w.recovery + kRegionMaxSources;
        uint64_t whole = (w.slice + kRegionAlign - 1) / kRegionAlign * kRegionAlign;
        for (;;) {
            uint64_t fits = memory / rows / kRegionAlign * kRegionAlign;
            if (fits < kRegionAlign)
                fits = kRegionAlign;
            w.chunk = (size_t)(whole < fits ? whole : fits);
            w.outputs = (uint8_t*)VirtualAlloc(nullptr, (size_t)w.recovery * w.chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            w.batch = (uint8_t*)VirtualAlloc(nullptr, kRegionMaxSources * w.chunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            if ((w.outputs && w.batch) || w.chunk == kRegionAlign)
                break;
            if (w.outputs)
                VirtualFree(w.outputs, 0, MEM_RELEASE);
            if (w.batch)
                VirtualFree(w.batch, 0, MEM_RELEASE);
            w.outputs = w.batch = nullptr;
            memory /= 2;
        }
        w.factors = (uint16_t*)HeapAlloc(heap, 0, sizeof(uint16_t) * (size_t)w.recovery * kRegionMaxSources);
        w.output_rows = (uint8_t**)HeapAlloc(heap, 0, sizeof(uint8_t*) * w.recovery);
        if (!w.outputs || !w.batch || !w.factors || !w.output_rows)
            result = SetOutOfMemory;
        else
            for (uint32_t r = 0; r < w.recovery; ++r)
                w.output_rows[r] = w.outputs + (size_t)r * w.chunk;
    }
    if (result == SetWritten) {
        // The set's ID is the MD5 of the Main packet's body.
        size_t main_bytes = main_body_bytes((uint32_t)count);
        uint8_t* body = (uint8_t*)HeapAlloc(heap, 0, main_bytes);
        if (!body) {
            result = SetOutOfMemory;
        } else {
            put_u64(body, w.slice);
            put_u32(body + 8, (uint32_t)count);
            for (int f = 0; f < count; ++f)
                memcpy(body + 12 + 16 * f, w.inputs[f].id, 16);
            md5_of(body, main_bytes, w.set_id);
            HeapFree(heap, 0, body);
            result = write_set_inner(&w, base, files, failed);
        }
    }
    if (w.handles)
        for (int i = 0; i < files->count; ++i)
            if (w.handles[i] != INVALID_HANDLE_VALUE)
                CloseHandle(w.handles[i]);
    if (result != SetWritten) {
        if (files->temp)
            abandon_set(files);
        free_set_files(files);
    }
    // A failed input is named by its place among the caller's inputs.
    if (*failed >= 0 && *failed < count)
        *failed = (int)(w.inputs[*failed].in - inputs);
    for (int f = 0; f < count; ++f)
        if (w.inputs[f].checksums)
            HeapFree(heap, 0, w.inputs[f].checksums);
    HeapFree(heap, 0, w.inputs);
    if (w.outputs)
        VirtualFree(w.outputs, 0, MEM_RELEASE);
    if (w.batch)
        VirtualFree(w.batch, 0, MEM_RELEASE);
    if (w.factors)
        HeapFree(heap, 0, w.factors);
    if (w.handles)
        HeapFree(heap, 0, w.handles);
    if (w.output_rows)
        HeapFree(heap, 0, w.output_rows);
    if (w.slice_offset)
        HeapFree(heap, 0, w.slice_offset);
    if (w.slice_file)
        HeapFree(heap, 0, w.slice_file);
    if (w.recovery_md5)
        HeapFree(heap, 0, w.recovery_md5);
    return result;
}
