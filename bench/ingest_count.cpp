// Counts the distinct sequence numbers ("seq=" and ten digits) below N in
// the files given, so the benchmark knows exactly what reached a store.
//
//   brantwell_ingest_count N FILE...   prints "stored S duplicates D"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: brantwell_ingest_count N FILE...\n");
        return 2;
    }
    const unsigned long n = std::strtoul(argv[1], nullptr, 10);
    std::vector<bool> seen(n);
    unsigned long stored = 0, duplicates = 0;
    std::vector<char> buffer(1 << 20);
    for (int f = 2; f < argc; ++f) {
        FILE* file = std::fopen(argv[f], "rb");
        if (!file)
            continue;  // a receiver that stored nothing wrote no file
        char* line = nullptr;
        std::size_t capacity = 0;
        ssize_t length;
        while ((length = getline(&line, &capacity, file)) > 0) {
            const char* at = static_cast<const char*>(memmem(line, static_cast<std::size_t>(length), "seq=", 4));
            if (!at || at + 14 > line + length)
                continue;
            unsigned long seq = 0;
            bool digits = true;
            for (int i = 4; i < 14; ++i) {
                if (at[i] < '0' || at[i] > '9')
                    digits = false;
                seq = seq * 10 + static_cast<unsigned long>(at[i] - '0');
            }
            if (!digits || seq >= n)
                continue;
            if (seen[seq])
                ++duplicates;
            else {
                seen[seq] = true;
                ++stored;
            }
        }
        std::free(line);
        std::fclose(file);
    }
    std::printf("stored %lu duplicates %lu\n", stored, duplicates);
    return 0;
}
