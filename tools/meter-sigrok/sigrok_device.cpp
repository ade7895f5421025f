#include "sigrok_device.h"

#include "reading_lines.h"

#include <libsigrok/libsigrok.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <time.h>

namespace sigrokhelper {

namespace {

std::mutex outputLock;

void Emit(const std::string& line)
{
    std::lock_guard<std::mutex> hold(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

int Error(int code, const char* what, const std::string& text)
{
    Emit(std::string("error\t") + what + '\t' + Field(text.c_str()) + '\n');
    return code;
}

struct Option {
    const sr_key_info* info = nullptr;
    GVariant* value = nullptr; // floating until handed to libsigrok
    std::string text;          // KEY=VALUE as given
};

void FreeOptions(std::vector<Option>& options)
{
    for (Option& o : options)
        if (o.value)
            g_variant_unref(o.value);
    options.clear();
}

// The value of `text` as the key's type wants it; null when it is not one.
GVariant* ValueOf(const sr_key_info* info, const std::string& text)
{
    const char* s = text.c_str();
    char* end = nullptr;
    switch (info->datatype) {
    case SR_T_STRING:
        return text.empty() ? nullptr : g_variant_new_string(s);
    case SR_T_UINT64: {
        uint64_t v = 0;
        if (text.empty() || sr_parse_sizestring(s, &v) != SR_OK)
            return nullptr;
        return g_variant_new_uint64(v);
    }
    case SR_T_INT32: {
        const long v = std::strtol(s, &end, 10);
        return text.empty() || *end || v < INT32_MIN || v > INT32_MAX ? nullptr : g_variant_new_int32(int32_t(v));
    }
    case SR_T_FLOAT: {
        const double v = g_ascii_strtod(s, &end);
        return text.empty() || *end ? nullptr : g_variant_new_double(v);
    }
    case SR_T_BOOL:
        if (text.empty() || text == "1" || text == "true" || text == "yes" || text == "on")
            return g_variant_new_boolean(TRUE);
        if (text == "0" || text == "false" || text == "no" || text == "off")
            return g_variant_new_boolean(FALSE);
        return nullptr;
    case SR_T_RATIONAL_PERIOD: {
        uint64_t p = 0, q = 0;
        return sr_parse_period(s, &p, &q) == SR_OK ? g_variant_new("(tt)", p, q) : nullptr;
    }
    case SR_T_RATIONAL_VOLT: {
        uint64_t p = 0, q = 0;
        return sr_parse_voltage(s, &p, &q) == SR_OK ? g_variant_new("(tt)", p, q) : nullptr;
    }
    default:
        return nullptr;
    }
}

bool ParseOptions(const std::vector<std::string>& given, std::vector<Option>* out, std::string* error)
{
    for (const std::string& text : given) {
        const size_t eq = text.find('=');
        const std::string key = text.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
        Option o;
        o.text = text;
        o.info = key.empty() ? nullptr : sr_key_info_name_get(SR_KEY_CONFIG, key.c_str());
        if (!o.info) {
            *error = "unknown option \"" + key + "\"";
            return false;
        }
        o.value = ValueOf(o.info, value);
        if (!o.value) {
            *error = "option " + key + " cannot take \"" + value + "\"";
            return false;
        }
        g_variant_ref_sink(o.value);
        out->push_back(o);
    }
    return true;
}

bool IsScanOption(sr_dev_driver* driver, uint32_t key)
{
    GArray* keys = sr_driver_scan_options_list(driver);
    bool found = false;
    for (guint i = 0; keys && i < keys->len; ++i)
        found = found || g_array_index(keys, uint32_t, i) == key;
    if (keys)
        g_array_free(keys, TRUE);
    return found;
}

sr_dev_driver* FindDriver(sr_context* context, const std::string& name)
{
    sr_dev_driver** drivers = sr_driver_list(context);
    for (int i = 0; drivers && drivers[i]; ++i)
        if (name == drivers[i]->name)
            return drivers[i];
    return nullptr;
}

// A session that burns this share of a core for a second without a packet has lost its device:
// libsigrok 0.5.2's serial drivers spin on a port that hung up (a cable pulled, the meter's
// adapter gone) and never end the session by themselves. Waiting for a meter uses next to none.
constexpr double SpinShare = 0.3;
constexpr std::chrono::seconds SpinWindow{1};

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// What the session thread shares with the datafeed callback.
struct Session {
    std::atomic<uint64_t> packets{0};
    std::vector<sr_channel*> analog; // our channel index is the position here
    std::atomic<bool> stopRequested{false};
    sr_session* session = nullptr;
};

void Datafeed(const sr_dev_inst*, const sr_datafeed_packet* packet, void* data)
{
    auto* s = static_cast<Session*>(data);
    ++s->packets;
    if (packet->type != SR_DF_ANALOG)
        return;
    const auto* analog = static_cast<const sr_datafeed_analog*>(packet->payload);
    if (analog->num_samples == 0 || !analog->meaning || !analog->meaning->channels)
        return;
    const auto* channel = static_cast<const sr_channel*>(analog->meaning->channels->data);
    int index = -1;
    for (size_t i = 0; i < s->analog.size(); ++i)
        if (s->analog[i] == channel)
            index = int(i);
    if (index < 0)
        return;
    // A packet of several samples (a fast device) gives its newest; a meter sends one at a time.
    std::vector<float> samples(analog->num_samples * g_slist_length(analog->meaning->channels));
    if (sr_analog_to_float(analog, samples.data()) != SR_OK)
        return;
    const double value = samples[analog->num_samples - 1];
    const int digits = analog->spec ? analog->spec->spec_digits : analog->encoding->digits;
    const sr_key_info* mq = sr_key_info_get(SR_KEY_MQ, analog->meaning->mq);
    Emit(ReadingLine(index, value, digits, mq && mq->id ? mq->id : "unknown", analog->meaning->unit,
                     uint64_t(analog->meaning->mqflags)));
}

} // namespace

SigrokDevice::SigrokDevice()
{
    sr_log_loglevel_set(SR_LOG_WARN);
    if (sr_init(&m_context) != SR_OK)
        m_context = nullptr;
}

SigrokDevice::~SigrokDevice()
{
    if (m_context)
        sr_exit(m_context);
}

int SigrokDevice::ListDrivers()
{
    if (!m_context)
        return Error(Failed, "init", "libsigrok cannot start");
    sr_dev_driver** drivers = sr_driver_list(m_context);
    for (int i = 0; drivers && drivers[i]; ++i)
        Emit(std::string("driver\t") + Field(drivers[i]->name) + '\t' + Field(drivers[i]->longname) + '\n');
    return Ok;
}

int SigrokDevice::Check(const std::string& driver, const std::vector<std::string>& options)
{
    if (!m_context)
        return Error(Failed, "init", "libsigrok cannot start");
    if (!FindDriver(m_context, driver))
        return Error(BadOption, "driver", "no libsigrok driver \"" + driver + "\" (--list-drivers lists them)");
    std::vector<Option> parsed;
    std::string why;
    const bool ok = ParseOptions(options, &parsed, &why);
    FreeOptions(parsed);
    if (!ok)
        return Error(BadOption, "option", why);
    Emit("ok\n");
    return Ok;
}

int SigrokDevice::Run(const std::string& driverName, const std::vector<std::string>& given)
{
    if (!m_context)
        return Error(Failed, "init", "libsigrok cannot start");
    sr_dev_driver* driver = FindDriver(m_context, driverName);
    if (!driver)
        return Error(BadOption, "driver", "no libsigrok driver \"" + driverName + "\"");
    std::vector<Option> options;
    std::string why;
    if (!ParseOptions(given, &options, &why)) {
        FreeOptions(options);
        return Error(BadOption, "option", why);
    }
    if (sr_driver_init(m_context, driver) != SR_OK) {
        FreeOptions(options);
        return Error(Failed, "init", "the driver " + driverName + " cannot start");
    }
    GSList* scanOptions = nullptr;
    for (Option& o : options)
        if (IsScanOption(driver, o.info->key)) {
            auto* config = g_new0(sr_config, 1);
            config->key = o.info->key;
            config->data = g_variant_ref(o.value);
            scanOptions = g_slist_append(scanOptions, config);
        }
    GSList* devices = sr_driver_scan(driver, scanOptions);
    g_slist_free_full(scanOptions, [](gpointer p) {
        g_variant_unref(static_cast<sr_config*>(p)->data);
        g_free(p);
    });
    if (!devices) {
        bool port = false;
        for (const Option& o : options)
            port = port || o.info->key == SR_CONF_CONN;
        FreeOptions(options);
        // A meter on a serial cable is found only on the port it is given.
        const std::string hint = !port && IsScanOption(driver, SR_CONF_CONN)
                                     ? " (no port given: a meter on a serial cable is found only on its port)"
                                     : "";
        return Error(Absent, "absent", "no " + driverName + " device found" + hint);
    }
    auto* sdi = static_cast<sr_dev_inst*>(devices->data);
    g_slist_free(devices);
    if (const int r = sr_dev_open(sdi); r != SR_OK) {
        FreeOptions(options);
        return Error(Absent, "open", std::string("the device cannot be opened: ") + sr_strerror(r));
    }
    Session s;
    for (GSList* l = sr_dev_inst_channels_get(sdi); l; l = l->next) {
        auto* ch = static_cast<sr_channel*>(l->data);
        if (ch->type == SR_CHANNEL_ANALOG)
            s.analog.push_back(ch);
        else
            sr_dev_channel_enable(ch, FALSE); // only analog readings are used
    }
    for (Option& o : options) {
        if (IsScanOption(driver, o.info->key))
            continue;
        if (const int r = sr_config_set(sdi, nullptr, o.info->key, o.value); r != SR_OK) {
            sr_dev_close(sdi);
            const std::string text = o.text;
            FreeOptions(options);
            return Error(BadOption, "option", text + ": " + sr_strerror(r));
        }
    }
    FreeOptions(options);
    // libsigrok ends a session without an enabled channel at once (or crashes in it): a device
    // set up with none (analog_channels=0) is a refused option, not a device to try again.
    if (s.analog.empty()) {
        sr_dev_close(sdi);
        return Error(BadOption, "option", "the device has no analog channel to record");
    }
    std::string description;
    for (const char* part : {sr_dev_inst_vendor_get(sdi), sr_dev_inst_model_get(sdi)})
        if (part && *part)
            description += (description.empty() ? "" : " ") + std::string(part);
    Emit("device\t" + Field(description.c_str()) + '\t' + std::to_string(s.analog.size()) + '\n');
    for (size_t i = 0; i < s.analog.size(); ++i)
        Emit("channel\t" + std::to_string(i) + '\t' + Field(s.analog[i]->name) + '\n');

    // Signals are taken by sigwait on this thread only; the session thread inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGUSR1})
        sigaddset(&stops, sig);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    std::promise<std::string> ended;
    std::future<std::string> endedText = ended.get_future();
    std::promise<void> made;
    std::thread thread([&] {
        GMainContext* own = g_main_context_new();
        g_main_context_push_thread_default(own);
        std::string result = "the session ended";
        int r = sr_session_new(m_context, &s.session);
        if (r == SR_OK)
            r = sr_session_dev_add(s.session, sdi);
        if (r == SR_OK)
            r = sr_session_datafeed_callback_add(s.session, Datafeed, &s);
        if (r == SR_OK)
            r = sr_session_start(s.session);
        made.set_value();
        if (r == SR_OK)
            r = sr_session_run(s.session);
        if (r != SR_OK)
            result = std::string("session: ") + sr_strerror(r);
        if (s.session)
            sr_session_destroy(s.session);
        g_main_context_pop_thread_default(own);
        g_main_context_unref(own);
        ended.set_value(result);
        if (!s.stopRequested)
            kill(getpid(), SIGUSR1);
    });
    made.get_future().wait();
    // Waits for a signal, and watches the session for spinning meanwhile (sig 0).
    int sig = 0;
    using Clock = std::chrono::steady_clock;
    Clock::time_point since = Clock::now();
    double cpuSince = CpuSeconds();
    uint64_t packetsSince = s.packets;
    for (;;) {
        const timespec window{SpinWindow.count(), 0};
        sig = sigtimedwait(&stops, nullptr, &window);
        if (sig > 0)
            break;
        const Clock::time_point now = Clock::now();
        if (now - since < SpinWindow)
            continue;
        const double wall = std::chrono::duration<double>(now - since).count();
        const double cpu = CpuSeconds();
        const bool spinning = s.packets == packetsSince && cpu - cpuSince >= SpinShare * wall;
        since = now;
        cpuSince = cpu;
        packetsSince = s.packets;
        if (spinning) {
            sig = 0;
            break;
        }
    }
    if (sig == 0) {
        s.stopRequested = true;
        sr_session_stop(s.session);
        Emit("end\tthe session spins without readings (the device hung up)\n");
        if (endedText.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready)
            std::_Exit(Ended);
        thread.join();
        sr_dev_close(sdi);
        return Ended;
    }
    if (sig == SIGUSR1) {
        thread.join();
        sr_dev_close(sdi);
        Emit("end\t" + Field(endedText.get().c_str()) + '\n');
        return Ended;
    }
    s.stopRequested = true;
    if (s.session)
        sr_session_stop(s.session);
    // A session that hangs in a driver must not hold the exit: the kernel closes the device.
    if (endedText.wait_for(std::chrono::milliseconds(500)) != std::future_status::ready) {
        std::fflush(stdout);
        std::_Exit(Ok);
    }
    thread.join();
    sr_dev_close(sdi);
    return Ok;
}

} // namespace sigrokhelper
