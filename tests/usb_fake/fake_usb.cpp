// The fake devices and the libusb-1.0 entry points over them (see fake_usb.h).
#include "tests/usb_fake/fake_usb.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "device/drivers/byte_fifo.h"

using ulvarin::sim::Clock;

// libusb's opaque types, as this fake keeps them.
struct libusb_context {
    bool interrupted = false;
};

namespace ulvarin::usbfake {
struct Chip;
}

struct libusb_device {
    int references = 1;
    std::shared_ptr<ulvarin::usbfake::Chip> chip;
    libusb_context* context = nullptr;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
};

namespace ulvarin::usbfake {
namespace {

constexpr size_t kChipBufferBytes = 4096;
constexpr uint8_t kModemStatus[2] = {0x32, 0x60};
constexpr uint16_t kFtdiVendor = 0x0403;
constexpr uint8_t kSioReset = 0x00, kSioSetLatency = 0x09, kSioGetLatency = 0x0A;
constexpr uint16_t kPurgeHostReceive = 2;  // the chip's output towards the host
const auto kForever = std::chrono::hours(24);

// A bulk read waiting on a channel: a caller's asynchronous transfer, or the one a
// synchronous read waits for.
struct Read {
    libusb_transfer* transfer;
    libusb_context* context;
    Clock::time_point submitted;
    bool synchronous;
    size_t payload = 0;  // data bytes it holds
    bool done = false;
};

struct Channel {
    std::unique_ptr<sim::EmulatedInterface> emulator;
    sim::LinkTiming timing;
    ByteFifo chip;  // taken from the interface, not yet sent to the host
    Clock::time_point lastAdvance;
    Clock::time_point lastPacket;  // the latency timer runs from here
    double credit = 0;             // link bytes not yet used (less than one)
    unsigned latencyMs = 16;
    bool halted = false;
    std::deque<Read*> reads;
    std::optional<size_t> timeOutAt, stallAt;     // faults of the next read
    std::deque<libusb_transfer_status> failures;  // of the next reads, holding no data
    std::optional<size_t> unplugAt;               // bytesRead at which the cable goes
    double writeRate = 0;
    size_t bytesWritten = 0;
    size_t bytesRead = 0;
};

}  // namespace

struct Chip {
    DeviceId id = 0;
    DeviceModel model;
    std::vector<Channel> channels;
    std::vector<const libusb_device_handle*> claimedBy;
    std::vector<ControlRequest> log;
    bool plugged = true;
};

namespace {

struct ConfigBlock {
    libusb_config_descriptor config{};
    std::vector<libusb_interface> interfaces;
    std::vector<libusb_interface_descriptor> settings;
    std::vector<libusb_endpoint_descriptor> endpoints;
};

struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Chip>> chips;
    std::map<std::string, size_t, std::less<>> calls;
    std::map<libusb_transfer*, std::unique_ptr<Read>> inFlight;  // asynchronous reads
    std::deque<Read*> finished;  // asynchronous reads ended, callbacks not yet run
    std::map<const libusb_config_descriptor*, std::unique_ptr<ConfigBlock>> configs;
    libusb_context defaultContext;
    DeviceId nextId = 1;
};

// Never destroyed: libftdi may still call in while the program exits.
State& S() {
    static State* state = new State;
    return *state;
}

using Lock = std::unique_lock<std::mutex>;

Lock Enter(const char* function) {
    Lock lock(S().mutex);
    ++S().calls[function];
    return lock;
}

int ChannelCount(uint16_t product) {
    return product == 0x6010 ? 2 : product == 0x6011 ? 4 : 1;
}

uint16_t DeviceRelease(uint16_t product) {
    switch (product) {
        case 0x6001:
            return 0x0600;
        case 0x6010:
            return 0x0700;
        case 0x6011:
            return 0x0800;
        case 0x6015:
            return 0x1000;
        default:
            return 0x0900;
    }
}

std::shared_ptr<Chip> FindChip(DeviceId id) {
    for (auto& chip : S().chips)
        if (chip->id == id) return chip;
    return nullptr;
}

Channel& ChannelOf(DeviceId id, int channel) {
    return FindChip(id)->channels.at(static_cast<size_t>(channel));
}

Clock::duration Latency(const Channel& channel) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(channel.timing.latencySeconds));
}

Clock::duration LatencyTimer(const Channel& channel) {
    return std::chrono::milliseconds(std::max(1u, channel.latencyMs));
}

// Data bytes the waiting reads can still take.
size_t ReadRoom(const Channel& channel, size_t packetSize) {
    size_t room = 0;
    for (const Read* read : channel.reads) {
        const auto left =
            static_cast<size_t>(read->transfer->length - read->transfer->actual_length);
        room += left / packetSize * (packetSize - 2);
    }
    return room;
}

void End(Read* read, libusb_transfer_status status) {
    read->transfer->status = status;
    read->done = true;
    if (!read->synchronous) S().finished.push_back(read);
    S().changed.notify_all();
}

void UnplugLocked(Chip& chip) {
    chip.plugged = false;
    for (auto& channel : chip.channels) {
        while (!channel.reads.empty()) {
            End(channel.reads.front(), LIBUSB_TRANSFER_NO_DEVICE);
            channel.reads.pop_front();
        }
    }
    S().changed.notify_all();
}

// Puts one packet of `count` data bytes from the chip buffer into `read`.
void SendPacket(Channel& channel, Read& read, size_t count, Clock::time_point now) {
    libusb_transfer& t = *read.transfer;
    std::memcpy(t.buffer + t.actual_length, kModemStatus, 2);
    channel.chip.Take(t.buffer + t.actual_length + 2, count);
    t.actual_length += static_cast<int>(count + 2);
    read.payload += count;
    channel.bytesRead += count;
    channel.lastPacket = now;
}

// The fault that ends `read` now, if any.
std::optional<libusb_transfer_status> FaultAfterPacket(Channel& channel, const Read& read) {
    if (channel.timeOutAt && read.payload >= *channel.timeOutAt) {
        channel.timeOutAt.reset();
        return LIBUSB_TRANSFER_TIMED_OUT;
    }
    if (channel.stallAt && read.payload >= *channel.stallAt) {
        channel.stallAt.reset();
        channel.halted = true;
        return LIBUSB_TRANSFER_STALL;
    }
    return std::nullopt;
}

// Moves the chip buffer into the waiting reads, in order, and ends those that are full,
// got a short packet, timed out or hit a fault.
void FillReads(Chip& chip, Channel& channel, Clock::time_point now) {
    const size_t packet = chip.model.maxPacketSize, data = packet - 2;
    while (chip.plugged && !channel.reads.empty()) {
        Read& read = *channel.reads.front();
        libusb_transfer& t = *read.transfer;
        std::optional<libusb_transfer_status> end;
        if (channel.halted) {
            end = LIBUSB_TRANSFER_STALL;
        } else if (!channel.failures.empty()) {
            end = channel.failures.front();
            channel.failures.pop_front();
        }
        auto room = [&] { return static_cast<size_t>(t.length - t.actual_length); };
        while (!end && room() >= packet && channel.chip.Size() >= data) {
            SendPacket(channel, read, data, now);
            end = FaultAfterPacket(channel, read);
        }
        if (!end && room() < packet) {
            end = LIBUSB_TRANSFER_COMPLETED;
        } else if (!end && now - channel.lastPacket >= LatencyTimer(channel)) {
            SendPacket(channel, read, channel.chip.Size(), now);  // short or status only
            end = LIBUSB_TRANSFER_COMPLETED;
        } else if (!end && t.timeout != 0 &&
                   now - read.submitted >= std::chrono::milliseconds(t.timeout)) {
            end = LIBUSB_TRANSFER_TIMED_OUT;
        }
        if (channel.unplugAt && channel.bytesRead >= *channel.unplugAt) {
            UnplugLocked(chip);
            return;
        }
        if (!end) return;
        channel.reads.pop_front();
        End(&read, *end);
    }
}

// Brings a channel up to `now`: the interface runs, the wire carries what it may into the
// chip buffer (only as far as the buffer and the waiting reads have room: unused link time
// is lost, as on the real chip), and the reads fill.
void Advance(Chip& chip, Channel& channel, Clock::time_point now) {
    if (!chip.plugged) return;
    const double elapsed = std::chrono::duration<double>(now - channel.lastAdvance).count();
    channel.lastAdvance = std::max(channel.lastAdvance, now);
    if (channel.emulator) {
        sim::OutputQueue& out = channel.emulator->Output();
        channel.emulator->Advance(now, out.Size() + channel.chip.Size());
        const size_t room = kChipBufferBytes - std::min(kChipBufferBytes, channel.chip.Size()) +
                            ReadRoom(channel, chip.model.maxPacketSize);
        const double rate = channel.timing.bytesPerSecond;
        const double allowance = rate > 0 ? channel.credit + rate * std::max(elapsed, 0.0)
                                          : std::numeric_limits<double>::max();
        const auto readableAt = now - Latency(channel);
        const double limit = std::min(allowance, static_cast<double>(room));
        const size_t count = std::min(out.Available(readableAt), static_cast<size_t>(limit));
        if (count > 0) {
            std::vector<uint8_t> bytes(count);
            out.Take(bytes.data(), count, readableAt);
            channel.chip.Append(bytes.data(), count);
        }
        channel.credit = rate > 0 && static_cast<double>(count) >= allowance - 1
                             ? allowance - static_cast<double>(count)
                             : 0;
    }
    FillReads(chip, channel, now);
}

void AdvanceAll(Clock::time_point now) {
    for (auto& chip : S().chips)
        for (auto& channel : chip->channels) Advance(*chip, channel, now);
}

// When something next changes for a waiting read on `channel`.
Clock::time_point NextChange(const Chip& chip, Channel& channel, Clock::time_point now) {
    Clock::time_point next = now + kForever;
    if (!chip.plugged || channel.reads.empty()) return next;
    next = std::min(next, channel.lastPacket + LatencyTimer(channel));
    const libusb_transfer& head = *channel.reads.front()->transfer;
    if (head.timeout != 0)
        next = std::min(next,
                        channel.reads.front()->submitted + std::chrono::milliseconds(head.timeout));
    if (!channel.emulator) return next;
    sim::OutputQueue& out = channel.emulator->Output();
    const auto readableAt = now - Latency(channel);
    const double rate = channel.timing.bytesPerSecond;
    if (out.Available(readableAt) > 0 && rate > 0) {
        const size_t packet = chip.model.maxPacketSize;
        const size_t headRoom =
            static_cast<size_t>(head.length - head.actual_length) / packet * (packet - 2);
        const size_t need = headRoom - std::min(headRoom, channel.chip.Size());
        next = std::min(next, now + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(need / rate)));
    }
    if (auto arrival = out.NextArrival(readableAt))
        next = std::min(next, *arrival + Latency(channel));
    if (auto event = channel.emulator->NextEventTime(now, out.Size() + channel.chip.Size()))
        next = std::min(next, *event);
    return std::max(next, now + std::chrono::microseconds(20));
}

Clock::time_point NextChangeAll(Clock::time_point now) {
    Clock::time_point next = now + kForever;
    for (auto& chip : S().chips)
        for (auto& channel : chip->channels) next = std::min(next, NextChange(*chip, channel, now));
    return next;
}

Chip* ChipOf(libusb_device_handle* handle) {
    return handle && handle->device ? handle->device->chip.get() : nullptr;
}

// The channel an endpoint belongs to (IN 0x81, 0x83..., OUT 0x02, 0x04...), or nullptr.
Channel* EndpointChannel(Chip& chip, unsigned char endpoint) {
    const int number = endpoint & 0x7F;
    const int index = (endpoint & 0x80) ? (number - 1) / 2 : number / 2 - 1;
    if (index < 0 || static_cast<size_t>(index) >= chip.channels.size()) return nullptr;
    if ((endpoint & 0x80) ? number % 2 == 0 : number % 2 != 0) return nullptr;
    return &chip.channels[static_cast<size_t>(index)];
}

int SyncStatus(libusb_transfer_status status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return 0;
        case LIBUSB_TRANSFER_TIMED_OUT:
            return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_STALL:
            return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_NO_DEVICE:
            return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_OVERFLOW:
            return LIBUSB_ERROR_OVERFLOW;
        default:
            return LIBUSB_ERROR_IO;
    }
}

// The host's bytes into the interface, as fast as the chip takes them; a write it cannot
// finish within the timeout ends with the bytes taken so far.
int Write(Lock& lock, Chip& chip, Channel& channel, const uint8_t* bytes, int length,
          int* transferred, unsigned timeoutMs) {
    const auto start = Clock::now();
    size_t accept = static_cast<size_t>(length);
    if (channel.writeRate > 0) {
        const auto needed = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(length) / channel.writeRate));
        const auto limit = timeoutMs == 0 ? needed : std::chrono::milliseconds(timeoutMs);
        S().changed.wait_until(lock, start + std::min(needed, limit),
                               [&] { return !chip.plugged; });
        if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
        const double taken =
            std::chrono::duration<double>(Clock::now() - start).count() * channel.writeRate;
        accept = std::min(accept, static_cast<size_t>(taken));
    }
    const auto now = Clock::now();
    AdvanceAll(now);
    if (accept > 0 && channel.emulator) {
        channel.emulator->Receive(std::span(bytes, accept), now,
                                  channel.emulator->Output().Size() + channel.chip.Size());
        // The emulator's own computing is no time on the wire.
        channel.lastAdvance = Clock::now();
    }
    channel.bytesWritten += accept;
    if (transferred) *transferred = static_cast<int>(accept);
    S().changed.notify_all();
    return accept == static_cast<size_t>(length) ? 0 : LIBUSB_ERROR_TIMEOUT;
}

// A synchronous read: waits until it ends.
int ReadSync(Lock& lock, Channel& channel, libusb_context* context, uint8_t* data, int length,
             int* transferred, unsigned timeoutMs) {
    libusb_transfer transfer{};
    transfer.buffer = data;
    transfer.length = length;
    transfer.timeout = timeoutMs;
    AdvanceAll(Clock::now());
    Read read{&transfer, context, Clock::now(), true};
    channel.reads.push_back(&read);
    while (!read.done) {
        const auto now = Clock::now();
        AdvanceAll(now);
        if (!read.done) S().changed.wait_until(lock, NextChangeAll(now));
    }
    if (transferred) *transferred = transfer.actual_length;
    return SyncStatus(transfer.status);
}

// Answers a vendor request on the chip.
int VendorRequest(Chip& chip, uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                  unsigned char* data, uint16_t length) {
    const size_t which = std::clamp<size_t>(index & 0xFF, 1, chip.channels.size()) - 1;
    Channel& channel = chip.channels[which];
    const auto now = Clock::now();
    Advance(chip, channel, now);
    if (request == kSioReset && (value == 0 || value == kPurgeHostReceive)) {
        channel.chip.Clear();
        if (channel.emulator) channel.emulator->Output().DropAvailable(now - Latency(channel));
    } else if (request == kSioSetLatency) {
        channel.latencyMs = value & 0xFF;
    } else if (request == kSioGetLatency && length > 0) {
        data[0] = static_cast<unsigned char>(channel.latencyMs);
        return 1;
    }
    if (type & LIBUSB_ENDPOINT_IN) {
        std::memset(data, 0, length);
        if (length >= 2) std::memcpy(data, kModemStatus, 2);
    }
    return length;
}

}  // namespace

// --- control of the fake -------------------------------------------------------------------

DeviceId Plug(DeviceModel model) {
    Lock lock(S().mutex);
    auto chip = std::make_shared<Chip>();
    chip->id = S().nextId++;
    const auto now = Clock::now();
    chip->channels.resize(static_cast<size_t>(ChannelCount(model.product)));
    chip->claimedBy.resize(chip->channels.size(), nullptr);
    for (size_t i = 0; i < chip->channels.size(); ++i) {
        Channel& channel = chip->channels[i];
        channel.lastAdvance = channel.lastPacket = now;
        if (i < model.interfaces.size())
            channel.emulator = std::make_unique<sim::EmulatedInterface>(model.interfaces[i], now);
    }
    chip->model = std::move(model);
    S().chips.push_back(chip);
    return chip->id;
}

void Unplug(DeviceId device) {
    Lock lock(S().mutex);
    if (auto chip = FindChip(device)) UnplugLocked(*chip);
}

void Reset() {
    Lock lock(S().mutex);
    for (auto& chip : S().chips) UnplugLocked(*chip);
    S().chips.clear();
    S().calls.clear();
}

void SetTiming(DeviceId device, int channel, sim::LinkTiming timing) {
    Lock lock(S().mutex);
    ChannelOf(device, channel).timing = timing;
}

void WithInterface(DeviceId device, int channel,
                   const std::function<void(sim::EmulatedInterface&)>& action) {
    Lock lock(S().mutex);
    action(*ChannelOf(device, channel).emulator);
    S().changed.notify_all();
}

void TimeOutNextRead(DeviceId device, int channel, size_t bytes) {
    Lock lock(S().mutex);
    ChannelOf(device, channel).timeOutAt = bytes;
}

void StallNextRead(DeviceId device, int channel, size_t bytes) {
    Lock lock(S().mutex);
    ChannelOf(device, channel).stallAt = bytes;
}

void FailNextReads(DeviceId device, int channel, size_t count, ReadFailure failure) {
    Lock lock(S().mutex);
    const auto status =
        failure == ReadFailure::kOverflow ? LIBUSB_TRANSFER_OVERFLOW : LIBUSB_TRANSFER_ERROR;
    auto& failures = ChannelOf(device, channel).failures;
    failures.insert(failures.end(), count, status);
}

void UnplugAfterRead(DeviceId device, int channel, size_t bytes) {
    Lock lock(S().mutex);
    Channel& c = ChannelOf(device, channel);
    c.unplugAt = c.bytesRead + bytes;
}

void SetWriteRate(DeviceId device, int channel, double bytesPerSecond) {
    Lock lock(S().mutex);
    ChannelOf(device, channel).writeRate = bytesPerSecond;
}

size_t Calls(const std::string& name) {
    Lock lock(S().mutex);
    const auto found = S().calls.find(name);
    return found == S().calls.end() ? 0 : found->second;
}

std::vector<ControlRequest> ControlLog(DeviceId device) {
    Lock lock(S().mutex);
    return FindChip(device)->log;
}

size_t BytesWritten(DeviceId device, int channel) {
    Lock lock(S().mutex);
    return ChannelOf(device, channel).bytesWritten;
}

size_t BytesRead(DeviceId device, int channel) {
    Lock lock(S().mutex);
    return ChannelOf(device, channel).bytesRead;
}

}  // namespace ulvarin::usbfake

// --- libusb-1.0 ----------------------------------------------------------------------------

using namespace ulvarin::usbfake;

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context** context) {
    auto lock = Enter(__func__);
    if (context) *context = new libusb_context;
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context* context) {
    auto lock = Enter(__func__);
    // Reads that ended without being reaped go with their context.
    std::erase_if(S().finished, [&](Read* read) {
        if (read->context != context) return false;
        S().inFlight.erase(read->transfer);
        return true;
    });
    if (context != &S().defaultContext) delete context;
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* context, libusb_device*** list) {
    auto lock = Enter(__func__);
    std::vector<libusb_device*> devices;
    for (auto& chip : S().chips)
        if (chip->plugged) devices.push_back(new libusb_device{1, chip, context});
    auto* out =
        static_cast<libusb_device**>(std::calloc(devices.size() + 1, sizeof(libusb_device*)));
    if (!out) return LIBUSB_ERROR_NO_MEM;
    std::copy(devices.begin(), devices.end(), out);
    *list = out;
    return static_cast<ssize_t>(devices.size());
}

libusb_device* LIBUSB_CALL libusb_ref_device(libusb_device* device) {
    auto lock = Enter(__func__);
    ++device->references;
    return device;
}

static void UnrefLocked(libusb_device* device) {
    if (device && --device->references == 0) delete device;
}

void LIBUSB_CALL libusb_unref_device(libusb_device* device) {
    auto lock = Enter(__func__);
    UnrefLocked(device);
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int unrefDevices) {
    auto lock = Enter(__func__);
    if (!list) return;
    if (unrefDevices)
        for (auto** d = list; *d; ++d) UnrefLocked(*d);
    std::free(list);
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* device,
                                             libusb_device_descriptor* descriptor) {
    auto lock = Enter(__func__);
    const DeviceModel& model = device->chip->model;
    *descriptor = {};
    descriptor->bLength = LIBUSB_DT_DEVICE_SIZE;
    descriptor->bDescriptorType = LIBUSB_DT_DEVICE;
    descriptor->bcdUSB = 0x0200;
    descriptor->bMaxPacketSize0 = 64;
    descriptor->idVendor = kFtdiVendor;
    descriptor->idProduct = model.product;
    descriptor->bcdDevice = DeviceRelease(model.product);
    descriptor->iManufacturer = model.manufacturer.empty() ? 0 : 1;
    descriptor->iProduct = model.description.empty() ? 0 : 2;
    descriptor->iSerialNumber = model.serial.empty() ? 0 : 3;
    descriptor->bNumConfigurations = 1;
    return 0;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device* device, uint8_t index,
                                             libusb_config_descriptor** config) {
    auto lock = Enter(__func__);
    if (index != 0) return LIBUSB_ERROR_NOT_FOUND;
    const Chip& chip = *device->chip;
    const size_t channels = chip.channels.size();
    auto block = std::make_unique<ConfigBlock>();
    block->interfaces.resize(channels);
    block->settings.resize(channels);
    block->endpoints.resize(2 * channels);
    for (size_t i = 0; i < channels; ++i) {
        libusb_endpoint_descriptor* endpoints = &block->endpoints[2 * i];
        endpoints[0].bEndpointAddress = static_cast<uint8_t>(0x81 + 2 * i);
        endpoints[1].bEndpointAddress = static_cast<uint8_t>(0x02 + 2 * i);
        for (int e = 0; e < 2; ++e) {
            endpoints[e].bLength = LIBUSB_DT_ENDPOINT_SIZE;
            endpoints[e].bDescriptorType = LIBUSB_DT_ENDPOINT;
            endpoints[e].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
            endpoints[e].wMaxPacketSize = chip.model.maxPacketSize;
        }
        libusb_interface_descriptor& setting = block->settings[i];
        setting.bLength = LIBUSB_DT_INTERFACE_SIZE;
        setting.bDescriptorType = LIBUSB_DT_INTERFACE;
        setting.bInterfaceNumber = static_cast<uint8_t>(i);
        setting.bNumEndpoints = 2;
        setting.bInterfaceClass = LIBUSB_CLASS_VENDOR_SPEC;
        setting.endpoint = endpoints;
        block->interfaces[i].altsetting = &setting;
        block->interfaces[i].num_altsetting = 1;
    }
    libusb_config_descriptor& c = block->config;
    c.bLength = LIBUSB_DT_CONFIG_SIZE;
    c.bDescriptorType = LIBUSB_DT_CONFIG;
    c.bNumInterfaces = static_cast<uint8_t>(channels);
    c.bConfigurationValue = 1;
    c.MaxPower = 45;
    c.interface = block->interfaces.data();
    *config = &c;
    S().configs[&c] = std::move(block);
    return 0;
}

void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor* config) {
    auto lock = Enter(__func__);
    S().configs.erase(config);
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device*) {
    auto lock = Enter(__func__);
    return 1;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* device) {
    auto lock = Enter(__func__);
    return static_cast<uint8_t>(device->chip->id);
}

int LIBUSB_CALL libusb_open(libusb_device* device, libusb_device_handle** handle) {
    auto lock = Enter(__func__);
    if (!device->chip->plugged) return LIBUSB_ERROR_NO_DEVICE;
    ++device->references;
    *handle = new libusb_device_handle{device};
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* handle) {
    auto lock = Enter(__func__);
    if (!handle) return;
    for (auto& owner : handle->device->chip->claimedBy)
        if (owner == handle) owner = nullptr;
    UnrefLocked(handle->device);
    delete handle;
}

int LIBUSB_CALL libusb_get_configuration(libusb_device_handle* handle, int* config) {
    auto lock = Enter(__func__);
    if (!ChipOf(handle)->plugged) return LIBUSB_ERROR_NO_DEVICE;
    *config = 1;
    return 0;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle* handle, int) {
    auto lock = Enter(__func__);
    return ChipOf(handle)->plugged ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle* handle, int number) {
    auto lock = Enter(__func__);
    Chip& chip = *ChipOf(handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (number < 0 || static_cast<size_t>(number) >= chip.claimedBy.size())
        return LIBUSB_ERROR_NOT_FOUND;
    auto& owner = chip.claimedBy[static_cast<size_t>(number)];
    if (owner && owner != handle) return LIBUSB_ERROR_BUSY;
    owner = handle;
    return 0;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle* handle, int number) {
    auto lock = Enter(__func__);
    Chip& chip = *ChipOf(handle);
    if (number < 0 || static_cast<size_t>(number) >= chip.claimedBy.size())
        return LIBUSB_ERROR_NOT_FOUND;
    auto& owner = chip.claimedBy[static_cast<size_t>(number)];
    if (owner == handle) owner = nullptr;
    return chip.plugged ? 0 : LIBUSB_ERROR_NO_DEVICE;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle* handle, int) {
    auto lock = Enter(__func__);
    return ChipOf(handle)->plugged ? LIBUSB_ERROR_NOT_FOUND : LIBUSB_ERROR_NO_DEVICE;
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    auto lock = Enter(__func__);
    return 0;
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* handle, uint8_t index,
                                                   unsigned char* data, int length) {
    auto lock = Enter(__func__);
    const Chip& chip = *ChipOf(handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    const std::string* text = index == 1   ? &chip.model.manufacturer
                              : index == 2 ? &chip.model.description
                              : index == 3 ? &chip.model.serial
                                           : nullptr;
    if (!text || text->empty() || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    const size_t n = std::min(text->size(), static_cast<size_t>(length - 1));
    std::memcpy(data, text->data(), n);
    data[n] = 0;
    return static_cast<int>(n);
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* handle, uint8_t requestType,
                                        uint8_t request, uint16_t value, uint16_t index,
                                        unsigned char* data, uint16_t length, unsigned int) {
    auto lock = Enter(__func__);
    Chip& chip = *ChipOf(handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    chip.log.push_back({requestType, request, value, index});
    if ((requestType & LIBUSB_REQUEST_TYPE_VENDOR) != LIBUSB_REQUEST_TYPE_VENDOR)
        return LIBUSB_ERROR_PIPE;  // the chip answers vendor requests only here
    return VendorRequest(chip, requestType, request, value, index, data, length);
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint,
                                     unsigned char* data, int length, int* transferred,
                                     unsigned int timeout) {
    auto lock = Enter(__func__);
    if (transferred) *transferred = 0;
    Chip& chip = *ChipOf(handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    Channel* channel = EndpointChannel(chip, endpoint);
    if (!channel) return LIBUSB_ERROR_NOT_FOUND;
    if (!(endpoint & LIBUSB_ENDPOINT_IN))
        return Write(lock, chip, *channel, data, length, transferred, timeout);
    return ReadSync(lock, *channel, handle->device->context, data, length, transferred, timeout);
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle* handle, unsigned char endpoint) {
    auto lock = Enter(__func__);
    Chip& chip = *ChipOf(handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    Channel* channel = EndpointChannel(chip, endpoint);
    if (!channel) return LIBUSB_ERROR_NOT_FOUND;
    if (endpoint & LIBUSB_ENDPOINT_IN) channel->halted = false;
    return 0;
}

libusb_transfer* LIBUSB_CALL libusb_alloc_transfer(int isoPackets) {
    auto lock = Enter(__func__);
    const size_t packets = static_cast<size_t>(std::max(isoPackets, 0));
    auto* transfer = static_cast<libusb_transfer*>(
        std::calloc(1, sizeof(libusb_transfer) + packets * sizeof(libusb_iso_packet_descriptor)));
    if (transfer) transfer->num_iso_packets = isoPackets;
    return transfer;
}

void LIBUSB_CALL libusb_free_transfer(libusb_transfer* transfer) {
    auto lock = Enter(__func__);
    if (!transfer) return;
    if (transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) std::free(transfer->buffer);
    std::free(transfer);
}

int LIBUSB_CALL libusb_submit_transfer(libusb_transfer* transfer) {
    auto lock = Enter(__func__);
    Chip& chip = *ChipOf(transfer->dev_handle);
    if (!chip.plugged) return LIBUSB_ERROR_NO_DEVICE;
    if (S().inFlight.count(transfer)) return LIBUSB_ERROR_BUSY;
    if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK) return LIBUSB_ERROR_NOT_SUPPORTED;
    Channel* channel = EndpointChannel(chip, transfer->endpoint);
    if (!channel) return LIBUSB_ERROR_NOT_FOUND;
    const auto now = Clock::now();
    AdvanceAll(now);  // the time before this read was waiting passes without it
    transfer->actual_length = 0;
    auto read =
        std::make_unique<Read>(Read{transfer, transfer->dev_handle->device->context, now, false});
    Read* r = read.get();
    S().inFlight[transfer] = std::move(read);
    if (transfer->endpoint & LIBUSB_ENDPOINT_IN) {
        channel->reads.push_back(r);
    } else {
        const int rc = Write(lock, chip, *channel, transfer->buffer, transfer->length,
                             &transfer->actual_length, transfer->timeout);
        End(r, rc == 0 ? LIBUSB_TRANSFER_COMPLETED : LIBUSB_TRANSFER_TIMED_OUT);
    }
    S().changed.notify_all();
    return 0;
}

int LIBUSB_CALL libusb_cancel_transfer(libusb_transfer* transfer) {
    auto lock = Enter(__func__);
    const auto found = S().inFlight.find(transfer);
    if (found == S().inFlight.end() || found->second->done) return LIBUSB_ERROR_NOT_FOUND;
    Read* read = found->second.get();
    for (auto& chip : S().chips) {
        for (auto& channel : chip->channels) {
            const auto at = std::find(channel.reads.begin(), channel.reads.end(), read);
            if (at == channel.reads.end()) continue;
            channel.reads.erase(at);
            End(read, LIBUSB_TRANSFER_CANCELLED);
            return 0;
        }
    }
    return LIBUSB_ERROR_NOT_FOUND;
}

void LIBUSB_CALL libusb_interrupt_event_handler(libusb_context* context) {
    auto lock = Enter(__func__);
    (context ? context : &S().defaultContext)->interrupted = true;
    S().changed.notify_all();
}

int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context* context, timeval* tv,
                                                       int* completed) {
    auto lock = Enter(__func__);
    libusb_context& events = context ? *context : S().defaultContext;
    const auto deadline = tv ? Clock::now() + std::chrono::seconds(tv->tv_sec) +
                                   std::chrono::microseconds(tv->tv_usec)
                             : Clock::now() + std::chrono::seconds(60);
    std::vector<std::unique_ptr<Read>> ended;
    for (;;) {
        const auto now = Clock::now();
        AdvanceAll(now);
        for (auto it = S().finished.begin(); it != S().finished.end();) {
            if ((*it)->context != context) {
                ++it;
                continue;
            }
            auto node = S().inFlight.extract((*it)->transfer);
            ended.push_back(std::move(node.mapped()));
            it = S().finished.erase(it);
        }
        if (!ended.empty() || events.interrupted || (completed && *completed) || now >= deadline)
            break;
        S().changed.wait_until(lock, std::min(deadline, NextChangeAll(now)));
    }
    events.interrupted = false;
    lock.unlock();
    for (auto& read : ended) {
        libusb_transfer* transfer = read->transfer;
        const bool freeIt = transfer->flags & LIBUSB_TRANSFER_FREE_TRANSFER;
        if (transfer->callback) transfer->callback(transfer);
        if (freeIt) libusb_free_transfer(transfer);
    }
    return 0;
}

int LIBUSB_CALL libusb_handle_events_timeout(libusb_context* context, timeval* tv) {
    return libusb_handle_events_timeout_completed(context, tv, nullptr);
}

int LIBUSB_CALL libusb_handle_events_completed(libusb_context* context, int* completed) {
    return libusb_handle_events_timeout_completed(context, nullptr, completed);
}

int LIBUSB_CALL libusb_handle_events(libusb_context* context) {
    return libusb_handle_events_timeout_completed(context, nullptr, nullptr);
}

}  // extern "C"
