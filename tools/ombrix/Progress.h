// A one-line progress bar on stderr for long work, drawn only when stderr is a terminal.
#pragma once

class Progress {
public:
    Progress(const char* label, unsigned long long total);
    ~Progress();  // clears the line
    Progress(const Progress&) = delete;

    void Advance(unsigned long long amount = 1);

private:
    const char* m_Label;
    unsigned long long m_Total;
    unsigned long long m_Done = 0;
    int m_Shown = -1;  // the percentage last drawn
    bool m_Enabled;
};
