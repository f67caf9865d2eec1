// The companion program's side of the shared block, for the tests: another process that finds
// a server by name and works on its block the way a client built against the published layout
// does. It knows nothing of the server's code; the offsets below are the layout's own numbers.
// Commands come one per line on stdin, each answered by one line on stdout:
//   open NAME | close | alive NAME | registry NAME
//   head | count | setcount N | write REG VALUE | read REG | ext | answer
//   peek OFFSET LEN | poke OFFSET HEX | take | hold | release
//   stress CYCLES RECORDS WAITMS | busy HOLDMS FREEMS TOTALMS | quit
// Spin lock: atomic exchange of 0 for 1 on the block's first word, yielding while taken;
// released by an atomic decrement.
#include <QByteArray>
#include <QSettings>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The block's layout.
constexpr std::size_t OffSpinlock = 0, OffWriteRegNum = 4, OffParams = 5, OffCount = 9, OffBuffer = 13;
constexpr std::size_t BufferSize = 1000000;
constexpr std::size_t OffExt = OffBuffer + BufferSize;
constexpr std::size_t ExtType = 0, ExtSize = 1, ExtCommand = 5, ExtStatus = 6, ExtP1 = 7, ExtP2 = 11,
                      ExtP3 = 15, ExtP4Size = 19, ExtP4Buffer = 20;
constexpr std::size_t BlockSize = OffExt + 276;

unsigned char *Block = nullptr;
std::size_t MappedSize = 0;

std::uint32_t Get32(std::size_t offset) {
    const unsigned char *p = Block + offset;
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
void Put32(std::size_t offset, std::uint32_t value) {
    unsigned char *p = Block + offset;
    for (int i = 0; i < 4; ++i)
        p[i] = (unsigned char)(value >> (8 * i));
}
std::atomic_ref<std::int32_t> LockWord() {
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t *>(Block));
}
std::atomic_ref<unsigned char> ExtByte(std::size_t offset) {
    return std::atomic_ref<unsigned char>(Block[OffExt + offset]);
}

void Lock() {
    for (;;) {
        std::int32_t expected = 0;
        if (LockWord().compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                               std::memory_order_relaxed))
            return;
        sched_yield();
    }
}
void Unlock() {
    LockWord().fetch_sub(1, std::memory_order_release);
}

std::string Hex(const unsigned char *data, std::size_t len) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < len; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out.empty() ? "-" : out;
}

void Unmap() {
    if (Block) munmap(Block, MappedSize);
    Block = nullptr;
    MappedSize = 0;
}

std::string Open(const std::string &name) {
    Unmap();
    const int fd = shm_open(("/" + name).c_str(), O_RDWR, 0);
    if (fd < 0) return errno == ENOENT ? "missing" : "error " + std::string(std::strerror(errno));
    struct stat st {};
    fstat(fd, &st);
    if (std::size_t(st.st_size) < BlockSize) {
        close(fd);
        return "error size " + std::to_string(st.st_size);
    }
    void *p = mmap(nullptr, std::size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return "error mmap";
    Block = static_cast<unsigned char *>(p);
    MappedSize = std::size_t(st.st_size);
    return "ok " + std::to_string(st.st_size);
}

// A live server holds a shared lock on /<name>Mutex: an exclusive attempt fails then.
std::string Alive(const std::string &name) {
    const int fd = shm_open(("/" + name + "Mutex").c_str(), O_RDONLY, 0);
    if (fd < 0) return "missing";
    const bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (taken) flock(fd, LOCK_UN);
    close(fd);
    return taken ? "dead" : "alive";
}

// The records in [0, count): each must be 0x7E, a length and the bytes, ending exactly at count.
struct TRecords {
    long Count = 0;
    long Torn = 0;
    std::string Data;
};
TRecords ParseRecords(std::int32_t count) {
    TRecords r;
    if (count < 0 || std::size_t(count) > BufferSize) {
        r.Torn = 1;
        return r;
    }
    std::size_t at = 0;
    while (at < std::size_t(count)) {
        const unsigned char *rec = Block + OffBuffer + at;
        const std::size_t left = std::size_t(count) - at;
        if (left < 5 || rec[0] != 0x7E || Get32(OffBuffer + at + 1) > left - 5) {
            ++r.Torn;
            return r;
        }
        const std::size_t len = Get32(OffBuffer + at + 1);
        r.Data += " " + Hex(rec + 5, len);
        ++r.Count;
        at += 5 + len;
    }
    return r;
}

// The stress values: 4 bytes of sequence number, then byte i = (seq + i) & 0xFF.
bool StressValueIntact(const unsigned char *value, std::size_t len, std::uint32_t &seq) {
    if (len < 4) return false;
    seq = std::uint32_t(value[0]) | std::uint32_t(value[1]) << 8 | std::uint32_t(value[2]) << 16 |
          std::uint32_t(value[3]) << 24;
    for (std::size_t i = 4; i < len; ++i)
        if (value[i] != (unsigned char)((seq + i) & 0xFF)) return false;
    return true;
}

// Lock cycles until at least wantedCycles of them are done and at least wantedRecords records were taken,
// so that the cycles overlap the server's appending; gives up after waitMs.
std::string Stress(long wantedCycles, long wantedRecords, long waitMs) {
    // Starts counting once the server appends, so that every cycle meets a working server.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        Lock();
        const std::int32_t count = std::int32_t(Get32(OffCount));
        Unlock();
        if (count > 0) break;
        if (std::chrono::steady_clock::now() > deadline) return "error no record arrived";
        usleep(100);
    }
    long records = 0, torn = 0, disorder = 0, takes = 0, cycles = 0;
    std::uint32_t last = 0;
    bool any = false;
    for (; cycles < wantedCycles || records < wantedRecords; ++cycles) {
        if ((cycles & 0xFFFF) == 0 && std::chrono::steady_clock::now() > deadline) break;
        Lock();
        const std::int32_t count = std::int32_t(Get32(OffCount));
        if (count > 0) {
            ++takes;
            std::size_t at = 0;
            const std::size_t end = std::size_t(count) <= BufferSize ? std::size_t(count) : 0;
            if (end == 0) ++torn;
            while (at < end) {
                const unsigned char *rec = Block + OffBuffer + at;
                const std::size_t left = end - at;
                const std::size_t len = left >= 5 ? Get32(OffBuffer + at + 1) : 0;
                std::uint32_t seq = 0;
                if (left < 5 || rec[0] != 0x7E || len > left - 5 || !StressValueIntact(rec + 5, len, seq)) {
                    ++torn;
                    break;
                }
                if (any && seq <= last) ++disorder;
                last = seq;
                any = true;
                ++records;
                at += 5 + len;
            }
            Put32(OffCount, 0);
        }
        Unlock();
    }
    return "cycles " + std::to_string(cycles) + " takes " + std::to_string(takes) + " records " +
           std::to_string(records) + " torn " + std::to_string(torn) + " disorder " +
           std::to_string(disorder) + " lastseq " + std::to_string(last);
}

// A companion that keeps the lock nearly all the time: holds it HoldMs, frees it FreeMs, for
// TotalMs in all.
std::string Busy(long holdMs, long freeMs, long totalMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    long cycles = 0;
    while (std::chrono::steady_clock::now() < end) {
        Lock();
        usleep(useconds_t(holdMs * 1000));
        Unlock();
        usleep(useconds_t(freeMs * 1000));
        ++cycles;
    }
    return "busy " + std::to_string(cycles);
}

std::string Run(const std::string &line) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd == "open") {
        std::string name;
        in >> name;
        return Open(name);
    }
    if (cmd == "close") {
        Unmap();
        return "ok";
    }
    if (cmd == "alive") {
        std::string name;
        in >> name;
        return Alive(name);
    }
    if (cmd == "registry") {
        std::string name;
        in >> name;
        QSettings settings(QStringLiteral("Kavetta"), QStringLiteral("Trazer"));
        settings.sync();
        const QString key = QString::fromStdString(name);
        if (!settings.contains(key)) return "absent";
        return settings.value(key).toString().isEmpty() ? "present" : "present-not-empty";
    }
    if (!Block) return "error not open";
    if (cmd == "head") {
        const std::int32_t lock = LockWord().load();
        Lock();
        std::ostringstream out;
        out << "lock=" << lock << " reg=" << int(Block[OffWriteRegNum]) << " params=" << Get32(OffParams)
            << " count=" << std::int32_t(Get32(OffCount));
        Unlock();
        return out.str();
    }
    if (cmd == "count") {
        Lock();
        const std::int32_t count = std::int32_t(Get32(OffCount));
        Unlock();
        return std::to_string(count);
    }
    if (cmd == "setcount") {
        long long n = 0;
        in >> n;
        Lock();
        Put32(OffCount, std::uint32_t(std::int32_t(n)));
        Unlock();
        return "ok";
    }
    if (cmd == "write") {
        unsigned reg = 0;
        unsigned long value = 0;
        in >> reg >> value;
        Lock();
        Put32(OffParams, std::uint32_t(value));
        Block[OffWriteRegNum] = (unsigned char)reg;
        Unlock();
        return "ok";
    }
    if (cmd == "read") {
        unsigned long reg = 0;
        in >> reg;
        Put32(OffExt + ExtP1, std::uint32_t(reg));
        ExtByte(ExtCommand).store(1, std::memory_order_release);
        ExtByte(ExtStatus).store(1, std::memory_order_release);
        return "ok";
    }
    if (cmd == "ext") {
        std::ostringstream out;
        out << "type=" << int(Block[OffExt + ExtType]) << " size=" << Get32(OffExt + ExtSize)
            << " command=" << int(ExtByte(ExtCommand).load()) << " status=" << int(ExtByte(ExtStatus).load())
            << " p1=" << Get32(OffExt + ExtP1) << " p2=" << Get32(OffExt + ExtP2)
            << " p3=" << Get32(OffExt + ExtP3) << " p4size=" << int(Block[OffExt + ExtP4Size]);
        return out.str();
    }
    if (cmd == "answer") {
        const int status = ExtByte(ExtStatus).load(std::memory_order_acquire);
        double value;
        std::memcpy(&value, Block + OffExt + ExtP4Buffer, 8);
        std::ostringstream out;
        out.precision(17);
        out << "status=" << status << " type=" << Get32(OffExt + ExtP2)
            << " size=" << int(Block[OffExt + ExtP4Size]) << " value=" << value;
        return out.str();
    }
    if (cmd == "peek") {
        std::size_t offset = 0, len = 0;
        in >> offset >> len;
        if (offset > MappedSize || len > MappedSize - offset) return "error range";
        return Hex(Block + offset, len);
    }
    if (cmd == "poke") {
        std::size_t offset = 0;
        std::string hex;
        in >> offset >> hex;
        const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(hex));
        if (offset > MappedSize || std::size_t(bytes.size()) > MappedSize - offset) return "error range";
        std::memcpy(Block + offset, bytes.constData(), std::size_t(bytes.size()));
        return "ok";
    }
    if (cmd == "take") {
        Lock();
        const TRecords r = ParseRecords(std::int32_t(Get32(OffCount)));
        Put32(OffCount, 0);
        Unlock();
        return "records " + std::to_string(r.Count) + " torn " + std::to_string(r.Torn) + r.Data;
    }
    if (cmd == "hold") {
        Lock();
        return "held";
    }
    if (cmd == "release") {
        Unlock();
        return "released";
    }
    if (cmd == "busy") {
        long holdMs = 0, freeMs = 0, totalMs = 0;
        in >> holdMs >> freeMs >> totalMs;
        return Busy(holdMs, freeMs, totalMs);
    }
    if (cmd == "stress") {
        long cycles = 0, records = 0, waitMs = 0;
        in >> cycles >> records >> waitMs;
        return Stress(cycles, records, waitMs);
    }
    return "error unknown command " + cmd;
}

} // namespace

int main(int argc, char **argv) {
    // --settings DIR: the user's settings folder of the server under test.
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--settings") == 0)
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QString::fromLocal8Bit(argv[i + 1]));
    std::string line;
    std::cout << "ready" << std::endl;
    while (std::getline(std::cin, line)) {
        if (line == "quit") break;
        std::cout << Run(line) << std::endl;
    }
    Unmap();
    return 0;
}
