#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {
constexpr int BarWidth = 40;
}

Progress::Progress(const char* label, unsigned long long total)
    : m_Label(label), m_Total(total), m_Enabled(total > 0 && isatty(STDERR_FILENO))
{
    Advance(0);
}

Progress::~Progress()
{
    if (m_Enabled)
        fprintf(stderr, "\r\033[K");
}

void Progress::Advance(unsigned long long amount)
{
    m_Done += amount;
    if (!m_Enabled)
        return;
    const int percent = int((m_Done < m_Total ? m_Done : m_Total) * 100 / m_Total);
    if (percent == m_Shown)
        return;  // redrawn only when it moves
    m_Shown = percent;
    const int filled = percent * BarWidth / 100;
    fprintf(stderr, "\r%s [%s%s] %3d%%", m_Label, std::string(filled, '#').c_str(),
            std::string(BarWidth - filled, ' ').c_str(), percent);
    fflush(stderr);
}
