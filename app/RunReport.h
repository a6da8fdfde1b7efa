#pragma once

#include <cstdint>
#include <map>
#include <string>

// The window's text for an amount: whole kilobytes, as "34 Kb".
std::string kilobytesText(std::uint64_t bytes);

// What became of the files one collection handed to the shell, for the line a run without
// a display ends with.
class TRunReport
{
public:
    void clear();
    void moved() { ++m_moved; }
    void refused(const std::string& reason);
    void stopped() { m_stopped = true; }

    // "12 files moved to the trash, 2 could not be moved (Access is denied.), 34 Kb" with
    // ", stopped" after a stop; amount is the window's text for the amount. Empty when
    // nothing was moved and nothing refused, so that a scheduled run that found nothing
    // says nothing.
    std::string line(const std::string& amount) const;

private:
    int m_moved = 0;
    int m_refused = 0;
    bool m_stopped = false;
    std::map<std::string, int> m_reasons;
};
