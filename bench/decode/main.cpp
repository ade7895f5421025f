// bench_decode: receiver plus decoder over 100,000 meter frames held in memory, beside a plain copy
// of the same bytes in the same event sizes. Run under callgrind (see run-callgrind.sh): each part
// is collected alone and dumped under its own name, so the dumps give instructions per frame.
// Without valgrind it prints wall-clock times instead.
#include "acquisition/frame_receiver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

namespace {

constexpr int FrameCount = 100000;
constexpr std::size_t EventSize = 64;

char Digit(std::mt19937& random, int below = 10)
{
    return static_cast<char>('0' + std::uniform_int_distribution<int>(0, below - 1)(random));
}

// Mostly single readings on channels 1..8, a fifth dual-display frames, a few invalid readings,
// channel 0 frames and frames with a wrong end byte, and a noise byte now and then.
std::vector<uint8_t> MeterStream(std::mt19937& random)
{
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> perMille(0, 999);
    std::vector<uint8_t> stream;
    stream.reserve(FrameCount * 17);
    for (int i = 0; i < FrameCount; ++i) {
        if (perMille(random) < 10)
            stream.push_back(static_cast<uint8_t>(0x80 + percent(random)));
        char frame[16];
        frame[0] = FrameStartByte;
        const bool dual = percent(random) < 20;
        frame[1] = dual ? Digit(random, 4) : '4';
        frame[2] = dual ? '1' : static_cast<char>(perMille(random) < 5 ? '0' : '1' + percent(random) % 8);
        frame[3] = percent(random) < 10 ? 'A' : Digit(random);
        frame[4] = Digit(random);
        frame[5] = dual ? Digit(random, 4) : Digit(random, 2);
        frame[6] = Digit(random, dual ? 4 : 10);
        for (int k = 7; k < 15; ++k)
            frame[k] = Digit(random);
        if (dual && percent(random) < 30)
            frame[8] = '?';
        if (perMille(random) < 5)
            frame[11] = '?';
        frame[15] = perMille(random) < 1 ? 'X' : static_cast<char>(FrameEndByte);
        stream.insert(stream.end(), frame, frame + 16);
    }
    return stream;
}

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main()
{
    std::mt19937 random(350);
    const std::vector<uint8_t> stream = MeterStream(random);
    for (int ch = 1; ch <= MaxChannel; ++ch)
        Shared.DispSetup[ch].Scale = 1.0;

    std::vector<uint8_t> copy(EventSize);
    auto started = std::chrono::steady_clock::now();
    CALLGRIND_TOGGLE_COLLECT;
    for (std::size_t at = 0; at < stream.size(); at += EventSize) {
        const std::size_t n = std::min(EventSize, stream.size() - at);
        std::memcpy(copy.data(), stream.data() + at, n);
        // Keeps the compiler from dropping copies that nothing reads.
        asm volatile("" : : "r"(copy.data()) : "memory");
    }
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT("copy");
    const double copySeconds = Seconds(started);

    FrameReceiver receiver;
    started = std::chrono::steady_clock::now();
    CALLGRIND_TOGGLE_COLLECT;
    for (std::size_t at = 0; at < stream.size(); at += EventSize)
        receiver.Receive(stream.data() + at, std::min(EventSize, stream.size() - at));
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_DUMP_STATS_AT("receive-decode");
    const double decodeSeconds = Seconds(started);

    int delivered = 0;
    FrameReceiver counter;
    counter.OnFrame = [&delivered](FrameBufferArray&) {
        ++delivered;
        return true;
    };
    for (std::size_t at = 0; at < stream.size(); at += EventSize)
        counter.Receive(stream.data() + at, std::min(EventSize, stream.size() - at));

    double sum = 0;
    for (double value : Shared.ChanValue)
        sum += value;
    std::printf("frames in the stream: %d (%zu bytes, events of %zu bytes)\n", FrameCount, stream.size(),
                EventSize);
    std::printf("frames decoded: %d\n", delivered);
    std::printf("copy: %.3f ms, receive and decode: %.3f ms (wall clock)\n", copySeconds * 1e3,
                decodeSeconds * 1e3);
    std::printf("checksum of the readings: %.17g\n", sum);
    return 0;
}
