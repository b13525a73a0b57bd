#pragma once
// The automatic terminate rule: the times of the most recent reports, at
// most CrashCount of them; when the list is full and its first and last
// entries lie at most CrashMinutes apart, the program is ended (or
// restarted). Times are day counts (fractions of a day), compared as the
// minutes over 1440. Not signal-safe.
#include <cstdint>
#include <deque>

namespace crashreport {

class TCrashRule {
public:
    // Appends a report's time, dropping the oldest beyond `count` entries.
    void Add(double dayCount, std::int32_t count);
    // The list holds exactly `count` entries spanning at most `minutes`.
    bool Triggered(std::int32_t count, std::int32_t minutes) const;
    std::size_t Size() const { return times_.size(); }
    void Clear() { times_.clear(); }

private:
    std::deque<double> times_;
};

} // namespace crashreport
