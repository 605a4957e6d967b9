// The VIP list's SetData: appending page 10,000 against appending page 1, and the memory
// each row takes, for pages of 30 rows as the back office sends them.

#include "HostClasses.h"
#include "TQZListViewEx.h"
#include "protocol/Packet.h"

#include <QApplication>

#include "BenchReport.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int rowsPerPage = 30;

Variant page(int first) {
    protocol::PacketWriter w(730004, 0);
    w.addField("branch_no", protocol::FieldType::Integer);
    w.addField("client_id", protocol::FieldType::Text);
    w.addField("fund_account", protocol::FieldType::Integer);
    w.addField("discount_rate", protocol::FieldType::Real);
    for (int i = first; i < first + rowsPerPage; ++i) {
        w.beginRecord();
        w.integer(8 + i % 3);
        w.text(std::to_string(2000000 + i));
        w.integer(10000000 + i);
        w.real(0.5 + (i % 50) / 100.0);
    }
    std::string out;
    w.finish(out);
    return Variant::fromBytes(out);
}

std::unique_ptr<TQZListViewEx> newList() {
    auto list = std::make_unique<TQZListViewEx>();
    list->setColumns({"branch_no", "client_id", "fund_account", "discount_rate"},
                     {110, 80, 100, 60});
    list->resize(440, 250);
    return list;
}

void SetData_Page1(benchmark::State& state) {
    auto list = newList();
    const Variant packet = page(0);
    for (auto _ : state) {
        state.PauseTiming();
        list->Clear();
        state.ResumeTiming();
        list->SetData(list->rowCount(), 0, 100, 0, 100, packet, QString());
    }
}

void SetData_Page10000(benchmark::State& state) {
    auto list = newList();
    for (int p = 0; p < 9999; ++p)
        list->SetData(list->rowCount(), 0, 100, 0, 100, page(p * rowsPerPage), QString());
    const Variant packet = page(9999 * rowsPerPage);
    for (auto _ : state)
        list->SetData(list->rowCount(), 0, 100, 0, 100, packet, QString());
    state.counters["rows_before"] = 9999.0 * rowsPerPage;
}

BENCHMARK(SetData_Page1)->Unit(benchmark::kMicrosecond);
BENCHMARK(SetData_Page10000)->Unit(benchmark::kMicrosecond)->Iterations(200);

double bytesPerRow() {
    std::vector<Variant> pages;
    for (int p = 0; p < 10000; ++p)
        pages.push_back(page(p * rowsPerPage));
    const std::size_t before = mallinfo2().uordblks;
    auto list = newList();
    for (const Variant& packet : pages)
        list->SetData(list->rowCount(), 0, 100, 0, 100, packet, QString());
    const std::size_t after = mallinfo2().uordblks;
    return static_cast<double>(after - before) / list->rowCount();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    counter::registerHostClasses();
    benchmark::Initialize(&argc, argv);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& ns = reporter.nanoseconds;
    std::printf("\nSetData page 10,000 / page 1: %.1f / %.1f us = %.2fx\n", ns["SetData_Page10000"],
                ns["SetData_Page1"], ns["SetData_Page10000"] / ns["SetData_Page1"]);
    std::printf("memory per row (300,000 rows of 4 fields): %.0f B\n", bytesPerRow());
    benchmark::Shutdown();
    return 0;
}
