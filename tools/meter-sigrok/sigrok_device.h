#pragma once
// One libsigrok device for meter-sigrok: the driver and its KEY=VALUE options checked, the device
// found and opened, and its session run on a thread of its own whose default GLib main context is
// a new one (libsigrok's sources attach to the context of the thread that makes the session).
// Every analog packet becomes one reading line on standard output (reading_lines.h).
#include <string>
#include <vector>

struct sr_context;
struct sr_dev_driver;
struct sr_dev_inst;

namespace sigrokhelper {

// Exit codes of meter-sigrok, read by the recorder's source.
enum Exit { Ok = 0, Failed = 1, BadOption = 2, Absent = 3, Ended = 4 };

class SigrokDevice {
  public:
    SigrokDevice();
    ~SigrokDevice();
    SigrokDevice(const SigrokDevice&) = delete;
    SigrokDevice& operator=(const SigrokDevice&) = delete;

    // Prints "driver<TAB>NAME<TAB>DESCRIPTION" for every driver of this libsigrok.
    int ListDrivers();
    // The driver and every option: known key, value of the key's type. An error line on failure.
    int Check(const std::string& driver, const std::vector<std::string>& options);
    // Finds, opens and configures the device, prints its device and channel lines, and runs the
    // session until SIGTERM, SIGINT or SIGHUP (Ok) or until it ends by itself (Ended).
    int Run(const std::string& driver, const std::vector<std::string>& options);

  private:
    sr_context* m_context = nullptr;
};

} // namespace sigrokhelper
