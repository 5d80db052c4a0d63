// Packet headers and seals.
#include "recovery/par2_packets.h"
#include "recovery/md5.h"
#include <string.h>

const uint8_t kPacketMagic[8] = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};
const uint8_t kPacketTypes[PacketUnknown][16] = {
    {'P', 'A', 'R', ' ', '2', '.', '0', 0, 'M', 'a', 'i', 'n', 0, 0, 0, 0},
    {'P', 'A', 'R', ' ', '2', '.', '0', 0, 'F', 'i', 'l', 'e', 'D', 'e', 's', 'c'},
    {'P', 'A', 'R', ' ', '2', '.', '0', 0, 'I', 'F', 'S', 'C', 0, 0, 0, 0},
    {'P', 'A', 'R', ' ', '2', '.', '0', 0, 'R', 'e', 'c', 'v', 'S', 'l', 'i', 'c'},
    {'P', 'A', 'R', ' ', '2', '.', '0', 0, 'C', 'r', 'e', 'a', 't', 'o', 'r', 0},
};

void put_u64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = (uint8_t)(v >> (8 * i));
}

void put_u32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (uint8_t)(v >> (8 * i));
}

uint64_t get_u64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

uint32_t get_u32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

bool read_packet_header(const uint8_t* bytes, PacketHeader* header)
{
    if (memcmp(bytes, kPacketMagic, 8) != 0)
        return false;
    header->length = get_u64(bytes + 8);
    if (header->length < kPacketHeaderBytes || header->length % 4 != 0)
        return false;
    memcpy(header->md5, bytes + 16, 16);
    memcpy(header->set_id, bytes + 32, 16);
    header->type = PacketUnknown;
    for (int t = 0; t < PacketUnknown; ++t)
        if (memcmp(bytes + 48, kPacketTypes[t], 16) == 0)
            header->type = (PacketType)t;
    return true;
}

void write_packet_header(uint8_t* header, uint64_t length, const uint8_t md5[16], const uint8_t set_id[16],
                         PacketType type)
{
    memcpy(header, kPacketMagic, 8);
    put_u64(header + 8, length);
    memcpy(header + 16, md5, 16);
    memcpy(header + 32, set_id, 16);
    memcpy(header + 48, kPacketTypes[type], 16);
}

void seal_packet(uint8_t* packet, uint64_t length, const uint8_t set_id[16], PacketType type)
{
    memcpy(packet + 32, set_id, 16);
    memcpy(packet + 48, kPacketTypes[type], 16);
    uint8_t md5[16];
    md5_of(packet + 32, (size_t)(length - 32), md5);
    write_packet_header(packet, length, md5, set_id, type);
}

void file_id_of(const uint8_t md5_16k[16], uint64_t length, const char* name, size_t name_bytes, uint8_t id[16])
{
    Md5 md5;
    md5_begin(&md5);
    md5_add(&md5, md5_16k, 16);
    uint8_t len[8];
    put_u64(len, length);
    md5_add(&md5, len, 8);
    md5_add(&md5, name, name_bytes);
    md5_end(&md5, id);
}

bool file_id_before(const uint8_t* a, const uint8_t* b)
{
    for (int i = 15; i >= 0; --i)
        if (a[i] != b[i])
            return a[i] < b[i];
    return false;
}
