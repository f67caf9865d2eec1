#pragma once
// The shared-memory block as a client finds it: a packed, little-endian layout that binds
// every client built against it. A head record with the spin lock and the write request, the
// input buffer with the stream of register 254's values, and the command record for reads.
#include <QtEndian>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

// Size of the input buffer of every server.
constexpr qint32 TrazerInputBufferSize = 1000000;

enum TTZCommands : quint8 { tzcNone = 0, tzcReadReg = 1 };
enum TTZStatus : quint8 { tzsNone = 0, tzsPending = 1, tzsAsyncStarted = 2, tzsDone = 3 };

#pragma pack(push, 1)
// At offset 0 of the block.
struct TTrazerSharedRecord {
    std::int32_t Spinlock;         // 0 free, 1 taken
    quint8 CommandWriteRegNum;     // register the client wants written; 0 for none
    quint32 CommandParams;         // the value for that write
    std::int32_t InputBufferCount; // bytes used in the input buffer
};

// Right behind the input buffer.
struct TTrazerSharedRecordExt {
    quint8 ExtBlockType;  // 1
    quint32 ExtBlockSize; // 276
    quint8 Command;       // TTZCommands
    quint8 Status;        // TTZStatus
    quint32 Parameter1RegNum;
    quint32 Parameter2RegType;
    quint32 Parameter3;
    quint8 Parameter4Size;
    quint8 Parameter4Buffer[256];
};
#pragma pack(pop)

static_assert(offsetof(TTrazerSharedRecord, CommandWriteRegNum) == 4);
static_assert(offsetof(TTrazerSharedRecord, CommandParams) == 5);
static_assert(offsetof(TTrazerSharedRecord, InputBufferCount) == 9);
static_assert(sizeof(TTrazerSharedRecord) == 13);
static_assert(offsetof(TTrazerSharedRecordExt, ExtBlockSize) == 1);
static_assert(offsetof(TTrazerSharedRecordExt, Command) == 5);
static_assert(offsetof(TTrazerSharedRecordExt, Status) == 6);
static_assert(offsetof(TTrazerSharedRecordExt, Parameter1RegNum) == 7);
static_assert(offsetof(TTrazerSharedRecordExt, Parameter2RegType) == 11);
static_assert(offsetof(TTrazerSharedRecordExt, Parameter3) == 15);
static_assert(offsetof(TTrazerSharedRecordExt, Parameter4Size) == 19);
static_assert(offsetof(TTrazerSharedRecordExt, Parameter4Buffer) == 20);
static_assert(sizeof(TTrazerSharedRecordExt) == 276);

constexpr qsizetype TrazerBlockSize(qint32 inputBufferSize) {
    return qsizetype(sizeof(TTrazerSharedRecord)) + inputBufferSize +
           qsizetype(sizeof(TTrazerSharedRecordExt));
}

// A stream record: the marker, the value's length (4 bytes), the value.
constexpr quint8 TrazerRecordMarker = 0x7E;
constexpr qint32 TrazerRecordHeaderSize = 5;

// Fields are read and written through their offsets, little-endian, whatever the host's
// alignment rules: most of them do not sit on their natural boundary.
template <typename T> T TrazerLoad(const void *record, std::size_t offset) {
    return qFromLittleEndian<T>(static_cast<const uchar *>(record) + offset);
}
template <typename T> void TrazerStore(void *record, std::size_t offset, T value) {
    qToLittleEndian<T>(value, static_cast<uchar *>(record) + offset);
}
