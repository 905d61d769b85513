// Costs of the platform layer that the client pays on its main thread.

#include "platform/ManualMainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/PreferenceStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::filesystem::path scratchFile()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
    return std::filesystem::path(::mkdtemp(pattern.data())) / "preferences.json";
}

// A store shaped like a signed-in user's preferences.
void fill(Platform::PreferenceStore &store)
{
    store.setValue("key.qaro.api.token", std::string(64, 't'));
    store.setValue("key.qaro.user.info",
                   {{"id", 1},
                    {"user_name", "someone@example.com"},
                    {"member_expiry_at", "2027-01-01T00:00:00+08:00"},
                    {"member_level", 2}});
    Platform::PropertyValue nodes = Platform::PropertyValue::array();
    for (int i = 0; i < 40; ++i)
        nodes.push_back("节点 " + std::to_string(i));
    store.setValue("key.qaro.all.nodes", nodes);
}

void preferenceWrite(benchmark::State &state)
{
    const auto file = scratchFile();
    Platform::PreferenceStore store(file);
    fill(store);
    int round = 0;
    for (auto _ : state)
        store.setValue("qaro_node_name", "节点 " + std::to_string(++round % 40));
    std::filesystem::remove_all(file.parent_path());
}
BENCHMARK(preferenceWrite)->Unit(benchmark::kMicrosecond);

void preferenceRead(benchmark::State &state)
{
    const auto file = scratchFile();
    Platform::PreferenceStore store(file);
    fill(store);
    for (auto _ : state)
        benchmark::DoNotOptimize(store.value("key.qaro.api.token"));
    std::filesystem::remove_all(file.parent_path());
}
BENCHMARK(preferenceRead);

void preferenceReadAfterOtherWriter(benchmark::State &state)
{
    const auto file = scratchFile();
    Platform::PreferenceStore store(file);
    Platform::PreferenceStore other(file);
    fill(store);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        other.setValue("qaro_tun_mode", ++round % 2 ? "rule" : "global");
        state.ResumeTiming();
        benchmark::DoNotOptimize(store.value("qaro_tun_mode"));
    }
    std::filesystem::remove_all(file.parent_path());
}
BENCHMARK(preferenceReadAfterOtherWriter)->Unit(benchmark::kMicrosecond);

void notificationToMainQueue(benchmark::State &state)
{
    Platform::ManualMainQueue queue;
    Platform::installMainQueue(&queue);
    Platform::NotificationCenter center;
    int observer = 0;
    int delivered = 0;
    center.addObserver(&observer,
                       "NOTIFY_UPDATE_RUNNING_MODE_MENU",
                       Platform::NotificationCenter::Delivery::MainQueue,
                       [&](const Platform::Notification &) { ++delivered; });
    for (auto _ : state)
        center.post("NOTIFY_UPDATE_RUNNING_MODE_MENU");
    benchmark::DoNotOptimize(delivered);
    Platform::installMainQueue(nullptr);
}
BENCHMARK(notificationToMainQueue);

} // namespace

BENCHMARK_MAIN();
