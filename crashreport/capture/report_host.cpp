#include "crashreport/capture/report_host.h"

#include <atomic>

namespace crashreport {
namespace {

std::atomic<TReportHost*> g_host{nullptr};

} // namespace

TReportHost* InstallReportHost(TReportHost* host) { return g_host.exchange(host); }

TReportHost* ReportHost() { return g_host.load(std::memory_order_acquire); }

} // namespace crashreport
