// bench_sigrok: a meter on a pseudo-terminal for the latency and memory benchmarks of
// bench/sigrok. Unlike meter-sim it gives every packet its own value and logs the instant the
// packet's last byte was written, so that a row or an MQTT message can be traced to its packet.
// The packets are meter-sim's own (tools/meter-sim's encoders and pseudo-terminal).
//
//   bench_sigrok --protocol fs9721|meter [--rate HZ] [--log FILE] [--link PATH]
//
// fs9721: packet i shows (i mod 4000) / 1000 V DC ("0.000" .. "3.999"), 14 bytes at 2400 baud.
// meter:  frame i carries the reading i on channel 1 (unit code 4, V, no decimals), 16 bytes at
//         9600 baud.
// --rate HZ: HZ packets a second, each one's bytes paced to the line speed (one write per byte);
//         --rate 0 writes whole packets as fast as the reader takes them (blocking writes).
// --log FILE: "INDEX UNIX-SECONDS" per packet, the wall clock just after its last byte's write.
// Prints the slave device first; runs until SIGTERM or SIGINT.
#include "frame_encoder.h"
#include "fs9721_encoder.h"
#include "pty_line.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void Stop(int)
{
    stopRequested = 1;
}

QByteArray Packet(bool fs9721, long long i)
{
    if (!fs9721)
        return meterframe::EncodeSingleFrame(1, 4, 0, double(i % 100'000'000));
    const int counts = int(i % 4000);
    fs9721::Reading reading;
    reading.display = QStringLiteral("%1.%2").arg(counts / 1000).arg(counts % 1000, 3, 10, QLatin1Char('0'));
    reading.unit = fs9721::Unit::Volt;
    reading.coupling = fs9721::Coupling::Dc;
    return fs9721::EncodePacket(reading);
}

timespec Plus(timespec t, long long ns)
{
    ns += t.tv_nsec;
    t.tv_sec += time_t(ns / 1'000'000'000);
    t.tv_nsec = long(ns % 1'000'000'000);
    return t;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0 && !stopRequested) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto value = [&](const QString& name, const QString& fallback) {
        const qsizetype at = args.indexOf(name);
        return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const QString protocol = value(QStringLiteral("--protocol"), QStringLiteral("fs9721"));
    if (protocol != QLatin1String("fs9721") && protocol != QLatin1String("meter")) {
        std::fprintf(stderr, "usage: bench_sigrok --protocol fs9721|meter [--rate HZ] [--log FILE] [--link PATH]\n");
        return 2;
    }
    const bool fs9721 = protocol == QLatin1String("fs9721");
    const double rate = value(QStringLiteral("--rate"), QStringLiteral("4")).toDouble();
    const int baud = fs9721 ? fs9721::Baud : 9600;

    // No SA_RESTART: a write blocked on a full line must end on a stop request.
    struct sigaction stop {};
    stop.sa_handler = Stop;
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    metersim::PtyLine line;
    QString error;
    if (!line.open(baud, &error)) {
        std::fprintf(stderr, "bench_sigrok: %s\n", qPrintable(error));
        return 1;
    }
    metersim::DeviceLink link;
    const QString linkPath = value(QStringLiteral("--link"), QString());
    if (!linkPath.isEmpty() && !link.create(linkPath, line.slavePath(), &error)) {
        std::fprintf(stderr, "bench_sigrok: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(line.slavePath()));
    std::fflush(stdout);
    // Blocking writes: a full line waits for its reader instead of losing bytes.
    const int fd = line.masterFd();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    FILE* log = nullptr;
    const QString logPath = value(QStringLiteral("--log"), QString());
    if (!logPath.isEmpty() && !(log = std::fopen(QFile::encodeName(logPath).constData(), "w"))) {
        std::fprintf(stderr, "bench_sigrok: cannot write %s\n", qPrintable(logPath));
        return 1;
    }
    const long long byteNs = 10 * 1'000'000'000LL / baud; // 8N1: ten bits a byte
    const long long packetNs = rate > 0 ? (long long)(1e9 / rate) : 0;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (long long i = 0; !stopRequested; ++i) {
        const QByteArray packet = Packet(fs9721, i);
        if (packetNs == 0) {
            if (!WriteAll(fd, packet.constData(), size_t(packet.size())))
                break;
        } else {
            const timespec due = Plus(start, i * packetNs);
            for (int b = 0; b < packet.size() && !stopRequested; ++b) {
                const timespec byteDue = Plus(due, b * byteNs);
                while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &byteDue, nullptr) == EINTR && !stopRequested) {
                }
                if (!WriteAll(fd, packet.constData() + b, 1))
                    break;
            }
        }
        if (log && !stopRequested) {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            std::fprintf(log, "%lld %lld.%06ld\n", i, (long long)now.tv_sec, now.tv_nsec / 1000);
            std::fflush(log);
        }
    }
    if (log)
        std::fclose(log);
    return 0;
}
