#pragma once
// Shared pieces of the fuzz targets. Each fuzz_*.cpp file holds one target. Built for libFuzzer
// (VARNIK_FUZZ_ENGINE), the target is its executable's LLVMFuzzerTestOneInput; in the replay test
// every target is linked into one executable and registered by name, so the replay can run the
// committed corpus of each through the right one.
#include <QByteArray>
#include <QDir>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using FuzzFunction = int (*)(const uint8_t* data, size_t size);
bool RegisterFuzzTarget(const char* name, FuzzFunction function);

#ifdef VARNIK_FUZZ_ENGINE
#define VARNIK_FUZZ_TARGET(name, function)                                                                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return function(data, size); }
#else
#define VARNIK_FUZZ_TARGET(name, function) static const bool function##Registered = RegisterFuzzTarget(name, function);
#endif

// A broken promise of the code under test: says which and aborts, which libFuzzer reports as a crash
// (and keeps the input) and which fails the replay test.
#define FUZZ_CHECK(condition, what)                                                                        \
    do {                                                                                                   \
        if (!(condition)) {                                                                                \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, __FILE__, __LINE__);             \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (0)

// Reads the input front to back; past the end every read gives zeros / empty.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    template <typename T> T value()
    {
        T v{};
        unsigned char* out = reinterpret_cast<unsigned char*>(&v);
        for (size_t i = 0; i < sizeof v; ++i)
            out[i] = byte();
        return v;
    }
    // Up to `max` bytes, fewer at the end of the input.
    QByteArray bytes(size_t max)
    {
        const size_t n = std::min(max, left());
        QByteArray b(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return b;
    }
    // The bytes up to the next newline (or the end), without it.
    QByteArray line()
    {
        const size_t from = m_pos;
        while (m_pos < m_size && m_data[m_pos] != '\n')
            ++m_pos;
        QByteArray b(reinterpret_cast<const char*>(m_data + from), qsizetype(m_pos - from));
        if (m_pos < m_size)
            ++m_pos;
        return b;
    }
    QByteArray rest() { return bytes(left()); }

  private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A private scratch folder for the process, in /dev/shm when there is one (fuzzing writes files
// thousands of times a second). Removed at exit.
QString FuzzScratchFolder();

// The statement that makes a data file's DataRecord table of `channels` channels, as the program
// makes it (date and time as text, readings REAL, units VARCHAR).
QByteArray DataRecordTableSql(int channels);

// A URL with a password that holds FuzzSecretMark, built from fuzz input by the URL targets: the
// mark must not survive in any message or shown form of the URL.
inline constexpr char FuzzSecretMark[] = "Zq7Kw";
// The parts of a URL: a user and the two halves of the password around the mark, then the rest
// after "@"; lines of the input. `drop` lists characters taken out of the password halves (those
// that would end the password in the form being built), and the mark is taken out of the others.
struct FuzzUrlParts {
    QString user, before, after, rest;
};
FuzzUrlParts ReadUrlParts(FuzzInput& in, const QString& drop);
void CheckNoSecret(const QString& text, const char* what);
