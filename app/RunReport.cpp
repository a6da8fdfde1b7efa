#include "app/RunReport.h"

#include <algorithm>

std::string kilobytesText(std::uint64_t bytes)
{
    return std::to_string(bytes / 1024) + " Kb";
}

void TRunReport::clear()
{
    *this = TRunReport();
}

void TRunReport::refused(const std::string& reason)
{
    ++m_refused;
    ++m_reasons[reason];
}

std::string TRunReport::line(const std::string& amount) const
{
    if (m_moved == 0 && m_refused == 0)
        return {};
    std::string text =
        std::to_string(m_moved) + (m_moved == 1 ? " file" : " files") + " moved to the trash";
    if (m_refused > 0) {
        text += ", " + std::to_string(m_refused) + " could not be moved";
        // The first of the most frequent, in the order of the texts, so a line is stable.
        const auto most =
            std::max_element(m_reasons.begin(), m_reasons.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        if (!most->first.empty())
            text += (m_reasons.size() > 1 ? " (most often: " : " (") + most->first + ")";
    }
    text += ", " + amount;
    if (m_stopped)
        text += ", stopped";
    return text;
}
