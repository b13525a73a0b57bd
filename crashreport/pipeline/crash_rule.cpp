#include "crashreport/pipeline/crash_rule.h"

namespace crashreport {

void TCrashRule::Add(double dayCount, std::int32_t count)
{
    times_.push_back(dayCount);
    const std::size_t limit = count < 1 ? 1 : static_cast<std::size_t>(count);
    while (times_.size() > limit) times_.pop_front();
}

bool TCrashRule::Triggered(std::int32_t count, std::int32_t minutes) const
{
    if (count < 1 || times_.size() != static_cast<std::size_t>(count)) return false;
    return times_.back() - times_.front() <= static_cast<double>(minutes) / 1440.0;
}

} // namespace crashreport
