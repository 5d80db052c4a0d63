// Scanning PAR2 files for packets.
#include "recovery/par2_set.h"
#include "recovery/file_io.h"
#include "recovery/md5.h"
#include "recovery/par2_packets.h"
#include <string.h>
#include <wchar.h>

// Non-recovery packets larger than this are taken for damage: the largest
// the core packets can be (slice checksums of 32,768 slices) is far below.
constexpr uint64_t kMaxSmallPacket = 16u << 20;
constexpr uint32_t kScanWindow = 1u << 20;

// A whole packet other than recovery data, kept until the set is known.
struct HeldPacket {
    uint8_t set_id[16];
    PacketType type;
    uint8_t* body;
    size_t bytes;
};

struct Scan {
    HeldPacket* held;
    int held_count, held_room;
    RecoverySlice* slices;
    uint8_t (*slice_sets)[16];
    int slice_count, slice_room;
    uint32_t damaged, other;
    bool no_memory;
};

static void* grow(void* block, int* room, size_t item)
{
    int next = *room ? *room * 2 : 64;
    HANDLE heap = GetProcessHeap();
    void* bigger = block ? HeapReAlloc(heap, 0, block, item * (size_t)next) : HeapAlloc(heap, 0, item * (size_t)next);
    if (bigger)
        *room = next;
    return bigger;
}

// Whether an equal packet is held already (the same kind of the same set
// and, for descriptions and checksums, the same file).
static bool already_held(const Scan* s, const uint8_t* set_id, PacketType type, const uint8_t* body)
{
    for (int i = 0; i < s->held_count; ++i) {
        const HeldPacket* h = &s->held[i];
        if (h->type != type || memcmp(h->set_id, set_id, 16) != 0)
            continue;
        if (type == PacketMain || type == PacketCreator)
            return true;
        if (memcmp(h->body, body, 16) == 0)
            return true;
    }
    return false;
}

static void hold(Scan* s, const uint8_t* set_id, PacketType type, uint8_t* body, size_t bytes)
{
    if (already_held(s, set_id, type, body) || (type == PacketFileDesc && bytes < 56) ||
        (type == PacketSliceChecksums && bytes < 16) || (type == PacketMain && bytes < 12)) {
        HeapFree(GetProcessHeap(), 0, body);
        return;
    }
    if (s->held_count == s->held_room) {
        void* g = grow(s->held, &s->held_room, sizeof(HeldPacket));
        if (!g) {
            s->no_memory = true;
            HeapFree(GetProcessHeap(), 0, body);
            return;
        }
        s->held = (HeldPacket*)g;
    }
    HeldPacket* h = &s->held[s->held_count++];
    memcpy(h->set_id, set_id, 16);
    h->type = type;
    h->body = body;
    h->bytes = bytes;
}

static void note_slice(Scan* s, const uint8_t* set_id, uint32_t exponent, int file, uint64_t offset, uint64_t bytes)
{
    if (s->slice_count == s->slice_room) {
        int room = s->slice_room;
        void* g = grow(s->slices, &room, sizeof(RecoverySlice));
        if (g)
            s->slices = (RecoverySlice*)g;
        int room2 = s->slice_room;
        void* g2 = g ? grow(s->slice_sets, &room2, 16) : nullptr;
        if (!g2) {
            s->no_memory = true;
            return;
        }
        s->slice_sets = (uint8_t(*)[16])g2;
        s->slice_room = room;
    }
    s->slices[s->slice_count] = {exponent, file, offset, bytes};
    memcpy(s->slice_sets[s->slice_count], set_id, 16);
    ++s->slice_count;
}

// The MD5 of [from, to) of the file, read in pieces through `buffer`.
static bool md5_of_range(HANDLE file, uint64_t from, uint64_t to, uint8_t* buffer, uint8_t digest[16])
{
    Md5 md5;
    md5_begin(&md5);
    while (from < to) {
        uint32_t want = to - from < kScanWindow ? (uint32_t)(to - from) : kScanWindow;
        if (read_at(file, from, buffer, want) != want)
            return false;
        md5_add(&md5, buffer, want);
        from += want;
    }
    md5_end(&md5, digest);
    return true;
}

// Every packet of one file. False when it could not be opened or read.
static bool scan_file(Scan* s, const wchar_t* path, int index, uint8_t* window)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    int64_t size = size_of_handle(file);
    bool sound = size >= 0;
    uint64_t pos = 0;
    HANDLE heap = GetProcessHeap();
    while (sound && pos + kPacketHeaderBytes <= (uint64_t)size && !s->no_memory) {
        int64_t got = read_at(file, pos, window, kScanWindow);
        if (got < 0) {
            sound = false;
            break;
        }
        int64_t i = 0;
        while (i + 8 <= got && memcmp(window + i, kPacketMagic, 8) != 0)
            ++i;
        if (i + 8 > got) {
            if (got < (int64_t)kScanWindow)
                break;
            pos += (uint64_t)got - 7;
            continue;
        }
        uint64_t at = pos + (uint64_t)i;
        uint8_t head[kPacketHeaderBytes];
        PacketHeader h;
        if (read_at(file, at, head, sizeof head) != (int64_t)sizeof head || !read_packet_header(head, &h) ||
            at + h.length > (uint64_t)size) {
            ++s->damaged;
            pos = at + 1;
            continue;
        }
        uint64_t body_bytes = h.length - kPacketHeaderBytes;
        if (h.type == PacketRecovery) {
            uint8_t md5[16];
            uint8_t exponent[4];
            if (body_bytes >= 4 && md5_of_range(file, at + 32, at + h.length, window, md5) &&
                memcmp(md5, h.md5, 16) == 0 && read_at(file, at + kPacketHeaderBytes, exponent, 4) == 4) {
                note_slice(s, h.set_id, get_u32(exponent), index, at + kPacketHeaderBytes + 4, body_bytes - 4);
                pos = at + h.length;
            } else {
                ++s->damaged;
                pos = at + 1;
            }
            continue;
        }
        if (h.type == PacketUnknown || body_bytes > kMaxSmallPacket) {
            // Of a kind this reader does not know: its MD5 still says
            // whether it is whole, so that a damaged one is not stepped over.
            uint8_t md5[16];
            if (md5_of_range(file, at + 32, at + h.length, window, md5) && memcmp(md5, h.md5, 16) == 0) {
                ++s->other;
                pos = at + h.length;
            } else {
                ++s->damaged;
                pos = at + 1;
            }
            continue;
        }
        uint8_t* packet = (uint8_t*)HeapAlloc(heap, 0, (size_t)h.length);
        if (!packet) {
            s->no_memory = true;
            break;
        }
        uint8_t md5[16];
        if (read_at(file, at, packet, (uint32_t)h.length) != (int64_t)h.length) {
            HeapFree(heap, 0, packet);
            sound = false;
            break;
        }
        md5_of(packet + 32, (size_t)h.length - 32, md5);
        if (memcmp(md5, h.md5, 16) != 0) {
            HeapFree(heap, 0, packet);
            ++s->damaged;
            pos = at + 1;
            continue;
        }
        memmove(packet, packet + kPacketHeaderBytes, (size_t)body_bytes);
        hold(s, h.set_id, h.type, packet, (size_t)body_bytes);
        pos = at + h.length;
    }
    CloseHandle(file);
    return sound;
}

static const HeldPacket* find_held(const Scan* s, const uint8_t* set_id, PacketType type, const uint8_t* file_id)
{
    for (int i = 0; i < s->held_count; ++i) {
        const HeldPacket* h = &s->held[i];
        if (h->type == type && memcmp(h->set_id, set_id, 16) == 0 && (!file_id || memcmp(h->body, file_id, 16) == 0))
            return h;
    }
    return nullptr;
}

static void free_scan(Scan* s)
{
    HANDLE heap = GetProcessHeap();
    for (int i = 0; i < s->held_count; ++i)
        HeapFree(heap, 0, s->held[i].body);
    if (s->held)
        HeapFree(heap, 0, s->held);
    if (s->slices)
        HeapFree(heap, 0, s->slices);
    if (s->slice_sets)
        HeapFree(heap, 0, s->slice_sets);
}

// Builds the set from what the scan held, for the set of the first Main.
static SetRead assemble(Scan* s, Par2Set* set)
{
    HANDLE heap = GetProcessHeap();
    const HeldPacket* main = nullptr;
    for (int i = 0; i < s->held_count && !main; ++i)
        if (s->held[i].type == PacketMain)
            main = &s->held[i];
    if (!main)
        return SetNoMain;
    memcpy(set->set_id, main->set_id, 16);
    set->slice_size = get_u64(main->body);
    uint32_t files = get_u32(main->body + 8);
    if (set->slice_size == 0 || set->slice_size % 4 != 0 || set->slice_size > 0x7FFFFFC0u ||
        (uint64_t)files * 16 > main->bytes - 12)
        return SetBadMain;
    for (int i = 0; i < s->held_count; ++i)
        if (memcmp(s->held[i].set_id, set->set_id, 16) != 0)
            ++s->other;
    set->files = (SetFile*)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(SetFile) * (files ? files : 1));
    if (!set->files)
        return SetReadNoMemory;
    set->file_count = files;
    SetRead result = SetReadOk;
    uint64_t slices = 0;
    for (uint32_t f = 0; f < files; ++f) {
        SetFile* sf = &set->files[f];
        memcpy(sf->id, main->body + 12 + 16 * f, 16);
        const HeldPacket* desc = find_held(s, set->set_id, PacketFileDesc, sf->id);
        const HeldPacket* sums = find_held(s, set->set_id, PacketSliceChecksums, sf->id);
        if (!desc) {
            result = SetIncomplete;
            continue;
        }
        sf->described = true;
        memcpy(sf->md5, desc->body + 16, 16);
        memcpy(sf->md5_16k, desc->body + 32, 16);
        sf->length = get_u64(desc->body + 48);
        size_t name_bytes = desc->bytes - 56;
        while (name_bytes && desc->body[56 + name_bytes - 1] == 0)
            --name_bytes;
        sf->name = (char*)HeapAlloc(heap, 0, name_bytes + 1);
        if (!sf->name)
            return SetReadNoMemory;
        memcpy(sf->name, desc->body + 56, name_bytes);
        sf->name[name_bytes] = 0;
        sf->name_bytes = name_bytes;
        uint64_t count = (sf->length + set->slice_size - 1) / set->slice_size;
        sf->first_slice = (uint32_t)slices;
        sf->slice_count = (uint32_t)count;
        slices += count;
        if (slices > 32768)
            return SetBadMain;
        if (!sums || (sums->bytes - 16) / 20 < count) {
            result = SetIncomplete;
            continue;
        }
        sf->checksums = (uint8_t*)HeapAlloc(heap, 0, (size_t)count * 20 + 1);
        if (!sf->checksums)
            return SetReadNoMemory;
        memcpy(sf->checksums, sums->body + 16, (size_t)count * 20);
    }
    set->slice_count = (uint32_t)slices;
    const HeldPacket* creator = find_held(s, set->set_id, PacketCreator, nullptr);
    if (creator) {
        size_t n = creator->bytes < sizeof set->creator - 1 ? creator->bytes : sizeof set->creator - 1;
        memcpy(set->creator, creator->body, n);
        set->creator[n] = 0;
    }
    // Recovery slices of this set whose data is one slice long, one per
    // exponent, ascending.
    set->recovery = (RecoverySlice*)HeapAlloc(heap, 0, sizeof(RecoverySlice) * (size_t)(s->slice_count + 1));
    if (!set->recovery)
        return SetReadNoMemory;
    for (int i = 0; i < s->slice_count; ++i) {
        if (memcmp(s->slice_sets[i], set->set_id, 16) != 0) {
            ++s->other;
            continue;
        }
        RecoverySlice r = s->slices[i];
        if (r.data_bytes != set->slice_size) {
            ++s->damaged;
            continue;
        }
        uint32_t at = set->recovery_count;
        bool duplicate = false;
        while (at > 0 && set->recovery[at - 1].exponent >= r.exponent) {
            if (set->recovery[at - 1].exponent == r.exponent)
                duplicate = true;
            --at;
        }
        if (duplicate)
            continue;
        memmove(&set->recovery[at + 1], &set->recovery[at], sizeof(RecoverySlice) * (set->recovery_count - at));
        set->recovery[at] = r;
        ++set->recovery_count;
    }
    return result;
}

SetRead read_set(const wchar_t* const* paths, int count, Par2Set* set)
{
    memset(set, 0, sizeof *set);
    HANDLE heap = GetProcessHeap();
    set->par_files = (wchar_t**)HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(wchar_t*) * (size_t)(count ? count : 1));
    uint8_t* window = (uint8_t*)VirtualAlloc(nullptr, kScanWindow, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!set->par_files || !window) {
        if (window)
            VirtualFree(window, 0, MEM_RELEASE);
        return SetReadNoMemory;
    }
    Scan scan = {};
    SetRead result = SetReadOk;
    for (int i = 0; i < count; ++i) {
        size_t len = wcslen(paths[i]);
        set->par_files[i] = (wchar_t*)HeapAlloc(heap, 0, (len + 1) * sizeof(wchar_t));
        if (!set->par_files[i]) {
            result = SetReadNoMemory;
            break;
        }
        memcpy(set->par_files[i], paths[i], (len + 1) * sizeof(wchar_t));
        set->par_file_count = i + 1;
        if (!scan_file(&scan, paths[i], i, window) && i == 0)
            result = SetUnreadable;   // the index file itself; a recovery file that cannot be read only gives less
    }
    VirtualFree(window, 0, MEM_RELEASE);
    if (scan.no_memory)
        result = SetReadNoMemory;
    if (result == SetReadOk)
        result = assemble(&scan, set);
    set->damaged_packets = scan.damaged;
    set->other_packets = scan.other;
    free_scan(&scan);
    return result;
}

void free_set(Par2Set* set)
{
    HANDLE heap = GetProcessHeap();
    for (uint32_t f = 0; set->files && f < set->file_count; ++f) {
        if (set->files[f].name)
            HeapFree(heap, 0, set->files[f].name);
        if (set->files[f].checksums)
            HeapFree(heap, 0, set->files[f].checksums);
    }
    if (set->files)
        HeapFree(heap, 0, set->files);
    if (set->recovery)
        HeapFree(heap, 0, set->recovery);
    for (int i = 0; set->par_files && i < set->par_file_count; ++i)
        HeapFree(heap, 0, set->par_files[i]);
    if (set->par_files)
        HeapFree(heap, 0, set->par_files);
    memset(set, 0, sizeof *set);
}

bool set_name_is_safe(const char* name, size_t bytes)
{
    if (bytes == 0 || name[0] == '/')
        return false;
    size_t part = 0;   // where the current part began
    for (size_t i = 0; i <= bytes; ++i) {
        if (i == bytes || name[i] == '/') {
            size_t len = i - part;
            if (len == 0 || (len == 1 && name[part] == '.') || (len == 2 && name[part] == '.' && name[part + 1] == '.'))
                return false;
            part = i + 1;
            continue;
        }
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return false;
    }
    return true;
}
