// PAR2 packets as plain records: the header every packet starts with, the
// bodies of the core packets, and their MD5 seals. Integers little-endian;
// every packet a multiple of 4 bytes long.
#pragma once
#include <stddef.h>
#include <stdint.h>

constexpr size_t kPacketHeaderBytes = 64;
extern const uint8_t kPacketMagic[8];

enum PacketType : int {
    PacketMain = 0,
    PacketFileDesc,
    PacketSliceChecksums,   // "IFSC"
    PacketRecovery,
    PacketCreator,
    PacketUnknown,
};
// The 16 type bytes of a core packet.
extern const uint8_t kPacketTypes[PacketUnknown][16];

// The header's fields, decoded.
struct PacketHeader {
    uint64_t length;        // the whole packet, header included
    uint8_t md5[16];        // over set id, type and body
    uint8_t set_id[16];
    PacketType type;
};

// Decodes 64 header bytes; false when they are not a packet header whose
// length could be right (magic, at least a header, a multiple of 4).
bool read_packet_header(const uint8_t* bytes, PacketHeader* header);

// Fills the header of the packet at `packet` (`length` bytes, body in
// place after the 64 header bytes) and seals it with the MD5 of its set id,
// type and body.
void seal_packet(uint8_t* packet, uint64_t length, const uint8_t set_id[16], PacketType type);
// The same with the MD5 computed by the caller (a body written in pieces).
void write_packet_header(uint8_t* header, uint64_t length, const uint8_t md5[16], const uint8_t set_id[16],
                         PacketType type);

// Body sizes.
inline size_t padded4(size_t n)
{
    return (n + 3) & ~(size_t)3;
}
inline size_t main_body_bytes(uint32_t files)
{
    return 12 + 16 * (size_t)files;
}
inline size_t file_desc_body_bytes(size_t name_bytes)
{
    return 56 + padded4(name_bytes);
}
inline size_t checksum_body_bytes(uint32_t slices)
{
    return 16 + 20 * (size_t)slices;
}

// File ID: MD5 of the first 16 KiB's MD5, the length (8 bytes) and the name
// as stored (not padded).
void file_id_of(const uint8_t md5_16k[16], uint64_t length, const char* name, size_t name_bytes, uint8_t id[16]);

// True when File ID a comes before b in the Main packet: compared as
// 128-bit numbers with byte 15 the most significant.
bool file_id_before(const uint8_t* a, const uint8_t* b);

// 8- and 4-byte little-endian fields.
void put_u64(uint8_t* p, uint64_t v);
void put_u32(uint8_t* p, uint32_t v);
uint64_t get_u64(const uint8_t* p);
uint32_t get_u32(const uint8_t* p);
