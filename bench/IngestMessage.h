// The message the ingestion load generators send, UDP and TCP alike:
// "<134>Dec  8 06:40:33 benchhost bench[4242]: seq=0000000042 ..." padded
// with letters to `size` bytes; brantwell_ingest_count finds it by "seq=".
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

inline std::string ingestMessage(unsigned long seq, std::size_t size)
{
    char head[96];
    std::snprintf(head, sizeof head, "<134>Dec  8 06:40:33 benchhost bench[4242]: seq=%010lu payload ", seq);
    std::string m(head);
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz";
    while (m.size() < size)
        m += letters[m.size() % 26];
    m.resize(std::max(size, std::strlen(head)));
    return m;
}
