// What the terminal costs while a four-chip frame (458,884 bytes received) passes with it
// switched on: the bytes go through the traffic hook's body in the link's 64 KiB blocks and
// the lines into the shown view, per iteration. Compared in one run: the plain list widget
// with one item per line and removal from the front, and memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>
#include <cstring>
#include <memory>
#include <vector>

#include "terminal/terminal_window.h"

namespace ulvarin {
namespace {

constexpr uint32_t kFrameBytes = 458884;
constexpr uint32_t kBlock = 64 * 1024;

std::vector<uint8_t> Frame() {
    std::vector<uint8_t> bytes(kFrameBytes);
    uint32_t x = 12345;
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    bytes[0] = 'm';
    return bytes;
}

void FeedFrame(TFormTerminal& terminal, MpxDevice& handle, const std::vector<uint8_t>& frame) {
    ++handle.packets;  // a new exchange: the previous frame's is summarised
    for (uint32_t at = 0; at < kFrameBytes; at += kBlock)
        terminal.LogTraffic(handle, frame.data() + at, std::min(kBlock, kFrameBytes - at), 0);
    terminal.FlushPending();
    QCoreApplication::processEvents();
}

void TerminalFrame(benchmark::State& state, bool filterLong) {
    const std::vector<uint8_t> frame = Frame();
    MpxDevice handle;
    TFormTerminal terminal(handle);
    terminal.ChkbFilterLong->setChecked(filterLong);
    terminal.show();
    terminal.SwitchOn();
    for (auto _ : state) FeedFrame(terminal, handle, frame);
    terminal.SwitchOff();
    state.counters["lines"] = terminal.Lines().size();
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}

void BM_TerminalFrameFiltered(benchmark::State& state) {
    TerminalFrame(state, true);
}
void BM_TerminalFrameUnabridged(benchmark::State& state) {
    TerminalFrame(state, false);
}

// The same lines added to a list widget one item at a time, the oldest deleted one by one.
void BM_ListWidgetFrameUnabridged(benchmark::State& state) {
    const std::vector<uint8_t> frame = Frame();
    std::vector<LogLineOp> ops;
    TrafficLog log;
    MpxDevice handle;
    log.Feed(handle, frame.data(), kFrameBytes, 0, {false, true, true}, false, ops);
    QListWidget list;
    list.show();
    for (auto _ : state) {
        for (const LogLineOp& op : ops) {
            while (list.count() > static_cast<int>(LogLines::kMaxLines)) delete list.takeItem(0);
            list.addItem(QString::fromStdString(op.text));
        }
        list.scrollToBottom();
        QCoreApplication::processEvents();
    }
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}

void BM_MemcpyFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = Frame();
    std::vector<uint8_t> copy(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), kFrameBytes);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}

BENCHMARK(BM_TerminalFrameFiltered)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TerminalFrameUnabridged)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListWidgetFrameUnabridged)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MemcpyFrame)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ulvarin
