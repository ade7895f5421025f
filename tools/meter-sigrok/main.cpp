// meter-sigrok: one libsigrok device as a stream of text lines, for the recorder's sigrok source
// (src/station/sigrok_source.h), which runs it as a child process. The process boundary keeps
// GLib and libsigrok out of the recorder, lets a hung session be killed, and frees what libsigrok
// leaks per packet whenever the source restarts it.
//
//   meter-sigrok --list-drivers               the drivers of this libsigrok
//   meter-sigrok --check DRIVER [KEY=VALUE...] the driver exists and every option parses
//   meter-sigrok DRIVER [KEY=VALUE...]         records the first device the driver finds
//
// KEY is a libsigrok configuration key (conn, serialcomm, samplerate, analog_channels, ...):
// scan options find the device, the others are set on it once it is open. Logic channels are
// switched off; only analog readings are written.
//
// Output, format 1: UTF-8 lines, fields separated by one TAB, a "-" for an empty field.
//   meter-sigrok  1                                   first line, the format version
//   driver        NAME  DESCRIPTION                   --list-drivers, one per driver
//   ok                                                --check passed
//   device        DESCRIPTION  ANALOG-CHANNELS        the device is open
//   channel       INDEX  NAME                         its analog channels, INDEX from 0
//   reading       INDEX  VALUE  DIGITS  QUANTITY  UNIT  FLAGS
//   error         WHAT  TEXT                          WHAT: init, driver, option, absent, open
//   end           TEXT                                the session ended by itself, or spun
// A reading: VALUE in the unit UNIT with DIGITS decimals (every digit the meter shows, libsigrok's
// display digits; DIGITS <= 0 means no decimals), or inf, -inf (overload) or nan; QUANTITY
// libsigrok's name of the measured quantity (voltage, current, resistance, temperature, ...);
// UNIT V, A, Ohm, F, Hz, °C, °F, K, %, s, S, dBm, dBV, dB, W, ... or -; FLAGS a comma list of ac,
// dc, rms, diode, hold, max, min, auto, rel, avg, ... or -.
// Exit codes: 0 stopped by SIGTERM/SIGINT/SIGHUP, 1 libsigrok failed, 2 unknown driver or bad
// option, 3 no device found or it cannot be opened, 4 the session ended by itself, or spun (a
// third of a core for a second without a packet: libsigrok 0.5.2 does that on a serial port that
// hung up) and was ended.
#include "reading_lines.h"
#include "sigrok_device.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <csignal>
#include <vector>

int main(int argc, char** argv)
{
    // Never outlive the recorder that started it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::printf("meter-sigrok %s\n", VARNIK_VERSION_TEXT);
        return 0;
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs("usage: meter-sigrok --list-drivers | --check DRIVER [KEY=VALUE...] | DRIVER [KEY=VALUE...]\n"
                   "Runs one libsigrok device for meter-record's --source sigrok:DRIVER and writes one line\n"
                   "per reading: TAB-separated, format 1, described in docs/meter-record.md.\n",
                   args.empty() ? stderr : stdout);
        return args.empty() ? sigrokhelper::BadOption : 0;
    }
    std::printf("meter-sigrok\t%d\n", sigrokhelper::FormatVersion);
    std::fflush(stdout);
    sigrokhelper::SigrokDevice device;
    if (args[0] == "--list-drivers")
        return device.ListDrivers();
    const bool check = args[0] == "--check";
    if (check)
        args.erase(args.begin());
    if (args.empty() || args[0].empty() || args[0][0] == '-') {
        std::printf("error\toption\tno driver named\n");
        return sigrokhelper::BadOption;
    }
    const std::string driver = args[0];
    const std::vector<std::string> options(args.begin() + 1, args.end());
    return check ? device.Check(driver, options) : device.Run(driver, options);
}
