// How fast commands are built and decoded. The decoder sits in the virtual printer's receive path,
// so its throughput on a stream of mixed commands (and on garbage) is what matters.
#include "protocol/basic_settings.hpp"
#include "protocol/decoder.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"
#include "protocol/wifi_command.hpp"

#include <benchmark/benchmark.h>

#include <random>

using namespace protocol;

namespace {

Bytes mixedStream(std::size_t targetSize) {
    Bytes stream;
    while (stream.size() < targetSize) {
        append(stream, makeBasicSettingsCommand(115200, true, true, 1, 0xFF, true));
        append(stream, makeWiFiCommand("store-network", "correct horse battery").value());
        append(
            stream,
            makeIPCommand(false, false, "192.168.1.100", "255.255.255.0", "192.168.1.1").value());
        append(stream, makeBrokerAddressCommand("192.168.1.87", 1883).value());
        append(stream, *makeLoginCommand("test", "pass"));
        append(stream, makeTopicCommand(mqtt::heartbeatTopic, "HearBeat").value());
        append(stream, makeOneWayTLSCommand(std::string(1200, 'A')).value());
    }
    return stream;
}

void BM_DecodeMixedStream(benchmark::State& state) {
    const Bytes stream = mixedStream(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(stream));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_DecodeMixedStream)->Arg(64 << 10)->Arg(1 << 20);

void BM_DecodeRandomBytes(benchmark::State& state) {
    std::mt19937 rng(1);
    Bytes noise(static_cast<std::size_t>(state.range(0)));
    for (auto& b : noise) {
        b = static_cast<std::uint8_t>(rng());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(decode(noise));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * noise.size()));
}
BENCHMARK(BM_DecodeRandomBytes)->Arg(64 << 10);

void BM_StreamDecodeInSmallPieces(benchmark::State& state) {
    const Bytes stream = mixedStream(64 << 10);
    const auto piece = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        StreamDecoder decoder;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            benchmark::DoNotOptimize(
                decoder.feed(stream.data() + at, std::min(piece, stream.size() - at)));
        }
        benchmark::DoNotOptimize(decoder.finish());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_StreamDecodeInSmallPieces)->Arg(20)->Arg(1460);

void BM_BuildEveryCommand(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(makeBasicSettingsCommand(9600, false, true, 2, 0, false));
        benchmark::DoNotOptimize(makePrinterNameCommand("Front counter").value());
        benchmark::DoNotOptimize(
            makeIPCommand(true, false, "10.0.0.2", "255.0.0.0", "10.0.0.1").value());
        benchmark::DoNotOptimize(makeWiFiCommand("home", "secret").value());
        benchmark::DoNotOptimize(makeBrokerAddressCommand("192.168.1.87", 1883).value());
        benchmark::DoNotOptimize(makeClockCommand("pool.ntp.org", 32).value());
    }
}
BENCHMARK(BM_BuildEveryCommand);

} // namespace
